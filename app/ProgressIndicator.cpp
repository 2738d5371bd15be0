#include "app/ProgressIndicator.h"

#include <algorithm>

namespace app {

gdi::RECT progressBarRect(const gdi::RECT& panel, std::int32_t percent) {
    const std::int64_t p = std::clamp<std::int64_t>(percent, 0, 100);
    // Formed in 64 bits and truncated toward zero, so that no panel width can overflow it.
    const std::int64_t width = (std::int64_t(panel.right) - panel.left) * p / 100;
    return gdi::RECT{panel.left, panel.top, gdi::LONG(panel.left + width), panel.bottom};
}

namespace {

// Selects a pen and a brush into a DC for one drawing and puts back what the DC had.
class NavyTools {
  public:
    explicit NavyTools(gdi::HDC dc)
        : m_dc(dc), m_pen(gdi::CreatePen(gdi::PS_SOLID, 1, kProgressColour)),
          m_brush(gdi::CreateSolidBrush(kProgressColour)) {
        if (m_pen) m_oldPen = gdi::SelectObject(m_dc, m_pen);
        if (m_brush) m_oldBrush = gdi::SelectObject(m_dc, m_brush);
    }
    ~NavyTools() {
        if (m_oldBrush) gdi::SelectObject(m_dc, m_oldBrush);
        if (m_oldPen) gdi::SelectObject(m_dc, m_oldPen);
        if (m_brush) gdi::DeleteObject(m_brush);
        if (m_pen) gdi::DeleteObject(m_pen);
    }
    NavyTools(const NavyTools&) = delete;
    NavyTools& operator=(const NavyTools&) = delete;

    bool ready() const { return m_oldPen && m_oldBrush; }

  private:
    gdi::HDC m_dc;
    gdi::HPEN m_pen;
    gdi::HBRUSH m_brush;
    gdi::HGDIOBJ m_oldPen = nullptr;
    gdi::HGDIOBJ m_oldBrush = nullptr;
};

} // namespace

void drawProgressBar(gdi::HDC dc, const gdi::RECT& panel, std::int32_t percent) {
    if (!dc) return;
    NavyTools tools(dc);
    if (!tools.ready()) return;
    const gdi::RECT bar = progressBarRect(panel, percent);
    gdi::Rectangle(dc, bar.left, bar.top, bar.right, bar.bottom);
}

} // namespace app
