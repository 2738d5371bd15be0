// Where the raster layer meets Qt: window handles for widgets, DCs for paint events and for
// printers, and the desktop's colour depth.
//
// A window DC draws into a 32-bit image that stands for the widget's pixels; the image is put on
// the widget by Qt. Two ways lead there:
//  - inside paintEvent, a PaintDC covers just the area being painted (its clip box), so a paint
//    box the size of a 10000 x 10000 picture costs only what is visible;
//  - outside paint handling, GetDC(WindowFromWidget(w)) draws into the widget's overlay, and
//    ReleaseDC shows the drawn area at once with a synchronous repaint. This is how the progress
//    bar grows while a long capture holds the event loop.
#pragma once

#include "platform/gdi/Gdi.h"

#include <QRect>

class QPainter;
class QPaintEvent;
class QPrinter;
class QWidget;
class QImage;

namespace gdi {

// One DC pixel is one pixel of widget coordinates. GetDC of a hidden widget, or of a widget that
// is gone, has an empty clip box: drawing on it changes nothing.
//
// The window handle of a widget; created on first use, destroyed with the widget.
HWND WindowFromWidget(QWidget* widget);
QWidget* WidgetFromWindow(HWND hwnd);

// A DC for the area of a paint event, in widget coordinates. Whatever was drawn through dc() is
// put on the widget when the PaintDC is destroyed (or at paint()). Pixels not drawn through the
// DC keep what Qt painted underneath (the widget's background), as on a window whose background
// was erased. When the widget has an overlay from GetDC, the overlay is erased in the painted
// area first, unless the paint is the one that ReleaseDC itself asked for.
class PaintDC {
  public:
    PaintDC(QWidget* widget, const QRect& area);
    PaintDC(QWidget* widget, QPaintEvent* event);
    ~PaintDC();
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;

    HDC dc() const { return m_dc; }
    // Puts the drawn pixels on the widget with painter (or a painter of its own when null).
    void paint(QPainter* painter = nullptr);

  private:
    QWidget* m_widget;
    QRect m_area;
    HDC m_dc = nullptr;
    bool m_painted = false;
};

// Whether the widget is being repainted by ReleaseDC to show what GetDC drew; paint handlers
// that draw through GetDC's overlay need not draw again then.
bool IsOverlayFlush(QWidget* widget);

// A DC over an image of the caller's (QImage::Format_RGB32 or Format_ARGB32[_Premultiplied]),
// with the kind of a display DC. Tests and off-screen users draw through it; the image must
// outlive the DC, which is freed with DeleteDC.
HDC CreateImageDC(QImage* image);

// A printer DC: draws onto the printer's current page through painter (which must be active on
// the printer). GetDeviceCaps reports DT_RASPRINTER and the printer's resolution and page size
// in device pixels. Freed with DeleteDC.
HDC CreatePrinterDC(QPrinter* printer, QPainter* painter);

// The desktop's colour depth as GetDeviceCaps(BITSPIXEL) and compatible bitmaps of the desktop
// see it: the real screen's depth, unless overridden (0 removes the override).
void SetDesktopBitsPerPixel(int bitsPerPixel);

} // namespace gdi
