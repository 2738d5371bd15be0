// The capture of a visible area in tiles, each small enough for the engine to capture at once:
// for a view wider than one capture can be, and for bounds whose two axes are scaled unequally,
// which are captured at the larger scale and area-averaged down on the other axis (nothing is
// ever enlarged from pixels).
#pragma once

#include "platform/browser/Pixels.h"
#include "platform/gdi/Gdi.h"

#include <QPointF>
#include <cstdint>

namespace browser {

class PageSession;

struct TiledDraw {
    gdi::HDC dc = nullptr;
    gdi::RECT bounds{};
    std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0; // the visible area, relative to the bounds
    double scale = 1;                            // captured pixels per document pixel
    double rx = 1, ry = 1;                       // captured pixels per drawn pixel, each axis
    QPointF scroll;
};

// Returns false when the DC refused the pixels or a picture could not be read; throws
// BrowserError when the engine fails.
bool drawTiled(PageSession& page, const TiledDraw& draw);

// Area-averages the part of src that covers the drawn pixels [dx0, dx0 + width) x
// [dy0, dy0 + height), where src starts at captured pixel sx0, sy0 and each drawn pixel covers
// rx x ry captured ones (each at least 1). Thin lines of a shrunk view stay as grey.
bool shrinkArea(const Picture24& src, std::int64_t sx0, std::int64_t sy0, std::int64_t dx0, std::int64_t dy0,
                int width, int height, double rx, double ry, Picture24& out);

} // namespace browser
