// Pixel surfaces of the raster layer and the row conversions between their formats.
//
// A surface is addressed top row first whatever its storage order: row(y) is the y-th row from
// the top, and pitch is negative for bottom-up storage. Colours travel between formats as
// 0x00RRGGBB ("rgb" below); "native" values are what a pixel of the surface holds (an index at
// 8 bits or fewer, the packed word at 16 and 32 bits, 0x00RRGGBB at 24 bits).
#pragma once

#include "platform/gdi/Gdi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace gdi::detail {

struct PixelFormat {
    int bpp = 0;
    // 16 and 32 bits: where red, green and blue lie in the pixel word.
    std::uint32_t masks[3] = {0, 0, 0};
    std::uint8_t shifts[3] = {0, 0, 0};
    std::uint8_t widths[3] = {0, 0, 0};
    // 8 bits or fewer: 2^bpp entries of 0x00RRGGBB (entries past colorCount are black).
    const std::uint32_t* colors = nullptr;
    int colorCount = 0;
    // 32 bits: the surface stands for a window or an image shown as is, so what is written
    // gets alpha 255 and is opaque.
    bool opaque = false;

    bool isRgb32() const {
        return bpp == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF;
    }
    // Bits of a native value that raster operations act on.
    std::uint32_t valueMask() const {
        return bpp >= 32 ? 0xFFFFFFFFu : bpp == 24 ? 0xFFFFFFu : (1u << bpp) - 1u;
    }
};

// A format for bpp; masks of zero mean the default (5-5-5 at 16 bits, 8-8-8 at 32 bits).
// Returns false for masks that are empty or overlap.
bool makeFormat(PixelFormat& format, int bpp, std::uint32_t red = 0, std::uint32_t green = 0,
                std::uint32_t blue = 0);
// Two formats whose native values mean the same colours.
bool sameFormat(const PixelFormat& a, const PixelFormat& b);

struct Surface {
    std::uint8_t* top = nullptr;
    std::ptrdiff_t pitch = 0;
    int width = 0;
    int height = 0;
    PixelFormat format;

    bool valid() const { return top != nullptr && width > 0 && height > 0; }
    std::uint8_t* row(int y) const { return top + std::ptrdiff_t(y) * pitch; }
};

// Bytes in a DWORD-aligned row, or -1 when it would not fit the layer's limits.
std::ptrdiff_t rowBytes(std::int64_t width, int bpp);

// Nearest colour of a colour table, with a small cache because pictures repeat their colours.
class NearestColor {
  public:
    NearestColor(const std::uint32_t* colors, int count);
    std::uint32_t index(std::uint32_t rgb);

  private:
    static constexpr int kCacheSize = 1024;
    const std::uint32_t* m_colors;
    int m_count;
    std::array<std::uint64_t, kCacheSize> m_cache;
};

std::uint32_t nativeToRgb(const PixelFormat& format, std::uint32_t value);
// nearest may be null for formats above 8 bits.
std::uint32_t rgbToNative(const PixelFormat& format, std::uint32_t rgb, NearestColor* nearest);

// Row access. cols holds n source columns, all inside the surface.
void readRgb(const Surface& s, int y, const int* cols, int n, std::uint32_t* out);
void readNative(const Surface& s, int y, const int* cols, int n, std::uint32_t* out);
void readNativeSpan(const Surface& s, int y, int x, int n, std::uint32_t* out);
void readRgbSpan(const Surface& s, int y, int x, int n, std::uint32_t* out);
void writeNativeSpan(const Surface& s, int y, int x, int n, const std::uint32_t* in);
void rgbRowToNative(const PixelFormat& format, const std::uint32_t* in, int n, std::uint32_t* out,
                    NearestColor* nearest);
void fillNativeSpan(const Surface& s, int y, int x, int n, std::uint32_t value);

// Raster operations on native values.
bool ropUsesSource(DWORD rop);
bool ropUsesDest(DWORD rop);
bool ropKnown(DWORD rop);
// src may be null when the operation does not use it; dst holds the destination on entry and
// the result on exit.
void applyRop(DWORD rop, const std::uint32_t* src, std::uint32_t* dst, int n, std::uint32_t mask);

// Colour tables the layer falls back on.
const std::vector<std::uint32_t>& monoColors();
const std::vector<std::uint32_t>& vgaColors();
const std::vector<std::uint32_t>& halftoneColors(); // 256 entries, system colours at both ends
const std::vector<std::uint32_t>& defaultColors(int bpp);

constexpr std::uint32_t colorrefToRgb(COLORREF c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
constexpr COLORREF rgbToColorref(std::uint32_t rgb) {
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

} // namespace gdi::detail
