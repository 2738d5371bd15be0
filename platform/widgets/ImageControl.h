// A picture control: shows a pixmap at its top-left corner and reports mouse presses, moves and
// releases in its own coordinates, and clicks.
//
// A press captures the mouse for the control until the release, even when the control hides
// itself meanwhile (an image button swaps its normal look for its pressed look that way): the
// moves and the release keep arriving here, measured against this control's rectangle.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

namespace widgets {

class ImageControl : public QWidget {
    Q_OBJECT
  public:
    explicit ImageControl(QWidget* parent = nullptr);
    ~ImageControl() override;

    void setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return m_picture; }
    bool isCapturing() const { return m_capturing; }

  signals:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    void mouseMove(Qt::KeyboardModifiers modifiers, int x, int y);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    // A left press and release both within the control; reported before mouseUp.
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void press(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint local);
    void move(Qt::KeyboardModifiers modifiers, QPoint local);
    void release(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint local);
    void endCapture();

    QPixmap m_picture;
    bool m_capturing = false;
    bool m_leftPressed = false;
    QPointer<QWidget> m_grabber;
};

// Two pictures at the same place acting as one button: the normal look, and the pressed look
// shown while the mouse button is held over it. The owner's handlers call these steps.
class ImagePair {
  public:
    ImagePair(ImageControl* normal, ImageControl* pressed, bool* pressedFlag)
        : m_normal(normal), m_pressed(pressed), m_flag(pressedFlag) {}

    void down();
    // x, y in the normal image's coordinates.
    void move(int x, int y);
    void up();
    // The normal look, flag cleared.
    void reset();

  private:
    void showPressed(bool pressed);

    ImageControl* m_normal;
    ImageControl* m_pressed;
    bool* m_flag;
};

} // namespace widgets
