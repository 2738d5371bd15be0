// The file-name masks of the "Open file" list and the filter box that feeds them.
#include "document/chooser/FilterComboBox.h"
#include "document/chooser/PathMatchSpec.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

using document::fileMatchesMasks;
using document::PathMatchSpecW;
using document::splitFilterMasks;

namespace {

struct MaskCase {
    const char* name;
    const char* spec;
    bool matches;
};

TEST(PathMatchSpecW, WildcardsAndCase) {
    const MaskCase cases[] = {
        {"index.html", "*.HTML", true}, // letters without regard to case
        {"INDEX.HTM", "*.htm", true},
        {"index.html", "*.HTM", false}, // a mask is not a prefix
        {"index.htm", "*.HTML", false},
        {"a.b.htm", "*.htm", true}, // the star runs over dots
        {"a.htm", "?.htm", true},   // "?" is exactly one character
        {"ab.htm", "?.htm", false},
        {".htm", "?.htm", false},
        {"readme", "*.*", false}, // the plain rule wants the dot
        {".profile", "*.*", true},
        {"", "*", true},
        {"abcabcabd", "*abd", true}, // needs backtracking past a false start
        {"aaa", "a*a*a*a", false},
        {"aaaa", "a*a*a*a", true},
        {"report*.txt", "report*.txt", true}, // a star in the name is an ordinary character
        {"x.HTML", "*.htm; *.html", true},    // several masks, blanks before one skipped
        {"x.txt", "*.htm;*.html", false},
        {"\xc3\x84RGER.HTM", "\xc3\xa4rger.htm", true}, // case folding beyond ASCII
        {"\xf0\x9f\x98\x80.htm", "?.htm", true},        // one character outside the basic plane
    };
    for (const MaskCase& c : cases)
        EXPECT_EQ(PathMatchSpecW(QString::fromUtf8(c.name), QString::fromUtf8(c.spec)), c.matches)
            << c.name << " against " << c.spec;
}

TEST(PathMatchSpecW, ManyStarsOnALongNameStayQuick) {
    // A naive recursive matcher needs exponential time here and would hang the list.
    const QString name(20000, u'a');
    QString mask;
    for (int i = 0; i < 2000; ++i)
        mask += QStringLiteral("*a");
    mask += u'b';
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(PathMatchSpecW(name, mask));
    EXPECT_LT(clock.elapsed(), 5000);
}

struct FilterCase {
    const char* filter;
    const char* name;
    bool listed;
};

TEST(ListFilter, WhichFilesAFilterLists) {
    const FilterCase cases[] = {
        {"*.HTM;*.HTML", "index.html", true},
        {"*.HTM;*.HTML", "PAGE.HTM", true},
        {"*.HTM;*.HTML", "mixed.HtMl", true},
        {"*.HTM;*.HTML", "notes.txt", false},
        {"*.HTM;*.HTML", "page.html.bak", false},
        {"*.HTM;*.HTML", "README", false},
        {"*.*", "notes.txt", true}, // every name with a dot ...
        {"*.*", "archive.tar.gz", true},
        {"*.*", "README", false}, // ... and none without
        {"", "README", true},     // no masks: every file
        {"*", "README", true},
        {" *.txt ; ;*.md ", "a.md", true},
        {" *.txt ; ;*.md ", "a.txt", true},
        {" *.txt ; ;*.md ", "a.htm", false},
        {"*.htm;*.*", "notes.txt", true}, // "*.*" keeps its reading among other masks
        {"*.htm;*.*", "README", false},
    };
    for (const FilterCase& c : cases)
        EXPECT_EQ(fileMatchesMasks(QString::fromUtf8(c.name), splitFilterMasks(QString::fromUtf8(c.filter))),
                  c.listed)
            << c.name << " under " << c.filter;
}

TEST(FilterComboBox, EntriesAndMasks) {
    TFilterComboBox box;
    box.setFilter(QStringLiteral("HTML files (*.HTM;*.HTML)|*.HTM;*.HTML|All files(*.*)|*.*"));
    ASSERT_EQ(box.count(), 2);
    EXPECT_EQ(box.itemText(0), QStringLiteral("HTML files (*.HTM;*.HTML)"));
    EXPECT_EQ(box.itemText(1), QStringLiteral("All files(*.*)"));
    EXPECT_EQ(box.Mask(), QStringLiteral("*.HTM;*.HTML"));

    // Nothing selected: the last entry is taken, and stays selected.
    box.setCurrentIndex(-1);
    EXPECT_EQ(box.Mask(), QStringLiteral("*.*"));
    EXPECT_EQ(box.currentIndex(), 1);

    // A description without a mask is still an entry; its mask lists everything.
    box.setFilter(QStringLiteral("Text|*.txt|Everything"));
    ASSERT_EQ(box.count(), 2);
    box.setCurrentIndex(1);
    EXPECT_EQ(box.Mask(), QString());

    box.setFilter(QString());
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.Mask(), QStringLiteral("*.*"));
}

TEST(FilterComboBox, ReportsOnlyTheUsersChoice) {
    TFilterComboBox box;
    box.setFilter(QStringLiteral("HTML|*.htm|All|*.*"));
    int changes = 0;
    QObject* sender = nullptr;
    box.setOnChange([&](QObject* s) {
        ++changes;
        sender = s;
    });
    box.setCurrentIndex(1); // the program's own choice
    box.setFilter(QStringLiteral("HTML|*.htm|All|*.*"));
    EXPECT_EQ(changes, 0);

    box.show();
    QTest::keyClick(&box, Qt::Key_Down); // the user's
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(sender, &box);
    EXPECT_EQ(box.Mask(), QStringLiteral("*.*"));
}

} // namespace
