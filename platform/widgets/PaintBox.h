// A paint box: a plain area whose owner paints it and handles its mouse, with the press, move
// and release reported in the box's own coordinates. Undrawn pixels show the parent's colour.
#pragma once

#include <QWidget>
#include <functional>

namespace widgets {

class PaintBox : public QWidget {
    Q_OBJECT
  public:
    explicit PaintBox(QWidget* parent = nullptr);

    // Runs inside paintEvent.
    std::function<void(PaintBox* box, QPaintEvent* event)> onPaint;
    std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y)> onMouseDown;
    std::function<void(Qt::KeyboardModifiers modifiers, int x, int y)> onMouseMove;
    std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y)> onMouseUp;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace widgets
