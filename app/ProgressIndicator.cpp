#include "app/ProgressIndicator.h"

#include "platform/gdi/GdiOwners.h"

#include <algorithm>

namespace app {

gdi::RECT progressBarRect(const gdi::RECT& panel, std::int32_t percent) {
    const std::int64_t p = std::clamp<std::int64_t>(percent, 0, 100);
    // Formed in 64 bits and truncated toward zero, so that no panel width can overflow it.
    const std::int64_t width = (std::int64_t(panel.right) - panel.left) * p / 100;
    return gdi::RECT{panel.left, panel.top, gdi::LONG(panel.left + width), panel.bottom};
}

void drawProgressBar(gdi::HDC dc, const gdi::RECT& panel, std::int32_t percent) {
    if (!dc) return;
    // In this order, so that the DC gets its own brush and pen back before they are deleted.
    const gdi::PenOwner pen(gdi::CreatePen(gdi::PS_SOLID, 1, kProgressColour));
    const gdi::BrushOwner brush(gdi::CreateSolidBrush(kProgressColour));
    // A pen or brush that could not be made is not selected: SelectObject fails on a null handle.
    const gdi::SelectionGuard penSelection(dc, pen.get());
    const gdi::SelectionGuard brushSelection(dc, brush.get());
    if (!penSelection.selected() || !brushSelection.selected()) return;
    const gdi::RECT bar = progressBarRect(panel, percent);
    gdi::Rectangle(dc, bar.left, bar.top, bar.right, bar.bottom);
}

} // namespace app
