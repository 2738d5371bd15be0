// The objects behind the raster layer's handles, and the registry that tells a live handle
// from a stale or foreign pointer. Private to platform/gdi.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/gdi/PixelFormat.h"
#include "platform/memory/PixelMemory.h"

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

class QPainter;
class QPrinter;

namespace gdi {

class GdiObject {
  public:
    enum class Type { Bitmap, Palette, Brush, Pen };

    GdiObject(Type type, bool stock) : m_type(type), m_stock(stock) {}
    virtual ~GdiObject() = default;
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    Type type() const { return m_type; }
    // Stock objects belong to the layer: every DC starts with them and DeleteObject ignores them.
    bool stock() const { return m_stock; }

    // How many DCs hold this brush, pen or palette; a held object cannot be deleted.
    int selections = 0;

  private:
    Type m_type;
    bool m_stock;
};

struct PixelDeleter {
    pixmem::PixelMemory memory;
    void operator()(std::uint8_t*) const { pixmem::freePixelMemory(memory); }
};
using PixelBuffer = std::unique_ptr<std::uint8_t, PixelDeleter>;

class Bitmap : public GdiObject {
  public:
    // A bitmap of the given format with zeroed pixels, or null when it cannot be had. colors
    // (at 8 bits or fewer) is copied and padded to 2^bpp entries.
    static std::unique_ptr<Bitmap> create(int width, int height, int bpp, const detail::PixelFormat& format,
                                          const std::uint32_t* colors, int colorCount, bool dibSection,
                                          bool topDown, bool stock = false);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int bpp() const { return m_format.bpp; }
    bool dibSection() const { return m_dibSection; }
    std::ptrdiff_t stride() const { return m_stride; }
    std::uint8_t* bits() const { return m_bits.get(); }
    const detail::PixelFormat& format() const { return m_format; }
    const std::vector<std::uint32_t>& colors() const { return m_colors; }
    detail::Surface surface() const;

    // The memory DC the bitmap is selected into (one at a time), or null.
    DeviceContext* selectedInto = nullptr;

  private:
    Bitmap(bool stock) : GdiObject(Type::Bitmap, stock) {}

    int m_width = 0;
    int m_height = 0;
    bool m_dibSection = false;
    bool m_topDown = true;
    std::ptrdiff_t m_stride = 0;
    PixelBuffer m_bits;
    std::vector<std::uint32_t> m_colors;
    detail::PixelFormat m_format;
};

class Palette : public GdiObject {
  public:
    Palette(std::vector<PALETTEENTRY> entries, bool stock = false)
        : GdiObject(Type::Palette, stock), entries(std::move(entries)) {}
    std::vector<PALETTEENTRY> entries;
};

class Brush : public GdiObject {
  public:
    Brush(COLORREF color, bool stock = false) : GdiObject(Type::Brush, stock), color(color) {}
    COLORREF color;
};

class Pen : public GdiObject {
  public:
    Pen(int width, COLORREF color, bool stock = false)
        : GdiObject(Type::Pen, stock), width(width), color(color) {}
    int width;
    COLORREF color;
};

enum class DcKind {
    Memory,  // CreateCompatibleDC: draws into the selected bitmap
    Window,  // GetDC of a widget: draws into the widget's overlay
    Paint,   // PaintDC: draws into an image of the painted area
    Image,   // CreateImageDC: draws into the caller's QImage
    Printer, // CreatePrinterDC: draws through a QPainter on a QPrinter page
    Desktop, // GetDC(nullptr): the screen, which the layer does not draw on
};

class DeviceContext {
  public:
    explicit DeviceContext(DcKind kind);
    ~DeviceContext();
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;

    // Where a drawing call lands: the pixels (if the device has any in memory), the device
    // rectangle those pixels cover, and the clip box in device coordinates.
    struct Target {
        detail::Surface surface;
        RECT bounds{0, 0, 0, 0};
        RECT clip{0, 0, 0, 0};
    };
    // allocate: a window DC creates its overlay for drawing; reading without one sees nothing.
    Target target(bool allocate = true);
    RECT bounds() const;
    RECT clipBox() const; // device coordinates
    bool isPrinter() const { return kind == DcKind::Printer; }
    bool printerCompatible() const { return kind == DcKind::Printer || fromPrinter; }
    // Records what a drawing call changed, so that ReleaseDC and PaintDC show just that.
    void noteDrawn(const RECT& deviceRect);

    const DcKind kind;
    Bitmap* bitmap = nullptr; // memory DCs
    Palette* palette = nullptr;
    Brush* brush = nullptr;
    Pen* pen = nullptr;
    int stretchMode = BLACKONWHITE;
    POINT origin{0, 0}; // viewport origin: device = logical + origin
    bool hasClip = false;
    RECT clip{0, 0, 0, 0};
    RECT dirty{0, 0, 0, 0};

    // Window DCs.
    Window* window = nullptr;
    RECT visible{0, 0, 0, 0};
    // Image DCs.
    QImage* image = nullptr;
    // Paint DCs.
    QImage paintImage;
    RECT area{0, 0, 0, 0};
    // Printer DCs.
    QPrinter* printer = nullptr;
    QPainter* painter = nullptr;
    // Memory DCs made from a printer DC report that printer's device values.
    bool fromPrinter = false;
    int referenceDpiX = 0;
    int referenceDpiY = 0;
    int referenceWidth = 0;
    int referenceHeight = 0;
};

// A widget's window handle. Its overlay is what GetDC draws on: an image of the widget's visible
// area, transparent where nothing was drawn.
class Window {
  public:
    explicit Window(QWidget* widget) : widget(widget) {}
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // The overlay covering area (widget coordinates), created or moved there when needed.
    detail::Surface overlaySurface(const RECT& area);
    // Erases the overlay inside area, and frees it once nothing drawn is left.
    void eraseOverlay(const RECT& area);
    bool hasOverlay() const { return !overlay.isNull(); }

    QPointer<QWidget> widget;
    QImage overlay;
    RECT overlayRect{0, 0, 0, 0};
    RECT drawn{0, 0, 0, 0};
    bool flushing = false;
    std::vector<DeviceContext*> dcs;
};

namespace detail {

// --- rectangles ---
inline bool isEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}
inline RECT intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (isEmpty(r)) return RECT{0, 0, 0, 0};
    return r;
}
inline RECT unite(const RECT& a, const RECT& b) {
    if (isEmpty(a)) return b;
    if (isEmpty(b)) return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}
inline bool contains(const RECT& outer, const RECT& inner) {
    return isEmpty(inner) || (inner.left >= outer.left && inner.top >= outer.top &&
                              inner.right <= outer.right && inner.bottom <= outer.bottom);
}
// A rectangle from an origin and a size that may not fit 32 bits.
RECT clampedRect(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom);

// --- registry ---
void registerObject(GdiObject* object);
void unregisterObject(GdiObject* object);
GdiObject* findObject(const void* handle);
Bitmap* findBitmap(const void* handle);
Palette* findPalette(const void* handle);
Brush* findBrush(const void* handle);
Pen* findPen(const void* handle);
void registerDc(DeviceContext* dc);
void unregisterDc(DeviceContext* dc);
DeviceContext* findDc(const void* handle);
void registerWindow(Window* window);
void unregisterWindow(Window* window);
Window* findWindow(const void* handle);
Window* desktopWindow();

// Stock objects every DC starts with.
Bitmap* stockBitmap();
Palette* stockPalette();
Brush* stockBrush();
Pen* stockPen();

// A new DC with the stock objects selected, registered.
DeviceContext* newDc(DcKind kind);
// Puts back what the DC had selected and frees it.
void destroyDc(DeviceContext* dc);

int desktopBitsPerPixel();
RECT screenRect();
int screenDpiX();
int screenDpiY();

// COLORREF (RGB or palette index) to 0x00RRGGBB, through the DC's palette.
std::uint32_t resolveColor(const DeviceContext* dc, COLORREF color);

} // namespace detail
} // namespace gdi
