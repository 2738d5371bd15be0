// "Save picture as..." and "Print picture...": the save dialog's settings, each format written
// from the current picture and read back, failed saves that keep the old file, and printing to
// a PDF file in place of a printer.
#include "app/PrintPicture.h"
#include "platform/gdi/GdiTesting.h"
#include "platform/widgets/FileDialog.h"
#include "tests/app/WindowTestSupport.h"
#include "tests/common/FileSizeLimit.h"

#include <QPrinter>
#include <QPushButton>
#include <optional>

using namespace windowtest;
using platform::MB_ICONSTOP;
using platform::MB_OK;

namespace {

constexpr int kCell = 8, kCellsX = 9, kCellsY = 13;

// The 'F' in 8 x 8 cells, so that JPEG keeps each cell's colour at its centre.
std::uint32_t cellF(int x, int top) {
    return letterF(x / kCell, top / kCell, kCellsX, kCellsY);
}

// Answers the save dialog with a name, or cancels it when the name is empty; keeps what the
// dialog was asked to show.
struct SaveAnswer {
    QString name;
    int runs = 0;
    widgets::FileDialog::Kind kind{};
    int options = 0;
    QString filter;
    QStringList startFolders;
    widgets::FileDialog::Runner previous;

    SaveAnswer() {
        previous = widgets::FileDialog::setRunner([this](widgets::FileDialog& dialog, QWidget*) {
            ++runs;
            kind = dialog.kind();
            options = dialog.options;
            filter = dialog.filter;
            startFolders << dialog.startFolder();
            if (name.isEmpty()) return false;
            dialog.fileName = name;
            return true;
        });
    }
    ~SaveAnswer() { widgets::FileDialog::setRunner(previous); }
};

// Answers the print dialog by aiming the printer at a PDF file, or cancels it.
struct PrintAnswer {
    QString pdf;
    bool accept = true;
    int runs = 0;
    app::PrintDialogRunner previous;

    PrintAnswer() {
        previous = app::setPrintDialogRunner([this](QPrinter& printer, QWidget*) {
            ++runs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return accept;
        });
    }
    ~PrintAnswer() { app::setPrintDialogRunner(previous); }
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class SavePrintTest : public WindowTest {
  protected:
    QTemporaryDir dir;
    void SetUp() override {
        WindowTest::SetUp();
        setMainDib(makePicture(kCellsX * kCell, kCellsY * kCell, cellF));
        showPage(form->TabSheet5);
    }
};

} // namespace

TEST_F(SavePrintTest, SaveWritesThePictureInTheFormatOfTheName) {
    SaveAnswer answer;
    struct Row {
        const char* name;
        QByteArray magic;
        int tolerance;
    } const rows[] = {
        {"page.bmp", "BM", 0},
        {"page.png", "\x89PNG", 0},
        {"page.JPG", "\xFF\xD8\xFF", 24},
        {"page.jpeg", "\xFF\xD8\xFF", 24},
        {"page", "BM", 0},
        {"page.gif", "BM", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        answer.name = dir.filePath(QString::fromLatin1(row.name));
        form->SaveAsBtn->click();
        EXPECT_TRUE(boxes.calls().empty());
        const QByteArray bytes = readAll(answer.name);
        EXPECT_TRUE(bytes.startsWith(row.magic));
        QImage image;
        ASSERT_TRUE(image.loadFromData(bytes));
        ASSERT_EQ(image.size(), QSize(kCellsX * kCell, kCellsY * kCell));
        for (int y = kCell / 2; y < image.height(); y += kCell)
            for (int x = kCell / 2; x < image.width(); x += kCell) {
                const QRgb got = image.pixel(x, y);
                const std::uint32_t want = cellF(x, y);
                ASSERT_NEAR(qRed(got), int(want >> 16), row.tolerance) << x << "," << y;
                ASSERT_NEAR(qGreen(got), int((want >> 8) & 0xFF), row.tolerance) << x << "," << y;
                ASSERT_NEAR(qBlue(got), int(want & 0xFF), row.tolerance) << x << "," << y;
            }
    }
    EXPECT_EQ(answer.kind, widgets::FileDialog::Kind::Save);
    EXPECT_EQ(answer.options, widgets::FileDialog::OverwritePrompt | widgets::FileDialog::HideReadOnly |
                                  widgets::FileDialog::EnableSizing);
    EXPECT_TRUE(answer.filter.isEmpty());
    // The first opening starts in the program's folder, later ones where the last file went.
    ASSERT_GE(answer.startFolders.size(), 2);
    EXPECT_EQ(answer.startFolders[0], form->ProgramDir);
    EXPECT_EQ(answer.startFolders[1], dir.path());

    answer.name.clear();
    const int files = QDir(dir.path()).entryList(QDir::Files).size();
    form->SaveAsBtn->click();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), files) << "cancelled: nothing written";
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(SavePrintTest, AFailedSaveIsShownAndLeavesTheOldFile) {
    SaveAnswer answer;
    const QString old = dir.filePath(QStringLiteral("old.bmp"));
    {
        QFile file(old);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("the old picture");
    }
    // A picture too large for the 4 KB the process may write per file, as on a full disk.
    setMainDib(makePicture(400, 300, [](int x, int top) { return cellF(x % 72, top % 104); }));
    const DibRecord picture = form->MainDib;

    struct Row {
        const char* name;
        QString file;
        bool limitFileSize;
    } const rows[] = {
        {"no such folder", dir.filePath(QStringLiteral("missing/folder/page.png")), false},
        {"disk full", old, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        boxes.clear();
        answer.name = row.file;
        {
            std::optional<testing_support::FileSizeLimit> limit;
            if (row.limitFileSize) limit.emplace(4096);
            form->SaveAsBtn->click();
        }

        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].caption, "Error");
        EXPECT_EQ(boxes.calls()[0].type, MB_OK | MB_ICONSTOP);
        EXPECT_TRUE(boxes.calls()[0].text.contains(QFileInfo(row.file).fileName()))
            << boxes.calls()[0].text.toStdString();
        EXPECT_EQ(form->MainDib.bits, picture.bits);
    }
    EXPECT_EQ(readAll(old), QByteArray("the old picture"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.bmp")})
        << "no temporary file is left";
}

TEST(PrintPicture, PictureIsFittedToThePageWithItsAspectAndCentred) {
    struct Row {
        long long w, h;
        int pageW, pageH;
        gdi::RECT fitted;
    } const rows[] = {
        {200, 100, 1000, 1000, {0, 250, 1000, 750}},
        {100, 200, 1000, 1000, {250, 0, 750, 1000}},
        {320, 200, 4960, 7015, {0, 1957, 4960, 5057}},
        {3200, 80000, 4960, 7015, {2340, 0, 2620, 7015}}, // a very tall page capture
        {1, 100000, 800, 1000, {399, 0, 400, 1000}},      // a sliver keeps one column
        {100, 100, 800, 800, {0, 0, 800, 800}},
        {0, 100, 800, 800, {0, 0, 0, 0}},
        {100, 100, 0, 800, {0, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        const gdi::RECT got = app::fitToPage(r.w, r.h, r.pageW, r.pageH);
        EXPECT_EQ(got.left, r.fitted.left) << r.w << "x" << r.h;
        EXPECT_EQ(got.top, r.fitted.top) << r.w << "x" << r.h;
        EXPECT_EQ(got.right, r.fitted.right) << r.w << "x" << r.h;
        EXPECT_EQ(got.bottom, r.fitted.bottom) << r.w << "x" << r.h;
    }
}

TEST_F(SavePrintTest, PrintPutsThePictureOnOnePage) {
    PrintAnswer answer;
    answer.pdf = dir.filePath(QStringLiteral("printed.pdf"));
    form->PrintBtn->click();
    EXPECT_EQ(answer.runs, 1);
    EXPECT_TRUE(boxes.calls().empty());
    const QByteArray pdf = readAll(answer.pdf);
    ASSERT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_EQ(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page/") +
                  pdf.count("/Type /Page "),
              1)
        << "one page";
    // The picture went onto the page whole, at its own pixel size.
    EXPECT_TRUE(pdf.contains("/Width 72") && pdf.contains("/Height 104"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("printed.pdf")})
        << "the document is the only file written";

    // Cancelled: nothing printed.
    answer.accept = false;
    answer.pdf = dir.filePath(QStringLiteral("cancelled.pdf"));
    form->PrintBtn->click();
    EXPECT_FALSE(QFile::exists(answer.pdf));
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(SavePrintTest, APrinterThatCannotStartIsShown) {
    PrintAnswer answer;
    answer.pdf = dir.filePath(QStringLiteral("missing/folder/printed.pdf"));
    form->PrintBtn->click();
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].caption, "Error");
    EXPECT_EQ(boxes.calls()[0].type, MB_OK | MB_ICONSTOP);
    EXPECT_TRUE(boxes.calls()[0].text.contains("printer")) << boxes.calls()[0].text.toStdString();
}

// Printing to a file on a full disk (here: the process may write only 1000 bytes per file):
// the user is told, and the file that was there stays as it was.
TEST_F(SavePrintTest, PrintingToAFileThatCannotBeWrittenIsShownAndLeavesTheOldFile) {
    PrintAnswer answer;
    answer.pdf = dir.filePath(QStringLiteral("printed.pdf"));
    {
        QFile old(answer.pdf);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the old document");
    }
    {
        const testing_support::FileSizeLimit limit(1000);
        form->PrintBtn->click();
    }

    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].caption, "Error");
    EXPECT_EQ(boxes.calls()[0].type, MB_OK | MB_ICONSTOP);
    EXPECT_TRUE(boxes.calls()[0].text.contains("printed.pdf")) << boxes.calls()[0].text.toStdString();
    EXPECT_EQ(readAll(answer.pdf), QByteArray("the old document"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("printed.pdf")})
        << "no temporary file is left";
}

// Without a picture (the start-up picture could not be made) there is nothing to save or print,
// and the user is told so.
TEST(SavePrintWithoutPicture, SaysThereIsNothing) {
    platform::MessageBoxRecorder boxes;
    platform::HelpRecorder help;
    InitApplicationTitle();
    std::unique_ptr<TMainForm> form = makeFormWithoutPicture();
    QTemporaryDir dir;
    SaveAnswer save;
    save.name = dir.filePath(QStringLiteral("page.png"));
    PrintAnswer print;
    print.pdf = dir.filePath(QStringLiteral("page.pdf"));
    form->SaveAsBtn->click();
    form->PrintBtn->click();
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_TRUE(boxes.calls()[0].text.endsWith("There is no picture to save."))
        << boxes.calls()[0].text.toStdString();
    EXPECT_EQ(boxes.calls()[1].text.toStdString(), "There is no picture to print.");
    EXPECT_FALSE(QFile::exists(save.name));
    EXPECT_FALSE(QFile::exists(print.pdf));
}
