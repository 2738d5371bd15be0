#include "pixolan/Halftone.h"

#include "pixolan/DibAllocation.h"
#include "platform/gdi/GdiOwners.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace gdi;

namespace pixolan {
namespace {

constexpr int kStep = 255 / (kCubeLevels - 1); // 51

// Bayer matrix: thresholds 0..63 spread so that neighbouring cells differ most.
constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

struct GreyRamp {
    // Sorted grey levels and the palette index of each: the six greys of the cube and, between
    // each two of them, eight more (entries 216..255).
    std::array<std::uint8_t, 46> level{};
    std::array<std::uint8_t, 46> index{};
    // For each value 0..255 the ramp position at or below it.
    std::array<std::uint8_t, 256> below{};
};

struct Tables {
    std::array<RGBQUAD, 256> palette{};
    GreyRamp grey;
};

const Tables& tables() {
    static const Tables t = [] {
        Tables t;
        for (int r = 0; r < kCubeLevels; ++r)
            for (int g = 0; g < kCubeLevels; ++g)
                for (int b = 0; b < kCubeLevels; ++b)
                    t.palette[std::size_t(r * 36 + g * 6 + b)] =
                        RGBQUAD{BYTE(b * kStep), BYTE(g * kStep), BYTE(r * kStep), 0};
        int pos = 0;
        int extra = kCubeEntries;
        for (int k = 0; k < kCubeLevels; ++k) {
            const int v = k * kStep;
            t.grey.level[std::size_t(pos)] = std::uint8_t(v);
            t.grey.index[std::size_t(pos)] = std::uint8_t(k * 36 + k * 6 + k);
            ++pos;
            if (k + 1 == kCubeLevels) break;
            for (int j = 1; j <= 8; ++j) {
                const int gv = v + (kStep * j + 4) / 9;
                t.palette[std::size_t(extra)] = RGBQUAD{BYTE(gv), BYTE(gv), BYTE(gv), 0};
                t.grey.level[std::size_t(pos)] = std::uint8_t(gv);
                t.grey.index[std::size_t(pos)] = std::uint8_t(extra);
                ++pos;
                ++extra;
            }
        }
        int p = 0;
        for (int v = 0; v < 256; ++v) {
            while (p + 1 < int(t.grey.level.size()) && t.grey.level[std::size_t(p + 1)] <= v)
                ++p;
            t.grey.below[std::size_t(v)] = std::uint8_t(p);
        }
        return t;
    }();
    return t;
}

// One channel: the cube level at or below v, stepped up when the remainder beats the threshold.
inline int ditherChannel(int v, int threshold) {
    const int t = v * (kCubeLevels - 1);
    const int base = t / 255;
    const int rem = t % 255;
    // rem / 255 against (threshold + 0.5) / 64, in integers.
    return base + (rem * 128 > (2 * threshold + 1) * 255 ? 1 : 0);
}

} // namespace

const std::array<RGBQUAD, 256>& halftonePalette() {
    return tables().palette;
}

std::uint8_t halftoneIndex(int r, int g, int b, int x, int y) {
    const int threshold = kBayer[y & 7][x & 7];
    if (r == g && g == b) {
        const GreyRamp& ramp = tables().grey;
        const int p = ramp.below[std::size_t(r)];
        const int lo = ramp.level[std::size_t(p)];
        if (lo == r || p + 1 >= int(ramp.level.size())) return ramp.index[std::size_t(p)];
        const int hi = ramp.level[std::size_t(p + 1)];
        const bool up = (r - lo) * 128 > (2 * threshold + 1) * (hi - lo);
        return ramp.index[std::size_t(up ? p + 1 : p)];
    }
    return std::uint8_t(ditherChannel(r, threshold) * 36 + ditherChannel(g, threshold) * 6 +
                        ditherChannel(b, threshold));
}

void readRowBgr(const DibRecord& rec, int y, int x0, int x1, std::uint8_t* out) {
    const BITMAPINFOHEADER& h = rec.info->bmiHeader;
    const int w = x1;
    const std::uint8_t* row = rec.bits + std::ptrdiff_t(y) * rec.bytesPerRow;
    const RGBQUAD* table = rec.info->bmiColors;
    // bgr is indexed by picture column, so that the cases below read naturally.
    std::uint8_t* bgr = out - 3 * std::ptrdiff_t(x0);
    auto put = [&](int x, const RGBQUAD& q) {
        bgr[3 * x] = q.rgbBlue;
        bgr[3 * x + 1] = q.rgbGreen;
        bgr[3 * x + 2] = q.rgbRed;
    };
    switch (h.biBitCount) {
    case 1:
        for (int x = x0; x < w; ++x)
            put(x, table[(row[x >> 3] >> (7 - (x & 7))) & 1]);
        break;
    case 4:
        for (int x = x0; x < w; ++x)
            put(x, table[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4]);
        break;
    case 8:
        for (int x = x0; x < w; ++x)
            put(x, table[row[x]]);
        break;
    case 16: {
        // 5-5-5 unless the header carries its own masks.
        std::uint32_t rm = 0x7C00, gm = 0x03E0, bm = 0x001F;
        if (h.biCompression == BI_BITFIELDS) {
            const auto* masks = reinterpret_cast<const std::uint32_t*>(rec.info->bmiColors);
            rm = masks[0];
            gm = masks[1];
            bm = masks[2];
        }
        auto expand = [](std::uint32_t v, std::uint32_t mask) {
            if (!mask) return 0;
            const int shift = __builtin_ctz(mask);
            const std::uint32_t max = mask >> shift;
            return int(((v & mask) >> shift) * 255 / max);
        };
        for (int x = x0; x < w; ++x) {
            const std::uint32_t v = std::uint32_t(row[2 * x]) | std::uint32_t(row[2 * x + 1]) << 8;
            bgr[3 * x] = std::uint8_t(expand(v, bm));
            bgr[3 * x + 1] = std::uint8_t(expand(v, gm));
            bgr[3 * x + 2] = std::uint8_t(expand(v, rm));
        }
        break;
    }
    case 24:
        std::memcpy(out, row + 3 * std::ptrdiff_t(x0), std::size_t(x1 - x0) * 3);
        break;
    case 32:
        for (int x = x0; x < w; ++x) {
            bgr[3 * x] = row[4 * x];
            bgr[3 * x + 1] = row[4 * x + 1];
            bgr[3 * x + 2] = row[4 * x + 2];
        }
        break;
    default:
        std::memset(out, 0, std::size_t(x1 - x0) * 3);
        break;
    }
}

bool halftoneAllocate(DibRecord* out, int width, int height) {
    std::memset(out, 0, sizeof *out);
    if (width <= 0 || height <= 0) return false;

    // The palette is made first so that a failed picture does not leave it behind.
    const auto& pal = halftonePalette();
    std::vector<std::uint8_t> logical(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(logical.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = 256;
    for (int i = 0; i < 256; ++i)
        lp->palPalEntry[i] = PALETTEENTRY{pal[std::size_t(i)].rgbRed, pal[std::size_t(i)].rgbGreen,
                                          pal[std::size_t(i)].rgbBlue, 0};
    PaletteOwner palette(CreatePalette(lp));

    // A colour source carrying the halftone table.
    std::vector<std::uint8_t> src(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* srcInfo = reinterpret_cast<BITMAPINFO*>(src.data());
    srcInfo->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    srcInfo->bmiHeader.biBitCount = 8;
    std::memcpy(srcInfo->bmiColors, pal.data(), 256 * sizeof(RGBQUAD));

    if (!createDib(out, width, height, 8, srcInfo, 256, palette.get())) {
        std::memset(out, 0, sizeof *out);
        return false;
    }
    palette.release(); // the record owns it now: deldib deletes it
    // Without a palette handle the copy still draws correctly through its colour table.
    out->usePalette = 1;
    return true;
}

void halftoneFill(const DibRecord& copy, const DibRecord& rec, int x0, int top0, int x1, int top1) {
    const BITMAPINFOHEADER& h = rec.info->bmiHeader;
    const int sw = h.biWidth;
    const int sh = std::abs(h.biHeight);
    const int width = copy.info->bmiHeader.biWidth;
    const int height = copy.info->bmiHeader.biHeight;
    x0 = std::max(x0, 0);
    top0 = std::max(top0, 0);
    x1 = std::min(x1, width);
    top1 = std::min(top1, height);
    if (sw <= 0 || sh <= 0 || x0 >= x1 || top0 >= top1) return;

    // Rows are taken top-down in picture terms so that the dither pattern is anchored at the
    // picture's top-left corner whichever way the rows are stored.
    const bool bottomUp = h.biHeight > 0;
    auto storageRow = [&](int top) { return bottomUp ? sh - 1 - top : top; };

    if (width == sw && height == sh) {
        std::vector<std::uint8_t> rowBgr(std::size_t(x1 - x0) * 3);
        for (int ty = top0; ty < top1; ++ty) {
            readRowBgr(rec, storageRow(ty), x0, x1, rowBgr.data());
            std::uint8_t* dst = copy.bits + std::ptrdiff_t(height - 1 - ty) * copy.bytesPerRow;
            for (int x = x0; x < x1; ++x) {
                const std::uint8_t* p = &rowBgr[3 * std::size_t(x - x0)];
                dst[x] = halftoneIndex(p[2], p[1], p[0], x, ty);
            }
        }
        return;
    }

    // Resize with a box filter: copy pixel (x, y) averages the source box
    // [x*sw/width, (x+1)*sw/width) x [y*sh/height, (y+1)*sh/height), at least one pixel wide, which
    // is the nearest pixel when enlarging. Column sums are gathered row by row so that each source
    // row is read once per copy row it contributes to.
    const std::size_t n = std::size_t(x1 - x0);
    std::vector<int> bx0(n), bx1(n);
    for (int x = x0; x < x1; ++x) {
        bx0[std::size_t(x - x0)] = int(std::int64_t(x) * sw / width);
        bx1[std::size_t(x - x0)] =
            std::max(bx0[std::size_t(x - x0)] + 1, int(std::int64_t(x + 1) * sw / width));
    }
    const int sx0 = bx0.front();
    const int sx1 = bx1.back();
    std::vector<std::uint8_t> rowBgr(std::size_t(sx1 - sx0) * 3);
    std::vector<std::uint64_t> sum(n * 3);
    for (int ty = top0; ty < top1; ++ty) {
        const int y0 = int(std::int64_t(ty) * sh / height);
        const int y1 = std::max(y0 + 1, int(std::int64_t(ty + 1) * sh / height));
        std::fill(sum.begin(), sum.end(), 0ull);
        for (int sy = y0; sy < y1; ++sy) {
            readRowBgr(rec, storageRow(sy), sx0, sx1, rowBgr.data());
            for (std::size_t i = 0; i < n; ++i) {
                std::uint64_t b = 0, g = 0, r = 0;
                for (int sx = bx0[i]; sx < bx1[i]; ++sx) {
                    const std::uint8_t* p = &rowBgr[3 * std::size_t(sx - sx0)];
                    b += p[0];
                    g += p[1];
                    r += p[2];
                }
                sum[3 * i] += b;
                sum[3 * i + 1] += g;
                sum[3 * i + 2] += r;
            }
        }
        std::uint8_t* dst = copy.bits + std::ptrdiff_t(height - 1 - ty) * copy.bytesPerRow;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t count = std::uint64_t(bx1[i] - bx0[i]) * std::uint64_t(y1 - y0);
            const int b = int((sum[3 * i] + count / 2) / count);
            const int g = int((sum[3 * i + 1] + count / 2) / count);
            const int r = int((sum[3 * i + 2] + count / 2) / count);
            const int x = x0 + int(i);
            dst[x] = halftoneIndex(r, g, b, x, ty);
        }
    }
}

void halftone(DibRecord* out, const DibRecord& rec, int width, int height) {
    const BITMAPINFOHEADER& h = rec.info->bmiHeader;
    if (h.biWidth <= 0 || h.biHeight == 0 || !halftoneAllocate(out, width, height)) return;
    halftoneFill(*out, rec, 0, 0, width, height);
}

} // namespace pixolan
