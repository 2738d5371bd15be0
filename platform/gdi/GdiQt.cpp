// Window handles, window and paint DCs over widgets, image and printer DCs, the desktop.
#include "platform/gdi/GdiQt.h"

#include "platform/gdi/GdiObjects.h"

#include <QBackingStore>
#include <QGuiApplication>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <cstring>
#include <unordered_map>

namespace gdi {

using namespace detail;

namespace {

int g_desktopBitsOverride = 0;

std::unordered_map<const QWidget*, Window*>& windowsByWidget() {
    static auto* map = new std::unordered_map<const QWidget*, Window*>;
    return *map;
}

RECT toRect(const QRect& r) {
    return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}
QRect toQRect(const RECT& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Undrawn pixels hold the widget's background colour with alpha 0: invisible when composited,
// and what a raster operation reading the destination finds there, as on an erased window.
QRgb transparentBackground(const QWidget* widget) {
    const QColor c = widget ? widget->palette().color(widget->backgroundRole()) : QColor(Qt::black);
    return qRgba(c.red(), c.green(), c.blue(), 0);
}

QScreen* primaryScreen() {
    return QGuiApplication::instance() ? QGuiApplication::primaryScreen() : nullptr;
}

// Whether the current paint event of widget goes somewhere other than the screen (a grab or a
// render into a pixmap). Such a paint shows what is on the window and must not erase it.
bool paintsElsewhere(QWidget* widget) {
    QBackingStore* store = widget->backingStore();
    if (!store) return true;
    QPainter probe(widget);
    const QPaintEngine* engine = probe.paintEngine();
    return !engine || engine->paintDevice() != store->paintDevice();
}

// Owned by the widget as a child object, so the window handle lives exactly as long as the
// widget. It watches the widget's paint events to keep the overlay on top of them.
class WindowHook : public QObject {
  public:
    explicit WindowHook(QWidget* widget) : QObject(widget), m_window(new Window(widget)) {
        registerWindow(m_window);
        windowsByWidget()[widget] = m_window;
        widget->installEventFilter(this);
    }
    ~WindowHook() override {
        windowsByWidget().erase(m_widgetKey());
        delete m_window;
    }
    Window* window() const { return m_window; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        QWidget* widget = m_window->widget;
        if (watched != widget || event->type() != QEvent::Paint || !m_window->hasOverlay()) return false;
        auto* paint = static_cast<QPaintEvent*>(event);
        // An ordinary repaint replaces what was drawn there, as Windows erases an invalidated
        // area; the repaint that ReleaseDC asks for, and grabs, keep it.
        if (!m_window->flushing && !paintsElsewhere(widget))
            for (const QRect& r : paint->region())
                m_window->eraseOverlay(toRect(r));
        static_cast<QObject*>(widget)->event(event);
        if (m_window->hasOverlay()) {
            QPainter painter(widget);
            painter.setClipRegion(paint->region());
            painter.drawImage(QPoint(m_window->overlayRect.left, m_window->overlayRect.top),
                              m_window->overlay);
        }
        return true;
    }

  private:
    const QWidget* m_widgetKey() const { return static_cast<const QWidget*>(parent()); }
    Window* m_window;
};

} // namespace

// --- Window ---------------------------------------------------------------------------------

Window::~Window() {
    for (DeviceContext* dc : dcs)
        dc->window = nullptr;
    unregisterWindow(this);
}

Surface Window::overlaySurface(const RECT& area) {
    if (overlay.isNull() || std::memcmp(&overlayRect, &area, sizeof area) != 0) {
        QImage next(area.right - area.left, area.bottom - area.top, QImage::Format_ARGB32);
        if (next.isNull()) return Surface{};
        next.fill(transparentBackground(widget));
        if (!overlay.isNull()) {
            // The widget moved within its parents since the last DC: keep what is still visible.
            const RECT keep = intersect(area, overlayRect);
            for (LONG y = keep.top; y < keep.bottom; ++y)
                std::memcpy(next.scanLine(y - area.top) + 4 * (keep.left - area.left),
                            overlay.constScanLine(y - overlayRect.top) + 4 * (keep.left - overlayRect.left),
                            std::size_t(4 * (keep.right - keep.left)));
            drawn = intersect(drawn, area);
        }
        overlay = next;
        overlayRect = area;
    }
    Surface s;
    s.top = overlay.bits();
    s.pitch = overlay.bytesPerLine();
    s.width = overlay.width();
    s.height = overlay.height();
    makeFormat(s.format, 32);
    s.format.opaque = true;
    return s;
}

void Window::eraseOverlay(const RECT& area) {
    if (overlay.isNull()) return;
    if (contains(area, drawn)) {
        // Nothing drawn is left: the memory goes back until the next GetDC draws.
        overlay = QImage();
        overlayRect = RECT{0, 0, 0, 0};
        drawn = RECT{0, 0, 0, 0};
        return;
    }
    const RECT r = intersect(area, overlayRect);
    const QRgb background = transparentBackground(widget);
    for (LONG y = r.top; y < r.bottom; ++y) {
        auto* line = reinterpret_cast<QRgb*>(overlay.scanLine(y - overlayRect.top));
        for (LONG x = r.left; x < r.right; ++x)
            line[x - overlayRect.left] = background;
    }
}

// --- window handles and window DCs ----------------------------------------------------------

HWND WindowFromWidget(QWidget* widget) {
    if (!widget) return nullptr;
    auto& map = windowsByWidget();
    const auto it = map.find(widget);
    if (it != map.end()) return it->second;
    return (new WindowHook(widget))->window();
}

QWidget* WidgetFromWindow(HWND hwnd) {
    Window* w = findWindow(hwnd);
    return w ? w->widget.data() : nullptr;
}

HWND GetDesktopWindow() {
    return desktopWindow();
}

HDC GetDC(HWND hwnd) {
    if (!hwnd || hwnd == desktopWindow()) return newDc(DcKind::Desktop);
    Window* w = findWindow(hwnd);
    if (!w || !w->widget) return nullptr;
    DeviceContext* dc = newDc(DcKind::Window);
    dc->window = w;
    w->dcs.push_back(dc);
    QWidget* widget = w->widget;
    // A DC outside paint handling reaches what can be seen of the window: nothing while it is
    // hidden, and never more than the screen shows of a large widget in a scroll area.
    if (widget->isVisible())
        dc->visible = toRect(widget->visibleRegion().boundingRect().intersected(widget->rect()));
    return dc;
}

int ReleaseDC(HWND hwnd, HDC dc) {
    DeviceContext* d = findDc(dc);
    if (!d) return 0;
    if (d->kind == DcKind::Desktop) {
        destroyDc(d);
        return 1;
    }
    if (d->kind != DcKind::Window) return 0;
    Window* w = d->window; // null once the widget is gone
    if (w && findWindow(hwnd) != w) return 0;
    const RECT dirty = d->dirty;
    destroyDc(d);
    if (w && w->widget && !isEmpty(dirty) && w->widget->isVisible()) {
        QPointer<QWidget> widget = w->widget;
        w->flushing = true;
        widget->repaint(toQRect(dirty));
        if (widget) w->flushing = false;
    }
    return 1;
}

bool IsOverlayFlush(QWidget* widget) {
    const auto& map = windowsByWidget();
    const auto it = map.find(widget);
    return it != map.end() && it->second->flushing;
}

// --- PaintDC ------------------------------------------------------------------------------

PaintDC::PaintDC(QWidget* widget, const QRect& area)
    : m_widget(widget), m_area(widget ? area.intersected(widget->rect()) : QRect()) {
    if (!widget) return;
    DeviceContext* d = newDc(DcKind::Paint);
    d->area = toRect(m_area);
    if (!m_area.isEmpty()) {
        d->paintImage = QImage(m_area.size(), QImage::Format_ARGB32);
        if (!d->paintImage.isNull()) d->paintImage.fill(transparentBackground(widget));
    }
    m_dc = d;
}

PaintDC::PaintDC(QWidget* widget, QPaintEvent* event) : PaintDC(widget, event ? event->rect() : QRect()) {}

PaintDC::~PaintDC() {
    paint();
    if (DeviceContext* d = findDc(m_dc)) destroyDc(d);
}

void PaintDC::paint(QPainter* painter) {
    if (m_painted) return;
    m_painted = true;
    DeviceContext* d = findDc(m_dc);
    if (!d || !m_widget || d->paintImage.isNull() || isEmpty(d->dirty)) return;
    const QRect drawn = toQRect(d->dirty);
    const QRect source = drawn.translated(-m_area.topLeft());
    if (painter) {
        painter->drawImage(drawn.topLeft(), d->paintImage, source);
    } else {
        QPainter own(m_widget);
        own.drawImage(drawn.topLeft(), d->paintImage, source);
    }
}

// --- image and printer DCs ------------------------------------------------------------------

HDC CreateImageDC(QImage* image) {
    if (!image || image->isNull()) return nullptr;
    const QImage::Format f = image->format();
    if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32 && f != QImage::Format_ARGB32_Premultiplied)
        return nullptr;
    DeviceContext* d = newDc(DcKind::Image);
    d->image = image;
    return d;
}

HDC CreatePrinterDC(QPrinter* printer, QPainter* painter) {
    if (!printer || !painter || !painter->isActive()) return nullptr;
    DeviceContext* d = newDc(DcKind::Printer);
    d->printer = printer;
    d->painter = painter;
    return d;
}

// --- the desktop ----------------------------------------------------------------------------

void SetDesktopBitsPerPixel(int bitsPerPixel) {
    g_desktopBitsOverride = std::max(bitsPerPixel, 0);
}

namespace detail {

int desktopBitsPerPixel() {
    if (g_desktopBitsOverride > 0) return g_desktopBitsOverride;
    const QScreen* screen = primaryScreen();
    return screen && screen->depth() > 0 ? screen->depth() : 24;
}

RECT screenRect() {
    const QScreen* screen = primaryScreen();
    return screen ? toRect(screen->geometry()) : RECT{0, 0, 1024, 768};
}

int screenDpiX() {
    const QScreen* screen = primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInchX()) : 96;
}

int screenDpiY() {
    const QScreen* screen = primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInchY()) : 96;
}

} // namespace detail
} // namespace gdi
