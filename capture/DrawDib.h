// Drawing a DIB (or part of it) onto any device context: stretched or shrunk, row by row on
// true-colour displays, halftoned on displays of 256 colours or fewer, and directly (with two
// fallbacks) on everything else, printers above all.
#pragma once

#include "pixolan/Pixolan.h"
#include "platform/gdi/Gdi.h"

namespace capture {

// Draws the source rectangle of Dib onto the destination rectangle of DC. SrcY counts from the
// picture's bottom row, as StretchDIBits does for bottom-up DIBs. Leaves DC in COLORONCOLOR
// stretch mode and with the palette it had on entry. Only what falls inside DC's clip box is
// worked on.
void DrawDib(gdi::HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, DibRecord Dib, int SrcX,
             int SrcY, int SrcWidth, int SrcHeight, bool Halftone, gdi::DWORD Rop, bool UseDibPalette,
             gdi::HPALETTE Palette);

// Nearest-neighbour stretchers that send one destination row at a time with SetDIBitsToDevice.
// SrcTop counts from the picture's top row. Rows outside the picture come out black (24 bits)
// or in palette colour 0 (8 bits).
void StretchDibRows24(gdi::HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, DibRecord Dib,
                      int SrcX, int SrcTop, int SrcWidth, int SrcHeight);
void StretchDibRows8(gdi::HDC DC, int DestX, int DestY, int DestWidth, int DestHeight, DibRecord Dib,
                     int SrcX, int SrcTop, int SrcWidth, int SrcHeight);

int DibWidth(const DibRecord& Dib);
int DibHeight(const DibRecord& Dib);
unsigned DibBitCount(const DibRecord& Dib);
// 2 to the power n in 32-bit arithmetic; 1 for n <= 0.
int PowerOfTwo(int n);
int DibColorCount(const DibRecord& Dib);
// The desktop's colour depth, asked anew on every call (the user may change it at any time).
int ScreenBitsPerPixel();

// The rounding used for every scaled size: a * b / c in extended precision, halves to the even
// neighbour. The product is formed in 64 bits so that large pictures cannot overflow it.
int ScaledValue(long long a, long long b, long long c);

} // namespace capture
