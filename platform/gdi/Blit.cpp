#include "platform/gdi/Blit.h"

#include "platform/gdi/RowConvert.h"

#include <QPainter>
#include <QPrinter>
#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

namespace gdi::detail {

namespace {

using std::int64_t;
using std::uint32_t;
using std::uint8_t;

// floor(j * s / d) for j >= 0 without overflow, whatever the sizes.
inline int64_t mapFloor(int64_t j, int64_t s, int64_t d) {
    return int64_t((__int128(j) * s) / d);
}
inline int64_t ceilDiv(int64_t a, int64_t b, int64_t d) {
    return int64_t((__int128(a) * b + d - 1) / d);
}

// Buffers reused from call to call: drawing a picture one row at a time must not cost an
// allocation per row. Everything runs on the UI thread.
struct Scratch {
    std::vector<int> cols;
    std::vector<uint32_t> source;
    std::vector<uint32_t> dest;
    std::vector<uint32_t> row;
    std::vector<int64_t> starts;
    std::vector<int64_t> ends;
    std::vector<uint64_t> sums;
};
Scratch& scratch() {
    static Scratch s;
    return s;
}
template <typename T> T* sized(std::vector<T>& v, std::size_t n) {
    if (v.size() < n) v.resize(n);
    return v.data();
}

void rgb32ToRgb24(const uint32_t* s, uint8_t* d, int n) {
    packRowTo24(reinterpret_cast<const uint8_t*>(s), d, std::size_t(n), 4, false);
}

void rgb24ToRgb32(const uint8_t* s, uint32_t* d, int n, uint32_t alpha) {
    spreadRowTo32(s, d, std::size_t(n), alpha);
}

void gather24ToRgb32(const uint8_t* row, const int* cols, uint32_t* d, int n, uint32_t alpha) {
    for (int i = 0; i < n; ++i) {
        const uint8_t* p = row + 3 * std::ptrdiff_t(cols[i]);
        d[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | alpha;
    }
}

void noSourceOperation(const Surface& dst, int64_t l, int64_t t, int64_t r, int64_t b, DWORD rop) {
    const int x = int(l), n = int(r - l);
    const uint32_t mask = dst.format.valueMask();
    if (rop == BLACKNESS || rop == WHITENESS) {
        for (int64_t y = t; y < b; ++y)
            fillNativeSpan(dst, int(y), x, n, rop == BLACKNESS ? 0 : mask);
        return;
    }
    uint32_t* buffer = sized(scratch().dest, std::size_t(n));
    for (int64_t y = t; y < b; ++y) {
        readNativeSpan(dst, int(y), x, n, buffer);
        applyRop(rop, nullptr, buffer, n, mask);
        writeNativeSpan(dst, int(y), x, n, buffer);
    }
}

// Shrinking under BLACKONWHITE, WHITEONBLACK or HALFTONE: every source pixel that a destination
// pixel stands for takes part (AND, OR or the average), not just the one nearest neighbour.
RECT combineBlit(const Surface& dst, int64_t L, int64_t T, int64_t R, int64_t B, const Surface& src,
                 const BlitSpec& spec) {
    Scratch& s = scratch();
    const int64_t n = R - L;
    int64_t* starts = sized(s.starts, std::size_t(n));
    int64_t* ends = sized(s.ends, std::size_t(n));
    int64_t firstValid = -1, lastValid = -1;
    for (int64_t k = 0; k < n; ++k) {
        const int64_t i = L + k - spec.dx;
        const int64_t j = spec.mirrorX ? spec.dw - 1 - i : i;
        int64_t a = mapFloor(j, spec.sw, spec.dw);
        int64_t e = mapFloor(j + 1, spec.sw, spec.dw);
        if (e <= a) e = a + 1;
        a = std::max<int64_t>(a + spec.sx, 0);
        e = std::min<int64_t>(e + spec.sx, src.width);
        starts[k] = a;
        ends[k] = e;
        if (a < e) {
            if (firstValid < 0) firstValid = k;
            lastValid = k;
        }
    }
    if (firstValid < 0) return RECT{0, 0, 0, 0};
    const int count = int(lastValid - firstValid + 1);
    int64_t spanStart = INT64_MAX, spanEnd = 0;
    for (int64_t k = firstValid; k <= lastValid; ++k) {
        spanStart = std::min(spanStart, starts[k]);
        spanEnd = std::max(spanEnd, ends[k]);
    }
    const int spanLength = int(spanEnd - spanStart);
    uint32_t* row = sized(s.row, std::size_t(spanLength));
    uint32_t* result = sized(s.source, std::size_t(count));
    uint32_t* dest = sized(s.dest, std::size_t(count));
    uint64_t* sums = sized(s.sums, std::size_t(count) * 4);
    const bool average = spec.mode == HALFTONE;
    const bool useAnd = spec.mode == BLACKONWHITE;
    std::optional<NearestColor> nearest;
    if (dst.format.bpp <= 8) nearest.emplace(dst.format.colors, dst.format.colorCount);
    const int x0 = int(L + firstValid);
    int64_t top = -1, bottom = -1;

    for (int64_t y = T; y < B; ++y) {
        const int64_t i = y - spec.dy;
        const int64_t j = spec.mirrorY ? spec.dh - 1 - i : i;
        int64_t ra = mapFloor(j, spec.sh, spec.dh);
        int64_t re = mapFloor(j + 1, spec.sh, spec.dh);
        if (re <= ra) re = ra + 1;
        ra = std::max<int64_t>(ra + spec.sy, 0);
        re = std::min<int64_t>(re + spec.sy, src.height);
        if (ra >= re) continue;
        for (int k = 0; k < count; ++k) {
            result[k] = useAnd ? 0xFFFFFF : 0;
            sums[4 * k] = sums[4 * k + 1] = sums[4 * k + 2] = sums[4 * k + 3] = 0;
        }
        for (int64_t sr = ra; sr < re; ++sr) {
            readRgbSpan(src, int(sr), int(spanStart), spanLength, row);
            for (int k = 0; k < count; ++k) {
                const int64_t a = starts[firstValid + k] - spanStart, e = ends[firstValid + k] - spanStart;
                if (average) {
                    uint64_t* sum = sums + 4 * k;
                    for (int64_t x = a; x < e; ++x) {
                        sum[0] += row[x] >> 16;
                        sum[1] += (row[x] >> 8) & 0xFF;
                        sum[2] += row[x] & 0xFF;
                    }
                    sum[3] += uint64_t(e - a);
                } else if (useAnd) {
                    for (int64_t x = a; x < e; ++x)
                        result[k] &= row[x];
                } else {
                    for (int64_t x = a; x < e; ++x)
                        result[k] |= row[x];
                }
            }
        }
        if (average) {
            for (int k = 0; k < count; ++k) {
                const uint64_t* sum = sums + 4 * k;
                const uint64_t c = sum[3];
                result[k] = uint32_t((sum[0] + c / 2) / c) << 16 | uint32_t((sum[1] + c / 2) / c) << 8 |
                            uint32_t((sum[2] + c / 2) / c);
            }
        }
        rgbRowToNative(dst.format, result, count, result, nearest ? &*nearest : nullptr);
        if (ropUsesDest(spec.rop)) readNativeSpan(dst, int(y), x0, count, dest);
        applyRop(spec.rop, result, dest, count, dst.format.valueMask());
        writeNativeSpan(dst, int(y), x0, count, dest);
        if (top < 0) top = y;
        bottom = y + 1;
    }
    if (top < 0) return RECT{0, 0, 0, 0};
    return RECT{LONG(x0), LONG(top), LONG(x0 + count), LONG(bottom)};
}

// Stepping floor(j * s / d) along j without a division per step.
struct Stepper {
    Stepper(int64_t j, int64_t s, int64_t d) : d(d), stepQ(s / d), stepR(s % d) {
        const __int128 p = __int128(j) * s;
        q = int64_t(p / d);
        r = int64_t(p % d);
    }
    void forward() {
        q += stepQ;
        r += stepR;
        if (r >= d) {
            r -= d;
            ++q;
        }
    }
    void backward() {
        q -= stepQ;
        r -= stepR;
        if (r < 0) {
            r += d;
            --q;
        }
    }
    int64_t d, stepQ, stepR, q = 0, r = 0;
};

} // namespace

RECT blitToSurface(const Surface& dst, const RECT& clip, const Surface* src, const BlitSpec& spec) {
    const RECT none{0, 0, 0, 0};
    if (!dst.valid() || spec.dw <= 0 || spec.dh <= 0) return none;
    const int64_t L = std::max<int64_t>({spec.dx, clip.left, 0});
    const int64_t R = std::min<int64_t>({spec.dx + spec.dw, clip.right, dst.width});
    const int64_t T = std::max<int64_t>({spec.dy, clip.top, 0});
    const int64_t B = std::min<int64_t>({spec.dy + spec.dh, clip.bottom, dst.height});
    if (L >= R || T >= B) return none;
    if (!ropUsesSource(spec.rop)) {
        noSourceOperation(dst, L, T, R, B, spec.rop);
        return RECT{LONG(L), LONG(T), LONG(R), LONG(B)};
    }
    if (!src || !src->valid() || spec.sw <= 0 || spec.sh <= 0) return none;
    if (spec.mode != COLORONCOLOR && (spec.sw > spec.dw || spec.sh > spec.dh))
        return combineBlit(dst, L, T, R, B, *src, spec);

    Scratch& s = scratch();
    // Destination columns [L, R) relative to the destination rectangle, and the source column
    // each takes; the valid ones form one run because the mapping is monotonic.
    const int64_t c0 = L - spec.dx, c1 = R - spec.dx;
    const bool identityX = spec.sw == spec.dw && !spec.mirrorX;
    int64_t firstRel = 0;
    int count = 0;
    int srcX0 = 0;
    const int* cols = nullptr;
    if (identityX) {
        const int64_t lo = std::max<int64_t>(c0, -spec.sx), hi = std::min<int64_t>(c1, src->width - spec.sx);
        if (lo >= hi) return none;
        firstRel = lo;
        count = int(hi - lo);
        srcX0 = int(spec.sx + lo);
    } else {
        const int n = int(c1 - c0);
        int* table = sized(s.cols, std::size_t(n));
        int first = -1, last = -1;
        Stepper step(spec.mirrorX ? spec.dw - 1 - c0 : c0, spec.sw, spec.dw);
        for (int k = 0; k < n; ++k) {
            const int64_t c = spec.sx + step.q;
            const bool valid = c >= 0 && c < src->width;
            table[k] = valid ? int(c) : 0;
            if (valid) {
                if (first < 0) first = k;
                last = k;
            }
            if (spec.mirrorX)
                step.backward();
            else
                step.forward();
        }
        if (first < 0) return none;
        firstRel = c0 + first;
        count = last - first + 1;
        cols = table + first;
    }
    const int x0 = int(spec.dx + firstRel);

    const PixelFormat& df = dst.format;
    const PixelFormat& sf = src->format;
    const bool same = sameFormat(sf, df);
    const uint32_t alpha = df.opaque ? 0xFF000000u : 0;
    const bool copy = spec.rop == SRCCOPY;
    enum class Path { Bytes, Rgb24To32, Rgb32To32, Rgb32To24, Index8To32, General } path = Path::General;
    if (copy && same && df.bpp >= 8 && identityX && !(df.bpp == 32 && df.opaque != sf.opaque))
        path = Path::Bytes;
    else if (copy && sf.bpp == 24 && df.isRgb32())
        path = Path::Rgb24To32;
    else if (copy && sf.isRgb32() && df.isRgb32())
        path = Path::Rgb32To32;
    else if (copy && sf.isRgb32() && df.bpp == 24)
        path = Path::Rgb32To24; // the browser's pixels into a capture strip
    else if (copy && sf.bpp == 8 && df.isRgb32())
        path = Path::Index8To32;

    uint32_t lut[256];
    if (path == Path::Index8To32)
        for (int i = 0; i < 256; ++i)
            lut[i] = (sf.colors[i] & 0xFFFFFF) | alpha;
    std::optional<NearestColor> nearest;
    if (path == Path::General && !same && df.bpp <= 8) nearest.emplace(df.colors, df.colorCount);
    uint32_t* sourceRow = path == Path::General ? sized(s.source, std::size_t(count)) : nullptr;
    uint32_t* destRow = path == Path::General ? sized(s.dest, std::size_t(count)) : nullptr;
    const int bytesPerPixel = df.bpp / 8;
    const uint32_t mask = df.valueMask();
    const bool usesDest = ropUsesDest(spec.rop);

    int64_t top = -1, bottom = -1, previous = -1;
    const bool identityY = spec.sh == spec.dh && !spec.mirrorY;
    Stepper rowStep(0, spec.sh, spec.dh);
    if (!identityY) {
        const int64_t i = T - spec.dy;
        rowStep = Stepper(spec.mirrorY ? spec.dh - 1 - i : i, spec.sh, spec.dh);
    }
    for (int64_t y = T; y < B; ++y) {
        int64_t sr;
        if (identityY) {
            sr = spec.sy + (y - spec.dy);
        } else {
            sr = spec.sy + rowStep.q;
            if (spec.mirrorY)
                rowStep.backward();
            else
                rowStep.forward();
        }
        if (sr < 0 || sr >= src->height) continue;
        uint8_t* out = dst.row(int(y));
        const uint8_t* in = src->row(int(sr));
        switch (path) {
        case Path::Bytes:
            std::memcpy(out + std::ptrdiff_t(x0) * bytesPerPixel, in + std::ptrdiff_t(srcX0) * bytesPerPixel,
                        std::size_t(count) * std::size_t(bytesPerPixel));
            break;
        case Path::Rgb24To32: {
            auto* d = reinterpret_cast<uint32_t*>(out) + x0;
            if (identityX)
                rgb24ToRgb32(in + 3 * std::ptrdiff_t(srcX0), d, count, alpha);
            else
                gather24ToRgb32(in, cols, d, count, alpha);
            break;
        }
        case Path::Rgb32To32: {
            auto* d = reinterpret_cast<uint32_t*>(out) + x0;
            const auto* p = reinterpret_cast<const uint32_t*>(in);
            if (identityX) {
                p += srcX0;
                for (int i = 0; i < count; ++i)
                    d[i] = (p[i] & 0xFFFFFF) | alpha;
            } else {
                for (int i = 0; i < count; ++i)
                    d[i] = (p[cols[i]] & 0xFFFFFF) | alpha;
            }
            break;
        }
        case Path::Rgb32To24: {
            uint8_t* d = out + 3 * std::ptrdiff_t(x0);
            const auto* p = reinterpret_cast<const uint32_t*>(in);
            if (identityX) {
                rgb32ToRgb24(p + srcX0, d, count);
            } else {
                for (int i = 0; i < count; ++i, d += 3) {
                    const uint32_t v = p[cols[i]];
                    d[0] = uint8_t(v);
                    d[1] = uint8_t(v >> 8);
                    d[2] = uint8_t(v >> 16);
                }
            }
            break;
        }
        case Path::Index8To32: {
            auto* d = reinterpret_cast<uint32_t*>(out) + x0;
            if (identityX) {
                const uint8_t* p = in + srcX0;
                for (int i = 0; i < count; ++i)
                    d[i] = lut[p[i]];
            } else {
                for (int i = 0; i < count; ++i)
                    d[i] = lut[in[cols[i]]];
            }
            break;
        }
        case Path::General:
            if (sr != previous) {
                if (same) {
                    if (identityX)
                        readNativeSpan(*src, int(sr), srcX0, count, sourceRow);
                    else
                        readNative(*src, int(sr), cols, count, sourceRow);
                    if (sf.bpp == 32 && sf.opaque && !df.opaque)
                        for (int i = 0; i < count; ++i)
                            sourceRow[i] &= 0xFFFFFF;
                } else {
                    if (identityX)
                        readRgbSpan(*src, int(sr), srcX0, count, sourceRow);
                    else
                        readRgb(*src, int(sr), cols, count, sourceRow);
                    rgbRowToNative(df, sourceRow, count, sourceRow, nearest ? &*nearest : nullptr);
                }
                previous = sr;
            }
            if (copy) {
                writeNativeSpan(dst, int(y), x0, count, sourceRow);
            } else {
                if (usesDest) readNativeSpan(dst, int(y), x0, count, destRow);
                applyRop(spec.rop, sourceRow, destRow, count, mask);
                writeNativeSpan(dst, int(y), x0, count, destRow);
            }
            break;
        }
        if (top < 0) top = y;
        bottom = y + 1;
    }
    if (top < 0) return none;
    return RECT{LONG(x0), LONG(top), LONG(x0 + count), LONG(bottom)};
}

namespace {

// The page cannot be read back, so a printer takes only operations that do not need to.
bool blitToPrinter(DeviceContext* dc, const Surface* src, const BlitSpec& spec) {
    QPainter* painter = dc->painter;
    if (!painter || !painter->isActive()) return false;
    const bool copy = spec.rop == SRCCOPY || spec.rop == NOTSRCCOPY;
    if (!copy && spec.rop != BLACKNESS && spec.rop != WHITENESS) return false;
    const RECT clip = dc->clipBox();
    const int64_t L = std::max<int64_t>(spec.dx, clip.left),
                  R = std::min<int64_t>(spec.dx + spec.dw, clip.right);
    const int64_t T = std::max<int64_t>(spec.dy, clip.top),
                  B = std::min<int64_t>(spec.dy + spec.dh, clip.bottom);
    if (L >= R || T >= B) return true;
    const QRect clipRect(clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top);
    if (!copy) {
        painter->fillRect(QRect(int(L), int(T), int(R - L), int(B - T)),
                          spec.rop == BLACKNESS ? Qt::black : Qt::white);
        return true;
    }
    if (!src || !src->valid()) return false;

    // The source range the visible destination needs, relative to the source rectangle.
    const auto sourceRange = [](int64_t from, int64_t to, int64_t d, int64_t s, bool mirror, int64_t origin,
                                int64_t limit, int64_t& lo, int64_t& hi) {
        const int64_t a = mapFloor(mirror ? d - 1 - from : from, s, d);
        const int64_t b = mapFloor(mirror ? d - 1 - (to - 1) : to - 1, s, d);
        lo = std::max<int64_t>(std::min(a, b), -origin);
        hi = std::min<int64_t>(std::max(a, b) + 1, limit - origin);
        return lo < hi;
    };
    // The destination range that shows the source range [lo, hi), relative to the destination.
    const auto destRange = [](int64_t lo, int64_t hi, int64_t d, int64_t s, bool mirror, int64_t& from,
                              int64_t& to) {
        const int64_t jLo = ceilDiv(lo, d, s), jHi = ceilDiv(hi, d, s);
        from = mirror ? d - jHi : jLo;
        to = mirror ? d - jLo : jHi;
    };
    int64_t colLo, colHi, rowLo, rowHi;
    if (!sourceRange(L - spec.dx, R - spec.dx, spec.dw, spec.sw, spec.mirrorX, spec.sx, src->width, colLo,
                     colHi) ||
        !sourceRange(T - spec.dy, B - spec.dy, spec.dh, spec.sh, spec.mirrorY, spec.sy, src->height, rowLo,
                     rowHi))
        return true;
    int64_t destX0, destX1;
    destRange(colLo, colHi, spec.dw, spec.sw, spec.mirrorX, destX0, destX1);

    const int width = int(colHi - colLo);
    std::vector<int> cols(std::size_t(width), 0);
    for (int k = 0; k < width; ++k)
        cols[std::size_t(k)] = int(spec.sx + (spec.mirrorX ? colHi - 1 - k : colLo + k));

    // Pages are drawn in bands, so a picture of any size costs a bounded amount of memory; each
    // band lands on whole device rows, so the bands meet without seams.
    const int64_t bandRows = std::max<int64_t>(1, (int64_t(1) << 22) / std::max(width, 1));
    painter->save();
    painter->setClipRect(clipRect, Qt::IntersectClip);
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter->setRenderHint(QPainter::Antialiasing, false);
    // A printed or PDF page holds the picture exactly: without this the PDF writer stores it
    // as JPEG.
    painter->setRenderHint(QPainter::LosslessImageRendering, true);
    bool ok = true;
    for (int64_t bandLo = rowLo; bandLo < rowHi && ok; bandLo += bandRows) {
        const int64_t bandHi = std::min(rowHi, bandLo + bandRows);
        const int rows = int(bandHi - bandLo);
        QImage image(width, rows, QImage::Format_RGB32);
        if (image.isNull()) {
            ok = false;
            break;
        }
        for (int k = 0; k < rows; ++k) {
            const int64_t rel = spec.mirrorY ? bandHi - 1 - k : bandLo + k;
            auto* line = reinterpret_cast<uint32_t*>(image.scanLine(k));
            readRgb(*src, int(spec.sy + rel), cols.data(), width, line);
            const uint32_t flip = spec.rop == NOTSRCCOPY ? 0xFFFFFF : 0;
            for (int x = 0; x < width; ++x)
                line[x] = (line[x] ^ flip) | 0xFF000000u;
        }
        int64_t destY0, destY1;
        destRange(bandLo, bandHi, spec.dh, spec.sh, spec.mirrorY, destY0, destY1);
        const QRect target(int(spec.dx + destX0), int(spec.dy + destY0), int(destX1 - destX0),
                           int(destY1 - destY0));
        if (!target.isEmpty()) painter->drawImage(target, image);
    }
    painter->restore();
    return ok;
}

// A copy of the rectangle r of s, for transfers whose source and destination share pixels.
Surface snapshot(const Surface& s, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
                 std::vector<uint8_t>& storage) {
    Surface copy;
    copy.format = s.format;
    copy.width = int(x1 - x0);
    copy.height = int(y1 - y0);
    copy.pitch = rowBytes(copy.width, s.format.bpp);
    storage.assign(std::size_t(copy.pitch) * std::size_t(copy.height), 0);
    copy.top = storage.data();
    std::vector<uint32_t> row(std::size_t(copy.width));
    for (int y = 0; y < copy.height; ++y) {
        readNativeSpan(s, int(y0) + y, int(x0), copy.width, row.data());
        writeNativeSpan(copy, y, 0, copy.width, row.data());
    }
    return copy;
}

RECT offset(const RECT& r, LONG dx, LONG dy) {
    return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

} // namespace

bool transferToDc(DeviceContext* dc, const Surface* src, BlitSpec spec) {
    spec.dx += dc->origin.x;
    spec.dy += dc->origin.y;
    if (dc->isPrinter()) return blitToPrinter(dc, src, spec);
    DeviceContext::Target t = dc->target();
    if (!t.surface.valid()) return true; // nothing to draw on: a hidden window, the desktop
    spec.dx -= t.bounds.left;
    spec.dy -= t.bounds.top;
    const RECT clip = offset(t.clip, -t.bounds.left, -t.bounds.top);

    Surface source;
    std::vector<uint8_t> storage;
    if (src && src->top == t.surface.top && ropUsesSource(spec.rop)) {
        const int64_t x0 = std::max<int64_t>(spec.sx, 0),
                      x1 = std::min<int64_t>(spec.sx + spec.sw, src->width);
        const int64_t y0 = std::max<int64_t>(spec.sy, 0),
                      y1 = std::min<int64_t>(spec.sy + spec.sh, src->height);
        if (x0 >= x1 || y0 >= y1) return true;
        source = snapshot(*src, x0, y0, x1, y1, storage);
        spec.sx -= x0;
        spec.sy -= y0;
        src = &source;
    }
    const RECT written = blitToSurface(t.surface, clip, src, spec);
    if (!isEmpty(written)) dc->noteDrawn(offset(written, t.bounds.left, t.bounds.top));
    return true;
}

void fillOnDc(DeviceContext* dc, int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t rgb) {
    left += dc->origin.x;
    right += dc->origin.x;
    top += dc->origin.y;
    bottom += dc->origin.y;
    if (dc->isPrinter()) {
        const RECT clip = dc->clipBox();
        const RECT r = intersect(clampedRect(left, top, right, bottom), clip);
        if (!isEmpty(r) && dc->painter && dc->painter->isActive())
            dc->painter->fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top),
                                  QColor(QRgb(rgb)));
        return;
    }
    DeviceContext::Target t = dc->target();
    if (!t.surface.valid()) return;
    const RECT r = intersect(clampedRect(left, top, right, bottom), t.clip);
    if (isEmpty(r)) return;
    const uint32_t value = rgbToNative(t.surface.format, rgb, nullptr);
    for (LONG y = r.top; y < r.bottom; ++y)
        fillNativeSpan(t.surface, y - t.bounds.top, r.left - t.bounds.left, r.right - r.left, value);
    dc->noteDrawn(r);
}

} // namespace gdi::detail
