// The one routine every pixel transfer of the layer goes through: a source rectangle of a
// surface onto a destination rectangle, stretched by nearest neighbour (or combined when the
// stretch mode asks for it), mirrored, with a raster operation, limited to a clip rectangle.
#pragma once

#include "platform/gdi/GdiObjects.h"
#include "platform/gdi/PixelFormat.h"

#include <cstdint>

namespace gdi::detail {

struct BlitSpec {
    // Destination rectangle; dw and dh are positive.
    std::int64_t dx = 0;
    std::int64_t dy = 0;
    std::int64_t dw = 0;
    std::int64_t dh = 0;
    // Source rectangle, rows counted from the top of the source; sw and sh are positive. It
    // may reach outside the source: destination pixels that map outside are left alone.
    std::int64_t sx = 0;
    std::int64_t sy = 0;
    std::int64_t sw = 0;
    std::int64_t sh = 0;
    bool mirrorX = false;
    bool mirrorY = false;
    DWORD rop = SRCCOPY;
    int mode = COLORONCOLOR;
};

// spec's destination and clip are in dst's pixel coordinates. Returns the rectangle written.
RECT blitToSurface(const Surface& dst, const RECT& clip, const Surface* src, const BlitSpec& spec);

// spec's destination is in the DC's logical coordinates. False when the device cannot do it
// (a printer asked for a raster operation that needs to read the page).
bool transferToDc(DeviceContext* dc, const Surface* src, BlitSpec spec);

// Fills a rectangle in logical coordinates with a colour (0x00RRGGBB).
void fillOnDc(DeviceContext* dc, std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom,
              std::uint32_t rgb);

} // namespace gdi::detail
