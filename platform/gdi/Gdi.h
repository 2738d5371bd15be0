// Velmora's raster layer: the subset of the Win32 GDI that the program draws with, on our own
// pixel surfaces. Names, argument orders, units and results follow Win32 so that the drawing
// code reads like the program it grew from; the surfaces underneath are plain memory (DIB
// sections, compatible bitmaps), the backing image of a Qt widget, or a QPrinter page.
//
// Conventions kept from Win32:
//  - Handles are pointers to objects owned by this layer; a null handle means failure.
//  - DIBs are bottom-up when biHeight > 0 (storage row 0 is the bottom row) and top-down when
//    biHeight < 0. Rows are padded to a multiple of 4 bytes. 24-bit pixels are B, G, R.
//  - Rectangles are half-open: right and bottom are exclusive.
//  - Everything runs on one thread (the UI thread); nothing here takes locks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gdi {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using COLORREF = DWORD;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct POINT {
    LONG x;
    LONG y;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// The colour table follows the header. Its length is biClrUsed, or 2^biBitCount when biClrUsed
// is 0 and biBitCount <= 8, or 3 DWORD masks for BI_BITFIELDS; callers allocate room for it.
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};

struct LOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) {
    return BYTE(c & 0xFF);
}
constexpr BYTE GetGValue(COLORREF c) {
    return BYTE((c >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF c) {
    return BYTE((c >> 16) & 0xFF);
}
// A colour given as an index into the DC's selected palette.
constexpr COLORREF PALETTEINDEX(WORD index) {
    return 0x01000000u | index;
}
// GetPixel and SetPixel when the point is outside the clip box or the device has no pixels.
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// Compression
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

// Colour use
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

// GetDeviceCaps indices and values
constexpr int TECHNOLOGY = 2;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int SIZEPALETTE = 104;

constexpr int DT_PLOTTER = 0;
constexpr int DT_RASDISPLAY = 1;
constexpr int DT_RASPRINTER = 2;

constexpr int RC_BITBLT = 0x0001;
constexpr int RC_BITMAP64 = 0x0008;
constexpr int RC_DI_BITMAP = 0x0080;
constexpr int RC_PALETTE = 0x0100;
constexpr int RC_DIBTODEV = 0x0200;
constexpr int RC_STRETCHBLT = 0x0800;
constexpr int RC_STRETCHDIB = 0x2000;

// Stretch modes
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;

// Raster operations (ternary codes as Win32 defines them)
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD SRCERASE = 0x00440328;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD NOTSRCERASE = 0x001100A6;
constexpr DWORD MERGEPAINT = 0x00BB0226;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

constexpr int GDI_ERROR = -1; // compared as a 32-bit value: all bits set

// GetClipBox results
constexpr int ERROR_REGION = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;

// Objects owned by the layer. Bitmap and Palette derive from GdiObject, so their handles convert
// to HGDIOBJ as in Win32; SelectObject's result is cast back by the caller.
class GdiObject;
class Bitmap;
class Palette;
class Brush;
class Pen;
class DeviceContext;
class Window;

using HGDIOBJ = GdiObject*;
using HBITMAP = Bitmap*;
using HPALETTE = Palette*;
using HBRUSH = Brush*;
using HPEN = Pen*;
using HDC = DeviceContext*;
using HWND = Window*;

// --- Device contexts ------------------------------------------------------------------------

// GetDC: a DC that draws onto the window outside paint handling (GetDC(nullptr) and
// GetDC(GetDesktopWindow()) give the desktop's DC).
// The desktop's DC has no pixels of its own: drawing on it succeeds and changes nothing, and
// reading it gives CLR_INVALID.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC dc);
HWND GetDesktopWindow();
HDC CreateCompatibleDC(HDC dc); // a memory DC; dc may be null (the desktop)
BOOL DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj);
BOOL DeleteObject(HGDIOBJ obj);
int GetObjectA(HGDIOBJ obj, int size, void* out); // BITMAP for bitmaps
// The object classes are private to the layer, so callers cannot convert a typed handle to
// HGDIOBJ themselves; these overloads do it, and ToBitmap & co. convert back.
HGDIOBJ SelectObject(HDC dc, HBITMAP bitmap);
HGDIOBJ SelectObject(HDC dc, HBRUSH brush);
HGDIOBJ SelectObject(HDC dc, HPEN pen);
BOOL DeleteObject(HBITMAP bitmap);
BOOL DeleteObject(HPALETTE palette);
BOOL DeleteObject(HBRUSH brush);
BOOL DeleteObject(HPEN pen);
int GetObjectA(HBITMAP bitmap, int size, void* out);
int GetObjectA(HPALETTE palette, int size, void* out); // the number of entries, as a WORD
HBITMAP ToBitmap(HGDIOBJ obj);                         // null when obj is not a bitmap
HBRUSH ToBrush(HGDIOBJ obj);
HPEN ToPen(HGDIOBJ obj);
// BITSPIXEL: the desktop's depth for window, paint, image and desktop DCs; 24 for printers;
// for a memory DC the depth of its selected bitmap (1 while it holds the stock bitmap), which is
// also the depth CreateCompatibleBitmap gives it. HORZRES/VERTRES: the screen for window and
// desktop DCs, the image for image DCs, the page for printers; a memory DC reports the device it
// was made compatible with, as it does for LOGPIXELSX/Y and TECHNOLOGY.
int GetDeviceCaps(HDC dc, int index);

// Clipping, in logical coordinates. The clip box is the intersection of the surface, the DC's
// clip rectangle and (for a paint DC) the area being painted.
int GetClipBox(HDC dc, RECT* rc);
int IntersectClipRect(HDC dc, int left, int top, int right, int bottom);
int SelectClipRgn(HDC dc, std::nullptr_t); // removes the clip rectangle
BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* previous);

// --- Bitmaps and palettes -------------------------------------------------------------------

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, void* section,
                         DWORD offset);
// COLORONCOLOR is nearest neighbour: destination pixel i of a rectangle takes source pixel
// i * srcWidth / destWidth (truncated). When shrinking, BLACKONWHITE (a new DC's mode),
// WHITEONBLACK and HALFTONE combine the pixels they drop: AND, OR and the average.
int SetStretchBltMode(HDC dc, int mode); // returns the previous mode, 0 on failure
int GetStretchBltMode(HDC dc);
HPALETTE CreatePalette(const LOGPALETTE* palette);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
UINT RealizePalette(HDC dc); // entries mapped; 0 on true-colour devices and for the default palette
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);

// --- Pixel transfers ------------------------------------------------------------------------

// A rectangle given with a negative width or height spans from x + width to x; source and
// destination of opposite signs mirror the picture. Source pixels outside the DIB, and
// destination pixels outside the clip box, are left alone.
//
// SetDIBitsToDevice returns how many of the band's scan lines fall in the source rectangle
// (whether or not the clip box shows them), 0 when none or on failure.
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info,
                      UINT colorUse);
// StretchDIBits returns the number of source rows inside the DIB, GDI_ERROR on failure. A
// printer cannot read its page back, so it takes SRCCOPY, NOTSRCCOPY, BLACKNESS and WHITENESS
// only and fails the other raster operations.
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT colorUse,
                  DWORD rop);
// GetDIBits and SetDIBits count scan lines from the bitmap's bottom row for a bottom-up DIB and
// from its top row for a top-down one, and return how many lines they copied.
int GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT scanLines, void* bits, BITMAPINFO* info,
              UINT colorUse);
int SetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT scanLines, const void* bits,
              const BITMAPINFO* info, UINT colorUse);
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop);
BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int srcWidth,
                int srcHeight, DWORD rop);

// --- Simple drawing (what the status bar's owner-draw needs) ----------------------------------

HBRUSH CreateSolidBrush(COLORREF color);
HPEN CreatePen(int style, int width, COLORREF color); // style PS_SOLID only
constexpr int PS_SOLID = 0;
// Outline with the pen, fill with the brush; right and bottom edges excluded. A pen wider than
// one pixel grows inward, so the rectangle never paints outside its bounds.
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
int FillRect(HDC dc, const RECT* rc, HBRUSH brush);
COLORREF GetPixel(HDC dc, int x, int y);
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);

} // namespace gdi
