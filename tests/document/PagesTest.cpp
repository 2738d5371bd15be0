// The logic of the "Open website" and "Size" pages: which address the field's text opens, how
// the edits size the view, where the preview goes, and the browse dialog of the address edit.
#include "document/AddressRule.h"
#include "document/FileNameEdit.h"
#include "document/ViewSize.h"
#include "document/WebBrowser.h"
#include "tests/widgets/QStringPrinter.h"

#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <gtest/gtest.h>

using namespace document;

namespace {

FileExists existingFiles(QSet<QString> names) {
    return [names](const QString& path) { return names.contains(path); };
}

// Answers the file dialog for the user and remembers what it was opened with.
struct DialogAnswer {
    int runs = 0;
    QString seenFileName, seenStartFolder, seenTitle;
    QString choose; // empty: Cancel
    widgets::FileDialog::Runner previous;

    DialogAnswer() {
        previous = widgets::FileDialog::setRunner([this](widgets::FileDialog& dialog, QWidget*) {
            ++runs;
            seenFileName = dialog.fileName;
            seenStartFolder = dialog.startFolder();
            seenTitle = dialog.title;
            if (choose.isEmpty()) return false;
            dialog.fileName = choose;
            return true;
        });
    }
    ~DialogAnswer() { widgets::FileDialog::setRunner(previous); }
};

} // namespace

TEST(AddressRule, FileNameOfTheFieldText) {
    const QString spaced = QStringLiteral("/srv/my site/index.html");
    const FileExists exists = existingFiles({spaced, QStringLiteral("/srv/plain.html")});
    struct Row {
        QString text;
        QString fileName;
        QString opened; // what "Open website..." loads
    };
    const Row rows[] = {
        {"\"/srv/my site/index.html\"", spaced, spaced},  // quoted by the browse dialog
        {spaced, spaced, spaced},                         // unquoted, but the file exists
        {"/srv/no such/page.html", "/srv/no", "/srv/no"}, // cut at the first blank
        {"https://www.orvent.example/a?b=c", "https://www.orvent.example/a?b=c",
         "https://www.orvent.example/a?b=c"},
        {"   ", "", "   "}, // blanks only: the raw text
        {"", "", ""},
        {"\t  https://x.example/\r\n", "https://x.example/", "https://x.example/"},
        {"\"\" \"\"  /srv/plain.html rest", "/srv/plain.html",
         "/srv/plain.html"},                                   // empty quote pairs skipped
        {"ab\"c d\"ef gh", "abc def", "abc def"},              // quotes group within an item
        {"\"/srv/open end", "/srv/open end", "/srv/open end"}, // an unclosed quote runs to the end
        {"\"\"", "", "\"\""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(addressFileName(row.text, exists), row.fileName) << row.text.toStdString();
        EXPECT_EQ(addressToOpen(row.text, exists), row.opened) << row.text.toStdString();
    }
}

TEST(AddressRule, AnItemLongerThan256CharactersIsRefusedUnlessItIsAFile) {
    const QString base = QStringLiteral("https://www.orvent.example/");
    const QString fits = base + QString(kMaxAddressItem - base.size(), QLatin1Char('a'));
    const QString tooLong = fits + QLatin1Char('a');
    const FileExists none = existingFiles({});
    EXPECT_EQ(addressToOpen(fits, none), fits);
    EXPECT_THROW(addressToOpen(tooLong, none), AddressTooLong);
    EXPECT_THROW(addressToOpen(QLatin1Char('"') + tooLong + QLatin1Char('"'), none), AddressTooLong);
    // A long path that exists is the whole text, as it stands.
    const QString longPath =
        QStringLiteral("/srv/") + QString(300, QLatin1Char('p')) + QStringLiteral(" x.html");
    EXPECT_EQ(addressToOpen(longPath, existingFiles({longPath})), longPath);
}

TEST(AddressRule, OnlyAnExistingFileCountsAsAFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("a page.html"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_TRUE(isExistingFile(file));
    EXPECT_FALSE(isExistingFile(dir.path())); // a folder
    EXPECT_FALSE(isExistingFile(dir.filePath(QStringLiteral("missing.html"))));
    EXPECT_EQ(addressToOpen(file), file);
    EXPECT_EQ(addressToOpen(dir.path() + QStringLiteral("/a page")), dir.path() + QStringLiteral("/a"));
}

TEST(ViewSize, ExtentFromAnEditValue) {
    struct Row {
        double value;
        std::optional<int> extent;
    };
    const Row rows[] = {
        {800, 800},
        {10, 10}, // 10 itself qualifies
        {9.99, std::nullopt},
        {1, std::nullopt},
        {-500, std::nullopt},
        {10.9, 10},     // truncated toward zero
        {25000, 25000}, // above the edit's maximum: applied as typed
        {100000, 100000},
        {100001, std::nullopt}, // more than any view can be: left as it is
        {1e20, std::nullopt},   // far beyond 32 bits must not wrap into a small size
        {std::nan(""), std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(viewExtentFor(row.value, 100000), row.extent) << row.value;
}

TEST(ViewSize, PreviewIsTheLargestRectangleOfTheViewsAspectAtTheTopLeft) {
    struct Row {
        int pw, ph, vw, vh;
        gdi::LONG right, bottom;
    };
    const Row rows[] = {
        {409, 359, 800, 1000, 287, 359}, // too tall for the box: fitted to the height
        {400, 300, 1000, 500, 400, 200}, // fits the width
        {400, 500, 800, 1000, 400, 500}, // exactly the height: not above it
        {400, 300, 0, 500, 0, 0},        // a view without area draws nothing
        {400, 300, 500, -1, 0, 0},       {30000, 500, 10, 100000, 0, 500}, // 30000 x 100000 overflows 32 bits
        {0, 0, 800, 1000, 0, 0},
    };
    for (const Row& row : rows) {
        const gdi::RECT r = previewRect(row.pw, row.ph, row.vw, row.vh);
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.top, 0);
        EXPECT_EQ(r.right, row.right) << row.pw << "x" << row.ph << " view " << row.vw << "x" << row.vh;
        EXPECT_EQ(r.bottom, row.bottom) << row.pw << "x" << row.ph << " view " << row.vw << "x" << row.vh;
    }
}

TEST(ViewSize, SizingRuleAppliesEachHalfOnlyForValuesOfTenOrMore) {
    TWebBrowser web;
    EXPECT_EQ(QSize(web.viewWidth(), web.viewHeight()), QSize(2000, 2000)); // the layout size
    struct Row {
        double width, height;
        QSize expected;
    };
    const Row rows[] = {
        {800, 1000, {800, 1000}}, {5, 1200, {800, 1200}}, {25000, 9.5, {25000, 1200}},
        {10, 10, {10, 10}},       {1e12, 640, {10, 640}},
    };
    for (const Row& row : rows) {
        applyViewSize(web, row.width, row.height);
        EXPECT_EQ(QSize(web.viewWidth(), web.viewHeight()), row.expected) << row.width << " x " << row.height;
    }
}

TEST(FileNameEdit, ConfirmedPathReplacesTheTextQuotedWhenItHoldsASpace) {
    struct Row {
        QString chosen;
        QString text;
    };
    const Row rows[] = {
        {"/srv/site/index.html", "/srv/site/index.html"},
        {"/srv/my site/index.html", "\"/srv/my site/index.html\""},
        {"", "https://www.orvent.example/"}, // Cancel changes nothing
    };
    for (const Row& row : rows) {
        DialogAnswer answer;
        answer.choose = row.chosen;
        FileNameEdit edit;
        edit.setText(QStringLiteral("https://www.orvent.example/"));
        edit.browseButton()->click();
        EXPECT_EQ(answer.runs, 1);
        EXPECT_EQ(edit.text(), row.text);
    }
}

TEST(FileNameEdit, DialogRemembersTheLastConfirmedFileWhenTheHandlerClearsTheName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString chosen = dir.filePath(QStringLiteral("first page.html"));
    DialogAnswer answer;
    FileNameEdit edit;
    edit.setOnBeforeDialog([](QString& name, bool&) { name.clear(); });
    edit.setText(QStringLiteral("https://www.orvent.example/"));
    answer.choose = chosen;
    edit.browse();
    EXPECT_TRUE(answer.seenFileName.isEmpty()); // nothing taken from the field's address

    edit.setText(QStringLiteral("https://www.orvent.example/other"));
    answer.choose.clear();
    edit.browse();
    EXPECT_EQ(answer.seenFileName, chosen);
    EXPECT_EQ(answer.seenStartFolder, dir.path());
    EXPECT_EQ(edit.text(), "https://www.orvent.example/other");
}

TEST(FileNameEdit, WithoutAHandlerTheDialogStartsFromTheFieldsFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString typed = dir.filePath(QStringLiteral("typed.html"));
    DialogAnswer answer;
    FileNameEdit edit;
    edit.setText(typed);
    edit.browse();
    EXPECT_EQ(answer.seenFileName, typed);
    EXPECT_EQ(answer.seenStartFolder, dir.path());
}

TEST(FileNameEdit, HandlerCanStopTheDialog) {
    DialogAnswer answer;
    FileNameEdit edit;
    QString proposed;
    edit.setText(QStringLiteral("\"/srv/a b.html\" extra"));
    edit.setOnBeforeDialog([&](QString& name, bool& proceed) {
        proposed = name;
        proceed = false;
    });
    edit.browse();
    EXPECT_EQ(proposed, "/srv/a b.html"); // the field's file name on entry
    EXPECT_EQ(answer.runs, 0);
}

TEST(FileNameEdit, AltDownOpensTheDialogPlainDownDoesNot) {
    DialogAnswer answer;
    FileNameEdit edit;
    QTest::keyClick(edit.editor(), Qt::Key_Down);
    EXPECT_EQ(answer.runs, 0);
    QTest::keyClick(edit.editor(), Qt::Key_Down, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(answer.runs, 0);
    QTest::keyClick(edit.editor(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(answer.runs, 1);
}
