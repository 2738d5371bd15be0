#include "document/ViewSize.h"

#include "document/WebBrowser.h"

#include <cmath>
#include <cstdint>

namespace document {

std::optional<int> viewExtentFor(double value, int maxExtent) {
    // NaN fails both tests below; the edits never produce one, but a view size must not.
    if (!(value >= kMinViewExtent)) return std::nullopt;
    const double whole = std::trunc(value);
    if (!(whole <= double(maxExtent))) return std::nullopt;
    return int(whole);
}

void applyViewWidth(TWebBrowser& web, double widthValue) {
    if (const auto width = viewExtentFor(widthValue, browser::BrowserView::maxDimension))
        web.setViewWidth(*width);
}

void applyViewHeight(TWebBrowser& web, double heightValue) {
    if (const auto height = viewExtentFor(heightValue, browser::BrowserView::maxDimension))
        web.setViewHeight(*height);
}

void applyViewSize(TWebBrowser& web, double widthValue, double heightValue) {
    applyViewWidth(web, widthValue);
    applyViewHeight(web, heightValue);
}

gdi::RECT previewRect(int pw, int ph, int vw, int vh) {
    if (vw <= 0 || vh <= 0) return {0, 0, 0, 0};
    std::int64_t w = pw;
    std::int64_t h = std::int64_t(pw) * vh / vw;
    if (h > ph) {
        h = ph;
        w = std::int64_t(ph) * vw / vh;
    }
    // Both now lie within the box (w <= pw follows from h > ph above), so they fit 32 bits.
    return {0, 0, gdi::LONG(w), gdi::LONG(h)};
}

} // namespace document
