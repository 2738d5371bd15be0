// The About dialog: the year in the copyright line, one fresh dialog per opening, the website
// button, and the keys that do and do not close it.
#include "app/AboutBoxUnit.h"
#include "platform/Shell.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

int fixedYear = 2031;
QDate fixedClock() {
    return QDate(fixedYear, 6, 15);
}

// Sets the dialog's clock for one test.
struct ClockGuard {
    explicit ClockGuard(int year) {
        fixedYear = year;
        TAboutBox::clock = &fixedClock;
    }
    ~ClockGuard() { TAboutBox::clock = &QDate::currentDate; }
};

// Opens the dialog the way the main window's About image does: build it with the owner, show
// it modally, destroy it when it returns. whileOpen runs once the dialog is up.
int openAboutBox(QWidget* owner, const std::function<void(TAboutBox&)>& whileOpen) {
    AboutBox = new TAboutBox(owner);
    QTimer::singleShot(0, owner, [whileOpen] {
        TAboutBox* box = AboutBox;
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
        whileOpen(*box);
        // Whatever happened, do not leave the modal loop running.
        if (box->isVisible()) box->done(QDialog::Rejected);
    });
    const int result = AboutBox->exec();
    delete AboutBox;
    return result;
}

TEST(AboutBox, YearReplacesThePlaceholderAndNothingElse) {
    QWidget owner;
    const ClockGuard year2031(2031);
    TAboutBox box(&owner);
    EXPECT_EQ(box.Copyright->text(), QStringLiteral("Copyright \u00a9 2031 Orvent. All rights reserved."));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Info"));
    EXPECT_EQ(box.size(), QSize(664, 453));
    EXPECT_EQ(box.minimumSize(), box.maximumSize()) << "the border is fixed";
    EXPECT_FALSE(box.ProgramIcon->pixmap().isNull()) << "the product picture is built in";
}

TEST(AboutBox, EachOpeningBuildsAFreshDialogAndLeavesNoneBehind) {
    QWidget owner;
    owner.show();
    QStringList copyrights;
    QList<QObject*> parents;
    for (int year : {2031, 2032}) {
        const ClockGuard clock(year);
        const int result = openAboutBox(&owner, [&](TAboutBox& box) {
            copyrights << box.Copyright->text();
            parents << box.parent();
            EXPECT_TRUE(box.isModal());
            QTest::mouseClick(box.BitBtn1, Qt::LeftButton);
        });
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_EQ(AboutBox, nullptr);
    }
    ASSERT_EQ(copyrights.size(), 2);
    EXPECT_TRUE(copyrights[0].contains(QStringLiteral("2031")));
    EXPECT_TRUE(copyrights[1].contains(QStringLiteral("2032"))) << "a reused dialog would keep the old year";
    EXPECT_EQ(parents, (QList<QObject*>{&owner, &owner}));
    EXPECT_TRUE(owner.findChildren<TAboutBox*>().isEmpty());
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TAboutBox*>(window), nullptr);
}

TEST(AboutBox, WebsiteButtonOpensTheSiteAndTheDialogStays) {
    QWidget owner;
    owner.show();
    platform::ShellRecorder shell;
    bool stillOpen = false;
    QPointer<TAboutBox> shown;
    const QWidget* dialog = nullptr;
    openAboutBox(&owner, [&](TAboutBox& box) {
        shown = &box;
        dialog = &box;
        QTest::mouseClick(box.BitBtnXP1, Qt::LeftButton);
        QCoreApplication::processEvents(); // a close the click had posted would happen here
        stillOpen = box.isVisible();
        QTest::mouseClick(box.BitBtn1, Qt::LeftButton);
    });
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(shell.calls().size(), 1u);
    const platform::ShellRequest& call = shell.calls()[0];
    EXPECT_EQ(call.verb, QStringLiteral("open"));
    EXPECT_EQ(call.file, QStringLiteral("https://www.orvent.example/"));
    EXPECT_TRUE(call.parameters.isNull());
    EXPECT_TRUE(call.directory.isNull());
    EXPECT_EQ(call.showCommand, platform::SW_SHOW);
    EXPECT_EQ(call.owner, dialog) << "the dialog owns the request";
    EXPECT_TRUE(shown.isNull()) << "destroyed after closing";
}

TEST(AboutBox, EscapeIsIgnoredEnterMeansOk) {
    QWidget owner;
    owner.show();
    bool openAfterEscape = false;
    const int result = openAboutBox(&owner, [&](TAboutBox& box) {
        QTest::keyClick(&box, Qt::Key_Escape);
        QCoreApplication::processEvents();
        openAfterEscape = box.isVisible();
        QTest::keyClick(&box, Qt::Key_Return);
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(result, QDialog::Accepted);

    // The close box closes it too.
    EXPECT_EQ(openAboutBox(&owner, [](TAboutBox& box) { box.close(); }), QDialog::Rejected);
}

} // namespace
