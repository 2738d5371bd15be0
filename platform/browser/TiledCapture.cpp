#include "platform/browser/TiledCapture.h"

#include "platform/browser/BrowserError.h"
#include "platform/browser/CaptureTypes.h"
#include "platform/browser/PageSession.h"
#include "platform/browser/PicturePut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace browser {

namespace {

// The fewest rows a tile is split into when the engine does not draw it at once.
constexpr std::int64_t minSplitRows = 64;

// Weights of the source pixels that make up each destination pixel when ratio source pixels
// (ratio >= 1, not necessarily whole) are shrunk into one.
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

} // namespace

bool shrinkArea(const Picture24& src, std::int64_t sx0, std::int64_t sy0, std::int64_t dx0, std::int64_t dy0,
                int width, int height, double rx, double ry, Picture24& out) {
    if (!out.resize(width, height)) return false;
    const std::vector<Tap> xTaps = shrinkTaps(dx0, width, rx, sx0, src.width);
    const std::vector<Tap> yTaps = shrinkTaps(dy0, height, ry, sy0, src.height);
    std::vector<float> acc(std::size_t(src.width) * 3);
    for (int y = 0; y < height; ++y) {
        const Tap& ty = yTaps[std::size_t(y)];
        std::fill(acc.begin(), acc.end(), 0.0f);
        for (std::size_t k = 0; k < ty.weights.size(); ++k) {
            const std::uint8_t* row = src.row(ty.first + int(k));
            const float w = ty.weights[k];
            for (std::size_t i = 0; i < acc.size(); ++i)
                acc[i] += w * float(row[i]);
        }
        std::uint8_t* dst = out.row(y);
        for (int x = 0; x < width; ++x) {
            const Tap& tx = xTaps[std::size_t(x)];
            float c[3] = {0, 0, 0};
            for (std::size_t k = 0; k < tx.weights.size(); ++k)
                for (int ch = 0; ch < 3; ++ch)
                    c[ch] += tx.weights[k] * acc[std::size_t(tx.first + int(k)) * 3 + std::size_t(ch)];
            for (int ch = 0; ch < 3; ++ch)
                dst[3 * x + ch] = std::uint8_t(std::clamp(int(std::lround(c[ch])), 0, 255));
        }
    }
    return true;
}

bool drawTiled(PageSession& page, const TiledDraw& d) {
    const bool uniform = d.rx == 1.0 && d.ry == 1.0;
    const std::int64_t tileW = std::max<std::int64_t>(
        1, std::min<std::int64_t>(d.x1 - d.x0, std::int64_t(double(maxCaptureSide) / d.rx)));
    const std::int64_t tileH = std::max<std::int64_t>(
        1, std::min<std::int64_t>(d.y1 - d.y0,
                                  std::int64_t(double(maxCapturePixels) / (double(tileW) * d.rx * d.ry))));
    struct Tile {
        std::int64_t x, y, w, h;
        CaptureRegion captured; // the captured pixels that cover it
    };
    auto tile = [&](std::int64_t tx, std::int64_t ty, std::int64_t tw, std::int64_t th) {
        return Tile{tx, ty, tw, th,
                    CaptureRegion{std::int64_t(std::floor(double(tx) * d.rx)),
                                  std::int64_t(std::floor(double(ty) * d.ry)),
                                  std::int64_t(std::ceil(double(tx + tw) * d.rx)),
                                  std::int64_t(std::ceil(double(ty + th) * d.ry))}};
    };
    // Taken from the back: the first tile last.
    std::vector<Tile> tiles;
    for (std::int64_t ty = d.y0; ty < d.y1; ty += tileH)
        for (std::int64_t tx = d.x0; tx < d.x1; tx += tileW)
            tiles.push_back(tile(tx, ty, std::min(tileW, d.x1 - tx), std::min(tileH, d.y1 - ty)));
    std::reverse(tiles.begin(), tiles.end());
    // One capture under way at a time: the engine makes a clipped, scaled screenshot by changing
    // the page's emulated viewport for a moment, and two at once spoil each other. Whichever
    // way this ends, no answer is left waiting for a caller that has gone.
    std::uint64_t pending = 0;
    struct Abandon {
        PageSession& page;
        std::uint64_t& id;
        ~Abandon() {
            if (id) page.connection().abandon(id);
        }
    } abandon{page, pending};

    Picture24 captured;
    Picture24 shrunk;
    while (!tiles.empty()) {
        const Tile t = tiles.back();
        tiles.pop_back();
        pending = page.sendCapture(t.captured, d.scale, d.scroll);
        std::optional<Message> drawn = waitDrawn(page, pending, t.captured, d.scale, d.scroll);
        pending = 0;
        if (!drawn) {
            // The engine did not draw all of the tile at once: its two halves, each on its own.
            if (t.h < 2 * minSplitRows)
                throw BrowserError(QStringLiteral(
                    "The page could not be drawn completely: it kept changing while it was captured."));
            tiles.push_back(tile(t.x, t.y + t.h / 2, t.w, t.h - t.h / 2));
            tiles.push_back(tile(t.x, t.y, t.w, t.h / 2));
            continue;
        }
        Message& shot = *drawn;
        if (!decodeCapture(shot, t.captured, captured)) return false;
        if (uniform) {
            if (!putPicture(d.dc, d.bounds.left + t.x, d.bounds.top + t.y, captured, 0, 0, int(t.w),
                            int(t.h)))
                return false;
        } else {
            if (!shrinkArea(captured, t.captured.x0, t.captured.y0, t.x, t.y, int(t.w), int(t.h), d.rx, d.ry,
                            shrunk) ||
                !putPicture(d.dc, d.bounds.left + t.x, d.bounds.top + t.y, shrunk, 0, 0, int(t.w), int(t.h)))
                return false;
        }
    }
    return true;
}

} // namespace browser
