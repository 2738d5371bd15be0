#include "document/WebBrowser.h"

#include "platform/gdi/Gdi.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

namespace {

using browser::BrowserView;

int cdpModifiers(Qt::KeyboardModifiers m) {
    return (m & Qt::AltModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
           (m & Qt::MetaModifier ? 4 : 0) | (m & Qt::ShiftModifier ? 8 : 0);
}

int cdpButtons(Qt::MouseButtons b) {
    return (b & Qt::LeftButton ? 1 : 0) | (b & Qt::RightButton ? 2 : 0) | (b & Qt::MiddleButton ? 4 : 0);
}

BrowserView::MouseButton cdpButton(Qt::MouseButton b) {
    switch (b) {
    case Qt::LeftButton:
        return BrowserView::MouseButton::Left;
    case Qt::RightButton:
        return BrowserView::MouseButton::Right;
    case Qt::MiddleButton:
        return BrowserView::MouseButton::Middle;
    default:
        return BrowserView::MouseButton::None;
    }
}

struct NamedKey {
    int qtKey;
    const char* key;
    const char* code;
    int windowsKeyCode;
    const char* text;
};

// The keys a page tells apart by name; letters, digits and other printable keys are handled
// from the text they type.
constexpr NamedKey namedKeys[] = {
    {Qt::Key_Return, "Enter", "Enter", 13, "\r"},
    {Qt::Key_Enter, "Enter", "NumpadEnter", 13, "\r"},
    {Qt::Key_Tab, "Tab", "Tab", 9, ""},
    {Qt::Key_Backtab, "Tab", "Tab", 9, ""},
    {Qt::Key_Backspace, "Backspace", "Backspace", 8, ""},
    {Qt::Key_Escape, "Escape", "Escape", 27, ""},
    {Qt::Key_Space, " ", "Space", 32, " "},
    {Qt::Key_PageUp, "PageUp", "PageUp", 33, ""},
    {Qt::Key_PageDown, "PageDown", "PageDown", 34, ""},
    {Qt::Key_End, "End", "End", 35, ""},
    {Qt::Key_Home, "Home", "Home", 36, ""},
    {Qt::Key_Left, "ArrowLeft", "ArrowLeft", 37, ""},
    {Qt::Key_Up, "ArrowUp", "ArrowUp", 38, ""},
    {Qt::Key_Right, "ArrowRight", "ArrowRight", 39, ""},
    {Qt::Key_Down, "ArrowDown", "ArrowDown", 40, ""},
    {Qt::Key_Insert, "Insert", "Insert", 45, ""},
    {Qt::Key_Delete, "Delete", "Delete", 46, ""},
    {Qt::Key_Shift, "Shift", "ShiftLeft", 16, ""},
    {Qt::Key_Control, "Control", "ControlLeft", 17, ""},
    {Qt::Key_Alt, "Alt", "AltLeft", 18, ""},
    {Qt::Key_Meta, "Meta", "MetaLeft", 91, ""},
};

BrowserView::Key keyFromQt(const QKeyEvent* e, bool down) {
    BrowserView::Key k;
    k.down = down;
    k.modifiers = cdpModifiers(e->modifiers());
    k.autoRepeat = e->isAutoRepeat();
    const int qtKey = e->key();
    for (const NamedKey& n : namedKeys) {
        if (n.qtKey == qtKey) {
            k.key = QString::fromLatin1(n.key);
            k.code = QString::fromLatin1(n.code);
            k.windowsKeyCode = n.windowsKeyCode;
            k.text = QString::fromLatin1(n.text);
            return k;
        }
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        const int n = qtKey - Qt::Key_F1 + 1;
        k.key = k.code = QStringLiteral("F%1").arg(n);
        k.windowsKeyCode = 111 + n;
        return k;
    }
    // With Ctrl or Alt held a key is a shortcut for the page, not typing.
    const bool typing = !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const QString text = e->text();
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        const QChar letter = QChar(u'a' + (qtKey - Qt::Key_A));
        k.key = (e->modifiers() & Qt::ShiftModifier) ? letter.toUpper() : letter;
        k.code = QStringLiteral("Key") + letter.toUpper();
        k.windowsKeyCode = qtKey; // Qt's letter codes are the Windows ones
    } else if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        k.key = text.isEmpty() ? QString(QChar(qtKey)) : text;
        k.code = QStringLiteral("Digit") + QChar(qtKey);
        k.windowsKeyCode = qtKey;
    } else {
        k.key = text.isEmpty() ? QStringLiteral("Unidentified") : text;
    }
    if (typing) k.text = text;
    return k;
}

// The screen's pixels per inch, as the raster layer reports them for the desktop.
int screenPixelsPerInch() {
    gdi::HDC dc = gdi::GetDC(nullptr);
    int ppi = dc ? gdi::GetDeviceCaps(dc, gdi::LOGPIXELSX) : 0;
    if (dc) gdi::ReleaseDC(nullptr, dc);
    return ppi > 0 ? ppi : 96;
}

} // namespace

TWebBrowser::TWebBrowser(QWidget* parent) : QWidget(parent), m_view(new browser::BrowserView(this)) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(m_view->size());
    connect(m_view, &browser::BrowserView::documentComplete, this,
            [this](const QString& frameId, const QString& url) {
                update();
                emit OnDocumentComplete(this, frameId, url);
            });
    connect(m_view, &browser::BrowserView::contentChanged, this, qOverload<>(&QWidget::update));
    connect(m_view, &browser::BrowserView::answersAgain, this, [this] {
        update();
        emit PageAnswersAgain();
    });
}

TWebBrowser::~TWebBrowser() = default;

void TWebBrowser::Navigate(const QString& address) {
    m_view->navigate(address);
    update();
}

long long TWebBrowser::pixelsToHimetric(long long pixels, int pixelsPerInch) {
    return std::llround(double(pixels) * 2540.0 / double(pixelsPerInch));
}

long long TWebBrowser::himetricToPixels(long long himetric, int pixelsPerInch) {
    return std::llround(double(himetric) * double(pixelsPerInch) / 2540.0);
}

void TWebBrowser::applySize(int width, int height) {
    // The size goes to the view as a content extent and comes back from it in pixels: what
    // the view takes is what the extent says.
    const int ppi = screenPixelsPerInch();
    const long long w = himetricToPixels(pixelsToHimetric(width, ppi), ppi);
    const long long h = himetricToPixels(pixelsToHimetric(height, ppi), ppi);
    // A size the view does not take leaves it as it was.
    if (w < 1 || h < 1 || w > browser::BrowserView::maxDimension || h > browser::BrowserView::maxDimension)
        return;
    m_view->resize(int(w), int(h));
    setFixedSize(m_view->size());
    update();
}

void TWebBrowser::setViewWidth(int w) {
    applySize(w, viewHeight());
}

void TWebBrowser::setViewHeight(int h) {
    applySize(viewWidth(), h);
}

int TWebBrowser::viewWidth() const {
    return m_view->size().width();
}

int TWebBrowser::viewHeight() const {
    return m_view->size().height();
}

void TWebBrowser::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage frame = m_view->liveFrame();
    const QRect all = rect();
    if (frame.isNull()) {
        painter.fillRect(all, Qt::white);
        return;
    }
    painter.drawImage(0, 0, frame);
    // Right after a resize the last picture may be smaller than the view until the next one.
    if (frame.width() < all.width())
        painter.fillRect(QRect(frame.width(), 0, all.width() - frame.width(), all.height()), Qt::white);
    if (frame.height() < all.height())
        painter.fillRect(QRect(0, frame.height(), frame.width(), all.height() - frame.height()), Qt::white);
}

void TWebBrowser::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_view->setLiveView(true);
}

void TWebBrowser::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_view->setLiveView(false);
}

void TWebBrowser::mousePressEvent(QMouseEvent* event) {
    m_clickCount = 1;
    const QPoint p = event->position().toPoint();
    m_view->sendMouse(BrowserView::MouseAction::Press, p.x(), p.y(), cdpButton(event->button()),
                      cdpButtons(event->buttons()), cdpModifiers(event->modifiers()), m_clickCount);
    event->accept();
}

void TWebBrowser::mouseDoubleClickEvent(QMouseEvent* event) {
    m_clickCount = 2;
    const QPoint p = event->position().toPoint();
    m_view->sendMouse(BrowserView::MouseAction::Press, p.x(), p.y(), cdpButton(event->button()),
                      cdpButtons(event->buttons()), cdpModifiers(event->modifiers()), m_clickCount);
    event->accept();
}

void TWebBrowser::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    m_view->sendMouse(BrowserView::MouseAction::Release, p.x(), p.y(), cdpButton(event->button()),
                      cdpButtons(event->buttons()), cdpModifiers(event->modifiers()), m_clickCount);
    event->accept();
}

void TWebBrowser::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    const Qt::MouseButtons held = event->buttons();
    const BrowserView::MouseButton button = held & Qt::LeftButton     ? BrowserView::MouseButton::Left
                                            : held & Qt::RightButton  ? BrowserView::MouseButton::Right
                                            : held & Qt::MiddleButton ? BrowserView::MouseButton::Middle
                                                                      : BrowserView::MouseButton::None;
    m_view->sendMouse(BrowserView::MouseAction::Move, p.x(), p.y(), button, cdpButtons(held),
                      cdpModifiers(event->modifiers()), 0);
    event->accept();
}

void TWebBrowser::wheelEvent(QWheelEvent* event) {
    const QPoint p = event->position().toPoint();
    // One notch (120 eighths of a degree) scrolls 100 pixels, as the engine does on its own.
    QPointF delta = event->pixelDelta().isNull() ? QPointF(event->angleDelta()) * (100.0 / 120.0)
                                                 : QPointF(event->pixelDelta());
    if (event->inverted()) delta = -delta;
    m_view->sendWheel(p.x(), p.y(), -delta.x(), -delta.y(), cdpModifiers(event->modifiers()));
    event->accept();
}

void TWebBrowser::keyPressEvent(QKeyEvent* event) {
    m_view->sendKey(keyFromQt(event, true));
    event->accept();
}

void TWebBrowser::keyReleaseEvent(QKeyEvent* event) {
    m_view->sendKey(keyFromQt(event, false));
    event->accept();
}

int OleDraw(TWebBrowser* web, gdi::DWORD aspect, gdi::HDC dc, const gdi::RECT* bounds) {
    return browser::OleDraw(web ? web->view() : nullptr, aspect, dc, bounds);
}
