// The raster library: device-independent bitmaps described by a DibRecord, with allocation,
// pixel access and halftoning for displays of 256 colours or fewer.
//
// The six routines keep C linkage and take the record by value, as the library always has. The
// record keeps its fields in their historical order; on x86-64 the pointers are 8 bytes, so the
// offsets differ from the 32-bit layout, but no file or peer depends on those offsets.
#pragma once

#include "platform/gdi/Gdi.h"

#include <cstdint>

extern "C" {

struct DibRecord {
    gdi::BITMAPINFO* info; // header, then colour table (2^bits entries at 8 bits or fewer)
    std::uint32_t reserved1[2];
    std::uint8_t* bits;       // pixel bits, storage row 0 = bottom row; null: creation failed
    std::int32_t bytesPerRow; // (width * bits + 31) / 32 * 4
    std::uint8_t usePalette;  // 1: select and realise `palette` before drawing
    std::uint8_t reserved2[3];
    gdi::HPALETTE palette; // palette for drawing this DIB or a halftoned copy of it
};

// A new DIB with zeroed pixel bits. At 8 bits or fewer the colour table is copied from
// colorSource (colorCount entries at most); without a source it holds a grey ramp. Supported
// depths: 1, 4, 8, 16, 24, 32. Failure leaves out->bits null (and out->info null).
void newdib(DibRecord* out, int width, int height, int bitsPerPixel, const gdi::BITMAPINFO* colorSource,
            int colorCount);
// Frees what newdib or a halftone call allocated for rec. A record without bits, and a record
// whose allocation was freed already, are left alone.
void deldib(DibRecord rec);
// Pixel value at column x, storage row y: a palette index at 1, 4 and 8 bits, 0x00RRGGBB at 24
// and 32 bits, the 16-bit word at 16 bits. Outside the picture: 0.
std::uint32_t getpixel(DibRecord rec, int x, int y);
void setpixel(DibRecord rec, int x, int y, std::uint32_t value);
// An 8-bit copy of rec, dithered to the fixed halftone palette, with usePalette 1 and a palette
// handle of that palette.
void DIBHalftoneDIB(DibRecord* out, DibRecord rec);
// The same, first resized to width x height (averaging the source area when it shrinks).
void DIBHalftoneDIBXY(DibRecord* out, DibRecord rec, int width, int height);

} // extern "C"
