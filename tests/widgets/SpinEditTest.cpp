// The spin edit's reading contract: what Value() reads from the text, what typing may put
// there, when the range is enforced, and how often the owner hears of a change.
#include "platform/widgets/SpinEdit.h"

#include "tests/widgets/QStringPrinter.h"

#include <QApplication>
#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using widgets::SpinEdit;

namespace {

struct LocaleScope {
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(QLocale::c()); }
};

struct BeepCounter {
    int count = 0;
    std::function<void()> previous;
    BeepCounter() {
        previous = SpinEdit::setBeepHandler([this] { ++count; });
    }
    ~BeepCounter() { SpinEdit::setBeepHandler(previous); }
};

// An edit inside a shown window, with a second field to move the focus to.
struct Window {
    QWidget top;
    SpinEdit* edit = new SpinEdit(&top);
    QLineEdit* other = new QLineEdit(&top);

    Window(double minValue, double maxValue, double value, double step,
           SpinEdit::ValueType type = SpinEdit::ValueType::Integer) {
        edit->setValueType(type);
        edit->setRange(minValue, maxValue);
        edit->setIncrement(step);
        edit->setValue(value);
        edit->setGeometry(0, 0, 80, 21);
        other->setGeometry(0, 30, 80, 21);
        top.show();
        top.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&top));
        edit->setFocus();
    }
};

} // namespace

TEST(SpinEdit, ValueIsParsedFromTheTextAtEachRead) {
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    struct Row {
        SpinEdit::ValueType type;
        const char* text;
        double expected;
    };
    const Row rows[] = {
        {SpinEdit::ValueType::Integer, "800", 800},
        {SpinEdit::ValueType::Integer, "  +42 ", 42},
        {SpinEdit::ValueType::Integer, "-7", -7},
        {SpinEdit::ValueType::Integer, "25000", 25000}, // above the maximum: read as typed
        {SpinEdit::ValueType::Integer, "99999999999999999999", 1e20},
        {SpinEdit::ValueType::Integer, "", 10}, // unparsable: the minimum
        {SpinEdit::ValueType::Integer, "12a", 10},
        {SpinEdit::ValueType::Integer, "1,5", 10},
        {SpinEdit::ValueType::Integer, "+", 10},
        {SpinEdit::ValueType::Float, "33,33", 33.33},
        {SpinEdit::ValueType::Float, "50", 50},
        {SpinEdit::ValueType::Float, "2,5e1", 25},
        {SpinEdit::ValueType::Float, ",5", 0.5},
        {SpinEdit::ValueType::Float, "33.33", 10}, // the other separator is no number here
        {SpinEdit::ValueType::Float, "abc", 10},
        {SpinEdit::ValueType::Float, "1e", 10},
        {SpinEdit::ValueType::Float, "1e999", 10}, // beyond a double
    };
    for (const Row& row : rows) {
        SpinEdit edit;
        edit.setValueType(row.type);
        edit.setRange(10, 20000);
        edit.setText(QString::fromUtf8(row.text));
        EXPECT_DOUBLE_EQ(edit.Value(), row.expected) << row.text;
    }
}

TEST(SpinEdit, DecimalValueIsShownWithTwoDecimalsInTheLocale) {
    {
        LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
        SpinEdit edit;
        edit.setValueType(SpinEdit::ValueType::Float);
        edit.setRange(1, 100);
        edit.setValue(50);
        EXPECT_EQ(edit.text(), "50,00");
        edit.setValue(1234.5); // clamped, and no group separator either way
        EXPECT_EQ(edit.text(), "100,00");
    }
    LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    SpinEdit edit;
    edit.setValueType(SpinEdit::ValueType::Float);
    edit.setRange(1, 100);
    edit.setValue(33.333);
    EXPECT_EQ(edit.text(), "33.33");
}

TEST(SpinEdit, StepsAddTheIncrementAndClamp) {
    struct Row {
        const char* start;
        double step;
        bool up;
        const char* expected;
    };
    const Row rows[] = {
        {"800", 37, true, "837"},     {"19990", 37, true, "20000"}, {"15", 100, false, "10"},
        {"abc", 100, true, "110"},    // unparsable reads as the minimum, then steps
        {"25000", 1, false, "20000"}, // typed above the range: the step lands in it
    };
    for (const Row& row : rows) {
        SpinEdit edit;
        edit.setRange(10, 20000);
        edit.setIncrement(row.step);
        edit.setText(QString::fromLatin1(row.start));
        if (row.up)
            edit.upButton()->click();
        else
            edit.downButton()->click();
        EXPECT_EQ(edit.text(), row.expected) << row.start;
    }
}

TEST(SpinEdit, ArrowKeysStepLikeTheButtons) {
    Window w(10, 20000, 800, 100);
    QTest::keyClick(w.edit->editor(), Qt::Key_Up);
    EXPECT_EQ(w.edit->text(), "900");
    QTest::keyClick(w.edit->editor(), Qt::Key_Down);
    QTest::keyClick(w.edit->editor(), Qt::Key_Down);
    EXPECT_EQ(w.edit->text(), "700");
}

TEST(SpinEdit, TypingRefusesOtherCharactersWithABeep) {
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    struct Row {
        SpinEdit::ValueType type;
        const char* typed;
        const char* expected;
        int beeps;
    };
    const Row rows[] = {
        {SpinEdit::ValueType::Integer, "12a3", "123", 1},
        {SpinEdit::ValueType::Integer, "-+5", "-+5", 0}, // signs pass; the text then reads as the minimum
        {SpinEdit::ValueType::Integer, "1,5e", "15", 2},
        {SpinEdit::ValueType::Float, "12,5,3", "12,53", 1}, // one separator only
        {SpinEdit::ValueType::Float, "1e5E2", "1e52", 1},   // one exponent letter only
        {SpinEdit::ValueType::Float, "3.3", "33", 1},       // not this locale's separator
    };
    for (const Row& row : rows) {
        BeepCounter beeps;
        Window w(1, 100, 1, 1, row.type);
        w.edit->setText(QString());
        QTest::keyClicks(w.edit->editor(), QString::fromLatin1(row.typed));
        EXPECT_EQ(w.edit->text(), row.expected) << row.typed;
        EXPECT_EQ(beeps.count, row.beeps) << row.typed;
    }
}

TEST(SpinEdit, RangeIsEnforcedWhenTheFocusLeaves) {
    Window w(10, 20000, 800, 100);
    w.edit->editor()->selectAll();
    QTest::keyClicks(w.edit->editor(), "25000");
    EXPECT_EQ(w.edit->text(), "25000");
    EXPECT_DOUBLE_EQ(w.edit->Value(), 25000);
    w.other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(w.edit->text(), "20000");

    w.edit->setFocus();
    w.edit->editor()->selectAll();
    QTest::keyClicks(w.edit->editor(), "3");
    w.other->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(w.edit->text(), "10");

    // Text that is no number reads as the minimum, which is in range: it stays as it is.
    w.edit->setFocus();
    w.edit->setText(QString());
    w.other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(w.edit->text(), "");
    EXPECT_DOUBLE_EQ(w.edit->Value(), 10);
}

TEST(SpinEdit, EachChangeOfTheTextNotifiesOnce) {
    Window w(10, 20000, 19990, 100);
    QSignalSpy changes(w.edit, &SpinEdit::changed);
    w.edit->upButton()->click(); // 20000
    EXPECT_EQ(changes.count(), 1);
    w.edit->upButton()->click(); // still 20000: no change, no notification
    EXPECT_EQ(changes.count(), 1);
    w.edit->editor()->selectAll();
    QTest::keyClicks(w.edit->editor(), "250");
    EXPECT_EQ(changes.count(), 4);
    QTest::keyClick(w.edit->editor(), Qt::Key_X); // refused: no change
    EXPECT_EQ(changes.count(), 4);
    w.edit->editor()->selectAll();
    QTest::keyClicks(w.edit->editor(), "99999");
    changes.clear();
    w.other->setFocus(Qt::TabFocusReason); // corrected once
    EXPECT_EQ(changes.count(), 1);
}
