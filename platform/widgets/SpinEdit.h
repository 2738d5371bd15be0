// A spin edit: a text field with up and down buttons whose value is read from the text each
// time it is asked for. The text may hold any number while the user types; the range is
// enforced only when the field loses the focus, so a value can be typed digit by digit through
// numbers below the minimum.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <functional>

class QToolButton;

namespace widgets {

class SpinEdit : public QWidget {
    Q_OBJECT
  public:
    enum class ValueType { Integer, Float };

    explicit SpinEdit(QWidget* parent = nullptr);

    // The number the text holds (an integer, or for Float a decimal number with the locale's
    // decimal separator and an optional exponent); text that does not parse reads as
    // MinValue(). Out-of-range numbers are returned as typed.
    double Value() const;
    // Sets the value, clamped into the range, and rewrites the text.
    void setValue(double value);

    double MinValue() const { return m_min; }
    double MaxValue() const { return m_max; }
    double Increment() const { return m_increment; }
    void setRange(double minValue, double maxValue);
    void setIncrement(double increment) { m_increment = increment; }

    ValueType valueType() const { return m_valueType; }
    void setValueType(ValueType type) { m_valueType = type; }
    int decimals() const { return m_decimals; }
    void setDecimals(int decimals) { m_decimals = decimals; }

    QString text() const;
    void setText(const QString& text);

    // One step up or down from the current value, clamped into the range.
    void stepUp();
    void stepDown();

    QLineEdit* editor() const { return m_editor; }
    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }

    // Called instead of QApplication::beep when a typed character is refused; returns the
    // previous handler (an empty one restores the system beep).
    static std::function<void()> setBeepHandler(std::function<void()> handler);

    // Parses text the way Value() does; false when it is not a number of the given kind.
    static bool parse(const QString& text, ValueType type, double* value);

  signals:
    // Once for each change of the text: typed, stepped or corrected.
    void changed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QString format(double value) const;
    double clamp(double value) const;
    bool acceptsCharacter(QChar c) const;
    void correctRange();

    QLineEdit* m_editor;
    QToolButton* m_up;
    QToolButton* m_down;
    double m_min = 0;
    double m_max = 100;
    double m_increment = 1;
    ValueType m_valueType = ValueType::Integer;
    int m_decimals = 2;
};

} // namespace widgets
