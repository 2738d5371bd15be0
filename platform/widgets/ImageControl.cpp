#include "platform/widgets/ImageControl.h"

#include <QMouseEvent>
#include <QPainter>

namespace widgets {

ImageControl::ImageControl(QWidget* parent) : QWidget(parent) {}

ImageControl::~ImageControl() {
    endCapture();
}

void ImageControl::setPicture(const QPixmap& picture) {
    m_picture = picture;
    update();
}

void ImageControl::paintEvent(QPaintEvent*) {
    if (m_picture.isNull()) return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

void ImageControl::mousePressEvent(QMouseEvent* event) {
    press(event->button(), event->modifiers(), event->position().toPoint());
}

void ImageControl::mouseMoveEvent(QMouseEvent* event) {
    move(event->modifiers(), event->position().toPoint());
}

void ImageControl::mouseReleaseEvent(QMouseEvent* event) {
    release(event->button(), event->modifiers(), event->position().toPoint());
}

bool ImageControl::eventFilter(QObject* watched, QEvent* event) {
    if (!m_capturing || watched != m_grabber) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        move(mouse->modifiers(), mapFromGlobal(mouse->globalPosition().toPoint()));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        release(mouse->button(), mouse->modifiers(), mapFromGlobal(mouse->globalPosition().toPoint()));
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void ImageControl::press(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint local) {
    if (!m_capturing) {
        // The capture is held by the nearest visible ancestor, which stays visible while this
        // control may be hidden by the press handler; its events are mapped back to us.
        QWidget* grabber = parentWidget();
        while (grabber && !grabber->isVisible())
            grabber = grabber->parentWidget();
        if (grabber) {
            m_capturing = true;
            m_grabber = grabber;
            grabber->installEventFilter(this);
            grabber->grabMouse();
        }
    }
    m_leftPressed = button == Qt::LeftButton;
    emit mouseDown(button, modifiers, local.x(), local.y());
}

void ImageControl::move(Qt::KeyboardModifiers modifiers, QPoint local) {
    emit mouseMove(modifiers, local.x(), local.y());
}

void ImageControl::release(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint local) {
    // The capture ends before the click is reported: the click may open a modal box, which
    // needs the mouse.
    endCapture();
    const bool click = button == Qt::LeftButton && m_leftPressed && rect().contains(local);
    m_leftPressed = false;
    QPointer<ImageControl> self(this);
    if (click) emit clicked();
    if (self) emit mouseUp(button, modifiers, local.x(), local.y());
}

void ImageControl::endCapture() {
    if (!m_capturing) return;
    m_capturing = false;
    if (m_grabber) {
        m_grabber->removeEventFilter(this);
        if (QWidget::mouseGrabber() == m_grabber) m_grabber->releaseMouse();
    }
    m_grabber = nullptr;
}

void ImagePair::showPressed(bool pressed) {
    // The look to be shown is shown first, so that the place never shows neither. The stacking
    // order stays as laid out: the normal look above the pressed one.
    if (pressed) {
        m_pressed->show();
        m_normal->hide();
    } else {
        m_normal->show();
        m_pressed->hide();
    }
}

void ImagePair::down() {
    showPressed(true);
    *m_flag = true;
}

void ImagePair::move(int x, int y) {
    if (!*m_flag) return;
    showPressed(x >= 0 && x < m_normal->width() && y >= 0 && y < m_normal->height());
}

void ImagePair::up() {
    reset();
}

void ImagePair::reset() {
    showPressed(false);
    *m_flag = false;
}

} // namespace widgets
