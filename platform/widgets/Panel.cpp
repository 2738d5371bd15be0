#include "platform/widgets/Panel.h"

#include <QPainter>

namespace widgets {

namespace {

void drawBevel(QPainter& painter, QRect r, Panel::Bevel bevel, const QPalette& palette) {
    if (bevel == Panel::Bevel::None) return;
    const QColor light = palette.color(QPalette::Light);
    const QColor dark = palette.color(QPalette::Dark);
    const QColor topLeft = bevel == Panel::Bevel::Raised ? light : dark;
    const QColor bottomRight = bevel == Panel::Bevel::Raised ? dark : light;
    painter.setPen(topLeft);
    painter.drawLine(r.left(), r.top(), r.right(), r.top());
    painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
    painter.setPen(bottomRight);
    painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
    painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
}

} // namespace

Panel::Panel(QWidget* parent) : QWidget(parent), m_color(palette().color(QPalette::Window)) {}

void Panel::setColor(const QColor& color) {
    m_color = color;
    update();
}

void Panel::setBevels(Bevel inner, Bevel outer) {
    m_inner = inner;
    m_outer = outer;
    update();
}

void Panel::setCaption(const QString& caption) {
    m_caption = caption;
    update();
}

void Panel::setCaptionAlignment(Qt::Alignment alignment) {
    m_alignment = alignment;
    update();
}

void Panel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_color);
    QRect r = rect();
    if (m_outer != Bevel::None) {
        drawBevel(painter, r, m_outer, palette());
        r.adjust(1, 1, -1, -1);
    }
    if (m_inner != Bevel::None) {
        drawBevel(painter, r, m_inner, palette());
        r.adjust(1, 1, -1, -1);
    }
    if (!m_caption.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setFont(font());
        painter.drawText(r.adjusted(6, 0, -6, 0), int(m_alignment) | Qt::TextSingleLine, m_caption);
    }
}

ShadowLabel::ShadowLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void ShadowLabel::setColors(const QColor& text, const QColor& shadow) {
    m_text = text;
    m_shadow = shadow;
    update();
}

void ShadowLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    const QRect r = contentsRect().adjusted(0, 0, -1, -1);
    const int flags = int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
    painter.setPen(m_shadow);
    painter.drawText(r.translated(1, 1), flags, text());
    painter.setPen(m_text);
    painter.drawText(r, flags, text());
}

} // namespace widgets
