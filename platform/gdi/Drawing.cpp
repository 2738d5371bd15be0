// The simple drawing calls: rectangles with the DC's pen and brush, single pixels.
#include "platform/gdi/Blit.h"

#include <QPainter>

namespace gdi {

using namespace detail;

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
    DeviceContext* d = findDc(dc);
    if (!d) return FALSE;
    std::int64_t l = std::min(left, right), r = std::max(left, right);
    std::int64_t t = std::min(top, bottom), b = std::max(top, bottom);
    if (r == l || b == t) return TRUE; // a degenerate rectangle has no pixels to draw
    // The outline lies inside the rectangle, right and bottom edges excluded, and a wide pen
    // grows inward, so that the rectangle never paints outside its own bounds.
    const std::int64_t w = std::min<std::int64_t>(d->pen->width, std::min(r - l, b - t));
    const std::uint32_t fill = resolveColor(d, d->brush->color);
    const std::uint32_t line = resolveColor(d, d->pen->color);
    if (r - l > 2 * w && b - t > 2 * w) fillOnDc(d, l + w, t + w, r - w, b - w, fill);
    fillOnDc(d, l, t, r, t + w, line);
    fillOnDc(d, l, b - w, r, b, line);
    fillOnDc(d, l, t + w, l + w, b - w, line);
    fillOnDc(d, r - w, t + w, r, b - w, line);
    return TRUE;
}

int FillRect(HDC dc, const RECT* rc, HBRUSH brush) {
    DeviceContext* d = findDc(dc);
    Brush* b = findBrush(brush);
    if (!d || !b || !rc) return 0;
    if (rc->right > rc->left && rc->bottom > rc->top)
        fillOnDc(d, rc->left, rc->top, rc->right, rc->bottom, resolveColor(d, b->color));
    return 1;
}

namespace {

// The surface pixel under a logical point, when the point is inside the clip box.
bool pixelAt(DeviceContext* d, int x, int y, DeviceContext::Target& t, int& sx, int& sy) {
    const std::int64_t dx = std::int64_t(x) + d->origin.x, dy = std::int64_t(y) + d->origin.y;
    if (dx < t.clip.left || dx >= t.clip.right || dy < t.clip.top || dy >= t.clip.bottom ||
        !t.surface.valid())
        return false;
    sx = int(dx - t.bounds.left);
    sy = int(dy - t.bounds.top);
    return true;
}

} // namespace

COLORREF GetPixel(HDC dc, int x, int y) {
    DeviceContext* d = findDc(dc);
    if (!d || d->isPrinter()) return CLR_INVALID;
    DeviceContext::Target t = d->target(false);
    int sx, sy;
    if (!pixelAt(d, x, y, t, sx, sy)) return CLR_INVALID;
    std::uint32_t value;
    readNativeSpan(t.surface, sy, sx, 1, &value);
    return rgbToColorref(nativeToRgb(t.surface.format, value));
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
    DeviceContext* d = findDc(dc);
    if (!d) return CLR_INVALID;
    const std::uint32_t rgb = resolveColor(d, color);
    if (d->isPrinter()) {
        const RECT clip = d->clipBox();
        const std::int64_t dx = std::int64_t(x) + d->origin.x, dy = std::int64_t(y) + d->origin.y;
        if (dx < clip.left || dx >= clip.right || dy < clip.top || dy >= clip.bottom) return CLR_INVALID;
        fillOnDc(d, x, y, std::int64_t(x) + 1, std::int64_t(y) + 1, rgb);
        return rgbToColorref(rgb);
    }
    DeviceContext::Target t = d->target();
    int sx, sy;
    if (!pixelAt(d, x, y, t, sx, sy)) return CLR_INVALID;
    const std::uint32_t value = rgbToNative(t.surface.format, rgb, nullptr);
    writeNativeSpan(t.surface, sy, sx, 1, &value);
    d->noteDrawn(RECT{LONG(t.bounds.left + sx), LONG(t.bounds.top + sy), LONG(t.bounds.left + sx + 1),
                      LONG(t.bounds.top + sy + 1)});
    return rgbToColorref(nativeToRgb(t.surface.format, value));
}

} // namespace gdi
