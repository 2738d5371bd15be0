// The captures a view keeps while it is drawn piece by piece. A capture in pieces draws the same
// view again and again, shifted; each piece is served from one larger capture instead of asking
// the engine once per piece, and the capture of the rows that follow is asked for before the
// latest one is decoded, so that the engine draws while this process decodes.
#pragma once

#include "platform/browser/CaptureTypes.h"
#include "platform/browser/Pixels.h"
#include "platform/gdi/Gdi.h"

#include <QPointF>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace browser {

class PageSession;

class CaptureCache {
  public:
    // Draws the visible columns [x0, x1) and rows [y0, y1) of the view (viewSize) drawn into
    // bounds, at scale, from captures kept or made now. Returns false when the DC refused the pixels or a
    // picture could not be read, nothing when that area is too large for one capture (the
    // caller then captures it in tiles). Throws BrowserError when the engine fails.
    std::optional<bool> draw(PageSession& page, gdi::HDC dc, const gdi::RECT& bounds, std::int64_t x0,
                             std::int64_t y0, std::int64_t x1, std::int64_t y1, QSize viewSize, double scale,
                             ScrollQuery& query, std::uint64_t generation);

    // Whether the engine draws bounds of bw x bh in one capture (a picture taken in pieces then
    // needs nothing more from the engine after its first piece).
    bool fitsOneCapture(std::int64_t bw, std::int64_t bh) const;

    // Waits for a capture under way and drops it: the engine takes one capture at a time.
    void dropAhead(PageSession& page);
    // Drops the answer of a capture under way without waiting (the page is going).
    void abandonAhead(PageSession& page);
    // The page has scrolled, resized or navigated: nothing kept shows it any more.
    void forget();
    // Gives back the memory kept for the next capture.
    void release();
    std::size_t heldBytes() const;

  private:
    struct Capture {
        std::uint64_t generation = ~std::uint64_t(0);
        std::int64_t boundsWidth = 0, boundsHeight = 0;
        QSize viewSize;
        QPointF scroll;
        CaptureRegion region;
        Picture24 pixels;
        bool matches(std::uint64_t g, std::int64_t bw, std::int64_t bh, QSize size, QPointF at) const {
            return generation == g && boundsWidth == bw && boundsHeight == bh && viewSize == size &&
                   scroll == at;
        }
        bool holds(std::int64_t x0, std::int64_t x1, std::int64_t y) const {
            return x0 >= region.x0 && x1 <= region.x1 && y >= region.y0 && y < region.y1;
        }
    };
    struct Key {
        std::uint64_t generation;
        std::int64_t boundsWidth, boundsHeight;
        QSize viewSize;
        QPointF scroll;
    };
    bool put(gdi::HDC dc, const gdi::RECT& bounds, std::int64_t x0, std::int64_t& y0, std::int64_t x1,
             std::int64_t y1, const Key& key);
    std::int64_t aheadPixels() const;

    // The two latest captures: a piece that straddles the end of one takes its first rows from
    // it and the rest from the next, and the piece beside it does the same. Without such a
    // piece only the latest is kept.
    Capture m_latest;
    Capture m_previous;
    // The capture under way for the rows that follow the latest; its pixels stay empty.
    Capture m_ahead;
    std::uint64_t m_aheadId = 0;
    // Bytes of the engine's answer per captured pixel, from the latest capture: how much memory
    // the next answer will take beside its picture.
    double m_answerBytesPerPixel = 1.0;
    // The most the engine was seen to draw at once on this page (see waitDrawn).
    std::int64_t m_drawnPixels = maxWholeViewPixels;
};

} // namespace browser
