// The "Open file" page: what the list shows, and what double-click and Enter open, with the
// main window's side (browser view, sizing rule, page switch) recorded by a stand-in host.
#include "document/chooser/FilterComboBox.h"
#include "document/chooser/JamShellList.h"
#include "document/chooser/JamShellTree.h"
#include "document/chooser/LocalDocumentChooser.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <stdexcept>
#include <unistd.h>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

class RecordingHost : public document::LocalDocumentChooserHost {
  public:
    void navigateBrowserView(const QString& documentPath) override {
        calls << QStringLiteral("navigate ") + documentPath;
        if (!failure.isEmpty()) throw std::runtime_error(failure.toStdString());
    }
    void ApplyViewSize() override { calls << QStringLiteral("ApplyViewSize"); }
    void showOpenWebsitePage() override { calls << QStringLiteral("showOpenWebsitePage"); }

    QStringList calls;
    QString failure;
};

// Stands for the page around the chooser: records the keys that the list lets through.
class PageStandIn : public QWidget {
  public:
    QList<int> keysReceived;

  protected:
    void keyPressEvent(QKeyEvent* event) override { keysReceived << event->key(); }
};

class ChooserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        root = QDir::cleanPath(m_dir.path());
        for (const char* folder : {"sub1", "Sub2", "sub1/deeper"})
            ASSERT_TRUE(QDir(root).mkpath(QString::fromLatin1(folder)));
        for (const char* file : {"index.html", "PAGE.HTM", "mixed.HtMl", "notes.txt", "README",
                                 "archive.tar.gz", "page.html.bak", "sub1/inner.html"}) {
            QFile f(root + u'/' + QString::fromLatin1(file));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("<html><body>fixture</body></html>");
        }
        chooser = new document::LocalDocumentChooser(host, &page);
        page.resize(700, 450);
        chooser->resize(700, 450);
        page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
        list = chooser->JamShellList1;
        tree = chooser->JamShellTree1;
    }

    QStringList names() const {
        QStringList result;
        const QAbstractItemModel* model = list->model();
        for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
            result << model->index(row, 0, list->rootIndex()).data().toString();
        return result;
    }

    // The list fills in the background; wait until it shows exactly these names (in any
    // order), then make sure nothing else turns up a moment later.
    ::testing::AssertionResult shows(QStringList expected) const {
        expected.sort();
        auto sortedNames = [this] {
            QStringList current = names();
            current.sort();
            return current;
        };
        (void)QTest::qWaitFor([&] { return sortedNames() == expected; }, 5000);
        QTest::qWait(150);
        const QStringList now = sortedNames();
        if (now == expected) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "list shows [" << now.join(u", ").toStdString()
                                             << "], expected [" << expected.join(u", ").toStdString() << "]";
    }

    QModelIndex item(const QString& name) const {
        const QAbstractItemModel* model = list->model();
        for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
            const QModelIndex at = model->index(row, 0, list->rootIndex());
            if (at.data().toString() == name) return at;
        }
        return {};
    }

    void select(const QStringList& items) {
        list->clearSelection();
        for (const QString& name : items) {
            const QModelIndex at = item(name);
            ASSERT_TRUE(at.isValid()) << name.toStdString();
            list->selectionModel()->select(at, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    void doubleClick(const QString& name) {
        const QModelIndex at = item(name);
        ASSERT_TRUE(at.isValid()) << name.toStdString();
        list->scrollTo(at);
        // A real double-click arrives as a click followed by the double-click event.
        const QPoint where = list->visualRect(at).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, where);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, where);
    }

    void startAtFixture() {
        chooser->FormCreate(root + u'/');
        ASSERT_TRUE(shows({"sub1", "Sub2", "index.html", "PAGE.HTM", "mixed.HtMl"}));
    }

    QString root;
    RecordingHost host;
    PageStandIn page;
    document::LocalDocumentChooser* chooser = nullptr;
    TJamShellList* list = nullptr;
    TJamShellTree* tree = nullptr;

  private:
    QTemporaryDir m_dir;
};

TEST_F(ChooserTest, StartsInTheProgramFolderWithFoldersAndHtmlFiles) {
    startAtFixture();
    EXPECT_EQ(tree->SelectedFolder(), root);
    EXPECT_EQ(list->folder(), root);
    EXPECT_EQ(list->filter(), QStringLiteral("*.HTM;*.HTML"));
    // Folders come first in the list.
    const QStringList shown = names();
    EXPECT_EQ(QSet<QString>(shown.begin(), shown.begin() + 2), (QSet<QString>{"sub1", "Sub2"}));
    EXPECT_TRUE(host.calls.isEmpty());
}

TEST_F(ChooserTest, FilterBoxWidensAndNarrowsTheList) {
    startAtFixture();
    TFilterComboBox* box = chooser->FilterComboBox1;
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down); // "All files(*.*)"
    EXPECT_TRUE(shows({"sub1", "Sub2", "index.html", "PAGE.HTM", "mixed.HtMl", "notes.txt", "archive.tar.gz",
                       "page.html.bak"}))
        << "README has no dot and stays hidden";
    QTest::keyClick(box, Qt::Key_Up); // "HTML files (*.HTM;*.HTML)"
    EXPECT_TRUE(shows({"sub1", "Sub2", "index.html", "PAGE.HTM", "mixed.HtMl"}));
}

TEST_F(ChooserTest, DoubleClickOnAFolderOpensItInListAndTree) {
    startAtFixture();
    doubleClick(QStringLiteral("sub1"));
    EXPECT_EQ(list->folder(), root + QStringLiteral("/sub1"));
    EXPECT_EQ(tree->SelectedFolder(), root + QStringLiteral("/sub1"));
    EXPECT_TRUE(shows({"deeper", "inner.html"}));
    EXPECT_EQ(list->SelCount(), 0);
    EXPECT_TRUE(host.calls.isEmpty()) << "opening a folder loads nothing and stays on the page";
}

TEST_F(ChooserTest, DoubleClickAndEnterOnAFileOpenItOnce) {
    const QStringList opened{"navigate " + root + "/mixed.HtMl", "ApplyViewSize", "showOpenWebsitePage"};
    startAtFixture();
    doubleClick(QStringLiteral("mixed.HtMl"));
    EXPECT_EQ(host.calls, opened);

    host.calls.clear();
    select({QStringLiteral("mixed.HtMl")});
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(host.calls, opened);
    EXPECT_TRUE(page.keysReceived.isEmpty()) << "Enter is consumed by the handler";

    // Opening leaves the place as it was for the next visit.
    EXPECT_EQ(list->folder(), root);
    EXPECT_EQ(tree->SelectedFolder(), root);
    EXPECT_EQ(list->SelCount(), 1);
}

TEST_F(ChooserTest, EnterOnAFolderOpensIt) {
    startAtFixture();
    select({QStringLiteral("sub1")});
    QTest::keyClick(list, Qt::Key_Enter);
    EXPECT_EQ(list->folder(), root + QStringLiteral("/sub1"));
    EXPECT_EQ(tree->SelectedFolder(), root + QStringLiteral("/sub1"));
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_TRUE(page.keysReceived.isEmpty());

    // Other keys are the list's: Backspace goes back up, in the tree as well.
    QTest::keyClick(list, Qt::Key_Backspace);
    EXPECT_EQ(list->folder(), root);
    EXPECT_EQ(tree->SelectedFolder(), root);
}

TEST_F(ChooserTest, NothingSelectedOpensNothing) {
    startAtFixture();
    list->clearSelection();
    QTest::keyClick(list, Qt::Key_Return);
    chooser->JamShellList1DblClick(list);
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_EQ(list->folder(), root);
}

TEST_F(ChooserTest, FileInTheRootFolderGetsOneSlash) {
    tree->setSelectedFolder(QStringLiteral("/"));
    ASSERT_EQ(tree->SelectedFolder(), QStringLiteral("/"));
    chooser->openfilenow(QStringLiteral("index.html"));
    EXPECT_EQ(host.calls, (QStringList{"navigate /index.html", "ApplyViewSize", "showOpenWebsitePage"}));
}

TEST_F(ChooserTest, NoSelectedFolderOpensNothing) {
    tree->setCurrentIndex(QModelIndex());
    ASSERT_TRUE(tree->SelectedFolder().isEmpty());
    chooser->openfilenow(QStringLiteral("index.html"));
    EXPECT_TRUE(host.calls.isEmpty());
}

TEST_F(ChooserTest, FolderFirstInASelectionHandsAllItemsToTheDesktop) {
    startAtFixture();
    platform::ShellRecorder shell;
    select({QStringLiteral("index.html"), QStringLiteral("sub1")});
    chooser->JamShellList1DblClick(list);
    ASSERT_EQ(shell.calls().size(), 2u);
    EXPECT_EQ(shell.calls()[0].file, root + QStringLiteral("/sub1")) << "in the list's order";
    EXPECT_EQ(shell.calls()[1].file, root + QStringLiteral("/index.html"));
    for (const platform::ShellRequest& call : shell.calls()) {
        EXPECT_EQ(call.verb, QStringLiteral("open"));
        EXPECT_EQ(call.directory, root);
        EXPECT_EQ(call.showCommand, platform::SW_SHOW);
    }
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_EQ(list->folder(), root);
}

TEST_F(ChooserTest, FileFirstInASelectionIsTheOneOpened) {
    startAtFixture();
    platform::ShellRecorder shell;
    const QString first = names().at(2); // the first file, folders being listed before files
    const QString second = names().at(3);
    select({second, first});
    chooser->JamShellList1DblClick(list);
    EXPECT_EQ(host.calls,
              (QStringList{"navigate " + root + u'/' + first, "ApplyViewSize", "showOpenWebsitePage"}));
    EXPECT_TRUE(shell.calls().empty());
}

TEST_F(ChooserTest, FailedNavigationIsReportedAndSkipsTheRest) {
    startAtFixture();
    platform::MessageBoxRecorder boxes;
    host.failure = QStringLiteral("The view could not load the document");
    select({QStringLiteral("index.html")});
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(host.calls, QStringList{"navigate " + root + "/index.html"});
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, host.failure);
    EXPECT_TRUE(page.keysReceived.isEmpty());
}

TEST_F(ChooserTest, TreeSelectionMovesTheList) {
    startAtFixture();
    tree->setSelectedFolder(root + QStringLiteral("/sub1/deeper/"));
    EXPECT_EQ(tree->SelectedFolder(), root + QStringLiteral("/sub1/deeper"));
    EXPECT_EQ(list->folder(), root + QStringLiteral("/sub1/deeper"));
    EXPECT_TRUE(shows({}));

    // A path that is gone leads to the nearest folder above it that still exists.
    tree->setSelectedFolder(root + QStringLiteral("/sub1/gone/away"));
    EXPECT_EQ(list->folder(), root + QStringLiteral("/sub1"));
    EXPECT_TRUE(shows({"deeper", "inner.html"}));
}

TEST_F(ChooserTest, FoldersThatCannotBeListedShowNothing) {
    platform::MessageBoxRecorder boxes;
    list->setFolder(root + QStringLiteral("/no/such/folder"));
    EXPECT_TRUE(shows({}));

    // The shown folder vanishing from disk empties the list instead of showing the top level.
    list->setFolder(root + QStringLiteral("/sub1"));
    ASSERT_TRUE(shows({"deeper", "inner.html"}));
    ASSERT_TRUE(QDir(root + QStringLiteral("/sub1")).removeRecursively());
    EXPECT_TRUE(shows({}));

    if (geteuid() != 0) { // permissions do not stop root
        const QString locked = root + QStringLiteral("/Sub2");
        QFile(locked + QStringLiteral("/secret.html")).open(QIODevice::WriteOnly);
        QFile::setPermissions(locked, QFileDevice::Permissions());
        list->setFolder(locked);
        EXPECT_TRUE(shows({}));
        QFile::setPermissions(locked,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    EXPECT_TRUE(boxes.calls().empty());
}

} // namespace
