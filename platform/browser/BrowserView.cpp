#include "platform/browser/BrowserView.h"

#include "platform/browser/Engine.h"
#include "platform/browser/Pixels.h"
#include "platform/gdi/PixelMemory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

namespace browser {

namespace {

int idleRelease = 10000;
std::int64_t aheadPixelsSet = 0;
std::uint64_t screenshots = 0;

// The largest piece captured at once, in captured pixels: big enough that a view of 1600 x 2000
// comes in one piece, small enough that neither side holds a gigabyte for a huge picture.
constexpr std::int64_t maxCapturePixels = std::int64_t(4) << 20;
constexpr std::int64_t maxCaptureSide = 8192;
// Captures made ahead for the pieces that follow (see PageSession) are as large as this many
// bytes allow for the picture and the engine's answers: each capture costs the engine a good
// deal beyond its pixels (some 20 ms here), so few large ones beat many small ones, and the
// bound keeps a capture in pieces lean.
constexpr double aheadBudgetBytes = 48.0 * (1 << 20);
constexpr std::int64_t minAheadPixels = std::int64_t(1) << 20;
constexpr std::int64_t maxAheadPixels = std::int64_t(14) << 20;
constexpr std::int64_t maxAheadRows = 16384;
// Captures go to the engine one at a time: it makes a clipped, scaled screenshot by changing
// the page's emulated viewport for a moment, and two under way at once spoil each other.
constexpr std::int64_t maxInFlight = 1;

std::map<std::string, PageSession*>& sessionsById() {
    static std::map<std::string, PageSession*> sessions;
    return sessions;
}

gdi::BITMAPINFO topDownInfo(int width, int height, int bits = 32) {
    gdi::BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(gdi::BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = gdi::WORD(bits);
    info.bmiHeader.biCompression = gdi::BI_RGB;
    return info;
}

bool putPixels(gdi::HDC dc, std::int64_t x, std::int64_t y, int width, int height,
               const std::uint32_t* bits) {
    const gdi::BITMAPINFO info = topDownInfo(width, height);
    return gdi::SetDIBitsToDevice(dc, int(x), int(y), gdi::DWORD(width), gdi::DWORD(height), 0, 0, 0,
                                  gdi::UINT(height), bits, &info, gdi::DIB_RGB_COLORS) > 0;
}

// Weights of the source pixels that make up each destination pixel when ratio source pixels
// (ratio >= 1, not necessarily whole) are shrunk into one: an area average, so that a
// stretched view keeps its thin lines as grey rather than dropping them.
struct Tap {
    int first = 0;
    std::vector<float> weights;
};
std::vector<Tap> shrinkTaps(std::int64_t dst0, int count, double ratio, std::int64_t src0, int srcCount) {
    std::vector<Tap> taps{std::size_t(count)};
    for (int i = 0; i < count; ++i) {
        const double a = double(dst0 + i) * ratio - double(src0);
        const double b = a + ratio;
        Tap& t = taps[std::size_t(i)];
        t.first = std::clamp(int(std::floor(a)), 0, srcCount - 1);
        const int last = std::clamp(int(std::ceil(b)) - 1, t.first, srcCount - 1);
        double total = 0;
        for (int s = t.first; s <= last; ++s) {
            const double w = std::max(0.0, std::min(b, double(s + 1)) - std::max(a, double(s)));
            t.weights.push_back(float(w));
            total += w;
        }
        if (total <= 0) {
            t.weights.assign(1, 1.0f);
        } else {
            for (float& w : t.weights)
                w = float(w / total);
        }
    }
    return taps;
}

// Resamples src into a width x height picture, each axis by its own taps.
void shrink(const Pixels& src, const std::vector<Tap>& xTaps, const std::vector<Tap>& yTaps, Pixels& out) {
    out.width = int(xTaps.size());
    out.height = int(yTaps.size());
    out.bgrx.assign(std::size_t(out.width) * std::size_t(out.height), 0);
    std::vector<float> acc(std::size_t(src.width) * 3);
    for (int y = 0; y < out.height; ++y) {
        const Tap& ty = yTaps[std::size_t(y)];
        std::fill(acc.begin(), acc.end(), 0.0f);
        for (std::size_t k = 0; k < ty.weights.size(); ++k) {
            const std::uint32_t* row = src.row(ty.first + int(k));
            const float w = ty.weights[k];
            for (int x = 0; x < src.width; ++x) {
                acc[std::size_t(x) * 3] += w * float(row[x] & 0xFF);
                acc[std::size_t(x) * 3 + 1] += w * float((row[x] >> 8) & 0xFF);
                acc[std::size_t(x) * 3 + 2] += w * float((row[x] >> 16) & 0xFF);
            }
        }
        std::uint32_t* dst = out.row(y);
        for (int x = 0; x < out.width; ++x) {
            const Tap& tx = xTaps[std::size_t(x)];
            float c[3] = {0, 0, 0};
            for (std::size_t k = 0; k < tx.weights.size(); ++k)
                for (int ch = 0; ch < 3; ++ch)
                    c[ch] += tx.weights[k] * acc[std::size_t(tx.first + int(k)) * 3 + std::size_t(ch)];
            auto channel = [](float v) { return std::uint32_t(std::clamp(int(std::lround(v)), 0, 255)); };
            dst[x] = channel(c[0]) | channel(c[1]) << 8 | channel(c[2]) << 16;
        }
    }
}

} // namespace

// --- The page of one view on one engine -----------------------------------------------------

class PageSession {
  public:
    PageSession(BrowserView* view, Engine& engine, QSize size);
    ~PageSession();
    PageSession(const PageSession&) = delete;
    PageSession& operator=(const PageSession&) = delete;

    bool current() const {
        Engine* e = Engine::current();
        return e && e->generation() == m_generation && !e->connection().closed() && !m_gone;
    }
    bool gone() const { return m_gone; }
    Connection& connection() { return m_engine->connection(); }
    QSize viewSize() const { return m_view->size(); }
    const std::string& id() const { return m_sessionId; }

    Message call(const std::string& method, Json params = Json::object()) {
        return connection().call(method, std::move(params), m_sessionId);
    }
    void applySize(QSize size);
    void setLive(bool live, QSize size);
    // The document position of the view's top-left corner. Read once per event-loop turn:
    // nothing the user does can scroll the page while the event loop waits. A capture need not
    // wait for it: it goes to the engine first, made on the guess that the page has not
    // scrolled since the offset was last read, askScroll asks for the offset behind it, and
    // settleScroll has the answer.
    struct ScrollQuery {
        QPointF guess;
        bool known = false;
        std::uint64_t id = 0; // the call under way, if any
        std::uint64_t generation = 0;
    };
    ScrollQuery scrollQuery();
    void askScroll(ScrollQuery& query);
    QPointF settleScroll(ScrollQuery& query);
    // Drops a query whose answer is no longer wanted.
    void abandonScroll(ScrollQuery& query) {
        if (query.id) connection().abandon(std::exchange(query.id, 0));
    }
    QPointF scrollOffset() {
        ScrollQuery query = scrollQuery();
        return settleScroll(query);
    }
    void forgetScroll() {
        m_scrollGeneration = ~std::uint64_t(0);
        forgetCapture();
    }
    void handleEvent(const Message& message);
    void markGone() { m_gone = true; }

    std::uint64_t m_stalledGeneration = ~std::uint64_t(0);
    // The last capture, kept while the event loop has not run: a capture in pieces draws the
    // same view again and again, shifted, and each piece is served from one larger capture
    // instead of asking the engine once per piece. Coordinates are relative to the bounds.
    struct Capture {
        std::uint64_t generation = ~std::uint64_t(0);
        std::int64_t boundsWidth = 0, boundsHeight = 0;
        QSize viewSize;
        QPointF scroll;
        std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        Picture24 pixels;
        bool matches(std::uint64_t g, std::int64_t bw, std::int64_t bh, QSize size, QPointF at) const {
            return generation == g && boundsWidth == bw && boundsHeight == bh && viewSize == size &&
                   scroll == at;
        }
    };
    // The two latest captures: a piece that straddles the end of one takes its first rows from
    // it and the rest from the next, and the piece beside it does the same. Without such a
    // piece only the latest is kept.
    Capture m_capture;
    Capture m_previousCapture;
    // The capture of the rows that follow the latest one, asked for before the latest one is
    // decoded, so that the engine draws while this process decodes. Its pixels field stays
    // empty; id is the call under way.
    Capture m_ahead;
    std::uint64_t m_aheadId = 0;
    // Bytes of the engine's answer per captured pixel, from the latest capture: how much memory
    // the next answer will take beside its picture.
    double m_answerBytesPerPixel = 1.0;
    DecodeScratch m_scratch;
    // Gives back the memory of the captures and of decoding, which is kept from one capture to
    // the next (fresh memory costs more than decoding into it) until the view has been idle.
    void releaseMemory() {
        m_capture = Capture();
        m_previousCapture = Capture();
        m_scratch = DecodeScratch();
    }
    void forgetCapture() {
        m_capture = Capture();
        m_previousCapture = Capture();
        m_ahead.generation = ~std::uint64_t(0); // still under way: waited for before the next capture
    }
    // Waits for a capture under way and drops it: the engine takes one capture at a time.
    void dropAhead() {
        if (!m_aheadId) return;
        const std::uint64_t id = std::exchange(m_aheadId, 0);
        m_ahead = Capture();
        try {
            connection().wait(id);
        } catch (const BrowserError&) {
            // Whatever went wrong shows again in the next call.
        }
    }
    bool m_moveInFlight = false;
    bool m_movePending = false;
    Json m_pendingMove;
    QImage m_liveFrame;

  private:
    BrowserView* m_view;
    Engine* m_engine;
    int m_generation;
    std::string m_targetId;
    std::string m_sessionId;
    bool m_gone = false;
    bool m_live = false;
    std::map<std::string, QString> m_frameUrls;
    std::uint64_t m_scrollGeneration = ~std::uint64_t(0);
    QPointF m_scroll;
};

namespace {

// The part of a view drawn into bounds (bw x bh) that one capture covers, for the visible
// columns [x0, x1) and rows from y0 on, at least need of them. When the bounds' whole width fits
// one capture: that width, and as many rows as pixels allows (a capture made ahead for the
// pieces that follow), in whole multiples of unit rows when there is room for one, so that
// pieces of unit rows (as a capture in strips asks for) never straddle two captures; the rest
// of the bounds whole when it is no more. Otherwise: as many columns from x0 on as one capture
// can be wide, and need rows, so that the pieces beside this one on the same rows come from
// it. Nothing when the columns [x0, x1) and need rows are too large for one capture.
struct Region {
    std::int64_t x0, y0, x1, y1;
};
std::optional<Region> aheadRegion(std::int64_t bw, std::int64_t bh, std::int64_t x0, std::int64_t x1,
                                  std::int64_t y0, std::int64_t need, std::int64_t unit,
                                  std::int64_t pixels) {
    const std::int64_t limit = std::max(pixels, maxCapturePixels);
    if (x1 - x0 > maxCaptureSide || (x1 - x0) * need > limit) return std::nullopt;
    if (bw > maxCaptureSide) {
        const std::int64_t width = std::max(x1 - x0, std::min(maxCaptureSide, maxCapturePixels / need));
        return Region{x0, y0, std::min(bw, x0 + width), std::min(bh, y0 + need)};
    }
    const std::int64_t width = bw;
    if (width * need > limit) return Region{x0, y0, x1, std::min(bh, y0 + need)};
    std::int64_t rows = std::min(pixels / width, maxAheadRows);
    if (unit > 0 && rows >= unit) rows = rows / unit * unit;
    rows = std::max(rows, need);
    std::int64_t y1 = std::min(bh, y0 + rows);
    if ((bh - y0) * width <= pixels && bh - y0 <= maxAheadRows) y1 = bh;
    return Region{0, y0, width, y1};
}

std::int64_t aheadPixels(double answerBytesPerPixel) {
    if (aheadPixelsSet > 0) return aheadPixelsSet;
    // The picture (3 bytes a pixel), its answer and the next answer arriving meanwhile.
    const double perPixel = 3.0 + 2.0 * std::max(0.0, answerBytesPerPixel);
    return std::clamp(std::int64_t(aheadBudgetBytes / perPixel), minAheadPixels, maxAheadPixels);
}

std::uint64_t sendCapture(PageSession& s, const Region& r, double scale, QPointF scroll) {
    // Clip in document coordinates; dividing the device position by the scale, and nothing
    // else, keeps captures that meet exactly adjacent.
    const Json clip = {{"x", scroll.x() + double(r.x0) / scale},
                       {"y", scroll.y() + double(r.y0) / scale},
                       {"width", double(r.x1 - r.x0) / scale},
                       {"height", double(r.y1 - r.y0) / scale},
                       {"scale", scale}};
    ++screenshots;
    return s.connection().send("Page.captureScreenshot",
                               {{"format", "png"}, {"clip", clip}, {"optimizeForSpeed", true}}, s.id());
}

// Decodes a capture's answer into out; false when the picture cannot be read.
bool decodeShot(const Message& shot, const Region& r, Pixels& out, DecodeScratch& scratch) {
    std::vector<std::uint8_t>& png = scratch.png;
    if (!decodeBase64(shot.data.empty() ? shot.json.value("data", std::string()) : shot.data, png) ||
        !decodePng(png.data(), png.size(), out, nullptr, std::size_t(1) << 28, &scratch))
        return false;
    const int expectW = int(r.x1 - r.x0), expectH = int(r.y1 - r.y0);
    if (out.width != expectW || out.height != expectH) {
        // The engine rounds the picture's size itself; a pixel more or less at the far edge is
        // made up with white or cut off.
        Pixels fitted;
        fitted.width = expectW;
        fitted.height = expectH;
        fitted.bgrx.assign(std::size_t(expectW) * std::size_t(expectH), 0xFFFFFFu);
        for (int y = 0; y < std::min(expectH, out.height); ++y)
            std::memcpy(fitted.row(y), out.row(y), std::size_t(std::min(expectW, out.width)) * 4);
        out = std::move(fitted);
    }
    return true;
}

// Decodes a capture's answer into out, reusing its memory; the answer's text is decoded in
// place and freed. False when the picture cannot be read.
bool decodeShot24(Message& shot, const Region& r, Picture24& out) {
    std::string data = shot.data.empty() ? shot.json.value("data", std::string()) : std::move(shot.data);
    shot = Message();
    if (!decodeBase64InPlace(data) ||
        !decodePngBgr24(reinterpret_cast<std::uint8_t*>(data.data()), data.size(), out, nullptr))
        return false;
    data = std::string();
    const int expectW = int(r.x1 - r.x0), expectH = int(r.y1 - r.y0);
    if (out.width != expectW || out.height != expectH) {
        // The engine rounds the picture's size itself; a pixel more or less at the far edge is
        // made up with white or cut off.
        Picture24 fitted;
        fitted.stride = (std::size_t(expectW) * 3 + 3) / 4 * 4;
        if (!fitted.reserve(fitted.stride * std::size_t(expectH))) return false;
        fitted.width = expectW;
        fitted.height = expectH;
        std::memset(fitted.bytes.get(), 0xFF, fitted.stride * std::size_t(expectH));
        for (int y = 0; y < std::min(expectH, out.height); ++y)
            std::memcpy(fitted.row(y), out.row(y), std::size_t(std::min(expectW, out.width)) * 3);
        out = std::move(fitted);
    }
    return true;
}

PageSession::Capture captureOf(const Region& r, std::uint64_t generation, std::int64_t bw, std::int64_t bh,
                               QSize size, QPointF scroll) {
    PageSession::Capture c;
    c.generation = generation;
    c.boundsWidth = bw;
    c.boundsHeight = bh;
    c.viewSize = size;
    c.scroll = scroll;
    c.x0 = r.x0;
    c.y0 = r.y0;
    c.x1 = r.x1;
    c.y1 = r.y1;
    return c;
}

// Puts rows from the latest captures, starting at y0, for as long as they hold the next row;
// y0 moves on. False when the DC refused the pixels.
bool putCached(PageSession& s, gdi::HDC dc, const gdi::RECT& bounds, std::int64_t x0, std::int64_t& y0,
               std::int64_t x1, std::int64_t y1, std::uint64_t generation, QSize size, QPointF scroll) {
    const std::int64_t bw = std::int64_t(bounds.right) - bounds.left;
    const std::int64_t bh = std::int64_t(bounds.bottom) - bounds.top;
    while (y0 < y1) {
        const PageSession::Capture* from = nullptr;
        for (const PageSession::Capture* c : {&s.m_capture, &s.m_previousCapture})
            if (c->matches(generation, bw, bh, size, scroll) && x0 >= c->x0 && x1 <= c->x1 && y0 >= c->y0 &&
                y0 < c->y1)
                from = c;
        if (!from) return true;
        const std::int64_t rows = std::min(y1, from->y1) - y0;
        // Straight from the capture: a top-down DIB of its whole width, the part picked out by
        // the source position.
        const gdi::BITMAPINFO info = topDownInfo(from->pixels.width, from->pixels.height, 24);
        if (gdi::SetDIBitsToDevice(dc, int(bounds.left + x0), int(bounds.top + y0), gdi::DWORD(x1 - x0),
                                   gdi::DWORD(rows), int(x0 - from->x0), int(y0 - from->y0), 0,
                                   gdi::UINT(from->pixels.height), from->pixels.bytes.get(), &info,
                                   gdi::DIB_RGB_COLORS) <= 0)
            return false;
        y0 += rows;
    }
    return true;
}

// Draws the visible rows [y0, y1) and columns [x0, x1) of a view drawn into bounds at one scale,
// from captures made ahead: what a capture in pieces will ask for next is captured with what is
// asked for now, and the capture after that goes to the engine while this one is decoded.
// Nothing when the visible area alone is too large for one capture.
std::optional<bool> drawAhead(PageSession& s, gdi::HDC dc, const gdi::RECT& bounds, std::int64_t x0,
                              std::int64_t y0, std::int64_t x1, std::int64_t y1, double scale,
                              PageSession::ScrollQuery& query, std::uint64_t generation) {
    const std::int64_t bw = std::int64_t(bounds.right) - bounds.left;
    const std::int64_t bh = std::int64_t(bounds.bottom) - bounds.top;
    const QSize size = s.viewSize();
    const std::int64_t asked = y0;
    // Captures end on multiples of the rows asked for, counted from here.
    const std::int64_t unit = y1 - y0;
    // While the scroll offset is being read nothing kept can match (it is read in each new
    // event-loop turn, and kept captures are of the turn they were made in).
    QPointF scroll = query.guess;
    for (;;) {
        if (!putCached(s, dc, bounds, x0, y0, x1, y1, generation, size, scroll)) return false;
        if (y0 >= y1) return true;

        Region region{};
        std::uint64_t id = 0;
        const PageSession::Capture& ahead = s.m_ahead;
        if (s.m_aheadId && ahead.matches(generation, bw, bh, size, scroll) && x0 >= ahead.x0 &&
            x1 <= ahead.x1 && y0 >= ahead.y0 && y0 < ahead.y1) {
            region = Region{ahead.x0, ahead.y0, ahead.x1, ahead.y1};
            id = std::exchange(s.m_aheadId, 0);
            s.m_ahead = PageSession::Capture();
        } else {
            s.dropAhead();
            const auto wanted =
                aheadRegion(bw, bh, x0, x1, y0, y1 - y0, unit, aheadPixels(s.m_answerBytesPerPixel));
            if (!wanted) return std::nullopt;
            region = *wanted;
            id = sendCapture(s, region, scale, scroll);
        }
        if (!query.known) {
            QPointF actual;
            try {
                s.askScroll(query);
                actual = s.settleScroll(query);
            } catch (...) {
                s.connection().abandon(id);
                throw;
            }
            if (actual != scroll) {
                // The page has scrolled since it was last read: the capture shows another
                // place. It is made again once the engine is done with it.
                try {
                    s.connection().wait(id);
                } catch (const BrowserError&) {
                    // Whatever went wrong shows again in the next call.
                }
                scroll = actual;
                continue;
            }
        }
        Message shot = s.connection().wait(id);
        const std::size_t answerBytes = shot.data.size();
        // The engine is free again: the rows after these go to it before these are decoded.
        if (region.y1 < bh && region.x0 == 0 && region.x1 == bw) {
            if (const auto next = aheadRegion(bw, bh, region.x0, region.x1, region.y1, 1, unit,
                                              aheadPixels(s.m_answerBytesPerPixel))) {
                s.m_ahead = captureOf(*next, generation, bw, bh, size, scroll);
                s.m_aheadId = sendCapture(s, *next, scale, scroll);
            }
        }
        // The new capture takes the memory of an old one (which also spares fresh pages their
        // faults). The latest stays when this piece began in it: the pieces beside this one
        // begin there too. Otherwise neither is needed any more, and both go before the new
        // one is decoded.
        PageSession::Capture fresh = captureOf(region, generation, bw, bh, size, scroll);
        if (asked < region.y0) {
            fresh.pixels = std::move(s.m_previousCapture.pixels);
            s.m_previousCapture = std::move(s.m_capture);
        } else {
            fresh.pixels = std::move(s.m_capture.pixels);
            s.m_previousCapture = PageSession::Capture();
        }
        s.m_capture = PageSession::Capture();
        if (!decodeShot24(shot, region, fresh.pixels)) return false;
        s.m_answerBytesPerPixel =
            double(answerBytes) /
            double(std::max<std::int64_t>(1, (region.x1 - region.x0) * (region.y1 - region.y0)));
        s.m_capture = std::move(fresh);
    }
}

void handleBrowserEvent(const Message& message) {
    const std::string method = message.json.value("method", std::string());
    if (method == "Target.detachedFromTarget") {
        const std::string session = message.json["params"].value("sessionId", std::string());
        auto it = sessionsById().find(session);
        if (it != sessionsById().end()) it->second->markGone();
    }
}

} // namespace

PageSession::PageSession(BrowserView* view, Engine& engine, QSize size)
    : m_view(view), m_engine(&engine), m_generation(engine.generation()) {
    Connection& c = engine.connection();
    c.setEventHandler({}, handleBrowserEvent);
    m_targetId =
        c.call("Target.createTarget", {{"url", "about:blank"}}).json.value("targetId", std::string());
    try {
        m_sessionId = c.call("Target.attachToTarget", {{"targetId", m_targetId}, {"flatten", true}})
                          .json.value("sessionId", std::string());
        sessionsById()[m_sessionId] = this;
        c.setEventHandler(m_sessionId, [this](const Message& m) { handleEvent(m); });
        call("Page.enable");
        applySize(size);
    } catch (...) {
        if (!c.closed()) c.sendWithoutReply("Target.closeTarget", {{"targetId", m_targetId}}, {});
        if (!m_sessionId.empty()) {
            c.removeEventHandler(m_sessionId);
            sessionsById().erase(m_sessionId);
        }
        throw;
    }
}

PageSession::~PageSession() {
    sessionsById().erase(m_sessionId);
    Engine* e = Engine::current();
    if (e && e->generation() == m_generation) {
        if (m_aheadId) e->connection().abandon(m_aheadId);
        e->connection().removeEventHandler(m_sessionId);
        if (!e->connection().closed())
            e->connection().sendWithoutReply("Target.closeTarget", {{"targetId", m_targetId}}, {});
    }
}

void PageSession::applySize(QSize size) {
    call("Emulation.setDeviceMetricsOverride",
         {{"width", size.width()}, {"height", size.height()}, {"deviceScaleFactor", 1}, {"mobile", false}});
    forgetScroll();
    if (m_live) {
        // Frames follow the view's size only when the screencast starts.
        m_live = false;
        connection().sendWithoutReply("Page.stopScreencast", Json::object(), m_sessionId);
        setLive(true, size);
    }
}

void PageSession::setLive(bool live, QSize size) {
    if (live == m_live) return;
    m_live = live;
    if (live) {
        // Frames as large as the view: the live view shows them 1:1. The engine sends the next
        // frame only after the last one was acknowledged, which happens when it is delivered,
        // so a busy UI thread is never flooded.
        call("Page.startScreencast", {{"format", "png"},
                                      {"maxWidth", size.width()},
                                      {"maxHeight", size.height()},
                                      {"everyNthFrame", 1}});
    } else {
        connection().sendWithoutReply("Page.stopScreencast", Json::object(), m_sessionId);
        m_liveFrame = QImage();
    }
}

PageSession::ScrollQuery PageSession::scrollQuery() {
    ScrollQuery query;
    query.guess = m_scroll;
    query.generation = eventLoopGeneration();
    query.known = query.generation == m_scrollGeneration;
    return query;
}

void PageSession::askScroll(ScrollQuery& query) {
    if (!query.known && !query.id)
        query.id = connection().send("Page.getLayoutMetrics", Json::object(), m_sessionId);
}

QPointF PageSession::settleScroll(ScrollQuery& query) {
    if (query.known) return m_scroll;
    askScroll(query);
    const Json metrics = connection().wait(std::exchange(query.id, 0)).json;
    const Json viewport = metrics.value("cssVisualViewport", Json::object());
    m_scroll = QPointF(viewport.value("pageX", 0.0), viewport.value("pageY", 0.0));
    m_scrollGeneration = query.generation;
    query.known = true;
    return m_scroll;
}

void PageSession::handleEvent(const Message& message) {
    const std::string method = message.json.value("method", std::string());
    const Json& params = message.json.contains("params") ? message.json["params"] : Json::object();
    if (method == "Page.frameNavigated") {
        const Json& frame = params.value("frame", Json::object());
        // An error page stands for the address that failed, as the user typed it.
        std::string url = frame.value("unreachableUrl", std::string());
        if (url.empty()) url = frame.value("url", std::string()) + frame.value("urlFragment", std::string());
        m_frameUrls[frame.value("id", std::string())] = QString::fromStdString(url);
        forgetScroll();
    } else if (method == "Page.frameStoppedLoading") {
        // Frames whose navigation we did not see (the blank page the view starts with) are
        // not reported.
        auto it = m_frameUrls.find(params.value("frameId", std::string()));
        if (it != m_frameUrls.end()) {
            const QString frameId = QString::fromStdString(it->first);
            const QString url = it->second;
            // A receiver may delete the view, and this page with it.
            QPointer<BrowserView> view(m_view);
            const bool live = m_live;
            emit view->documentComplete(frameId, url);
            if (view && !live) emit view->contentChanged();
        }
    } else if (method == "Page.frameDetached") {
        m_frameUrls.erase(params.value("frameId", std::string()));
    } else if (method == "Inspector.targetCrashed" || method == "Inspector.detached") {
        m_gone = true;
        m_liveFrame = QImage();
        emit m_view->contentChanged();
    } else if (method == "Page.screencastFrame") {
        connection().sendWithoutReply("Page.screencastFrameAck",
                                      {{"sessionId", params.value("sessionId", 0)}}, m_sessionId);
        if (!m_live) return;
        std::vector<std::uint8_t> png;
        Pixels pixels;
        if (!decodeBase64(message.data.empty() ? params.value("data", std::string()) : message.data, png) ||
            !decodePng(png.data(), png.size(), pixels, nullptr))
            return;
        // Right after a resize the engine may still send the old layout squeezed to the new
        // size; only a picture of the view as it is, 1:1, is shown.
        if (QSize(pixels.width, pixels.height) != m_view->size()) return;
        QImage frame(pixels.width, pixels.height, QImage::Format_RGB32);
        if (frame.isNull()) return;
        for (int y = 0; y < pixels.height; ++y)
            std::memcpy(frame.scanLine(y), pixels.row(y), std::size_t(pixels.width) * 4);
        m_liveFrame = std::move(frame);
        emit m_view->contentChanged();
    }
}

// --- BrowserView ----------------------------------------------------------------------------

BrowserView::BrowserView(QObject* parent) : QObject(parent) {
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (m_session) m_session->releaseMemory();
        // The strips and pictures of the last capture, kept for the next one.
        gdi::dropKeptPixelMemory();
    });
}

BrowserView::~BrowserView() = default;

PageSession* BrowserView::existingSession() {
    if (m_session && m_session->current()) return m_session.get();
    return nullptr;
}

PageSession& BrowserView::session() {
    Engine& engine = Engine::shared();
    bool renavigate = false;
    if (m_session && (!m_session->current() || m_session->gone())) {
        m_session.reset();
        renavigate = true;
    }
    if (!m_session) {
        m_session = std::make_unique<PageSession>(this, engine, m_size);
        if (m_live) m_session->setLive(true, m_size);
        // A new engine, or a page that crashed: bring back what the view showed.
        if (renavigate && !m_address.isEmpty()) {
            const QUrl url = addressToUrl(m_address);
            m_session->call("Page.navigate", {{"url", url.toString(QUrl::FullyEncoded).toStdString()}});
        }
    }
    return *m_session;
}

QUrl BrowserView::addressToUrl(const QString& address) {
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty()) return {};
    if (trimmed.startsWith(QLatin1Char('/')) || trimmed.startsWith(QLatin1String("~/")) ||
        trimmed.startsWith(QLatin1String("./")) || trimmed.startsWith(QLatin1String("../"))) {
        QString path = trimmed;
        if (path.startsWith(QLatin1Char('~'))) path = QDir::homePath() + path.mid(1);
        return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    }
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    // host:port looks like a scheme but is not one.
    static const QRegularExpression hostPort(QStringLiteral("^[A-Za-z0-9.-]+:\\d+(/|$)"));
    if (scheme.match(trimmed).hasMatch() && !hostPort.match(trimmed).hasMatch()) return QUrl(trimmed);
    if (QFileInfo(trimmed).isFile()) return QUrl::fromLocalFile(QFileInfo(trimmed).absoluteFilePath());
    return QUrl(QStringLiteral("http://") + trimmed);
}

void BrowserView::navigate(const QString& address) {
    const QUrl url = addressToUrl(address);
    if (!url.isValid() || url.isEmpty())
        throw BrowserError(QStringLiteral("\"%1\" is not an address that can be opened.").arg(address));
    PageSession& s = session();
    s.forgetScroll();
    Message result;
    try {
        result = s.call("Page.navigate", {{"url", url.toString(QUrl::FullyEncoded).toStdString()}});
    } catch (const BrowserError& e) {
        throw BrowserError(QStringLiteral("Could not open \"%1\": %2").arg(address, e.text()));
    }
    // A load error (unknown host, missing file) comes back as errorText; the engine shows its
    // own error page for it, as a browser does, so it is not raised.
    m_address = address;
    m_mainFrameId = QString::fromStdString(result.json.value("frameId", std::string()));
    m_navigationError = QString::fromStdString(result.json.value("errorText", std::string()));
}

QSize BrowserView::documentSize() {
    const Json metrics = session().call("Page.getLayoutMetrics").json;
    const Json content = metrics.value("cssContentSize", metrics.value("contentSize", Json::object()));
    const double w = content.value("width", 0.0);
    const double h = content.value("height", 0.0);
    // Whole pixels that hold all of the document.
    return QSize(int(std::min(std::ceil(w), double(maxDimension))),
                 int(std::min(std::ceil(h), double(maxDimension))));
}

void BrowserView::resize(int width, int height) {
    if (width < 1 || height < 1 || width > maxDimension || height > maxDimension)
        throw BrowserError(
            QStringLiteral("The browser view cannot be %1 x %2 pixels: each side must be from 1 "
                           "to %3 pixels.")
                .arg(width)
                .arg(height)
                .arg(maxDimension));
    const QSize size(width, height);
    if (size == m_size) return;
    const QSize previous = m_size;
    m_size = size;
    // Without a running page the size waits for the next one, which is made at this size.
    if (PageSession* s = existingSession()) {
        try {
            s->applySize(m_size);
        } catch (const BrowserError&) {
            m_size = previous;
            throw;
        }
    }
}

void BrowserView::setLiveView(bool live) {
    if (live == m_live) return;
    m_live = live;
    if (PageSession* s = existingSession()) {
        try {
            s->setLive(live, m_size);
        } catch (const BrowserError&) {
            // The live view shows nothing new then; the next page made takes the setting up.
        }
    }
}

QImage BrowserView::liveFrame() const {
    if (m_session && m_session->current() && !m_session->gone()) return m_session->m_liveFrame;
    return {};
}

bool BrowserView::draw(gdi::HDC dc, const gdi::RECT& bounds) {
    if (!dc) return false;
    const std::int64_t bw = std::int64_t(bounds.right) - bounds.left;
    const std::int64_t bh = std::int64_t(bounds.bottom) - bounds.top;
    if (bw <= 0 || bh <= 0 || m_size.isEmpty()) return true;
    gdi::RECT clip{};
    const int kind = gdi::GetClipBox(dc, &clip);
    if (kind == gdi::ERROR_REGION) return false;
    // The part of the bounds that can be seen, relative to the bounds' top-left corner.
    const std::int64_t x0 = std::max<std::int64_t>(bounds.left, clip.left) - bounds.left;
    std::int64_t y0 = std::max<std::int64_t>(bounds.top, clip.top) - bounds.top;
    const std::int64_t x1 = std::min<std::int64_t>(bounds.right, clip.right) - bounds.left;
    const std::int64_t y1 = std::min<std::int64_t>(bounds.bottom, clip.bottom) - bounds.top;
    if (kind == gdi::NULLREGION || x1 <= x0 || y1 <= y0) return true;

    if (m_address.isEmpty() && !m_session) {
        // Nothing loaded yet: the view is a blank page, and no engine is needed to draw it.
        const std::int64_t rows = std::max<std::int64_t>(1, maxCapturePixels / (x1 - x0));
        std::vector<std::uint32_t> white;
        for (std::int64_t y = y0; y < y1; y += rows) {
            const std::int64_t h = std::min(rows, y1 - y);
            white.assign(std::size_t((x1 - x0) * h), 0xFFFFFFu);
            if (!putPixels(dc, bounds.left + x0, bounds.top + y, int(x1 - x0), int(h), white.data()))
                return false;
        }
        return true;
    }

    const double sx = double(bw) / m_size.width();
    const double sy = double(bh) / m_size.height();
    // One scale for both axes when they differ only by the truncation of a size (a picture of
    // the view at some percentage): then pieces drawn with shifted bounds join without a seam.
    // Otherwise capture at the larger scale and shrink the other axis, so that nothing is
    // ever enlarged from pixels.
    const bool uniform = std::abs(double(bh) - std::round(m_size.height() * sx)) <= 1.0 &&
                         std::abs(double(bw) - std::round(m_size.width() * sy)) <= 1.0;
    const double scale = std::max(sx, sy);
    const double rx = uniform ? 1.0 : scale / sx;
    const double ry = uniform ? 1.0 : scale / sy;

    try {
        PageSession& s = session();
        // The memory kept for the next draw goes once the view has been idle a while after this one.
        struct RestartIdle {
            QTimer& timer;
            ~RestartIdle() { timer.start(idleRelease); }
        } restartIdle{m_idle};
        const std::uint64_t generation = eventLoopGeneration();
        // A page that let a capture run out of time will not answer the rest of a capture in
        // pieces either; each piece would wait the whole time limit again.
        if (s.m_stalledGeneration == generation) return false;
        PageSession::ScrollQuery query = s.scrollQuery();
        // Whichever way this ends, no answer is left waiting for a caller that has gone.
        struct Settle {
            PageSession& s;
            PageSession::ScrollQuery& query;
            ~Settle() { s.abandonScroll(query); }
        } settle{s, query};

        if (uniform) {
            try {
                if (const auto done = drawAhead(s, dc, bounds, x0, y0, x1, y1, scale, query, generation))
                    return *done;
            } catch (const BrowserError&) {
                s.m_stalledGeneration = generation;
                throw;
            }
        }
        const QPointF scroll = s.settleScroll(query);

        // Pieces of the visible area, each small enough to capture at once.
        s.dropAhead();
        const std::int64_t tileW = std::max<std::int64_t>(
            1, std::min<std::int64_t>(x1 - x0, std::int64_t(double(maxCaptureSide) / rx)));
        const std::int64_t tileH = std::max<std::int64_t>(
            1, std::min<std::int64_t>(y1 - y0,
                                      std::int64_t(double(maxCapturePixels) / (double(tileW) * rx * ry))));
        struct Piece {
            std::int64_t tx, ty, tw, th, cx0, cy0, cx1, cy1;
            std::uint64_t id = 0;
        };
        std::vector<Piece> pieces;
        for (std::int64_t ty = y0; ty < y1; ty += tileH) {
            const std::int64_t th = std::min(tileH, y1 - ty);
            for (std::int64_t tx = x0; tx < x1; tx += tileW) {
                const std::int64_t tw = std::min(tileW, x1 - tx);
                // The captured pixels that cover this piece.
                pieces.push_back({tx, ty, tw, th, std::int64_t(std::floor(double(tx) * rx)),
                                  std::int64_t(std::floor(double(ty) * ry)),
                                  std::int64_t(std::ceil(double(tx + tw) * rx)),
                                  std::int64_t(std::ceil(double(ty + th) * ry))});
            }
        }
        Connection& connection = s.connection();
        auto send = [&](Piece& p) {
            // Clip in document coordinates; dividing the device position by the scale, and
            // nothing else, keeps neighbouring pieces exactly adjacent.
            const Json clip = {{"x", scroll.x() + double(p.cx0) / scale},
                               {"y", scroll.y() + double(p.cy0) / scale},
                               {"width", double(p.cx1 - p.cx0) / scale},
                               {"height", double(p.cy1 - p.cy0) / scale},
                               {"scale", scale}};
            ++screenshots;
            p.id = connection.send("Page.captureScreenshot",
                                   {{"format", "png"}, {"clip", clip}, {"optimizeForSpeed", true}}, s.id());
        };
        std::size_t sent = 0;
        std::size_t done = 0;
        // Whatever way this ends, no answer is left waiting for a caller that has gone.
        struct Abandon {
            Connection& connection;
            std::vector<Piece>& pieces;
            std::size_t& done;
            std::size_t& sent;
            ~Abandon() {
                for (std::size_t i = done; i < sent; ++i)
                    connection.abandon(pieces[i].id);
            }
        } abandon{connection, pieces, done, sent};

        for (; done < pieces.size(); ++done) {
            while (sent < pieces.size() && sent < done + std::size_t(maxInFlight))
                send(pieces[sent++]);
            Piece& p = pieces[done];
            Message shot;
            try {
                shot = connection.wait(p.id);
            } catch (const BrowserError&) {
                // A page that let a capture run out of time will not answer the rest of a
                // capture in pieces either; each piece would wait the whole time limit again.
                s.m_stalledGeneration = generation;
                ++done; // this one is no longer pending
                throw;
            }
            Pixels captured;
            if (!decodeShot(shot, Region{p.cx0, p.cy0, p.cx1, p.cy1}, captured, s.m_scratch)) return false;
            if (uniform) {
                if (!putPixels(dc, bounds.left + p.tx, bounds.top + p.ty, int(p.tw), int(p.th),
                               captured.bgrx.data()))
                    return false;
            } else {
                Pixels shrunk;
                shrink(captured, shrinkTaps(p.tx, int(p.tw), rx, p.cx0, captured.width),
                       shrinkTaps(p.ty, int(p.th), ry, p.cy0, captured.height), shrunk);
                if (!putPixels(dc, bounds.left + p.tx, bounds.top + p.ty, int(p.tw), int(p.th),
                               shrunk.bgrx.data()))
                    return false;
            }
        }
        return true;
    } catch (const BrowserError&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// --- Input ----------------------------------------------------------------------------------

namespace {

const char* buttonName(BrowserView::MouseButton b) {
    switch (b) {
    case BrowserView::MouseButton::Left:
        return "left";
    case BrowserView::MouseButton::Middle:
        return "middle";
    case BrowserView::MouseButton::Right:
        return "right";
    default:
        return "none";
    }
}

} // namespace

void BrowserView::sendMouse(MouseAction action, int x, int y, MouseButton button, int buttons, int modifiers,
                            int clickCount) {
    PageSession* s = existingSession();
    if (!s || s->gone()) return;
    Json params = {{"type", action == MouseAction::Press     ? "mousePressed"
                            : action == MouseAction::Release ? "mouseReleased"
                                                             : "mouseMoved"},
                   {"x", x},
                   {"y", y},
                   {"button", buttonName(button)},
                   {"buttons", buttons},
                   {"modifiers", modifiers},
                   {"clickCount", clickCount}};
    s->forgetScroll();
    if (action != MouseAction::Move) {
        s->connection().sendWithoutReply("Input.dispatchMouseEvent", params, s->id());
        return;
    }
    // Moves come far faster than a page handles them; only the latest one waits to be sent.
    if (s->m_moveInFlight) {
        s->m_pendingMove = std::move(params);
        s->m_movePending = true;
        return;
    }
    s->m_moveInFlight = true;
    QPointer<BrowserView> self(this);
    std::function<void(Json)> sendMove;
    auto reply = std::make_shared<Connection::Reply>();
    *reply = [self, reply](const Message*, const QString&) {
        if (!self) return;
        PageSession* s = self->existingSession();
        if (!s) return;
        s->m_moveInFlight = false;
        if (s->m_movePending) {
            s->m_movePending = false;
            s->m_moveInFlight = true;
            s->connection().callAsync("Input.dispatchMouseEvent", std::move(s->m_pendingMove), s->id(),
                                      [reply](const Message* m, const QString& e) { (*reply)(m, e); });
        }
    };
    s->connection().callAsync("Input.dispatchMouseEvent", std::move(params), s->id(),
                              [reply](const Message* m, const QString& e) { (*reply)(m, e); });
}

void BrowserView::sendWheel(int x, int y, double deltaX, double deltaY, int modifiers) {
    PageSession* s = existingSession();
    if (!s || s->gone()) return;
    s->forgetScroll();
    s->connection().sendWithoutReply("Input.dispatchMouseEvent",
                                     {{"type", "mouseWheel"},
                                      {"x", x},
                                      {"y", y},
                                      {"deltaX", deltaX},
                                      {"deltaY", deltaY},
                                      {"modifiers", modifiers}},
                                     s->id());
}

void BrowserView::sendKey(const Key& key) {
    PageSession* s = existingSession();
    if (!s || s->gone()) return;
    s->forgetScroll();
    Json params = {{"type", !key.down            ? "keyUp"
                            : key.text.isEmpty() ? "rawKeyDown"
                                                 : "keyDown"},
                   {"modifiers", key.modifiers},
                   {"windowsVirtualKeyCode", key.windowsKeyCode},
                   {"key", key.key.toStdString()},
                   {"code", key.code.toStdString()},
                   {"autoRepeat", key.autoRepeat}};
    if (key.down && !key.text.isEmpty()) {
        params["text"] = key.text.toStdString();
        params["unmodifiedText"] = key.text.toStdString();
    }
    s->connection().sendWithoutReply("Input.dispatchKeyEvent", params, s->id());
}

// --- Free functions -------------------------------------------------------------------------

int OleDraw(BrowserView* view, gdi::DWORD aspect, gdi::HDC dc, const gdi::RECT* bounds) {
    if (!view || !dc || !bounds) return E_INVALIDARG;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    return view->draw(dc, *bounds) ? S_OK : E_FAIL;
}

std::uint64_t eventLoopGeneration() {
    static std::uint64_t generation = 0;
    static bool posted = false;
    if (!posted && QCoreApplication::instance()) {
        posted = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [] {
                ++generation;
                posted = false;
            },
            Qt::QueuedConnection);
    }
    return generation;
}

namespace engine {

std::uint64_t screenshotCount() {
    return screenshots;
}

void setAheadCapturePixels(std::int64_t pixels) {
    aheadPixelsSet = std::max<std::int64_t>(0, pixels);
}

void setIdleReleaseMs(int ms) {
    idleRelease = std::max(1, ms);
}

std::size_t heldCaptureBytes(BrowserView* view) {
    if (!view || !view->m_session) return 0;
    const PageSession& s = *view->m_session;
    return s.m_capture.pixels.capacity + s.m_previousCapture.pixels.capacity + s.m_scratch.png.capacity() +
           s.m_scratch.compressed.capacity() + s.m_scratch.raw.capacity();
}

long enginePid() {
    Engine* e = Engine::current();
    return e ? long(e->pid()) : 0;
}

void shutdownEngine() {
    Engine::shutdown();
}

QByteArray rawPageCall(BrowserView* view, const QString& method, const QByteArray& paramsJson) {
    PageSession& s = view->session();
    s.dropAhead();
    Json params =
        paramsJson.isEmpty() ? Json::object() : Json::parse(paramsJson.toStdString(), nullptr, false);
    if (params.is_discarded()) throw BrowserError(QStringLiteral("The parameters are not JSON."));
    Message result = s.call(method.toStdString(), std::move(params));
    if (!result.data.empty()) return QByteArray::fromStdString(result.data);
    return QByteArray::fromStdString(result.json.dump());
}

} // namespace engine

} // namespace browser
