// The progress bar of the status bar's owner-drawn panel: a navy bar that grows from the
// panel's left edge. A capture holds the event loop while it runs, so the bar is drawn straight
// onto the status bar through a window DC rather than waiting for a paint.
#pragma once

#include "platform/gdi/Gdi.h"

#include <cstdint>

namespace app {

// Red 0, green 0, blue 128: outline and fill alike.
constexpr gdi::COLORREF kProgressColour = gdi::RGB(0, 0, 128);

// The bar for percent in panel: from the panel's left edge, (width x percent) div 100 wide and
// as high as the panel. Percentages outside 0..100 are drawn as the nearer bound, so that the
// bar never leaves its panel whatever a WM_USER sender passes.
gdi::RECT progressBarRect(const gdi::RECT& panel, std::int32_t percent);

// Draws that bar on dc with a one-pixel navy outline and navy fill; leaves dc's pen and brush
// as they were.
void drawProgressBar(gdi::HDC dc, const gdi::RECT& panel, std::int32_t percent);

} // namespace app
