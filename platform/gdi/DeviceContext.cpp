// Device contexts and the objects selected into them: creation, selection, deletion, device
// values, clipping and the viewport origin.
#include "platform/gdi/DibInfo.h"
#include "platform/gdi/GdiObjects.h"
#include "platform/gdi/GdiTesting.h"

#include <QPrinter>
#include <cstring>

namespace gdi {

using namespace detail;
using testing::Call;
using testing::ShouldFail;

namespace {

Surface imageSurface(QImage& image) {
    Surface s;
    if (image.isNull()) return s;
    s.top = image.bits(); // detaches a shared image so that only this one changes
    s.pitch = image.bytesPerLine();
    s.width = image.width();
    s.height = image.height();
    makeFormat(s.format, 32);
    s.format.opaque = true;
    return s;
}

RECT rectOfSize(int width, int height) {
    return RECT{0, 0, width, height};
}

// The depth of bitmaps made compatible with the desktop. Depths the layer has no surfaces for
// go up to the next one it has.
int compatibleDepth(int bitsPerPixel) {
    if (bitsPerPixel <= 1) return 1;
    if (bitsPerPixel <= 4) return 4;
    if (bitsPerPixel <= 8) return 8;
    if (bitsPerPixel <= 16) return 16;
    if (bitsPerPixel <= 24) return 24;
    return 32;
}

Bitmap* newBitmap(std::unique_ptr<Bitmap> b) {
    if (!b) return nullptr;
    Bitmap* raw = b.release();
    registerObject(raw);
    return raw;
}

} // namespace

DeviceContext::DeviceContext(DcKind kind) : kind(kind) {
    palette = stockPalette();
    brush = stockBrush();
    pen = stockPen();
    ++palette->selections;
    ++brush->selections;
    ++pen->selections;
    if (kind == DcKind::Memory) bitmap = stockBitmap();
}

DeviceContext::~DeviceContext() {
    if (bitmap && bitmap->selectedInto == this) bitmap->selectedInto = nullptr;
    --palette->selections;
    --brush->selections;
    --pen->selections;
    if (window) {
        auto& list = window->dcs;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

RECT DeviceContext::bounds() const {
    switch (kind) {
    case DcKind::Memory:
        return rectOfSize(bitmap->width(), bitmap->height());
    case DcKind::Window:
        return window ? visible : RECT{0, 0, 0, 0};
    case DcKind::Paint:
        return area;
    case DcKind::Image:
        return image && !image->isNull() ? rectOfSize(image->width(), image->height()) : RECT{0, 0, 0, 0};
    case DcKind::Printer:
        return rectOfSize(printer->width(), printer->height());
    case DcKind::Desktop:
        return screenRect();
    }
    return RECT{0, 0, 0, 0};
}

RECT DeviceContext::clipBox() const {
    const RECT b = bounds();
    return hasClip ? intersect(b, clip) : b;
}

DeviceContext::Target DeviceContext::target(bool allocate) {
    Target t;
    t.bounds = bounds();
    switch (kind) {
    case DcKind::Memory:
        // The stock bitmap is shared by every fresh memory DC; drawing on it would leak
        // pixels from one DC to another.
        if (!bitmap->stock()) t.surface = bitmap->surface();
        break;
    case DcKind::Window:
        if (window && !isEmpty(visible) && (allocate || window->hasOverlay()))
            t.surface = window->overlaySurface(visible);
        break;
    case DcKind::Paint:
        t.surface = imageSurface(paintImage);
        break;
    case DcKind::Image:
        if (image) t.surface = imageSurface(*image);
        break;
    case DcKind::Printer:
    case DcKind::Desktop:
        break;
    }
    if (!t.surface.valid() && kind != DcKind::Printer && kind != DcKind::Desktop) t.bounds = RECT{0, 0, 0, 0};
    t.clip = hasClip ? intersect(t.bounds, clip) : t.bounds;
    return t;
}

void DeviceContext::noteDrawn(const RECT& deviceRect) {
    const RECT r = intersect(deviceRect, bounds());
    if (isEmpty(r)) return;
    dirty = unite(dirty, r);
    if (window) window->drawn = unite(window->drawn, r);
}

// --- creation and deletion ------------------------------------------------------------------

HDC CreateCompatibleDC(HDC dc) {
    if (ShouldFail(Call::CreateCompatibleDC, dc)) return nullptr;
    DeviceContext* reference = nullptr;
    if (dc) {
        reference = findDc(dc);
        if (!reference) return nullptr;
    }
    DeviceContext* mem = newDc(DcKind::Memory);
    if (reference && reference->printerCompatible()) {
        mem->fromPrinter = true;
        if (reference->kind == DcKind::Printer) {
            mem->referenceDpiX = reference->printer->logicalDpiX();
            mem->referenceDpiY = reference->printer->logicalDpiY();
            mem->referenceWidth = reference->printer->width();
            mem->referenceHeight = reference->printer->height();
        } else {
            mem->referenceDpiX = reference->referenceDpiX;
            mem->referenceDpiY = reference->referenceDpiY;
            mem->referenceWidth = reference->referenceWidth;
            mem->referenceHeight = reference->referenceHeight;
        }
    }
    return mem;
}

BOOL DeleteDC(HDC dc) {
    DeviceContext* d = findDc(dc);
    // Window DCs go back with ReleaseDC and a PaintDC frees its own.
    if (!d || d->kind == DcKind::Window || d->kind == DcKind::Desktop || d->kind == DcKind::Paint)
        return FALSE;
    destroyDc(d);
    return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj) {
    DeviceContext* d = findDc(dc);
    GdiObject* o = findObject(obj);
    if (!d || !o) return nullptr;
    switch (o->type()) {
    case GdiObject::Type::Bitmap: {
        auto* b = static_cast<Bitmap*>(o);
        if (d->kind != DcKind::Memory) return nullptr;
        if (b == d->bitmap) return b;
        if (!b->stock() && b->selectedInto) return nullptr; // one memory DC at a time
        Bitmap* previous = d->bitmap;
        if (previous->selectedInto == d) previous->selectedInto = nullptr;
        d->bitmap = b;
        if (!b->stock()) b->selectedInto = d;
        return previous;
    }
    case GdiObject::Type::Brush: {
        Brush* previous = d->brush;
        --previous->selections;
        d->brush = static_cast<Brush*>(o);
        ++d->brush->selections;
        return previous;
    }
    case GdiObject::Type::Pen: {
        Pen* previous = d->pen;
        --previous->selections;
        d->pen = static_cast<Pen*>(o);
        ++d->pen->selections;
        return previous;
    }
    case GdiObject::Type::Palette:
        return nullptr; // palettes go through SelectPalette
    }
    return nullptr;
}

HGDIOBJ SelectObject(HDC dc, HBITMAP bitmap) {
    return SelectObject(dc, static_cast<HGDIOBJ>(bitmap));
}
HGDIOBJ SelectObject(HDC dc, HBRUSH brush) {
    return SelectObject(dc, static_cast<HGDIOBJ>(brush));
}
HGDIOBJ SelectObject(HDC dc, HPEN pen) {
    return SelectObject(dc, static_cast<HGDIOBJ>(pen));
}
BOOL DeleteObject(HBITMAP bitmap) {
    return DeleteObject(static_cast<HGDIOBJ>(bitmap));
}
BOOL DeleteObject(HPALETTE palette) {
    return DeleteObject(static_cast<HGDIOBJ>(palette));
}
BOOL DeleteObject(HBRUSH brush) {
    return DeleteObject(static_cast<HGDIOBJ>(brush));
}
BOOL DeleteObject(HPEN pen) {
    return DeleteObject(static_cast<HGDIOBJ>(pen));
}
int GetObjectA(HBITMAP bitmap, int size, void* out) {
    return GetObjectA(static_cast<HGDIOBJ>(bitmap), size, out);
}
int GetObjectA(HPALETTE palette, int size, void* out) {
    return GetObjectA(static_cast<HGDIOBJ>(palette), size, out);
}
HBITMAP ToBitmap(HGDIOBJ obj) {
    return findBitmap(obj);
}
HBRUSH ToBrush(HGDIOBJ obj) {
    return findBrush(obj);
}
HPEN ToPen(HGDIOBJ obj) {
    return findPen(obj);
}

BOOL DeleteObject(HGDIOBJ obj) {
    GdiObject* o = findObject(obj);
    if (!o) return FALSE;
    if (o->stock()) return TRUE;
    if (o->type() == GdiObject::Type::Bitmap && static_cast<Bitmap*>(o)->selectedInto) return FALSE;
    if (o->selections > 0) return FALSE;
    unregisterObject(o);
    delete o;
    return TRUE;
}

int GetObjectA(HGDIOBJ obj, int size, void* out) {
    GdiObject* o = findObject(obj);
    if (!o) return 0;
    if (o->type() == GdiObject::Type::Bitmap) {
        if (!out) return int(sizeof(BITMAP));
        if (size < int(sizeof(BITMAP))) return 0;
        const auto* b = static_cast<Bitmap*>(o);
        BITMAP bm{};
        bm.bmType = 0;
        bm.bmWidth = b->width();
        bm.bmHeight = b->height();
        bm.bmWidthBytes = LONG(b->stride());
        bm.bmPlanes = 1;
        bm.bmBitsPixel = WORD(b->bpp());
        bm.bmBits = b->dibSection() ? b->bits() : nullptr;
        std::memcpy(out, &bm, sizeof bm);
        return int(sizeof(BITMAP));
    }
    if (o->type() == GdiObject::Type::Palette) {
        if (!out) return int(sizeof(WORD));
        if (size < int(sizeof(WORD))) return 0;
        const WORD count = WORD(static_cast<Palette*>(o)->entries.size());
        std::memcpy(out, &count, sizeof count);
        return int(sizeof(WORD));
    }
    return 0;
}

// --- device values --------------------------------------------------------------------------

int GetDeviceCaps(HDC dc, int index) {
    DeviceContext* d = findDc(dc);
    if (!d) return 0;
    const bool printer = d->printerCompatible();
    const int depth = d->kind == DcKind::Memory ? d->bitmap->bpp() : printer ? 24 : desktopBitsPerPixel();
    const bool paletteDevice = !printer && desktopBitsPerPixel() <= 8;
    switch (index) {
    case TECHNOLOGY:
        return printer ? DT_RASPRINTER : DT_RASDISPLAY;
    case BITSPIXEL:
        return depth;
    case PLANES:
        return 1;
    case NUMCOLORS:
        if (depth > 8) return -1;
        return depth == 8 ? 20 : 1 << depth;
    case SIZEPALETTE:
        return paletteDevice ? 1 << std::min(compatibleDepth(desktopBitsPerPixel()), 8) : 0;
    case RASTERCAPS: {
        int caps = RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
        if (paletteDevice) caps |= RC_PALETTE;
        return caps;
    }
    case LOGPIXELSX:
    case LOGPIXELSY: {
        const bool x = index == LOGPIXELSX;
        if (d->kind == DcKind::Printer) return x ? d->printer->logicalDpiX() : d->printer->logicalDpiY();
        if (d->fromPrinter) return x ? d->referenceDpiX : d->referenceDpiY;
        return x ? screenDpiX() : screenDpiY();
    }
    case HORZRES:
    case VERTRES: {
        const bool x = index == HORZRES;
        if (d->kind == DcKind::Printer) return x ? d->printer->width() : d->printer->height();
        if (d->fromPrinter) return x ? d->referenceWidth : d->referenceHeight;
        if (d->kind == DcKind::Image) {
            const RECT b = d->bounds();
            return x ? b.right : b.bottom;
        }
        const RECT s = screenRect();
        return x ? s.right - s.left : s.bottom - s.top;
    }
    default:
        return 0;
    }
}

// --- clipping and origin --------------------------------------------------------------------

int GetClipBox(HDC dc, RECT* rc) {
    DeviceContext* d = findDc(dc);
    if (!d || !rc) return ERROR_REGION;
    const RECT box = d->clipBox();
    if (isEmpty(box)) {
        *rc = RECT{0, 0, 0, 0};
        return NULLREGION;
    }
    *rc = clampedRect(std::int64_t(box.left) - d->origin.x, std::int64_t(box.top) - d->origin.y,
                      std::int64_t(box.right) - d->origin.x, std::int64_t(box.bottom) - d->origin.y);
    return SIMPLEREGION;
}

int IntersectClipRect(HDC dc, int left, int top, int right, int bottom) {
    DeviceContext* d = findDc(dc);
    if (!d) return ERROR_REGION;
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    const RECT r = clampedRect(std::int64_t(left) + d->origin.x, std::int64_t(top) + d->origin.y,
                               std::int64_t(right) + d->origin.x, std::int64_t(bottom) + d->origin.y);
    d->clip = d->hasClip ? intersect(d->clip, r) : (isEmpty(r) ? RECT{0, 0, 0, 0} : r);
    d->hasClip = true;
    return isEmpty(d->clip) ? NULLREGION : SIMPLEREGION;
}

int SelectClipRgn(HDC dc, std::nullptr_t) {
    DeviceContext* d = findDc(dc);
    if (!d) return ERROR_REGION;
    d->hasClip = false;
    d->clip = RECT{0, 0, 0, 0};
    return isEmpty(d->bounds()) ? NULLREGION : SIMPLEREGION;
}

BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* previous) {
    DeviceContext* d = findDc(dc);
    if (!d) return FALSE;
    if (previous) *previous = d->origin;
    d->origin = POINT{x, y};
    return TRUE;
}

int SetStretchBltMode(HDC dc, int mode) {
    DeviceContext* d = findDc(dc);
    if (!d || mode < BLACKONWHITE || mode > HALFTONE) return 0;
    const int previous = d->stretchMode;
    d->stretchMode = mode;
    return previous;
}

int GetStretchBltMode(HDC dc) {
    DeviceContext* d = findDc(dc);
    return d ? d->stretchMode : 0;
}

// --- bitmaps --------------------------------------------------------------------------------

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (ShouldFail(Call::CreateCompatibleBitmap, dc)) return nullptr;
    DeviceContext* d = findDc(dc);
    if (!d || width < 0 || height < 0) return nullptr;
    PixelFormat format;
    if (width == 0 || height == 0) {
        // An empty request gets the smallest bitmap there is, as it always has.
        makeFormat(format, 1);
        const auto& mono = monoColors();
        return newBitmap(Bitmap::create(1, 1, 1, format, mono.data(), 2, false, true));
    }
    if (d->kind == DcKind::Memory) {
        const Bitmap* selected = d->bitmap;
        return newBitmap(Bitmap::create(width, height, selected->bpp(), selected->format(),
                                        selected->colors().data(), selected->format().colorCount, false,
                                        true));
    }
    const int depth = d->printerCompatible() ? 24 : compatibleDepth(desktopBitsPerPixel());
    makeFormat(format, depth);
    return newBitmap(Bitmap::create(width, height, depth, format, nullptr, 0, false, true));
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, void* section,
                         DWORD offset) {
    if (bits) *bits = nullptr;
    if (ShouldFail(Call::CreateDIBSection, dc)) return nullptr;
    if (section) // file mappings are not supported
        return nullptr;
    DeviceContext* d = dc ? findDc(dc) : nullptr;
    if (dc && !d) return nullptr;
    DibInfo dib;
    if (!parseDib(info, usage, d, dib)) return nullptr;
    Bitmap* b = newBitmap(Bitmap::create(dib.width, dib.height, dib.format.bpp, dib.format, dib.colors.data(),
                                         dib.format.colorCount, true, dib.topDown));
    if (b && bits) *bits = b->bits();
    return b;
}

// --- palettes, brushes, pens ----------------------------------------------------------------

HPALETTE CreatePalette(const LOGPALETTE* palette) {
    if (!palette || palette->palNumEntries == 0) return nullptr;
    std::vector<PALETTEENTRY> entries(palette->palNumEntries);
    std::memcpy(entries.data(), palette->palPalEntry, sizeof(PALETTEENTRY) * entries.size());
    auto* p = new Palette(std::move(entries));
    registerObject(p);
    return p;
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL) {
    DeviceContext* d = findDc(dc);
    Palette* p = findPalette(palette);
    if (!d || !p) return nullptr;
    Palette* previous = d->palette;
    --previous->selections;
    d->palette = p;
    ++p->selections;
    return previous;
}

UINT RealizePalette(HDC dc) {
    DeviceContext* d = findDc(dc);
    if (!d) return UINT(GDI_ERROR);
    // Only a palette device maps logical colours into its hardware palette; the static
    // colours of the default palette are there already.
    if (d->printerCompatible() || desktopBitsPerPixel() > 8 || d->palette->stock()) return 0;
    return UINT(d->palette->entries.size());
}

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
    Palette* p = findPalette(palette);
    if (!p) return 0;
    const UINT size = UINT(p->entries.size());
    if (!entries) return size;
    if (start >= size) return 0;
    const UINT n = std::min(count, size - start);
    std::memcpy(entries, p->entries.data() + start, sizeof(PALETTEENTRY) * n);
    return n;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    auto* b = new Brush(color);
    registerObject(b);
    return b;
}

HPEN CreatePen(int style, int width, COLORREF color) {
    if (style != PS_SOLID || width < 0) return nullptr;
    auto* p = new Pen(std::max(width, 1), color);
    registerObject(p);
    return p;
}

} // namespace gdi
