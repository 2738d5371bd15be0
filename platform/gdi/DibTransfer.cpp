// The pixel transfers: DIBs to devices and bitmaps, bitmaps back to DIBs, and DC to DC.
#include "platform/gdi/Blit.h"
#include "platform/gdi/DibInfo.h"
#include "platform/gdi/GdiTesting.h"

#include <cstring>
#include <new>

namespace gdi {

using namespace detail;
using testing::Call;
using testing::ShouldFail;

namespace {

// A span given by an origin and an extent that may be negative (the two corners of a
// rectangle in either order), as a start and a positive length.
void normalizeSpan(std::int64_t origin, std::int64_t extent, std::int64_t& start, std::int64_t& length) {
    if (extent < 0) {
        start = origin + extent;
        length = -extent;
    } else {
        start = origin;
        length = extent;
    }
}

} // namespace

int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info,
                      UINT colorUse) {
    if (ShouldFail(Call::SetDIBitsToDevice, dc)) return 0;
    DeviceContext* d = findDc(dc);
    if (!d || !bits) return 0;
    DibInfo dib;
    if (!parseDib(info, colorUse, d, dib)) return 0;
    if (width == 0 || height == 0 || scanLines == 0 || startScan >= UINT(dib.height)) return 0;
    const std::int64_t lines = std::min<std::int64_t>(scanLines, dib.height - std::int64_t(startScan));
    // Rows of the source rectangle that this band of scan lines holds. Bottom-up DIBs count
    // ySrc and the scan lines from the bottom row, top-down DIBs from the top row.
    const std::int64_t first = std::max<std::int64_t>(ySrc, startScan);
    const std::int64_t end =
        std::min<std::int64_t>(std::int64_t(ySrc) + height, std::int64_t(startScan) + lines);
    if (first >= end) return 0;

    // The band as a surface, top row first; k is a row of it.
    const Surface band = dib.rows(bits, int(lines));
    std::int64_t k0, destRowOfK0;
    if (dib.topDown) {
        k0 = first - startScan;
        destRowOfK0 = std::int64_t(yDest) + (first - ySrc);
    } else {
        // Band row k holds scan line startScan + lines - 1 - k, which belongs at destination row
        // yDest + (ySrc + height - 1 - scan).
        k0 = std::int64_t(startScan) + lines - end;
        destRowOfK0 = std::int64_t(yDest) + (std::int64_t(ySrc) + height - end);
    }
    BlitSpec spec;
    spec.dx = xDest;
    spec.dy = destRowOfK0;
    spec.sx = xSrc;
    spec.sy = k0;
    // Columns past the DIB's width are not drawn, so a width beyond it changes nothing.
    spec.dw = spec.sw =
        std::min<std::int64_t>(width, std::int64_t(dib.width) - std::min<std::int64_t>(xSrc, 0));
    spec.dh = spec.sh = end - first;
    spec.rop = SRCCOPY;
    try {
        if (!transferToDc(d, &band, spec)) return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return int(end - first);
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT colorUse,
                  DWORD rop) {
    if (ShouldFail(Call::StretchDIBits, dc)) return GDI_ERROR;
    DeviceContext* d = findDc(dc);
    if (!d || !ropKnown(rop)) return GDI_ERROR;
    DibInfo dib;
    if (!parseDib(info, colorUse, d, dib)) return GDI_ERROR;
    const bool needsSource = ropUsesSource(rop);
    if (needsSource && !bits) return GDI_ERROR;
    if (destWidth == 0 || destHeight == 0 || srcWidth == 0 || srcHeight == 0) return 0;

    BlitSpec spec;
    normalizeSpan(xDest, destWidth, spec.dx, spec.dw);
    normalizeSpan(yDest, destHeight, spec.dy, spec.dh);
    normalizeSpan(xSrc, srcWidth, spec.sx, spec.sw);
    std::int64_t sourceLow;
    normalizeSpan(ySrc, srcHeight, sourceLow, spec.sh);
    // For a bottom-up DIB ySrc is the lower edge of the source, counted from the bottom row.
    spec.sy = dib.topDown ? sourceLow : dib.height - (sourceLow + spec.sh);
    spec.mirrorX = (destWidth < 0) != (srcWidth < 0);
    spec.mirrorY = (destHeight < 0) != (srcHeight < 0);
    spec.rop = rop;
    spec.mode = d->stretchMode;
    const Surface surface = needsSource ? dib.rows(bits, dib.height) : Surface{};
    try {
        if (!transferToDc(d, needsSource ? &surface : nullptr, spec)) return GDI_ERROR;
    } catch (const std::bad_alloc&) {
        return GDI_ERROR;
    }
    const std::int64_t lo = std::max<std::int64_t>(spec.sy, 0);
    const std::int64_t hi = std::min<std::int64_t>(spec.sy + spec.sh, dib.height);
    return int(std::max<std::int64_t>(hi - lo, 0));
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT scanLines, void* bits, BITMAPINFO* info,
              UINT colorUse) {
    if (ShouldFail(Call::GetDIBits, dc)) return 0;
    DeviceContext* d = findDc(dc);
    Bitmap* b = findBitmap(bitmap);
    if (!d || !b || !info || (colorUse != DIB_RGB_COLORS && colorUse != DIB_PAL_COLORS)) return 0;
    BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER)) return 0;
    const PixelFormat& bf = b->format();
    PixelFormat defaults;
    makeFormat(defaults, b->bpp());
    const bool customMasks = (bf.bpp == 16 || bf.bpp == 32) && !sameFormat(bf, defaults);

    if (!bits && h.biBitCount == 0) {
        // The query for the bitmap's own format: the header only, no colour table.
        h.biWidth = b->width();
        h.biHeight = b->height();
        h.biPlanes = 1;
        h.biBitCount = WORD(b->bpp());
        h.biCompression = customMasks ? BI_BITFIELDS : BI_RGB;
        h.biSizeImage = DWORD(b->stride() * b->height());
        h.biXPelsPerMeter = 0;
        h.biYPelsPerMeter = 0;
        h.biClrUsed = 0;
        h.biClrImportant = 0;
        return b->height();
    }

    const int bpp = h.biBitCount;
    PixelFormat out;
    if (h.biCompression == BI_BITFIELDS) {
        if (bpp != 16 && bpp != 32) return 0;
        if (bf.bpp == bpp)
            out = bf;
        else
            makeFormat(out, bpp);
        out.colors = nullptr;
        out.colorCount = 0;
        out.opaque = false;
        const std::uint32_t masks[3] = {out.masks[0], out.masks[1], out.masks[2]};
        std::uint8_t* at =
            reinterpret_cast<std::uint8_t*>(info) + (h.biSize >= 52 ? sizeof(BITMAPINFOHEADER) : h.biSize);
        std::memcpy(at, masks, sizeof masks);
    } else if (h.biCompression != BI_RGB || !makeFormat(out, bpp)) {
        return 0;
    }

    std::array<std::uint32_t, 256> colors{};
    if (bpp <= 8) {
        const int n = 1 << bpp;
        if (colorUse == DIB_PAL_COLORS) {
            // The table holds indices into the DC's palette, and the pixels its nearest colours.
            const auto& entries = d->palette->entries;
            const int count = std::min(n, int(entries.size()));
            for (int i = 0; i < count; ++i)
                colors[i] = std::uint32_t(entries[i].peRed) << 16 | std::uint32_t(entries[i].peGreen) << 8 |
                            entries[i].peBlue;
            out.colorCount = count;
            for (int i = 0; i < n; ++i) {
                const WORD index = WORD(i);
                std::memcpy(colorTableOf(info) + 2 * i, &index, 2);
            }
        } else {
            const std::vector<std::uint32_t>& source = b->bpp() == bpp ? b->colors() : defaultColors(bpp);
            for (int i = 0; i < n; ++i) {
                colors[i] = source[i];
                const RGBQUAD q{BYTE(source[i]), BYTE(source[i] >> 8), BYTE(source[i] >> 16), 0};
                std::memcpy(colorTableOf(info) + 4 * i, &q, 4);
            }
            out.colorCount = b->bpp() == bpp ? b->format().colorCount : n;
        }
        out.colors = colors.data();
        h.biClrUsed = 0;
    }
    const std::ptrdiff_t stride = rowBytes(h.biWidth, bpp);
    const std::int64_t outHeight = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    if (stride > 0)
        h.biSizeImage = DWORD(std::min<std::int64_t>(std::int64_t(stride) * outHeight, 0xFFFFFFFF));
    if (!bits) return b->height();
    if (stride <= 0 || outHeight == 0) return 0;

    const std::int64_t bitmapHeight = b->height();
    if (startScan >= bitmapHeight || startScan >= outHeight) return 0;
    const std::int64_t lines =
        std::min({std::int64_t(scanLines), bitmapHeight - startScan, outHeight - startScan});
    if (lines <= 0) return 0;

    DibInfo target;
    target.width = h.biWidth;
    target.height = int(lines);
    target.topDown = h.biHeight < 0;
    target.stride = stride;
    target.format = out;
    const Surface band = target.rows(bits, int(lines));
    if (h.biWidth > b->width()) std::memset(bits, 0, std::size_t(stride) * std::size_t(lines));

    BlitSpec spec;
    spec.dw = spec.sw = h.biWidth;
    spec.dh = spec.sh = lines;
    // Scan line s is bitmap row height - 1 - s for a bottom-up DIB, row s for a top-down one.
    spec.sy = target.topDown ? std::int64_t(startScan) : bitmapHeight - startScan - lines;
    const Surface source = b->surface();
    try {
        blitToSurface(band, RECT{0, 0, h.biWidth, LONG(lines)}, &source, spec);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return int(lines);
}

int SetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT scanLines, const void* bits,
              const BITMAPINFO* info, UINT colorUse) {
    if (ShouldFail(Call::SetDIBits, dc)) return 0;
    DeviceContext* d = nullptr;
    if (dc) {
        d = findDc(dc);
        if (!d) return 0;
    } else if (colorUse == DIB_PAL_COLORS) {
        return 0;
    }
    Bitmap* b = findBitmap(bitmap);
    if (!b || b->stock() || !bits) return 0;
    DibInfo dib;
    if (!parseDib(info, colorUse, d, dib)) return 0;
    if (scanLines == 0 || startScan >= UINT(dib.height)) return 0;
    const std::int64_t lines = std::min<std::int64_t>(scanLines, dib.height - std::int64_t(startScan));
    const Surface band = dib.rows(bits, int(lines));
    BlitSpec spec;
    spec.dw = spec.sw = dib.width;
    spec.dh = spec.sh = lines;
    // The DIB's top row goes to the bitmap's top row.
    spec.dy = dib.topDown ? std::int64_t(startScan) : dib.height - std::int64_t(startScan) - lines;
    const Surface surface = b->surface();
    try {
        blitToSurface(surface, RECT{0, 0, b->width(), b->height()}, &band, spec);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return int(lines);
}

namespace {

BOOL bltBetween(DeviceContext* d, int x, int y, int width, int height, HDC src, int xSrc, int ySrc,
                int srcWidth, int srcHeight, DWORD rop) {
    if (!ropKnown(rop)) return FALSE;
    if (width == 0 || height == 0) return TRUE;
    BlitSpec spec;
    normalizeSpan(x, width, spec.dx, spec.dw);
    normalizeSpan(y, height, spec.dy, spec.dh);
    spec.rop = rop;
    spec.mode = d->stretchMode;
    DeviceContext::Target source;
    if (ropUsesSource(rop)) {
        DeviceContext* s = findDc(src);
        if (!s || s->kind == DcKind::Printer || s->kind == DcKind::Desktop)
            return FALSE; // nothing to read pixels from
        if (srcWidth == 0 || srcHeight == 0) return TRUE;
        source = s->target();
        if (!source.surface.valid()) return TRUE;
        normalizeSpan(std::int64_t(xSrc) + s->origin.x - source.bounds.left, srcWidth, spec.sx, spec.sw);
        normalizeSpan(std::int64_t(ySrc) + s->origin.y - source.bounds.top, srcHeight, spec.sy, spec.sh);
        spec.mirrorX = (width < 0) != (srcWidth < 0);
        spec.mirrorY = (height < 0) != (srcHeight < 0);
    }
    try {
        return transferToDc(d, ropUsesSource(rop) ? &source.surface : nullptr, spec) ? TRUE : FALSE;
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
}

} // namespace

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop) {
    DeviceContext* d = findDc(dest);
    if (!d) return FALSE;
    return bltBetween(d, x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int srcWidth,
                int srcHeight, DWORD rop) {
    if (ShouldFail(Call::StretchBlt, dest)) return FALSE;
    DeviceContext* d = findDc(dest);
    if (!d) return FALSE;
    return bltBetween(d, x, y, width, height, src, xSrc, ySrc, srcWidth, srcHeight, rop);
}

} // namespace gdi
