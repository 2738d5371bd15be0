// The main window as the user meets it, offscreen: start-up state, closing, the image buttons,
// the size edits and the preview, the "Open website" page and its address field, the error
// handler and WM_USER. Message boxes, the shell and the help system are answered by recorders;
// navigation uses the real engine on pages written here.
#include "app/AboutBoxUnit.h"
#include "app/Application.h"
#include "app/MainUnit.h"
#include "document/AddressRule.h"
#include "document/FileNameEdit.h"
#include "document/WebBrowser.h"
#include "document/chooser/JamShellList.h"
#include "document/chooser/JamShellTree.h"
#include "platform/AppEvents.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "platform/widgets/FileDialog.h"
#include "platform/widgets/ImageControl.h"
#include "platform/widgets/PaintBox.h"
#include "platform/widgets/SpinEdit.h"
#include "tests/app/WindowTestSupport.h"
#include "tests/widgets/QStringPrinter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace platform;

namespace {

class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
};

// A folder for fixture pages whose own path holds no blank, so that the blanks the tests put
// in names are the only ones.
struct FixtureDir : QTemporaryDir {
    FixtureDir() : QTemporaryDir(QDir::tempPath() + QStringLiteral("/velmora-app-test-XXXXXX")) {}
};

QString writePage(const QTemporaryDir& dir, const QString& name, const QByteArray& html) {
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(html);
    return path;
}

class MainFormTest : public ::testing::Test {
  protected:
    // Declared before the window: they outlive it and see what its destruction does.
    MessageBoxRecorder boxes{{}, IDCANCEL};
    ShellRecorder shell;
    HelpRecorder help;
    std::unique_ptr<TMainForm> form;

    void SetUp() override {
        InitApplicationTitle();
        form = std::make_unique<TMainForm>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    QWindow* window() { return form->windowHandle(); }
    // A point of a widget (its centre by default) in window coordinates.
    QPoint at(QWidget* w, QPoint p = QPoint(-1, -1)) {
        return w->mapTo(form.get(), p == QPoint(-1, -1) ? w->rect().center() : p);
    }
    void showPage(QWidget* page) {
        form->PageControl2->setCurrentWidget(page);
        QCoreApplication::processEvents();
    }
    void typeInto(widgets::SpinEdit* edit, const QString& text) {
        edit->setFocus();
        edit->editor()->selectAll();
        QTest::keyClicks(edit->editor(), text);
    }
};

} // namespace

TEST(MainFormStart, ViewKeepsTheLayoutSizeUntilShownThenFollowsTheEdits) {
    MessageBoxRecorder boxes{{}, IDCANCEL};
    HelpRecorder help;
    TMainForm form;
    EXPECT_EQ(QSize(form.web->viewWidth(), form.web->viewHeight()), QSize(2000, 2000));
    form.show();
    EXPECT_EQ(QSize(form.web->viewWidth(), form.web->viewHeight()), QSize(800, 1000));
}

TEST(MainFormStart, ProgramDirIsTheExecutablesFolderWithOneSlash) {
    struct Row {
        const char* exe;
        const char* dir;
    };
    const Row rows[] = {
        {"/usr/lib/velmora/velmora", "/usr/lib/velmora/"},
        {"/velmora", "/"}, // the root folder: still one slash
        {"velmora", "/"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TMainForm::programDirOf(QString::fromLatin1(row.exe)), row.dir) << row.exe;
}

TEST_F(MainFormTest, StartsWithItsFolderTitleWhitePictureAndFirstPage) {
    EXPECT_EQ(form->ProgramDir, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    EXPECT_FALSE(form->ProgramDir.endsWith(QLatin1String("//")));
    EXPECT_EQ(ApplicationHelpFile(), form->ProgramDir);
    EXPECT_EQ(form->SaveDialog1->initialDir, form->ProgramDir);
    EXPECT_EQ(form->JamShellList1->filter(), "*.HTM;*.HTML");
    EXPECT_EQ(form->JamShellTree1->SelectedFolder() + QLatin1Char('/'), form->ProgramDir);
    EXPECT_EQ(form->windowTitle(), "Orvent Velmora 1.1");
    EXPECT_EQ(QCoreApplication::applicationName(), "Velmora 1.0");
    EXPECT_EQ(form->PageControl2->currentWidget(), form->TabSheet1);
    EXPECT_EQ(MainForm, form.get());

    ASSERT_NE(form->MainDib.bits, nullptr);
    const gdi::BITMAPINFOHEADER& header = form->MainDib.info->bmiHeader;
    EXPECT_EQ(header.biWidth, 320);
    EXPECT_EQ(header.biHeight, 200);
    EXPECT_EQ(header.biBitCount, 24);
    ASSERT_EQ(header.biSizeImage, 320u * 3 * 200);
    const auto* bits = form->MainDib.bits;
    EXPECT_EQ(std::count(bits, bits + header.biSizeImage, std::uint8_t(255)),
              std::ptrdiff_t(header.biSizeImage));
}

TEST_F(MainFormTest, EditsStartWithTheirRangesValuesAndSteps) {
    struct Row {
        widgets::SpinEdit* edit;
        double minValue, maxValue, step;
        QString text;
    };
    const QString fifty = QLocale().toString(50.0, 'f', 2);
    const Row rows[] = {
        {form->breited, 10, 20000, 100, "800"}, {form->hoched, 10, 20000, 100, "1000"},
        {form->IncEd, 1, 500, 1, "100"},        {form->QualEd, 10, 2000, 10, "100"},
        {form->StuckEd, 1, 100, 1, fifty},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.edit->objectName().toStdString());
        EXPECT_EQ(row.edit->MinValue(), row.minValue);
        EXPECT_EQ(row.edit->MaxValue(), row.maxValue);
        EXPECT_EQ(row.edit->Increment(), row.step);
        EXPECT_EQ(row.edit->text(), row.text);
    }
}

TEST_F(MainFormTest, CancelOnQuitKeepsTheProgramAndTheExitImageLooksNormal) {
    QTest::mouseClick(window(), Qt::LeftButton, {}, at(form->EndeBtn));
    ASSERT_EQ(boxes.calls().size(), 1u);
    const MessageBoxRequest& box = boxes.calls()[0];
    EXPECT_EQ(box.text, "Hereby you quit the program! All data not saved will be lost!");
    EXPECT_EQ(box.caption, "Quit program");
    EXPECT_EQ(box.type, 0x41u);
    EXPECT_EQ(box.owner, form.get());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->EndeBtn->isVisible());
    EXPECT_FALSE(form->EndeBtnDown->isVisible());
    EXPECT_FALSE(form->EndePressed);
}

TEST_F(MainFormTest, OnlyOkClosesTheWindow) {
    struct Row {
        int answer;
        bool closes;
    };
    for (const Row row : {Row{IDCANCEL, false}, Row{IDOK, true}}) {
        boxes.answerNext(row.answer);
        EXPECT_EQ(form->close(), row.closes);
        EXPECT_EQ(form->isVisible(), !row.closes);
    }
    EXPECT_EQ(boxes.calls().size(), 2u);
}

TEST_F(MainFormTest, ExitImageFollowsThePointerWhileHeldAndAsksOnlyOnReleaseInside) {
    const QPoint inside = at(form->EndeBtn, QPoint(10, 10));
    const QPoint outside = at(form->EndeBtn, QPoint(10, -15));

    QTest::mousePress(window(), Qt::LeftButton, {}, inside);
    EXPECT_TRUE(form->EndeBtnDown->isVisible());
    EXPECT_FALSE(form->EndeBtn->isVisible());
    EXPECT_TRUE(form->EndePressed);
    QTest::mouseMove(window(), outside);
    EXPECT_TRUE(form->EndeBtn->isVisible());
    EXPECT_FALSE(form->EndeBtnDown->isVisible());
    QTest::mouseRelease(window(), Qt::LeftButton, {}, outside);
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_TRUE(form->EndeBtn->isVisible());
    EXPECT_FALSE(form->EndeBtnDown->isVisible());
    EXPECT_FALSE(form->EndePressed);

    QTest::mousePress(window(), Qt::LeftButton, {}, inside);
    QTest::mouseMove(window(), outside);
    QTest::mouseMove(window(), inside);
    EXPECT_TRUE(form->EndeBtnDown->isVisible());
    EXPECT_FALSE(form->EndeBtn->isVisible());
    QTest::mouseRelease(window(), Qt::LeftButton, {}, inside);
    EXPECT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(form->EndeBtn->isVisible());
    EXPECT_FALSE(form->EndePressed);
}

TEST_F(MainFormTest, AboutImageOpensTheInfoDialogModallyAndDestroysIt) {
    EXPECT_TRUE(form->ueberBtn2->isVisible()); // beneath the normal look at start
    QString title;
    bool normalLookShown = false;
    QWidget* modal = nullptr;
    QTimer::singleShot(0, [&] {
        modal = QApplication::activeModalWidget();
        title = modal ? modal->windowTitle() : QString();
        normalLookShown = form->ueberbtn->isVisible() && !form->ueberBtn2->isVisible();
        EXPECT_EQ(AboutBox, modal);
        if (modal) modal->close();
    });
    QTest::mouseClick(window(), Qt::LeftButton, {}, at(form->ueberbtn));
    EXPECT_EQ(title, "Info");
    EXPECT_TRUE(normalLookShown);
    EXPECT_EQ(AboutBox, nullptr);
    EXPECT_FALSE(form->UeberPressed);
    EXPECT_TRUE(form->findChildren<TAboutBox*>().isEmpty());
}

TEST_F(MainFormTest, WebButtonOpensTheHomepage) {
    form->wwwBtn->click();
    ASSERT_EQ(shell.calls().size(), 1u);
    const ShellRequest& call = shell.calls()[0];
    EXPECT_EQ(call.owner, form.get());
    EXPECT_EQ(call.verb, "open");
    EXPECT_EQ(call.file, "https://www.orvent.example/");
    EXPECT_EQ(call.parameters, "");
    EXPECT_EQ(call.directory, "");
    EXPECT_EQ(call.showCommand, SW_SHOW);
    EXPECT_EQ(form->wwwBtn->text(), "www.orvent.example");
}

TEST_F(MainFormTest, IncrementEditSetsTheStepOfWidthAndHeight) {
    form->IncEd->setText(QStringLiteral("37"));
    EXPECT_EQ(form->hoched->Increment(), 37);
    form->breited->upButton()->click();
    EXPECT_EQ(form->breited->text(), "837");
    EXPECT_EQ(form->web->viewWidth(), 837);
    form->breited->setText(QStringLiteral("19990"));
    form->breited->upButton()->click();
    EXPECT_EQ(form->breited->text(), "20000");
    EXPECT_EQ(form->web->viewWidth(), 20000);

    // A step typed out of range is corrected as the focus moves to the width's button, before
    // that button steps: never a step of 0 or one that runs backwards.
    showPage(form->TabSheet3);
    typeInto(form->IncEd, QStringLiteral("-5"));
    form->breited->setText(QStringLiteral("800"));
    QTest::mouseClick(form->breited->upButton(), Qt::LeftButton);
    EXPECT_EQ(form->IncEd->text(), "1");
    EXPECT_EQ(form->breited->text(), "801");
}

TEST_F(MainFormTest, WidthTypedAboveTheMaximumIsAppliedThenCorrectedOnLeaving) {
    showPage(form->TabSheet3);
    typeInto(form->breited, QStringLiteral("25000"));
    EXPECT_EQ(form->breited->text(), "25000");
    EXPECT_EQ(form->web->viewWidth(), 25000);
    form->hoched->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(form->breited->text(), "20000");
    EXPECT_EQ(form->web->viewWidth(), 20000);

    // Far beyond anything a view can be: the view keeps its size instead of wrapping around.
    // Typed digit by digit, the height follows up to the largest a view can be, and stays
    // there for longer numbers instead of wrapping around into some small size.
    typeInto(form->hoched, QStringLiteral("99999999999"));
    EXPECT_EQ(form->web->viewHeight(), 99999);
    form->breited->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(form->hoched->text(), "20000");
    EXPECT_EQ(form->web->viewHeight(), 20000);
}

TEST_F(MainFormTest, TypingTheWidthDigitByDigitResizesAndRepaintsAtOnce) {
    showPage(form->TabSheet3);
    PaintCounter paints(form->PaintBox1);
    form->breited->setFocus();
    form->breited->editor()->selectAll();
    const int expectedWidths[] = {800, 12, 120, 1200}; // "1" is below 10: the width stays
    const QString digits = QStringLiteral("1200");
    for (int i = 0; i < digits.size(); ++i) {
        const int before = paints.count;
        QTest::keyClick(form->breited->editor(), digits[i].toLatin1());
        EXPECT_EQ(form->web->viewWidth(), expectedWidths[i]) << "after " << i + 1 << " digits";
        EXPECT_GT(paints.count, before) << "no synchronous repaint after digit " << i + 1;
    }
}

TEST_F(MainFormTest, EmptiedWidthSetsTheMinimumAndNonNumbersReadAsTheMinimum) {
    form->breited->setFocus();
    form->breited->editor()->selectAll();
    QTest::keyClick(form->breited->editor(), Qt::Key_Backspace);
    EXPECT_EQ(form->breited->text(), "");
    EXPECT_EQ(form->web->viewWidth(), 10);
    form->StuckEd->setText(QStringLiteral("abc"));
    EXPECT_EQ(form->StuckEd->Value(), 1);
}

TEST_F(MainFormTest, PreviewIsDrawnAspectFittedAtTheTopLeft) {
    showPage(form->TabSheet3);
    form->ScrollBox1->setWidgetResizable(false);
    struct Row {
        int pw, ph, vw, vh;
        int right, bottom;
    };
    const Row rows[] = {
        {409, 359, 800, 1000, 287, 359},
        {400, 300, 1000, 500, 400, 200},
        {400, 500, 800, 1000, 400, 500},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(QStringLiteral("box %1x%2 view %3x%4")
                         .arg(row.pw)
                         .arg(row.ph)
                         .arg(row.vw)
                         .arg(row.vh)
                         .toStdString());
        form->PaintBox1->resize(row.pw, row.ph);
        form->breited->setText(QString::number(row.vw));
        form->hoched->setText(QString::number(row.vh));
        // The whole box, also where the scroll box does not show it; what the preview leaves
        // undrawn comes out transparent here.
        const QImage shown = form->PaintBox1->grab().toImage();
        ASSERT_EQ(shown.size(), QSize(row.pw, row.ph));
        const QRgb white = qRgb(255, 255, 255);
        // An empty view draws white: the preview is the white area.
        EXPECT_EQ(shown.pixel(0, 0) | 0xFF000000u, white);
        EXPECT_EQ(shown.pixel(row.right - 1, row.bottom - 1) | 0xFF000000u, white);
        if (row.right < row.pw) {
            EXPECT_NE(shown.pixel(row.right, 0) | 0xFF000000u, white);
        }
        if (row.bottom < row.ph) {
            EXPECT_NE(shown.pixel(0, row.bottom) | 0xFF000000u, white);
        }
    }
}

TEST_F(MainFormTest, OpenTakesTheAddressByTheFileNameRule) {
    FixtureDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString spaced =
        writePage(dir, QStringLiteral("my site/index.html"), "<html><body>x</body></html>");
    struct Row {
        QString text;
        QString navigated;
    };
    const Row rows[] = {
        {QLatin1Char('"') + spaced + QLatin1Char('"'), spaced}, // as the browse dialog puts it
        {spaced, spaced},                                       // unquoted, the file exists
        {dir.filePath(QStringLiteral("my site/gone.html")), dir.filePath(QStringLiteral("my"))},
    };
    for (const Row& row : rows) {
        form->URLEdit->setText(row.text);
        form->OpenBtn->click();
        EXPECT_EQ(form->web->view()->address(), row.navigated);
    }
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(MainFormTest, ErrorsInAHandlerReachTheGeneralErrorHandlerAndTheProgramCarriesOn) {
    struct Row {
        QString text;
        QString message;
    };
    const QString tooLong = QStringLiteral("https://www.orvent.example/") + QString(300, QLatin1Char('a'));
    const Row rows[] = {
        // Blanks only: the raw text is what gets navigated, and the view refuses it.
        {QStringLiteral("   "), QStringLiteral("\"   \" is not an address that can be opened.")},
        {tooLong, QString::fromUtf8(document::AddressTooLong().what())},
    };
    for (const Row& row : rows) {
        boxes.clear();
        form->URLEdit->setText(row.text);
        form->OpenBtn->click();
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, row.message);
        EXPECT_EQ(boxes.calls()[0].caption, "Velmora 1.0");
        EXPECT_EQ(boxes.calls()[0].type, MB_OK | MB_ICONSTOP);
        EXPECT_TRUE(form->isVisible());
    }
}

TEST_F(MainFormTest, EnterActsOnOpenWebsiteOnlyUnderItsConditions) {
    form->URLEdit->setText(QStringLiteral("   ")); // refused at once: no engine needed
    QSignalSpy clicks(form->OpenBtn, &QPushButton::clicked);
    struct Row {
        QWidget* page;
        QWidget* focus;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int clicks;
    };
    const Row rows[] = {
        {form->TabSheet2, form->URLEdit->editor(), Qt::Key_Return, {}, 1},
        {form->TabSheet2, form->URLEdit->editor(), Qt::Key_Enter, Qt::KeypadModifier, 1},
        {form->TabSheet2, form->URLEdit->editor(), Qt::Key_Return, Qt::ShiftModifier, 0},
        {form->TabSheet2, form->URLEdit->editor(), Qt::Key_Return, Qt::ControlModifier, 0},
        {form->TabSheet2, form->URLEdit->editor(), Qt::Key_Return, Qt::AltModifier, 0},
        {form->TabSheet2, form->OpenBtn, Qt::Key_Return, {}, 1},
        {form->TabSheet3, form->breited->editor(), Qt::Key_Return, {}, 0}, // the button is not showing
    };
    int row = 0;
    for (const Row& r : rows) {
        showPage(r.page);
        r.focus->setFocus();
        clicks.clear();
        QTest::keyClick(r.focus, r.key, r.modifiers);
        EXPECT_EQ(clicks.count(), r.clicks) << "row " << row++;
    }
}

TEST_F(MainFormTest, BrowseDialogOpensWhereTheLastChosenFileWas) {
    FixtureDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString chosen = writePage(dir, QStringLiteral("my site/index.html"), "<html></html>");
    QString seenTitle, seenFilter, seenName, seenFolder;
    QString answer = chosen;
    const auto previous = widgets::FileDialog::setRunner([&](widgets::FileDialog& dialog, QWidget*) {
        seenTitle = dialog.title;
        seenFilter = dialog.filter;
        seenName = dialog.fileName;
        seenFolder = dialog.startFolder();
        if (answer.isEmpty()) return false;
        dialog.fileName = answer;
        return true;
    });
    showPage(form->TabSheet2);
    form->URLEdit->browseButton()->click();
    EXPECT_EQ(seenTitle, "Browse");
    EXPECT_EQ(seenFilter, "All files (*.*)|*.*");
    EXPECT_EQ(seenName, ""); // the starting address in the field is not a file to start from
    EXPECT_EQ(form->URLEdit->text(), QLatin1Char('"') + chosen + QLatin1Char('"'));

    form->URLEdit->setText(QStringLiteral("https://www.orvent.example/"));
    answer.clear();
    form->URLEdit->setFocus();
    QTest::keyClick(form->URLEdit->editor(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(seenName, chosen);
    EXPECT_EQ(seenFolder, QFileInfo(chosen).absolutePath());
    EXPECT_EQ(form->URLEdit->text(), "https://www.orvent.example/"); // cancelled
    widgets::FileDialog::setRunner(previous);
}

// The preview shows the page once it is complete; a page too busy to be drawn then (its script
// holds the renderer for 2.5 s, longer than the window waits for a picture) is drawn as soon as
// it answers again, without a word to the user.
TEST_F(MainFormTest, CompletedDocumentRepaintsThePreviewWithThePage) {
    FixtureDir dir;
    ASSERT_TRUE(dir.isValid());
    showPage(form->TabSheet3);
    form->ScrollBox1->setWidgetResizable(false);
    form->PaintBox1->resize(200, 300);
    const QByteArray busy = "<script>onload = () => setTimeout(() => { const t = Date.now(); "
                            "while (Date.now() - t < 2500); })</script>";
    for (const bool slow : {false, true}) {
        SCOPED_TRACE(slow ? "busy after its load" : "quick");
        const QString page = writePage(dir, slow ? QStringLiteral("busy.html") : QStringLiteral("red.html"),
                                       "<html><body style='margin:0;background:#ff0000'>" +
                                           (slow ? busy : QByteArray()) + "</body></html>");
        PaintCounter paints(form->PaintBox1);
        int paintsAtCompletion = -1;
        bool completed = false;
        bool redAtCompletion = false;
        // Inside the 200 x 250 preview of the 800 x 1000 view.
        auto previewIsRed = [&] {
            const QRgb middle = form->ScrollBox1->viewport()->grab().toImage().pixel(80, 100);
            return qRed(middle) > 200 && qGreen(middle) < 60 && qBlue(middle) < 60;
        };
        form->URLEdit->setText(page);
        form->OpenBtn->click();
        ASSERT_TRUE(boxes.calls().empty());
        paints.count = 0;
        // Connected after the window's own handler, so it runs right after it.
        const QMetaObject::Connection watch =
            QObject::connect(form->web, &TWebBrowser::OnDocumentComplete, form.get(), [&] {
                paintsAtCompletion = paints.count;
                completed = true;
                redAtCompletion = previewIsRed();
            });
        ASSERT_TRUE(windowtest::waitFor([&] { return completed; }));
        QObject::disconnect(watch);
        EXPECT_GE(paintsAtCompletion, 1);
        if (slow) {
            EXPECT_FALSE(redAtCompletion) << "the page was not busy: nothing tried here";
        }
        if (!redAtCompletion) {
            // The window paints the preview again by itself (looking at it paints it too, so
            // only the paints are counted until then).
            const int paintsThen = paints.count;
            EXPECT_TRUE(windowtest::waitFor([&] { return paints.count > paintsThen; }, 15000));
        }
        EXPECT_TRUE(previewIsRed());
        EXPECT_TRUE(boxes.calls().empty());
    }
}

TEST_F(MainFormTest, WmUserFromAnotherThreadSetsTheProgress) {
    std::thread([&] { PostUserMessage(form.get(), WM_USER, 75, 0); }).join();
    EXPECT_EQ(form->ProStatus, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->ProStatus, 75);
}

TEST_F(MainFormTest, DestroyingTheWindowTellsTheHelpSystemToQuit) {
    const QString programDir = form->ProgramDir;
    form.reset();
    ASSERT_EQ(help.calls().size(), 1u);
    EXPECT_EQ(help.calls()[0].command, HELP_QUIT);
    EXPECT_EQ(help.calls()[0].helpFile, programDir);
    EXPECT_EQ(help.calls()[0].data, 0u);
    EXPECT_EQ(MainForm, nullptr);
}

// A document opened by double-click in the file list shows in the browser view on the page the
// window switches to, without leaving that page first.
TEST_F(MainFormTest, DoubleClickInTheFileListShowsThePageInTheView) {
    FixtureDir dir;
    ASSERT_TRUE(dir.isValid());
    writePage(dir, QStringLiteral("red.html"),
              "<html><body style='margin:0;background:#ff0000'></body></html>");
    showPage(form->TabSheet1);
    form->Chooser->FormCreate(dir.path() + u'/');
    TJamShellList* list = form->JamShellList1;
    QModelIndex at;
    ASSERT_TRUE(windowtest::waitFor([&] {
        const QAbstractItemModel* model = list->model();
        for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
            if (model->index(row, 0, list->rootIndex()).data().toString() == QLatin1String("red.html"))
                at = model->index(row, 0, list->rootIndex());
        return at.isValid();
    }));
    list->scrollTo(at);
    const QPoint where = list->visualRect(at).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, where);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, where);
    ASSERT_TRUE(boxes.calls().empty());
    EXPECT_EQ(form->PageControl2->currentWidget(), form->TabSheet2);
    EXPECT_TRUE(windowtest::waitFor([&] {
        const QImage shown = form->web->grab().toImage();
        const QRgb c = shown.pixel(10, 10);
        return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
    })) << "the view stayed blank";
}

namespace {

// The program as main() starts it, with TMPDIR at temp: opens page, then gets signal. Ends with
// a status of its own when something before the signal did not happen.
void openPageAndSignal(const QString& page, const QString& temp, int signal) {
    qputenv("TMPDIR", temp.toLocal8Bit());
    StopEngineOnSignals();
    MessageBoxRecorder boxes{{}, IDCANCEL};
    ShellRecorder shell;
    HelpRecorder help;
    TMainForm form;
    form.show();
    bool completed = false;
    QObject::connect(form.web, &TWebBrowser::OnDocumentComplete, &form, [&] { completed = true; });
    form.URLEdit->setText(page);
    form.OpenBtn->click();
    if (!windowtest::waitFor([&] { return completed; })) std::_Exit(10);
    // The engine is there, with its folders in temp.
    if (QDir(temp).isEmpty()) std::_Exit(11);
    ::kill(::getpid(), signal);
    windowtest::waitFor([] { return false; }, 20000);
    std::_Exit(12);
}

} // namespace

// Ended by a signal (a session that logs out, Ctrl-C or a closed terminal), the program still
// ends on that signal, but its engine's folders in the temporary folder go first: the engine's
// profile and the folder of its single-instance socket stayed there before.
TEST(MainFormSignals, ASignalEndsTheProgramAndTakesTheEnginesFoldersWithIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The program runs in a child that runs this test again up to the statement below, so the
    // folders have fixed names rather than ones made anew in each process.
    const QString page = QDir::current().filePath(QStringLiteral("signal-test-page.html"));
    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html><body style='background:#3c3'>signal</body></html>");
    file.close();
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const QString temp = QDir::current().filePath(QStringLiteral("signal-test-tmp-%1").arg(signal));
        QDir(temp).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(temp));
        EXPECT_EXIT(openPageAndSignal(page, temp, signal), ::testing::KilledBySignal(signal), "");
        const QStringList left = QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        EXPECT_EQ(left.filter(QStringLiteral("velmora")) + left.filter(QStringLiteral("chromium")),
                  QStringList());
        QDir(temp).removeRecursively();
    }
    QFile::remove(page);
}

// Output to a pipe that nobody reads any more (velmora 2>&1 | head -1, a closed terminal) must not
// end the program: it died of SIGPIPE at its first warning.
TEST(MainFormSignals, AClosedOutputDoesNotEndTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            IgnoreClosedOutput();
            int fds[2];
            if (::pipe(fds) != 0) std::_Exit(10);
            ::close(fds[0]);
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            qWarning("a warning nobody reads");
            std::printf("and output nobody reads\n");
            std::fflush(stdout);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
