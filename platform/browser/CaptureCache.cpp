#include "platform/browser/CaptureCache.h"

#include "platform/browser/BrowserError.h"
#include "platform/browser/BrowserTesting.h"
#include "platform/browser/PageSession.h"
#include "platform/browser/PicturePut.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace browser {

namespace {

// Captures made ahead for the pieces that follow are as large as this many bytes allow for the
// picture and the engine's answers: each capture costs the engine a good deal beyond its pixels
// (some 20 ms here), so few large ones beat many small ones, and the bound keeps a capture in
// pieces lean.
constexpr double aheadBudgetBytes = 48.0 * (1 << 20);
constexpr std::int64_t minAheadPixels = std::int64_t(1) << 20;
constexpr std::int64_t maxAheadPixels = std::int64_t(8) << 20;
constexpr std::int64_t maxAheadRows = 16384;
// What the engine shows while a capture is made must stay within its raster budget.
static_assert(maxAheadPixels <= maxWholeViewPixels);

// The part of a view drawn into bounds (bw x bh) that one capture covers, for the visible
// columns [x0, x1) and rows from y0 on, at least need of them. When the bounds' whole width fits
// one capture: that width, and as many rows as pixels allows, in whole multiples of unit rows
// when there is room for one, so that pieces of unit rows (as a capture in strips asks for)
// never straddle two captures; the rest of the bounds whole when it is no more. Otherwise: as
// many columns from x0 on as one capture can be wide, and need rows, so that the pieces beside
// this one on the same rows come from it. Nothing when the columns [x0, x1) and need rows are
// too large for one capture.
std::optional<CaptureRegion> aheadRegion(std::int64_t bw, std::int64_t bh, std::int64_t x0, std::int64_t x1,
                                         std::int64_t y0, std::int64_t need, std::int64_t unit,
                                         std::int64_t pixels) {
    const std::int64_t limit = std::max(pixels, maxCapturePixels);
    if (x1 - x0 > maxCaptureSide || (x1 - x0) * need > limit) return std::nullopt;
    if (bw > maxCaptureSide) {
        const std::int64_t width = std::max(x1 - x0, std::min(maxCaptureSide, maxCapturePixels / need));
        return CaptureRegion{x0, y0, std::min(bw, x0 + width), std::min(bh, y0 + need)};
    }
    const std::int64_t width = bw;
    if (width * need > limit) return CaptureRegion{x0, y0, x1, std::min(bh, y0 + need)};
    std::int64_t rows = std::min(pixels / width, maxAheadRows);
    if (unit > 0 && rows >= unit) rows = rows / unit * unit;
    rows = std::max(rows, need);
    std::int64_t y1 = std::min(bh, y0 + rows);
    if ((bh - y0) * width <= pixels && bh - y0 <= maxAheadRows) y1 = bh;
    return CaptureRegion{0, y0, width, y1};
}

} // namespace

std::int64_t CaptureCache::aheadPixels() const {
    if (const std::int64_t set = engine::aheadCapturePixels(); set > 0)
        return std::min({set, maxWholeViewPixels, m_drawnPixels});
    // The picture (3 bytes a pixel), its answer and the next answer arriving meanwhile.
    const double perPixel = 3.0 + 2.0 * std::max(0.0, m_answerBytesPerPixel);
    return std::min(std::clamp(std::int64_t(aheadBudgetBytes / perPixel), minAheadPixels, maxAheadPixels),
                    m_drawnPixels);
}

bool CaptureCache::put(gdi::HDC dc, const gdi::RECT& bounds, std::int64_t x0, std::int64_t& y0,
                       std::int64_t x1, std::int64_t y1, const Key& key) {
    while (y0 < y1) {
        const Capture* from = nullptr;
        for (const Capture* c : {&m_latest, &m_previous})
            if (c->matches(key.generation, key.boundsWidth, key.boundsHeight, key.viewSize, key.scroll) &&
                c->holds(x0, x1, y0))
                from = c;
        if (!from) return true;
        const std::int64_t rows = std::min(y1, from->region.y1) - y0;
        // Straight from the capture, no copy in between.
        if (!putPicture(dc, bounds.left + x0, bounds.top + y0, from->pixels, int(x0 - from->region.x0),
                        int(y0 - from->region.y0), int(x1 - x0), int(rows)))
            return false;
        y0 += rows;
    }
    return true;
}

std::optional<bool> CaptureCache::draw(PageSession& page, gdi::HDC dc, const gdi::RECT& bounds,
                                       std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
                                       QSize viewSize, double scale, ScrollQuery& query,
                                       std::uint64_t generation) {
    const std::int64_t bw = std::int64_t(bounds.right) - bounds.left;
    const std::int64_t bh = std::int64_t(bounds.bottom) - bounds.top;
    const std::int64_t asked = y0;
    // Captures end on multiples of the rows asked for, counted from here.
    const std::int64_t unit = y1 - y0;
    // While the scroll offset is being read nothing kept can match (it is read in each new
    // event-loop turn, and kept captures are of the turn they were made in).
    Key key{generation, bw, bh, viewSize, query.guess};
    for (;;) {
        if (!put(dc, bounds, x0, y0, x1, y1, key)) return false;
        if (y0 >= y1) return true;

        CaptureRegion region;
        std::uint64_t id = 0;
        if (m_aheadId && m_ahead.matches(generation, bw, bh, key.viewSize, key.scroll) &&
            m_ahead.holds(x0, x1, y0)) {
            region = m_ahead.region;
            id = std::exchange(m_aheadId, 0);
            m_ahead = Capture();
        } else {
            dropAhead(page);
            const auto wanted = aheadRegion(bw, bh, x0, x1, y0, y1 - y0, unit, aheadPixels());
            if (!wanted) return std::nullopt;
            region = *wanted;
            id = page.sendCapture(region, scale, key.scroll);
        }
        if (!query.known) {
            QPointF actual;
            try {
                page.askScroll(query);
                actual = page.settleScroll(query);
            } catch (...) {
                page.connection().abandon(id);
                throw;
            }
            if (actual != key.scroll) {
                // The page has scrolled since it was last read: the capture shows another
                // place. It is made again once the engine is done with it.
                try {
                    page.waitCapture(id);
                } catch (const BrowserError&) {
                    // Whatever went wrong shows again in the next call.
                }
                key.scroll = actual;
                continue;
            }
        }
        std::optional<Message> drawn = waitDrawn(page, id, region, scale, key.scroll);
        if (!drawn) {
            // More than the engine draws at once on this page: smaller captures from now on, and
            // when the rows asked for are no smaller, the caller captures them in tiles.
            if (region.height() <= y1 - y0) return std::nullopt;
            m_drawnPixels = std::max<std::int64_t>(1, region.width() * region.height() / 2);
            continue;
        }
        Message shot = std::move(*drawn);
        const std::size_t answerBytes = shot.data.size();
        // The engine is free again: the rows after these go to it before these are decoded.
        if (region.y1 < bh && region.x0 == 0 && region.x1 == bw) {
            if (const auto next =
                    aheadRegion(bw, bh, region.x0, region.x1, region.y1, 1, unit, aheadPixels())) {
                m_ahead = Capture();
                m_ahead.generation = generation;
                m_ahead.boundsWidth = bw;
                m_ahead.boundsHeight = bh;
                m_ahead.viewSize = key.viewSize;
                m_ahead.scroll = key.scroll;
                m_ahead.region = *next;
                m_aheadId = page.sendCapture(*next, scale, key.scroll);
            }
        }
        // The new capture takes the memory of an old one (which also spares fresh pages their
        // faults). The latest stays when this piece began in it: the pieces beside this one
        // begin there too. Otherwise neither is needed any more, and both go before the new
        // one is decoded.
        Capture fresh;
        fresh.generation = generation;
        fresh.boundsWidth = bw;
        fresh.boundsHeight = bh;
        fresh.viewSize = key.viewSize;
        fresh.scroll = key.scroll;
        fresh.region = region;
        if (asked < region.y0) {
            fresh.pixels = std::move(m_previous.pixels);
            m_previous = std::move(m_latest);
        } else {
            fresh.pixels = std::move(m_latest.pixels);
            m_previous = Capture();
        }
        m_latest = Capture();
        if (!decodeCapture(shot, region, fresh.pixels)) return false;
        m_answerBytesPerPixel =
            double(answerBytes) / double(std::max<std::int64_t>(1, region.width() * region.height()));
        m_latest = std::move(fresh);
    }
}

bool CaptureCache::fitsOneCapture(std::int64_t bw, std::int64_t bh) const {
    return bw <= maxCaptureSide && bh <= maxAheadRows && bw * bh <= aheadPixels();
}

void CaptureCache::dropAhead(PageSession& page) {
    if (!m_aheadId) return;
    const std::uint64_t id = std::exchange(m_aheadId, 0);
    m_ahead = Capture();
    try {
        page.waitCapture(id);
    } catch (const BrowserError&) {
        // Whatever went wrong shows again in the next call.
    }
}

void CaptureCache::abandonAhead(PageSession& page) {
    if (m_aheadId) page.connection().abandon(std::exchange(m_aheadId, 0));
    m_ahead = Capture();
}

void CaptureCache::forget() {
    m_latest = Capture();
    m_previous = Capture();
    m_ahead.generation = ~std::uint64_t(0); // still under way: waited for before the next capture
}

void CaptureCache::release() {
    m_latest = Capture();
    m_previous = Capture();
}

std::size_t CaptureCache::heldBytes() const {
    return m_latest.pixels.capacity + m_previous.pixels.capacity;
}

} // namespace browser
