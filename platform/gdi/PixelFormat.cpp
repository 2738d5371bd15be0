#include "platform/gdi/PixelFormat.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace gdi::detail {

namespace {

// Scales a component of `width` bits to 8 bits by repeating its bits, so that full intensity
// stays full (31 at 5 bits becomes 255, not 248).
inline std::uint32_t expand(std::uint32_t c, int width) {
    if (width == 0) return 0;
    if (width >= 8) return (c >> (width - 8)) & 0xFF;
    std::uint32_t v = c << (8 - width);
    for (int s = width; s < 8; s *= 2)
        v |= v >> s;
    return v & 0xFF;
}

inline std::uint32_t compress(std::uint32_t c8, int width) {
    if (width >= 8) return c8 << (width - 8);
    return c8 >> (8 - width);
}

inline std::uint32_t unpackMasked(const PixelFormat& f, std::uint32_t v) {
    return (expand((v & f.masks[0]) >> f.shifts[0], f.widths[0]) << 16) |
           (expand((v & f.masks[1]) >> f.shifts[1], f.widths[1]) << 8) |
           expand((v & f.masks[2]) >> f.shifts[2], f.widths[2]);
}

inline std::uint32_t packMasked(const PixelFormat& f, std::uint32_t rgb) {
    return ((compress((rgb >> 16) & 0xFF, f.widths[0]) << f.shifts[0]) & f.masks[0]) |
           ((compress((rgb >> 8) & 0xFF, f.widths[1]) << f.shifts[1]) & f.masks[1]) |
           ((compress(rgb & 0xFF, f.widths[2]) << f.shifts[2]) & f.masks[2]);
}

inline std::uint16_t load16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::vector<std::uint32_t> buildHalftone() {
    std::vector<std::uint32_t> t;
    t.reserve(256);
    const std::uint32_t low[10] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                   0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
    const std::uint32_t high[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                                    0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    t.insert(t.end(), low, low + 10);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                t.push_back(std::uint32_t(r * 51) << 16 | std::uint32_t(g * 51) << 8 | std::uint32_t(b * 51));
    for (int i = 0; i < 20; ++i) {
        const std::uint32_t v = std::uint32_t((i + 1) * 255 / 21);
        t.push_back(v << 16 | v << 8 | v);
    }
    t.insert(t.end(), high, high + 10);
    return t;
}

} // namespace

bool makeFormat(PixelFormat& f, int bpp, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    f = PixelFormat{};
    f.bpp = bpp;
    if (bpp != 16 && bpp != 32) return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24;
    if (red == 0 && green == 0 && blue == 0) {
        if (bpp == 16) {
            red = 0x7C00;
            green = 0x03E0;
            blue = 0x001F;
        } else {
            red = 0xFF0000;
            green = 0x00FF00;
            blue = 0x0000FF;
        }
    }
    const std::uint32_t limit = bpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    const std::uint32_t masks[3] = {red, green, blue};
    if ((red & green) || (red & blue) || (green & blue)) return false;
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t m = masks[i];
        if (m == 0 || (m & ~limit)) return false;
        const int shift = std::countr_zero(m);
        const std::uint32_t run = m >> shift;
        if ((run & (run + 1)) != 0) // the bits must be contiguous
            return false;
        f.masks[i] = m;
        f.shifts[i] = std::uint8_t(shift);
        f.widths[i] = std::uint8_t(std::popcount(m));
    }
    return true;
}

bool sameFormat(const PixelFormat& a, const PixelFormat& b) {
    if (a.bpp != b.bpp) return false;
    if (a.bpp == 16 || a.bpp == 32)
        return a.masks[0] == b.masks[0] && a.masks[1] == b.masks[1] && a.masks[2] == b.masks[2];
    if (a.bpp <= 8) {
        const int n = 1 << a.bpp;
        return a.colors == b.colors || std::memcmp(a.colors, b.colors, sizeof(std::uint32_t) * n) == 0;
    }
    return true;
}

std::ptrdiff_t rowBytes(std::int64_t width, int bpp) {
    if (width <= 0 || bpp <= 0) return -1;
    // Keeps every row offset and every pixel count inside 32 bits, as the Win32 structures do.
    const std::int64_t bytes = (width * bpp + 31) / 32 * 4;
    if (bytes > std::numeric_limits<std::int32_t>::max()) return -1;
    return std::ptrdiff_t(bytes);
}

NearestColor::NearestColor(const std::uint32_t* colors, int count) : m_colors(colors), m_count(count) {
    m_cache.fill(~std::uint64_t(0));
}

std::uint32_t NearestColor::index(std::uint32_t rgb) {
    rgb &= 0xFFFFFF;
    const std::uint32_t slot = (rgb * 2654435761u) >> 22;
    const std::uint64_t entry = m_cache[slot];
    if (std::uint32_t(entry >> 32) == rgb) return std::uint32_t(entry);
    const int r = int(rgb >> 16), g = int((rgb >> 8) & 0xFF), b = int(rgb & 0xFF);
    std::uint32_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < m_count; ++i) {
        const std::uint32_t c = m_colors[i];
        const int dr = int(c >> 16) - r, dg = int((c >> 8) & 0xFF) - g, db = int(c & 0xFF) - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = std::uint32_t(i);
            if (d == 0) break;
        }
    }
    m_cache[slot] = (std::uint64_t(rgb) << 32) | best;
    return best;
}

std::uint32_t nativeToRgb(const PixelFormat& f, std::uint32_t v) {
    switch (f.bpp) {
    case 1:
    case 4:
    case 8:
        return f.colors[v & ((1u << f.bpp) - 1u)];
    case 24:
        return v & 0xFFFFFF;
    default:
        return f.isRgb32() ? v & 0xFFFFFF : unpackMasked(f, v);
    }
}

std::uint32_t rgbToNative(const PixelFormat& f, std::uint32_t rgb, NearestColor* nearest) {
    rgb &= 0xFFFFFF;
    switch (f.bpp) {
    case 1:
    case 4:
    case 8:
        if (nearest) return nearest->index(rgb);
        return NearestColor(f.colors, f.colorCount).index(rgb);
    case 24:
        return rgb;
    default:
        return f.isRgb32() ? rgb : packMasked(f, rgb);
    }
}

void rgbRowToNative(const PixelFormat& f, const std::uint32_t* in, int n, std::uint32_t* out,
                    NearestColor* nearest) {
    switch (f.bpp) {
    case 1:
    case 4:
    case 8:
        for (int i = 0; i < n; ++i)
            out[i] = nearest->index(in[i]);
        break;
    case 24:
        for (int i = 0; i < n; ++i)
            out[i] = in[i] & 0xFFFFFF;
        break;
    default:
        if (f.isRgb32()) {
            for (int i = 0; i < n; ++i)
                out[i] = in[i] & 0xFFFFFF;
        } else {
            for (int i = 0; i < n; ++i)
                out[i] = packMasked(f, in[i]);
        }
        break;
    }
}

void readNative(const Surface& s, int y, const int* cols, int n, std::uint32_t* out) {
    const std::uint8_t* row = s.row(y);
    switch (s.format.bpp) {
    case 1:
        for (int i = 0; i < n; ++i) {
            const int x = cols[i];
            out[i] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        }
        break;
    case 4:
        for (int i = 0; i < n; ++i) {
            const int x = cols[i];
            const std::uint8_t b = row[x >> 1];
            out[i] = (x & 1) ? (b & 0x0F) : (b >> 4);
        }
        break;
    case 8:
        for (int i = 0; i < n; ++i)
            out[i] = row[cols[i]];
        break;
    case 16:
        for (int i = 0; i < n; ++i)
            out[i] = load16(row + 2 * std::ptrdiff_t(cols[i]));
        break;
    case 24:
        for (int i = 0; i < n; ++i) {
            const std::uint8_t* p = row + 3 * std::ptrdiff_t(cols[i]);
            out[i] = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
        }
        break;
    default:
        for (int i = 0; i < n; ++i)
            out[i] = load32(row + 4 * std::ptrdiff_t(cols[i]));
        break;
    }
}

void readNativeSpan(const Surface& s, int y, int x0, int n, std::uint32_t* out) {
    const std::uint8_t* row = s.row(y);
    switch (s.format.bpp) {
    case 1:
        for (int i = 0; i < n; ++i) {
            const int x = x0 + i;
            out[i] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        }
        break;
    case 4:
        for (int i = 0; i < n; ++i) {
            const int x = x0 + i;
            const std::uint8_t b = row[x >> 1];
            out[i] = (x & 1) ? (b & 0x0F) : (b >> 4);
        }
        break;
    case 8:
        for (int i = 0; i < n; ++i)
            out[i] = row[x0 + i];
        break;
    case 16: {
        const std::uint8_t* p = row + 2 * std::ptrdiff_t(x0);
        for (int i = 0; i < n; ++i)
            out[i] = load16(p + 2 * i);
        break;
    }
    case 24: {
        const std::uint8_t* p = row + 3 * std::ptrdiff_t(x0);
        for (int i = 0; i < n; ++i, p += 3)
            out[i] = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
        break;
    }
    default:
        std::memcpy(out, row + 4 * std::ptrdiff_t(x0), sizeof(std::uint32_t) * std::size_t(n));
        break;
    }
}

namespace {

// Native pixel values (palette indices, masked words) to 0x00RRGGBB, in place.
void nativeToRgb(const PixelFormat& f, int n, std::uint32_t* out) {
    switch (f.bpp) {
    case 1:
    case 4:
    case 8:
        for (int i = 0; i < n; ++i)
            out[i] = f.colors[out[i]];
        break;
    case 24:
        break;
    default:
        if (f.isRgb32()) {
            for (int i = 0; i < n; ++i)
                out[i] &= 0xFFFFFF;
        } else {
            for (int i = 0; i < n; ++i)
                out[i] = unpackMasked(f, out[i]);
        }
        break;
    }
}

} // namespace

void readRgb(const Surface& s, int y, const int* cols, int n, std::uint32_t* out) {
    readNative(s, y, cols, n, out);
    nativeToRgb(s.format, n, out);
}

void readRgbSpan(const Surface& s, int y, int x, int n, std::uint32_t* out) {
    readNativeSpan(s, y, x, n, out);
    nativeToRgb(s.format, n, out);
}

void writeNativeSpan(const Surface& s, int y, int x0, int n, const std::uint32_t* in) {
    std::uint8_t* row = s.row(y);
    switch (s.format.bpp) {
    case 1:
        for (int i = 0; i < n; ++i) {
            const int x = x0 + i;
            const std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
            if (in[i] & 1)
                row[x >> 3] |= bit;
            else
                row[x >> 3] &= std::uint8_t(~bit);
        }
        break;
    case 4:
        for (int i = 0; i < n; ++i) {
            const int x = x0 + i;
            std::uint8_t& b = row[x >> 1];
            if (x & 1)
                b = std::uint8_t((b & 0xF0) | (in[i] & 0x0F));
            else
                b = std::uint8_t((b & 0x0F) | ((in[i] & 0x0F) << 4));
        }
        break;
    case 8:
        for (int i = 0; i < n; ++i)
            row[x0 + i] = std::uint8_t(in[i]);
        break;
    case 16: {
        std::uint8_t* p = row + 2 * std::ptrdiff_t(x0);
        for (int i = 0; i < n; ++i) {
            const std::uint16_t v = std::uint16_t(in[i]);
            std::memcpy(p + 2 * i, &v, 2);
        }
        break;
    }
    case 24: {
        std::uint8_t* p = row + 3 * std::ptrdiff_t(x0);
        for (int i = 0; i < n; ++i, p += 3) {
            p[0] = std::uint8_t(in[i]);
            p[1] = std::uint8_t(in[i] >> 8);
            p[2] = std::uint8_t(in[i] >> 16);
        }
        break;
    }
    default: {
        std::uint32_t* p = reinterpret_cast<std::uint32_t*>(row) + x0;
        if (s.format.opaque) {
            for (int i = 0; i < n; ++i)
                p[i] = in[i] | 0xFF000000u;
        } else {
            std::memcpy(p, in, sizeof(std::uint32_t) * std::size_t(n));
        }
        break;
    }
    }
}

void fillNativeSpan(const Surface& s, int y, int x0, int n, std::uint32_t value) {
    std::uint8_t* row = s.row(y);
    switch (s.format.bpp) {
    case 8:
        std::memset(row + x0, int(value & 0xFF), std::size_t(n));
        break;
    case 32: {
        std::uint32_t* p = reinterpret_cast<std::uint32_t*>(row) + x0;
        const std::uint32_t v = s.format.opaque ? value | 0xFF000000u : value;
        for (int i = 0; i < n; ++i)
            p[i] = v;
        break;
    }
    default: {
        // Short spans of the packed formats; a small buffer keeps one code path per format.
        std::uint32_t buffer[256];
        for (int i = 0; i < 256; ++i)
            buffer[i] = value;
        for (int done = 0; done < n; done += 256)
            writeNativeSpan(s, y, x0 + done, std::min(256, n - done), buffer);
        break;
    }
    }
}

bool ropKnown(DWORD rop) {
    switch (rop) {
    case SRCCOPY:
    case SRCPAINT:
    case SRCAND:
    case SRCINVERT:
    case SRCERASE:
    case NOTSRCCOPY:
    case NOTSRCERASE:
    case MERGEPAINT:
    case DSTINVERT:
    case BLACKNESS:
    case WHITENESS:
        return true;
    default:
        return false;
    }
}

bool ropUsesSource(DWORD rop) {
    return rop != DSTINVERT && rop != BLACKNESS && rop != WHITENESS;
}

bool ropUsesDest(DWORD rop) {
    return rop != SRCCOPY && rop != NOTSRCCOPY && rop != BLACKNESS && rop != WHITENESS;
}

void applyRop(DWORD rop, const std::uint32_t* s, std::uint32_t* d, int n, std::uint32_t mask) {
    switch (rop) {
    case SRCCOPY:
        for (int i = 0; i < n; ++i)
            d[i] = s[i] & mask;
        break;
    case SRCPAINT:
        for (int i = 0; i < n; ++i)
            d[i] = (s[i] | d[i]) & mask;
        break;
    case SRCAND:
        for (int i = 0; i < n; ++i)
            d[i] = (s[i] & d[i]) & mask;
        break;
    case SRCINVERT:
        for (int i = 0; i < n; ++i)
            d[i] = (s[i] ^ d[i]) & mask;
        break;
    case SRCERASE:
        for (int i = 0; i < n; ++i)
            d[i] = (s[i] & ~d[i]) & mask;
        break;
    case NOTSRCCOPY:
        for (int i = 0; i < n; ++i)
            d[i] = ~s[i] & mask;
        break;
    case NOTSRCERASE:
        for (int i = 0; i < n; ++i)
            d[i] = ~(s[i] | d[i]) & mask;
        break;
    case MERGEPAINT:
        for (int i = 0; i < n; ++i)
            d[i] = (~s[i] | d[i]) & mask;
        break;
    case DSTINVERT:
        for (int i = 0; i < n; ++i)
            d[i] = ~d[i] & mask;
        break;
    case BLACKNESS:
        for (int i = 0; i < n; ++i)
            d[i] = 0;
        break;
    case WHITENESS:
        for (int i = 0; i < n; ++i)
            d[i] = mask;
        break;
    default:
        break;
    }
}

const std::vector<std::uint32_t>& monoColors() {
    static const std::vector<std::uint32_t> table{0x000000, 0xFFFFFF};
    return table;
}

const std::vector<std::uint32_t>& vgaColors() {
    static const std::vector<std::uint32_t> table{0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                                  0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                                  0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    return table;
}

const std::vector<std::uint32_t>& halftoneColors() {
    static const std::vector<std::uint32_t> table = buildHalftone();
    return table;
}

const std::vector<std::uint32_t>& defaultColors(int bpp) {
    if (bpp == 1) return monoColors();
    if (bpp == 4) return vgaColors();
    return halftoneColors();
}

} // namespace gdi::detail
