// Small types shared by the page and the two ways of capturing it.
#pragma once

#include <QPointF>
#include <cstdint>

namespace browser {

// A part of a view drawn into bounds, in captured pixels relative to the bounds' corner.
struct CaptureRegion {
    std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::int64_t width() const { return x1 - x0; }
    std::int64_t height() const { return y1 - y0; }
};

// The document position of the view's top-left corner, as far as it is known. It is read once
// per event-loop turn: nothing the user does can scroll the page while the event loop waits.
// A capture need not wait for it: it goes to the engine first, made on the guess that the page
// has not scrolled since the offset was last read, and the offset is asked for behind it.
struct ScrollQuery {
    QPointF guess;
    bool known = false;
    std::uint64_t id = 0; // the call under way, if any
    std::uint64_t generation = 0;
};

// The largest piece captured at once, in captured pixels: big enough that a view of 1600 x 2000
// comes in one piece, small enough that neither side holds a gigabyte for a huge picture.
constexpr std::int64_t maxCapturePixels = std::int64_t(4) << 20;
constexpr std::int64_t maxCaptureSide = 8192;

// The largest view, in captured pixels, that the engine is left to show whole while a part of it
// is captured. The engine's compositor rasters what it shows into tiles within a fixed memory
// budget (512 MB, some 130 million pixels, here), shared by all of the page's layers; the tiles
// beyond the budget are never drawn, and a capture shows the page's bare background there, with
// no error. A larger view is shown only as far as each capture reaches while it is made. The
// bound leaves room for a dozen layers each as large as what is shown; no capture is larger.
constexpr std::int64_t maxWholeViewPixels = std::int64_t(8) << 20;
static_assert(maxCapturePixels <= maxWholeViewPixels);

} // namespace browser
