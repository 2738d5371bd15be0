#include "platform/gdi/GdiObjects.h"

#include "platform/gdi/GdiTesting.h"

#include <cstring>
#include <limits>
#include <unistd.h>
#include <unordered_map>

namespace gdi {

namespace detail {
void forgetDeviceFailures(const DeviceContext* dc); // GdiTesting.cpp
}

namespace {

enum class HandleKind : std::uint8_t { Object, Dc, Window };

struct Registry {
    std::unordered_map<const void*, HandleKind> handles;
    testing::ObjectCounts counts;
};

// Never destroyed: stock objects and handles may still be looked up while statics go away.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

int* counterFor(GdiObject::Type type) {
    testing::ObjectCounts& c = registry().counts;
    switch (type) {
    case GdiObject::Type::Bitmap:
        return &c.bitmaps;
    case GdiObject::Type::Palette:
        return &c.palettes;
    case GdiObject::Type::Brush:
        return &c.brushes;
    case GdiObject::Type::Pen:
        return &c.pens;
    }
    return nullptr;
}

bool isKind(const void* handle, HandleKind kind) {
    if (!handle) return false;
    const auto& h = registry().handles;
    const auto it = h.find(handle);
    return it != h.end() && it->second == kind;
}

// Pixel buffers larger than half the machine's memory are refused up front: the system would
// promise them and then end the program when the pages are touched.
std::int64_t allocationLimit() {
    static const std::int64_t limit = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0) return std::int64_t(1) << 31;
        return std::int64_t(pages) * pageSize / 2;
    }();
    return limit;
}

} // namespace

namespace detail {

RECT clampedRect(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom) {
    const auto clamp = [](std::int64_t v) {
        return LONG(
            std::clamp<std::int64_t>(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
    };
    return RECT{clamp(left), clamp(top), clamp(right), clamp(bottom)};
}

void registerObject(GdiObject* object) {
    registry().handles[object] = HandleKind::Object;
    if (!object->stock()) ++*counterFor(object->type());
}

void unregisterObject(GdiObject* object) {
    if (registry().handles.erase(object) && !object->stock()) --*counterFor(object->type());
}

GdiObject* findObject(const void* handle) {
    return isKind(handle, HandleKind::Object) ? static_cast<GdiObject*>(const_cast<void*>(handle)) : nullptr;
}

template <typename T> static T* findTyped(const void* handle, GdiObject::Type type) {
    GdiObject* o = findObject(handle);
    return o && o->type() == type ? static_cast<T*>(o) : nullptr;
}

Bitmap* findBitmap(const void* handle) {
    return findTyped<Bitmap>(handle, GdiObject::Type::Bitmap);
}
Palette* findPalette(const void* handle) {
    return findTyped<Palette>(handle, GdiObject::Type::Palette);
}
Brush* findBrush(const void* handle) {
    return findTyped<Brush>(handle, GdiObject::Type::Brush);
}
Pen* findPen(const void* handle) {
    return findTyped<Pen>(handle, GdiObject::Type::Pen);
}

void registerDc(DeviceContext* dc) {
    registry().handles[dc] = HandleKind::Dc;
    ++registry().counts.dcs;
}

void unregisterDc(DeviceContext* dc) {
    if (registry().handles.erase(dc)) --registry().counts.dcs;
}

DeviceContext* findDc(const void* handle) {
    return isKind(handle, HandleKind::Dc) ? static_cast<DeviceContext*>(const_cast<void*>(handle)) : nullptr;
}

void registerWindow(Window* window) {
    registry().handles[window] = HandleKind::Window;
}
void unregisterWindow(Window* window) {
    registry().handles.erase(window);
}

Window* findWindow(const void* handle) {
    return isKind(handle, HandleKind::Window) ? static_cast<Window*>(const_cast<void*>(handle)) : nullptr;
}

Window* desktopWindow() {
    static Window* desktop = [] {
        auto* w = new Window(nullptr);
        registerWindow(w);
        return w;
    }();
    return desktop;
}

Bitmap* stockBitmap() {
    static Bitmap* bitmap = [] {
        PixelFormat format;
        makeFormat(format, 1);
        const auto& mono = monoColors();
        Bitmap* b =
            Bitmap::create(1, 1, 1, format, mono.data(), int(mono.size()), false, true, true).release();
        registerObject(b);
        return b;
    }();
    return bitmap;
}

Palette* stockPalette() {
    static Palette* palette = [] {
        // The twenty colours a palette device always has: the first and last ten of the
        // halftone table.
        const auto& table = halftoneColors();
        std::vector<PALETTEENTRY> entries;
        for (int i = 0; i < 256; ++i) {
            if (i >= 10 && i < 246) continue;
            const std::uint32_t c = table[i];
            entries.push_back(PALETTEENTRY{BYTE(c >> 16), BYTE(c >> 8), BYTE(c), 0});
        }
        auto* p = new Palette(std::move(entries), true);
        registerObject(p);
        return p;
    }();
    return palette;
}

Brush* stockBrush() {
    static Brush* brush = [] {
        auto* b = new Brush(RGB(255, 255, 255), true);
        registerObject(b);
        return b;
    }();
    return brush;
}

Pen* stockPen() {
    static Pen* pen = [] {
        auto* p = new Pen(1, RGB(0, 0, 0), true);
        registerObject(p);
        return p;
    }();
    return pen;
}

DeviceContext* newDc(DcKind kind) {
    auto* dc = new DeviceContext(kind);
    registerDc(dc);
    return dc;
}

void destroyDc(DeviceContext* dc) {
    forgetDeviceFailures(dc);
    unregisterDc(dc);
    delete dc;
}

std::uint32_t resolveColor(const DeviceContext* dc, COLORREF color) {
    if ((color >> 24) == 0x01) { // PALETTEINDEX
        const Palette* palette = dc && dc->palette ? dc->palette : stockPalette();
        const std::size_t index = color & 0xFFFF;
        if (index >= palette->entries.size()) return 0;
        const PALETTEENTRY& e = palette->entries[index];
        return std::uint32_t(e.peRed) << 16 | std::uint32_t(e.peGreen) << 8 | e.peBlue;
    }
    return colorrefToRgb(color);
}

} // namespace detail

using namespace detail;

std::unique_ptr<Bitmap> Bitmap::create(int width, int height, int bpp, const PixelFormat& format,
                                       const std::uint32_t* colors, int colorCount, bool dibSection,
                                       bool topDown, bool stock) {
    if (width <= 0 || height <= 0 || format.bpp != bpp) return nullptr;
    const std::ptrdiff_t stride = rowBytes(width, bpp);
    if (stride < 0) return nullptr;
    const std::int64_t size = std::int64_t(stride) * height;
    if (size > allocationLimit()) return nullptr;
    const pixmem::PixelMemory memory = pixmem::allocatePixelMemory(std::size_t(size));
    PixelBuffer bits(memory.bits, PixelDeleter{memory});
    if (!bits) return nullptr;

    std::unique_ptr<Bitmap> b(new Bitmap(stock));
    b->m_width = width;
    b->m_height = height;
    b->m_dibSection = dibSection;
    b->m_topDown = topDown;
    b->m_stride = stride;
    b->m_bits = std::move(bits);
    b->m_format = format;
    if (bpp <= 8) {
        if (!colors || colorCount <= 0) {
            const auto& fallback = defaultColors(bpp);
            colors = fallback.data();
            colorCount = int(fallback.size());
        }
        colorCount = std::min(colorCount, 1 << bpp);
        b->m_colors.assign(colors, colors + colorCount);
        b->m_colors.resize(std::size_t(1) << bpp, 0);
        b->m_format.colors = b->m_colors.data();
        b->m_format.colorCount = colorCount;
    }
    return b;
}

Surface Bitmap::surface() const {
    Surface s;
    s.width = m_width;
    s.height = m_height;
    s.format = m_format;
    if (m_topDown) {
        s.top = m_bits.get();
        s.pitch = m_stride;
    } else {
        s.top = m_bits.get() + std::ptrdiff_t(m_height - 1) * m_stride;
        s.pitch = -m_stride;
    }
    return s;
}

namespace testing {

ObjectCounts LiveObjects() {
    return registry().counts;
}

} // namespace testing

} // namespace gdi
