#include "capture/DrawDib.h"

#include "pixolan/DibOwner.h"
#include "pixolan/Halftone.h"
#include "platform/MessageBox.h"
#include "platform/gdi/GdiOwners.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

using namespace gdi;

namespace capture {
namespace {

// The part of the device that drawing can reach, in logical coordinates. A DC whose clip box
// cannot be read is treated as unclipped; the transfer calls then clip (or fail) themselves.
struct Visible {
    long long left = LLONG_MIN / 4, top = LLONG_MIN / 4, right = LLONG_MAX / 4, bottom = LLONG_MAX / 4;
};

Visible visibleArea(HDC dc) {
    Visible v;
    RECT rc{};
    const int kind = GetClipBox(dc, &rc);
    if (kind == NULLREGION)
        v.left = v.right = v.top = v.bottom = 0;
    else if (kind != ERROR_REGION)
        v = Visible{rc.left, rc.top, rc.right, rc.bottom};
    return v;
}

// The half-open range of destination offsets [0, extent) that lie inside [lo, hi) once shifted
// by origin.
struct Span {
    int begin, end;
    bool empty() const { return begin >= end; }
};

Span visibleSpan(long long origin, long long extent, long long lo, long long hi) {
    const long long b = std::clamp(lo - origin, 0LL, extent);
    const long long e = std::clamp(hi - origin, 0LL, extent);
    return Span{int(b), int(e)};
}

// The destination columns and rows that can reach the device; false when none can.
bool visibleSpans(HDC dc, int destX, int destY, int destWidth, int destHeight, Span* cols, Span* rows) {
    const Visible vis = visibleArea(dc);
    *cols = visibleSpan(destX, destWidth, vis.left, vis.right);
    *rows = visibleSpan(destY, destHeight, vis.top, vis.bottom);
    return !cols->empty() && !rows->empty();
}

bool fitsInt(long long v) {
    return v >= INT_MIN && v <= INT_MAX;
}

void showDeviceMessage(const char* text) {
    platform::MessageBoxA(nullptr, text, nullptr, platform::MB_OK);
}

// A BITMAPINFO for one row of Dib, with Dib's colour table: lets a row of the picture itself be
// sent to the device, with no copy, when it maps onto the destination column for column.
std::vector<std::uint8_t> rowInfo(const DibRecord& Dib) {
    const int entries = Dib.info->bmiHeader.biBitCount <= 8 ? 1 << Dib.info->bmiHeader.biBitCount : 0;
    std::vector<std::uint8_t> storage(sizeof(BITMAPINFOHEADER) +
                                      std::size_t(std::max(entries, 1)) * sizeof(RGBQUAD));
    auto* info = reinterpret_cast<BITMAPINFO*>(storage.data());
    info->bmiHeader = Dib.info->bmiHeader;
    info->bmiHeader.biHeight = 1;
    info->bmiHeader.biSizeImage = DWORD(Dib.bytesPerRow);
    info->bmiHeader.biClrUsed = 0;
    std::memcpy(info->bmiColors, Dib.info->bmiColors, std::size_t(entries) * sizeof(RGBQUAD));
    return storage;
}

// Both row stretchers: BytesPerPixel 3 for 24-bit pictures, 1 for 8-bit ones.
template <int BytesPerPixel>
void stretchRows(HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, const DibRecord& Dib, int SrcX,
                 int SrcTop, int SrcWidth, int SrcHeight) {
    if (!Dib.bits || !Dib.info || DestWidth <= 0 || DestHeight <= 0 || SrcWidth <= 0 || SrcHeight <= 0)
        return;
    const int W = DibWidth(Dib);
    const int H = DibHeight(Dib);
    if (W <= 0 || H <= 0) return;

    // Rows and columns outside the clip box never reach the device: skip them. What is drawn
    // inside stays exactly what a full draw would put there.
    Span cols{}, rows{};
    if (!visibleSpans(DC, DestX, DestY, DestWidth, DestHeight, &cols, &rows)) return;

    pixolan::DibOwner rowOwner;
    if (BytesPerPixel == 3)
        newdib(rowOwner.out(), DestWidth, 1, 24, nullptr, 0);
    else
        newdib(rowOwner.out(), DestWidth, 1, 8, Dib.info, 256);
    if (rowOwner.empty()) return;
    const DibRecord& row = rowOwner.get();
    std::unique_ptr<int[]> table(new (std::nothrow) int[std::size_t(DestWidth)]);
    if (!table) return;

    // Column table: the byte offset of each destination column's source pixel within a row.
    // The mapping never decreases, so the valid entries form one run, first..last.
    const long long rowBytes = (long long)W * BytesPerPixel;
    int first = DestWidth;
    int last = 0;
    for (int i = 0; i < DestWidth; ++i) {
        const long long c = SrcX + (long long)SrcWidth * i / DestWidth;
        const long long entry = c * BytesPerPixel;
        if (entry >= 0 && entry < rowBytes) {
            table[std::size_t(i)] = int(entry);
            first = std::min(first, i);
            last = std::max(last, i);
        } else {
            table[std::size_t(i)] = -1;
        }
    }
    const int lo = std::max(first, cols.begin);
    const int hi = std::min(last, cols.end - 1);

    // A picture row that maps onto the destination column for column is sent as it is.
    const bool direct = SrcWidth == DestWidth && first == 0 && last == DestWidth - 1;
    const std::vector<std::uint8_t> directInfo = direct ? rowInfo(Dib) : std::vector<std::uint8_t>();

    const long long maxOffset = (long long)(H - 1) * Dib.bytesPerRow;
    long long previous = -1;
    const int sendWidth = cols.end - cols.begin;
    for (int r = rows.begin; r < rows.end; ++r) {
        const long long t = SrcTop + (long long)SrcHeight * r / DestHeight;
        const long long offset = (H - 1 - t) * (long long)Dib.bytesPerRow;
        if (offset < 0 || offset > maxOffset) {
            std::memset(row.bits, 0, std::size_t(row.bytesPerRow));
        } else if (direct) {
            SetDIBitsToDevice(DC, DestX + cols.begin, DestY + r, DWORD(sendWidth), 1, SrcX + cols.begin, 0, 0,
                              1, Dib.bits + offset, reinterpret_cast<const BITMAPINFO*>(directInfo.data()),
                              DIB_RGB_COLORS);
            continue;
        } else if (offset != previous) {
            const std::uint8_t* src = Dib.bits + offset;
            std::uint8_t* dst = row.bits;
            for (int i = lo; i <= hi; ++i) {
                if (BytesPerPixel == 3) {
                    const std::uint8_t* p = src + table[std::size_t(i)];
                    dst[3 * i] = p[0];
                    dst[3 * i + 1] = p[1];
                    dst[3 * i + 2] = p[2];
                } else {
                    dst[i] = src[table[std::size_t(i)]];
                }
            }
            previous = offset;
        }
        // Otherwise the row maps to the same source row as the one before: the buffer holds it.
        SetDIBitsToDevice(DC, DestX + cols.begin, DestY + r, DWORD(sendWidth), 1, cols.begin, 0, 0, 1,
                          row.bits, row.info, DIB_RGB_COLORS);
    }
}

void halftoneMethod(HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, const DibRecord& Dib,
                    int SrcX, int SrcY, int SrcWidth, int SrcHeight, DWORD Rop, HPALETTE chosen) {
    const int W = DibWidth(Dib);
    const int H = DibHeight(Dib);
    const bool shrunk = SrcWidth > DestWidth || DestHeight < SrcHeight;
    const int copyWidth = shrunk ? ScaledValue(W, DestWidth, SrcWidth) : W;
    const int copyHeight = shrunk ? ScaledValue(H, DestHeight, SrcHeight) : H;
    int xs = SrcX, ys = SrcY, ws = SrcWidth, hs = SrcHeight;
    if (shrunk) {
        xs = ScaledValue(SrcX, copyWidth, W);
        ys = ScaledValue(SrcY, copyHeight, H);
        ws = DestWidth;
        hs = DestHeight;
    }
    if (copyWidth <= 0 || copyHeight <= 0 || ws <= 0 || hs <= 0) return;

    Span cols{}, rows{};
    if (!visibleSpans(DC, DestX, DestY, DestWidth, DestHeight, &cols, &rows)) return;

    // Only the part of the copy that the visible destination reads is halftoned; the rest of
    // the copy stays untouched zero pages. One column and row of margin covers any rounding
    // of the stretch's nearest-pixel mapping.
    const long long srcTop = (long long)copyHeight - ys - hs;
    const long long cx0 = xs + (long long)cols.begin * ws / DestWidth - 1;
    const long long cx1 = xs + ((long long)cols.end * ws + DestWidth - 1) / DestWidth + 1;
    const long long ct0 = srcTop + (long long)rows.begin * hs / DestHeight - 1;
    const long long ct1 = srcTop + ((long long)rows.end * hs + DestHeight - 1) / DestHeight + 1;

    pixolan::DibOwner copy;
    if (!pixolan::halftoneAllocate(copy.out(), copyWidth, copyHeight)) return;
    pixolan::halftoneFill(copy.get(), Dib, int(std::clamp(cx0, 0LL, (long long)copyWidth)),
                          int(std::clamp(ct0, 0LL, (long long)copyHeight)),
                          int(std::clamp(cx1, 0LL, (long long)copyWidth)),
                          int(std::clamp(ct1, 0LL, (long long)copyHeight)));

    // Declared after the copy, so the DC's palette is back before the copy goes.
    const PaletteSelection palette(DC, chosen);
    RealizePalette(DC);
    StretchDIBits(DC, DestX, DestY, DestWidth, DestHeight, xs, ys, ws, hs, copy.get().bits, copy.get().info,
                  DIB_RGB_COLORS, Rop);
}

// Builds a nearest-neighbour copy at the destination's size and sends it whole; for devices
// whose StretchDIBits fails but that take DIBs as they are.
bool firstFallback(HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, const DibRecord& Dib,
                   int SrcX, int SrcY, int SrcWidth, int SrcHeight) {
    const int bits = int(DibBitCount(Dib));
    const int colors = DibColorCount(Dib);
    pixolan::DibOwner copyOwner;
    newdib(copyOwner.out(), DestWidth, DestHeight, bits, Dib.info, colors <= 256 ? colors : 0);
    if (copyOwner.empty()) return false;
    const DibRecord& copy = copyOwner.get();

    // The first and last destination columns and rows take the first and last of the source;
    // a destination one pixel wide or high takes the first.
    auto sourceX = [&](int x) {
        return DestWidth > 1 ? SrcX + int((long long)(SrcWidth - 1) * x / (DestWidth - 1)) : SrcX;
    };
    auto sourceY = [&](int y) {
        return DestHeight > 1 ? SrcY + int((long long)(SrcHeight - 1) * y / (DestHeight - 1)) : SrcY;
    };
    for (int y = 0; y < DestHeight; ++y) {
        const int sy = sourceY(y);
        const std::uint8_t* src = Dib.bits + (std::ptrdiff_t)sy * Dib.bytesPerRow;
        std::uint8_t* dst = copy.bits + (std::ptrdiff_t)y * copy.bytesPerRow;
        for (int x = 0; x < DestWidth; ++x) {
            const int sx = sourceX(x);
            switch (bits) {
            case 1:
                setpixel(copy, x, y, getpixel(Dib, sx, sy));
                break;
            case 4: {
                const std::uint8_t b = src[sx / 2];
                const std::uint8_t nibble = (sx % 2 == 0) ? b >> 4 : b & 0x0F;
                dst[x / 2] |= (x % 2 == 0) ? std::uint8_t(nibble << 4) : nibble;
                break;
            }
            case 8:
                dst[x] = src[sx];
                break;
            case 24:
                std::memcpy(dst + 3 * std::ptrdiff_t(x), src + 3 * std::ptrdiff_t(sx), 3);
                break;
            default:
                break;
            }
        }
    }
    return SetDIBitsToDevice(DC, DestX, DestY, DWORD(DestWidth), DWORD(DestHeight), 0, 0, 0, UINT(DestHeight),
                             copy.bits, copy.info, DIB_RGB_COLORS) != 0;
}

// Goes through a device-dependent bitmap, for devices that take no DIBs at all.
void secondFallback(HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, const DibRecord& Dib,
                    int SrcX, int SrcY, int SrcWidth, int SrcHeight, DWORD Rop) {
    const int W = DibWidth(Dib);
    const int H = DibHeight(Dib);
    // In this order, so that they go in reverse: the selection, the memory DC, the bitmap.
    const BitmapOwner bmp(CreateCompatibleBitmap(DC, W, H));
    if (!bmp) {
        showDeviceMessage("Could not create bitmap.");
        return;
    }
    const DcOwner mem(CreateCompatibleDC(DC));
    if (!mem) return;
    if (SetDIBits(mem.get(), bmp.get(), 0, UINT(H), Dib.bits, Dib.info, DIB_RGB_COLORS) == 0) {
        showDeviceMessage("The device does not support the Funtkion setdibits!");
        return;
    }
    const SelectionGuard selected(mem.get(), bmp.get());
    // StretchBlt counts source rows from the top of the bitmap; convert, so that this path draws
    // the same rows as every other one.
    if (!StretchBlt(DC, DestX, DestY, DestWidth, DestHeight, mem.get(), SrcX, H - SrcY - SrcHeight, SrcWidth,
                    SrcHeight, Rop))
        showDeviceMessage("The device does not support the function StretchBlt!");
}

void directMethod(HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, const DibRecord& Dib, int SrcX,
                  int SrcY, int SrcWidth, int SrcHeight, DWORD Rop) {
    const bool takesDibs = (GetDeviceCaps(DC, RASTERCAPS) & RC_DIBTODEV) != 0;
    const int result = StretchDIBits(DC, DestX, DestY, DestWidth, DestHeight, SrcX, SrcY, SrcWidth, SrcHeight,
                                     Dib.bits, Dib.info, DIB_RGB_COLORS, Rop);
    if (std::uint32_t(result) != std::uint32_t(GDI_ERROR)) return;
    if (takesDibs &&
        firstFallback(DC, DestX, DestY, DestWidth, DestHeight, Dib, SrcX, SrcY, SrcWidth, SrcHeight))
        return;
    secondFallback(DC, DestX, DestY, DestWidth, DestHeight, Dib, SrcX, SrcY, SrcWidth, SrcHeight, Rop);
}

} // namespace

int ScaledValue(long long a, long long b, long long c) {
    if (c == 0) return 0;
    long long p = a * b;
    if (c < 0) {
        p = -p;
        c = -c;
    }
    // Exact integer rounding, halves to the even neighbour.
    long long q = p / c;
    long long r = p % c;
    if (r < 0) {
        q -= 1;
        r += c;
    }
    if (2 * r > c || (2 * r == c && (q & 1))) q += 1;
    return int(std::clamp(q, (long long)INT_MIN, (long long)INT_MAX));
}

int DibWidth(const DibRecord& Dib) {
    return Dib.info ? Dib.info->bmiHeader.biWidth : 0;
}
int DibHeight(const DibRecord& Dib) {
    return Dib.info ? Dib.info->bmiHeader.biHeight : 0;
}
unsigned DibBitCount(const DibRecord& Dib) {
    return Dib.info ? unsigned(Dib.info->bmiHeader.biBitCount) : 0;
}

int PowerOfTwo(int n) {
    std::uint32_t v = 1;
    for (int i = 0; i < n; ++i)
        v <<= 1; // wraps to 0 past 31 doublings, as 32-bit arithmetic does
    return int(v);
}

int DibColorCount(const DibRecord& Dib) {
    return PowerOfTwo(int(DibBitCount(Dib)));
}

int ScreenBitsPerPixel() {
    const WindowDcOwner dc(GetDesktopWindow());
    int bits = 0;
    if (const BitmapOwner probe(CreateCompatibleBitmap(dc.get(), 1, 1)); probe) {
        BITMAP bm{};
        if (GetObjectA(probe.get(), int(sizeof bm), &bm) != 0) bits = bm.bmBitsPixel;
    }
    if (bits == 0) // no probe bitmap: ask the device itself
        bits = GetDeviceCaps(dc.get(), BITSPIXEL);
    return bits;
}

void StretchDibRows24(HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, DibRecord Dib, int SrcX,
                      int SrcTop, int SrcWidth, int SrcHeight) {
    stretchRows<3>(DC, DestX, DestY, DestWidth, DestHeight, Dib, SrcX, SrcTop, SrcWidth, SrcHeight);
}

void StretchDibRows8(HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, DibRecord Dib, int SrcX,
                     int SrcTop, int SrcWidth, int SrcHeight) {
    stretchRows<1>(DC, DestX, DestY, DestWidth, DestHeight, Dib, SrcX, SrcTop, SrcWidth, SrcHeight);
}

void DrawDib(HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, DibRecord Dib, int SrcX, int SrcY,
             int SrcWidth, int SrcHeight, bool Halftone, DWORD Rop, bool UseDibPalette, HPALETTE Palette) {
    const bool printer = GetDeviceCaps(DC, TECHNOLOGY) == DT_RASPRINTER;
    SetStretchBltMode(DC, COLORONCOLOR);

    const long long W = DibWidth(Dib);
    const long long H = DibHeight(Dib);
    if (!Dib.bits || W <= 0 || H <= 0 || DestWidth <= 0 || DestHeight <= 0 || SrcWidth <= 0 || SrcHeight <= 0)
        return;

    // Clip the source rectangle to the picture, in this order: right, bottom, top, left. The
    // right cut uses SrcX before the left cut moves it. Sizes are formed in 64 bits.
    long long dx = DestX, dy = DestY, dw = DestWidth, dh = DestHeight;
    long long sx = SrcX, sy = SrcY, sw = SrcWidth, sh = SrcHeight;
    if (W < sx + sw) {
        const long long w = W - sx;
        if (w <= 0) return;
        dw = ScaledValue(dw, w, sw);
        sw = w;
    }
    if (sy < 0) {
        const long long h = sh + sy;
        if (h <= 0) return;
        dh = ScaledValue(dh, h, sh);
        sh = h;
        sy = 0;
    }
    if (H < sh + sy) {
        const long long h = H - sy;
        if (h <= 0) return;
        const long long d = ScaledValue(dh, h, sh);
        dy += dh - d;
        dh = d;
        sh = h;
    }
    if (sx < 0) {
        const long long w = sx + sw;
        if (w <= 0) return;
        const long long d = ScaledValue(dw, w, sw);
        dx += dw - d;
        dw = d;
        sw = w;
        sx = 0;
    }
    if (dw <= 0 || dh <= 0 || !fitsInt(dx) || !fitsInt(dy)) return;
    DestX = int(dx);
    DestY = int(dy);
    DestWidth = int(dw);
    DestHeight = int(dh);
    SrcX = int(sx);
    SrcY = int(sy);
    SrcWidth = int(sw);
    SrcHeight = int(sh);

    const HPALETTE chosen = UseDibPalette ? Dib.palette : Palette;
    // The DC's own palette is back when DrawDib returns, after whatever the methods select.
    PaletteSelection palette;
    if (Dib.usePalette == 1) {
        palette = PaletteSelection(DC, chosen);
        RealizePalette(DC);
    }

    const unsigned bits = DibBitCount(Dib);
    const int srcTop = int(H - SrcY - SrcHeight);
    if (bits == 24 && ScreenBitsPerPixel() <= 8 && Halftone)
        halftoneMethod(DC, DestX, DestY, DestWidth, DestHeight, Dib, SrcX, SrcY, SrcWidth, SrcHeight, Rop,
                       chosen);
    else if (bits == 24 && !printer)
        StretchDibRows24(DC, DestX, DestY, DestWidth, DestHeight, Dib, SrcX, srcTop, SrcWidth, SrcHeight);
    else if (bits == 8 && !printer)
        StretchDibRows8(DC, DestX, DestY, DestWidth, DestHeight, Dib, SrcX, srcTop, SrcWidth, SrcHeight);
    else
        directMethod(DC, DestX, DestY, DestWidth, DestHeight, Dib, SrcX, SrcY, SrcWidth, SrcHeight, Rop);
}

} // namespace capture
