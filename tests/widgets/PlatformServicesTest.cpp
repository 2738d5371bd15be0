// Message boxes, the general error handler, WM_USER delivery and the file dialog settings.
#include "platform/AppEvents.h"
#include "platform/MessageBox.h"
#include "platform/widgets/FileDialog.h"
#include "tests/widgets/QStringPrinter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using namespace platform;

namespace {

// Receives posted WM_USER events.
class Receiver : public QWidget {
  public:
    std::vector<std::pair<std::intptr_t, std::intptr_t>> messages;
    Qt::HANDLE thread = nullptr;

  protected:
    bool event(QEvent* e) override {
        if (e->type() == UserMessageEvent::type()) {
            auto* m = static_cast<UserMessageEvent*>(e);
            messages.emplace_back(m->wParam(), m->lParam());
            thread = QThread::currentThreadId();
            return true;
        }
        return QWidget::event(e);
    }
};

} // namespace

TEST(MessageBox, RealBoxShowsFlagsAndAnswers) {
    struct Row {
        UINT type;
        const char* caption; // null: none given
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton press; // NoButton: Escape
        const char* expectedTitle;
        int expectedAnswer;
    };
    const Row rows[] = {
        {MB_OKCANCEL | MB_ICONINFORMATION, "Quit program", QMessageBox::Information,
         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel, "Quit program", IDCANCEL},
        {MB_OKCANCEL | MB_ICONINFORMATION, "Quit program", QMessageBox::Information,
         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, "Quit program", IDOK},
        {MB_OKCANCEL, "Quit program", QMessageBox::NoIcon, QMessageBox::Ok | QMessageBox::Cancel,
         QMessageBox::NoButton, "Quit program", IDCANCEL},
        {MB_OK | MB_ICONSTOP, nullptr, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::NoButton, "Error",
         IDOK},
        {MB_YESNO | MB_ICONQUESTION, "Q", QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::No, "Q", IDNO},
    };
    for (const Row& row : rows) {
        QString seenTitle;
        QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons seenButtons;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seenTitle = box->windowTitle();
            seenIcon = box->icon();
            seenButtons = box->standardButtons();
            if (row.press == QMessageBox::NoButton)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(row.press)->click();
        });
        const int answer = MessageBoxA(nullptr, "Some text", row.caption, row.type);
        EXPECT_EQ(answer, row.expectedAnswer) << row.type;
        EXPECT_EQ(seenTitle, row.expectedTitle);
        EXPECT_EQ(seenIcon, row.icon);
        EXPECT_EQ(seenButtons, row.buttons);
    }
}

TEST(MessageBox, RecorderRecordsAndAnswersInTurn) {
    QWidget owner;
    MessageBoxRecorder recorder({IDCANCEL}, IDOK);
    EXPECT_EQ(MessageBoxA(&owner, "first", "One", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "second", nullptr, MB_OK), IDOK);
    ASSERT_EQ(recorder.calls().size(), 2u);
    EXPECT_EQ(recorder.calls()[0].owner, &owner);
    EXPECT_EQ(recorder.calls()[0].caption, "One");
    EXPECT_EQ(recorder.calls()[1].owner, nullptr);
    EXPECT_TRUE(recorder.calls()[1].caption.isNull()); // no caption given, not an empty one
    EXPECT_EQ(recorder.calls()[1].text, "second");
}

TEST(GeneralErrorHandler, ShowsTheErrorTextUnderTheApplicationTitleAndCarriesOn) {
    const QString previousName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("Velmora 1.0"));
    QWidget mainWindow;
    SetApplicationMainWindow(&mainWindow);
    MessageBoxRecorder recorder;

    struct Thrower : QObject {
        int after = 0;
        void fail(int) { throw std::runtime_error("Navigation failed: no engine"); }
    } thrower;
    auto slot = guarded(&thrower, &Thrower::fail);
    slot(1); // must not throw
    runGuarded([] { throw 42; });
    thrower.after = 1;

    ASSERT_EQ(recorder.calls().size(), 2u);
    EXPECT_EQ(recorder.calls()[0].text, "Navigation failed: no engine");
    EXPECT_EQ(recorder.calls()[0].caption, "Velmora 1.0");
    EXPECT_EQ(recorder.calls()[0].type, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(recorder.calls()[0].owner, &mainWindow);
    EXPECT_FALSE(recorder.calls()[1].text.isEmpty());
    EXPECT_EQ(thrower.after, 1);
    SetApplicationMainWindow(nullptr);
    QCoreApplication::setApplicationName(previousName);
}

TEST(UserMessage, PostedFromAnotherThreadArrivesOnTheUiThreadInOrder) {
    Receiver receiver;
    std::thread poster([&] {
        for (int i = 1; i <= 3; ++i)
            PostUserMessage(&receiver, WM_USER, i * 25, -i);
    });
    poster.join();
    EXPECT_TRUE(receiver.messages.empty()); // queued, not delivered on the posting thread
    QCoreApplication::processEvents();
    const std::vector<std::pair<std::intptr_t, std::intptr_t>> expected = {{25, -1}, {50, -2}, {75, -3}};
    EXPECT_EQ(receiver.messages, expected);
    EXPECT_EQ(receiver.thread, QThread::currentThreadId());
}

TEST(UserMessage, X11ClientMessageToTheWindowBecomesAPost) {
    Receiver window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    X11UserMessageFilter filter(&window);
    const auto id = std::uint32_t(window.winId());

    struct Row {
        std::uint8_t responseType;
        std::uint8_t format;
        std::uint32_t window;
        std::uint32_t type;
        bool taken;
    };
    const Row rows[] = {
        {X11_CLIENT_MESSAGE, 32, id, WM_USER, true},
        {X11_CLIENT_MESSAGE | 0x80, 32, id, WM_USER, true}, // sent by another client
        {X11_CLIENT_MESSAGE, 32, id + 1, WM_USER, false},   // another window
        {X11_CLIENT_MESSAGE, 32, id, WM_USER + 1, false},
        {X11_CLIENT_MESSAGE, 8, id, WM_USER, false},
        {X11_CLIENT_MESSAGE + 1, 32, id, WM_USER, false},
    };
    for (const Row& row : rows) {
        X11ClientMessage message{};
        message.responseType = row.responseType;
        message.format = row.format;
        message.window = row.window;
        message.type = row.type;
        message.data32[0] = std::uint32_t(-5); // a signed 32-bit wParam
        message.data32[1] = 9;
        EXPECT_EQ(filter.nativeEventFilter("xcb_generic_event_t", &message, nullptr), row.taken);
    }
    EXPECT_FALSE(filter.nativeEventFilter("windows_generic_MSG", nullptr, nullptr));
    QCoreApplication::processEvents();
    const std::vector<std::pair<std::intptr_t, std::intptr_t>> expected = {{-5, 9}, {-5, 9}};
    EXPECT_EQ(window.messages, expected);
}

TEST(FileDialog, FilterEntriesMeanWhatTheyDescribe) {
    EXPECT_EQ(widgets::FileDialog::nameFilters("All files (*.*)|*.*"), QStringList{"All files (*.*) (*)"});
    EXPECT_EQ(widgets::FileDialog::nameFilters("HTML files (*.HTM;*.HTML)|*.HTM;*.HTML|All files(*.*)|*.*"),
              (QStringList{"HTML files (*.HTM;*.HTML) (*.HTM *.HTML)", "All files(*.*) (*)"}));
    EXPECT_TRUE(widgets::FileDialog::nameFilters("").isEmpty());
}

TEST(FileDialog, StartsInTheFolderOfItsFileNameElseInItsInitialFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    widgets::FileDialog dialog(widgets::FileDialog::Kind::Open);
    dialog.initialDir = QStringLiteral("/");
    EXPECT_EQ(dialog.startFolder(), "/");
    dialog.fileName = dir.filePath(QStringLiteral("page one.html"));
    EXPECT_EQ(dialog.startFolder(), dir.path());
    EXPECT_EQ(dialog.proposedName(), "page one.html");
    dialog.fileName = QStringLiteral("https://www.orvent.example/"); // no folder of ours
    EXPECT_EQ(dialog.startFolder(), "/");
    dialog.fileName = dir.filePath(QStringLiteral("gone/page.html"));
    EXPECT_EQ(dialog.startFolder(), "/");
}

TEST(FileDialog, RealDialogOpensWithTheSettingsAndReturnsTheChosenPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString chosen = dir.filePath(QStringLiteral("my page.html"));
    QFile file(chosen);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    widgets::FileDialog dialog(widgets::FileDialog::Kind::Open);
    dialog.title = QStringLiteral("Browse");
    dialog.filter = QStringLiteral("All files (*.*)|*.*");
    dialog.initialDir = dir.path();
    QString seenTitle, seenFolder;
    QStringList seenFilters;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seenTitle = box->windowTitle();
        seenFolder = box->directory().absolutePath();
        seenFilters = box->nameFilters();
        box->selectFile(chosen);
        static_cast<QDialog*>(box)->accept();
    });
    ASSERT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.fileName, chosen);
    EXPECT_EQ(seenTitle, "Browse");
    EXPECT_EQ(seenFolder, QDir(dir.path()).absolutePath());
    EXPECT_EQ(seenFilters, QStringList{"All files (*.*) (*)"});

    QTimer::singleShot(0, [&] { QApplication::activeModalWidget()->close(); });
    EXPECT_FALSE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.fileName, chosen); // Cancel keeps the last choice
}
