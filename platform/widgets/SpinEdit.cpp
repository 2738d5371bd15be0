#include "platform/widgets/SpinEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QToolButton>
#include <cmath>

namespace widgets {

namespace {

std::function<void()>& beepHandler() {
    static std::function<void()> handler;
    return handler;
}

void beep() {
    if (beepHandler())
        beepHandler()();
    else
        QApplication::beep();
}

QString decimalSeparator() {
    return QLocale().decimalPoint();
}

bool isBlank(QChar c) {
    return c.unicode() >= 1 && c.unicode() <= 32;
}

} // namespace

SpinEdit::SpinEdit(QWidget* parent)
    : QWidget(parent), m_editor(new QLineEdit(this)), m_up(new QToolButton(this)),
      m_down(new QToolButton(this)) {
    setFocusProxy(m_editor);
    m_editor->installEventFilter(this);
    for (QToolButton* button : {m_up, m_down}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setIconSize(QSize(7, 4));
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    // Pressing a button puts the focus into this edit first, so that an edit left by it
    // corrects its range (and tells its owner) before this one steps.
    for (QToolButton* button : {m_up, m_down})
        connect(button, &QToolButton::pressed, this, [this] { m_editor->setFocus(Qt::MouseFocusReason); });
    connect(m_up, &QToolButton::clicked, this, &SpinEdit::stepUp);
    connect(m_down, &QToolButton::clicked, this, &SpinEdit::stepDown);
    connect(m_editor, &QLineEdit::textChanged, this, [this] { emit changed(); });
    resize(121, 21);
}

bool SpinEdit::parse(const QString& text, ValueType type, double* value) {
    const QString sep = decimalSeparator();
    int i = 0;
    const int n = int(text.size());
    while (i < n && isBlank(text[i]))
        ++i;
    int end = n;
    while (end > i && isBlank(text[end - 1]))
        --end;

    // Built up as plain C-locale text for strtod, which then does the exact rounding.
    QByteArray number;
    if (i < end && (text[i] == '+' || text[i] == '-')) number += char(text[i++].unicode());
    int mantissaDigits = 0;
    while (i < end && text[i].isDigit() && text[i].unicode() < 128) {
        number += char(text[i++].unicode());
        ++mantissaDigits;
    }
    if (type == ValueType::Float) {
        if (i < end && text.mid(i, sep.size()) == sep) {
            number += '.';
            i += int(sep.size());
            while (i < end && text[i].isDigit() && text[i].unicode() < 128) {
                number += char(text[i++].unicode());
                ++mantissaDigits;
            }
        }
        if (mantissaDigits > 0 && i < end && (text[i] == 'e' || text[i] == 'E')) {
            number += 'e';
            ++i;
            if (i < end && (text[i] == '+' || text[i] == '-')) number += char(text[i++].unicode());
            int exponentDigits = 0;
            while (i < end && text[i].isDigit() && text[i].unicode() < 128) {
                number += char(text[i++].unicode());
                ++exponentDigits;
            }
            if (exponentDigits == 0) return false;
        }
    }
    if (mantissaDigits == 0 || i != end) return false;
    const double parsed = std::strtod(number.constData(), nullptr);
    // A number too large for a double is no number the edit can stand for.
    if (!std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

double SpinEdit::Value() const {
    double value = 0;
    if (!parse(m_editor->text(), m_valueType, &value)) return m_min;
    return value;
}

double SpinEdit::clamp(double value) const {
    if (m_max == m_min) return value;
    if (value < m_min) return m_min;
    if (value > m_max) return m_max;
    return value;
}

QString SpinEdit::format(double value) const {
    if (m_valueType == ValueType::Integer) {
        // Beyond 64 bits (only an edit without a range can hold such a value) the digits come
        // from the double itself.
        if (std::fabs(value) < 9.0e18) return QString::number(static_cast<qint64>(std::trunc(value)));
        return QString::number(std::trunc(value), 'f', 0);
    }
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', m_decimals);
}

void SpinEdit::setValue(double value) {
    setText(format(clamp(value)));
}

void SpinEdit::setRange(double minValue, double maxValue) {
    m_min = minValue;
    m_max = maxValue;
}

QString SpinEdit::text() const {
    return m_editor->text();
}

void SpinEdit::setText(const QString& text) {
    if (m_editor->text() != text) m_editor->setText(text);
}

void SpinEdit::stepUp() {
    setValue(Value() + m_increment);
}

void SpinEdit::stepDown() {
    setValue(Value() - m_increment);
}

void SpinEdit::correctRange() {
    const double value = Value();
    if (clamp(value) != value) setValue(value);
}

bool SpinEdit::acceptsCharacter(QChar c) const {
    if (c.unicode() < 32 || c.unicode() == 127)
        return true; // control characters: Backspace, Ctrl+C, Ctrl+V and the like
    if ((c.isDigit() && c.unicode() < 128) || c == '+' || c == '-') return true;
    if (m_valueType == ValueType::Float) {
        const QString text = m_editor->text();
        const QString sep = decimalSeparator();
        if (sep.size() == 1 && c == sep[0] && !text.contains(sep)) return true;
        if ((c == 'e' || c == 'E') && !text.contains('e', Qt::CaseInsensitive)) return true;
    }
    return false;
}

bool SpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_editor) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Up && !(key->modifiers() & (Qt::AltModifier | Qt::ControlModifier))) {
                stepUp();
                return true;
            }
            if (key->key() == Qt::Key_Down && !(key->modifiers() & (Qt::AltModifier | Qt::ControlModifier))) {
                stepDown();
                return true;
            }
            const QString typed = key->text();
            if (!typed.isEmpty() && !(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
                for (QChar c : typed) {
                    if (!acceptsCharacter(c)) {
                        beep();
                        return true;
                    }
                }
            }
        } else if (event->type() == QEvent::FocusOut) {
            // Only a move of the focus within the window leaves the edit; a popup menu or a
            // switch to another window keeps it where it is.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) correctRange();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SpinEdit::resizeEvent(QResizeEvent*) {
    const int buttonWidth = 15;
    const int h = height();
    m_editor->setGeometry(0, 0, width() - buttonWidth, h);
    m_up->setGeometry(width() - buttonWidth, 0, buttonWidth, h / 2);
    m_down->setGeometry(width() - buttonWidth, h / 2, buttonWidth, h - h / 2);
}

std::function<void()> SpinEdit::setBeepHandler(std::function<void()> handler) {
    std::function<void()> previous = std::move(beepHandler());
    beepHandler() = std::move(handler);
    return previous;
}

} // namespace widgets
