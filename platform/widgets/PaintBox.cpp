#include "platform/widgets/PaintBox.h"

#include "platform/AppEvents.h"

#include <QMouseEvent>

namespace widgets {

PaintBox::PaintBox(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void PaintBox::paintEvent(QPaintEvent* event) {
    if (onPaint) platform::runGuarded([&] { onPaint(this, event); });
}

void PaintBox::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (onMouseDown)
        platform::runGuarded([&] { onMouseDown(event->button(), event->modifiers(), p.x(), p.y()); });
}

void PaintBox::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (onMouseMove) platform::runGuarded([&] { onMouseMove(event->modifiers(), p.x(), p.y()); });
}

void PaintBox::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (onMouseUp)
        platform::runGuarded([&] { onMouseUp(event->button(), event->modifiers(), p.x(), p.y()); });
}

} // namespace widgets
