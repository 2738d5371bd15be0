#include "capture/DrawDib.h"

#include "pixolan/DibAllocation.h"
#include "platform/MessageBox.h"
#include "platform/gdi/GdiQt.h"
#include "platform/gdi/GdiTesting.h"
#include "tests/capture/CaptureTestSupport.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace gdi;
using namespace capture;
using capture_tests::Baseline;
using capture_tests::letterF;

namespace {

constexpr QRgb kSentinel = 0xFF123456;

// A picture described by colour(x, top) in picture terms (top = 0 is the top row).
DibRecord makePicture(int w, int h, int bits, const std::function<std::uint32_t(int, int)>& colour) {
    DibRecord rec;
    newdib(&rec, w, h, bits, nullptr, 0);
    for (int top = 0; top < h; ++top)
        for (int x = 0; x < w; ++x)
            setpixel(rec, x, h - 1 - top, colour(x, top));
    return rec;
}

QRgb opaque(std::uint32_t rgb) {
    return 0xFF000000u | rgb;
}

struct Screen {
    QImage image;
    HDC dc;
    explicit Screen(int w, int h) : image(w, h, QImage::Format_RGB32) {
        image.fill(kSentinel);
        dc = CreateImageDC(&image);
    }
    ~Screen() { DeleteDC(dc); }
    QRgb at(int x, int y) const { return image.pixel(x, y) | 0xFF000000u; }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;
};

// Restores the desktop's real depth after a test that pretends otherwise.
struct DesktopDepth {
    explicit DesktopDepth(int bits) { SetDesktopBitsPerPixel(bits); }
    ~DesktopDepth() { SetDesktopBitsPerPixel(0); }
};

void drawWhole(HDC dc, const DibRecord& dib, DWORD rop = SRCCOPY, bool halftone = true) {
    const int w = DibWidth(dib), h = DibHeight(dib);
    DrawDib(dc, 0, 0, w, h, dib, 0, 0, w, h, halftone, rop, true, nullptr);
}

TEST(ScaledValue, RoundsHalvesToTheEvenNeighbour) {
    struct Case {
        long long a, b, c;
        int result;
    } const cases[] = {
        {5, 1, 2, 2},
        {7, 1, 2, 4},
        {3, 1, 2, 2},
        {-5, 1, 2, -2},
        {8, 3, 4, 6},
        {20, 8, 10, 16},
        {10, 1, 3, 3},
        {20, 1, 3, 7},
        {1, 1, 3, 0},
        // A product beyond 32 bits must not wrap: 60000 * 50000 / 60000.
        {60000, 50000, 60000, 50000},
        {50000, 40000, 7, 285714286},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScaledValue(c.a, c.b, c.c), c.result) << c.a << "*" << c.b << "/" << c.c;
}

TEST(SmallRoutines, ReadTheHeaderAndPowersOfTwo) {
    EXPECT_EQ(PowerOfTwo(0), 1);
    EXPECT_EQ(PowerOfTwo(-3), 1);
    EXPECT_EQ(PowerOfTwo(8), 256);
    EXPECT_EQ(PowerOfTwo(24), 1 << 24);
    EXPECT_EQ(PowerOfTwo(32), 0) << "32-bit arithmetic wraps";
    DibRecord d;
    newdib(&d, 7, 5, 4, nullptr, 0);
    EXPECT_EQ(DibWidth(d), 7);
    EXPECT_EQ(DibHeight(d), 5);
    EXPECT_EQ(DibBitCount(d), 4u);
    EXPECT_EQ(DibColorCount(d), 16);
    deldib(d);
}

TEST(ScreenBitsPerPixel, AsksTheDesktopEachTime) {
    const Baseline base;
    {
        DesktopDepth depth(8);
        EXPECT_EQ(ScreenBitsPerPixel(), 8);
    }
    {
        DesktopDepth depth(16);
        EXPECT_EQ(ScreenBitsPerPixel(), 16);
    }
    EXPECT_GE(ScreenBitsPerPixel(), 16);
    {
        // Without a probe bitmap the desktop's DC answers, and is given back all the same.
        DesktopDepth depth(8);
        gdi::testing::FailureScope scope;
        gdi::testing::FailAlways(gdi::testing::Call::CreateCompatibleBitmap);
        EXPECT_EQ(ScreenBitsPerPixel(), 8);
    }
    base.expectNothingLeft();
}

// The top row of the picture comes out at the top, red stays red.
TEST(DrawDib, WholePictureAtOneToOneKeepsOrientationAndColours) {
    for (int bits : {24, 8}) {
        SCOPED_TRACE(bits);
        const int w = 5, h = 7;
        DibRecord pic;
        if (bits == 24) {
            pic = makePicture(w, h, 24, [&](int x, int t) { return letterF(x, t, w, h); });
        } else {
            // An index picture whose table holds the three colours.
            pic = makePicture(w, h, 8, [&](int x, int t) {
                const auto c = letterF(x, t, w, h);
                return c == 0xFF0000 ? 1u : c == 0x00FF00 ? 2u : 3u;
            });
            pic.info->bmiColors[1] = RGBQUAD{0, 0, 255, 0};
            pic.info->bmiColors[2] = RGBQUAD{0, 255, 0, 0};
            pic.info->bmiColors[3] = RGBQUAD{255, 0, 0, 0};
        }
        Screen screen(8, 9);
        drawWhole(screen.dc, pic);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 8; ++x) {
                const QRgb want = (x < w && y < h) ? opaque(letterF(x, y, w, h)) : kSentinel;
                EXPECT_EQ(screen.at(x, y), want) << x << "," << y;
            }
        deldib(pic);
    }
}

// The clipping steps, seen on the device: which destination pixels are drawn and with which
// source pixels. Each picture pixel has its own colour, so any shift shows.
TEST(DrawDib, ClipsTheSourceRectangleToThePicture) {
    auto colour = [](int x, int top) {
        return std::uint32_t(0x400000 * (x + 1) + 0x000100 * (top * 20 + 10));
    };
    struct Case {
        const char* what;
        int picW, picH;
        int destX, destY, destW, destH, srcX, srcY, srcW, srcH;
        // Expected destination rectangle after clipping and the source rows/cols it shows.
        int outX, outY, outW, outH;
        int srcCol0, srcTop0, srcCols, srcRows; // the clipped source rectangle, rows from the top
    } const cases[] = {
        // Right edge: 5 * 1 / 2 = 2.5 rounds to 2.
        {"right edge", 3, 2, 0, 0, 5, 2, 2, 0, 2, 2, 0, 0, 2, 2, 2, 0, 1, 2},
        // Left edge: SrcX -1, width 4 -> 3 columns, DestWidth 8 -> 6, DestX 10 -> 12.
        {"left edge", 3, 2, 10, 0, 8, 2, -1, 0, 4, 2, 12, 0, 6, 2, 0, 0, 3, 2},
        // Bottom edge: SrcY -2, height 10 -> 8 rows, DestHeight 20 -> 16, DestY unchanged.
        {"bottom edge", 2, 8, 0, 0, 2, 20, 0, -2, 2, 10, 0, 0, 2, 16, 0, 0, 2, 8},
        // Top edge: picture 10 rows, SrcY 4, height 10 -> 6 rows, DestHeight 12, DestY 8.
        {"top edge", 2, 10, 0, 0, 2, 20, 0, 4, 2, 10, 0, 8, 2, 12, 0, 0, 2, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DibRecord pic = makePicture(c.picW, c.picH, 24, colour);
        Screen screen(24, 24);
        DrawDib(screen.dc, c.destX, c.destY, c.destW, c.destH, pic, c.srcX, c.srcY, c.srcW, c.srcH, true,
                SRCCOPY, true, nullptr);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x) {
                const bool inside = x >= c.outX && x < c.outX + c.outW && y >= c.outY && y < c.outY + c.outH;
                QRgb want = kSentinel;
                if (inside) {
                    const int sx = c.srcCol0 + (x - c.outX) * c.srcCols / c.outW;
                    const int st = c.srcTop0 + (y - c.outY) * c.srcRows / c.outH;
                    want = opaque(colour(sx, st));
                }
                ASSERT_EQ(screen.at(x, y), want) << x << "," << y;
            }
        deldib(pic);
    }
}

TEST(RowStretchers, MapColumnsAndRowsByIntegerDivision) {
    // Enlarging 4 -> 6 columns gives source columns 0, 0, 1, 2, 2, 3; 2 -> 3 rows gives 0, 0, 1.
    DibRecord pic =
        makePicture(4, 2, 24, [](int x, int top) { return std::uint32_t(0x10 * (x + 1)) << (top ? 0 : 16); });
    Screen screen(6, 3);
    StretchDibRows24(screen.dc, 0, 0, 6, 3, pic, 0, 0, 4, 2);
    const int cols[] = {0, 0, 1, 2, 2, 3};
    const int rows[] = {0, 0, 1};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(screen.at(x, y), opaque(std::uint32_t(0x10 * (cols[x] + 1)) << (rows[y] ? 0 : 16)))
                << x << "," << y;
    // Shrinking 6 -> 4 columns takes 0, 1, 3, 4.
    DibRecord wide = makePicture(6, 1, 24, [](int x, int) { return std::uint32_t(0x20 * (x + 1)); });
    Screen narrow(4, 1);
    StretchDibRows24(narrow.dc, 0, 0, 4, 1, wide, 0, 0, 6, 1);
    const int shrunk[] = {0, 1, 3, 4};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(narrow.at(x, 0), opaque(std::uint32_t(0x20 * (shrunk[x] + 1))));
    deldib(pic);
    deldib(wide);
}

// Rows that map above the picture come out black (24 bits) or in palette colour 0 (8 bits);
// the rows below them show the picture.
TEST(RowStretchers, RowsOutsideThePictureAreBlackOrColourZero) {
    DibRecord rgb = makePicture(3, 3, 24, [](int, int top) { return 0x202020u * std::uint32_t(top + 2); });
    Screen a(3, 3);
    StretchDibRows24(a.dc, 0, 0, 3, 3, rgb, 0, -1, 3, 3);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(a.at(x, 0), opaque(0));
        EXPECT_EQ(a.at(x, 1), opaque(0x404040));
        EXPECT_EQ(a.at(x, 2), opaque(0x606060));
    }
    DibRecord idx = makePicture(3, 3, 8, [](int, int top) { return std::uint32_t(top + 5); });
    idx.info->bmiColors[0] = RGBQUAD{0, 200, 0, 0};
    Screen b(3, 3);
    StretchDibRows8(b.dc, 0, 0, 3, 3, idx, 0, -1, 3, 3);
    EXPECT_EQ(b.at(1, 0), opaque(0x00C800));
    EXPECT_EQ(b.at(1, 1), opaque(idx.info->bmiColors[5].rgbRed * 0x010101u));
    deldib(rgb);
    deldib(idx);
}

// Which of the four methods runs shows in two ways: the row stretchers ignore the raster
// operation (NOTSRCCOPY inverts only with the direct and halftone methods), and the halftone
// method leaves only halftone palette colours.
enum class Seen { Rows, Direct, Halftone };

Seen whichMethod(HDC dc, const std::function<QRgb(int, int)>& pixel, int bits, bool halftone) {
    // A flat colour that is not in the halftone palette, so dithering shows as several colours.
    const std::uint32_t c = 0x6496C8;
    DibRecord pic;
    if (bits == 8 || bits == 4 || bits == 1) {
        pic = makePicture(8, 8, bits, [](int, int) { return 1u; });
        pic.info->bmiColors[1] = RGBQUAD{0xC8, 0x96, 0x64, 0};
    } else if (bits == 16) {
        pic = makePicture(8, 8, 16, [](int, int) {
            return std::uint32_t((0x64 >> 3) << 10 | (0x96 >> 3) << 5 | (0xC8 >> 3));
        });
    } else {
        pic = makePicture(8, 8, bits, [&](int, int) { return c; });
    }
    DrawDib(dc, 0, 0, 8, 8, pic, 0, 0, 8, 8, halftone, NOTSRCCOPY, true, nullptr);
    deldib(pic);
    std::set<QRgb> colours;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            colours.insert(pixel(x, y) & 0xFFFFFF);
    if (colours.size() > 1) return Seen::Halftone;
    const QRgb only = *colours.begin();
    // Inverted: the red channel is far from the source's 0x64.
    const int red = qRed(only);
    return red > 0x80 ? Seen::Direct : Seen::Rows;
}

TEST(DrawDib, ChoosesTheMethodByDepthDeviceAndDesktop) {
    struct Case {
        const char* what;
        int bits;
        bool printer;
        int desktop;
        bool halftone;
        Seen method;
    } const cases[] = {
        {"24-bit, true-colour desktop", 24, false, 32, true, Seen::Rows},
        {"24-bit, 8-bit desktop", 24, false, 8, true, Seen::Halftone},
        {"24-bit, 8-bit desktop, no halftone", 24, false, 8, false, Seen::Rows},
        {"24-bit on a printer", 24, true, 32, true, Seen::Direct},
        {"24-bit on a printer, 8-bit desktop", 24, true, 8, true, Seen::Halftone},
        {"8-bit on screen", 8, false, 32, true, Seen::Rows},
        {"8-bit on a printer", 8, true, 32, true, Seen::Direct},
        {"1-bit", 1, false, 32, true, Seen::Direct},
        {"4-bit", 4, false, 32, true, Seen::Direct},
        {"16-bit", 16, false, 32, true, Seen::Direct},
        {"32-bit", 32, false, 32, true, Seen::Direct},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DesktopDepth depth(c.desktop);
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(kSentinel);
        if (c.printer) {
            // The printer DC's device is a PDF printer; its pixels are painted onto an image we
            // can read back.
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(dir.filePath("probe.pdf"));
            QPainter painter(&image);
            HDC dc = CreatePrinterDC(&printer, &painter);
            ASSERT_EQ(GetDeviceCaps(dc, TECHNOLOGY), DT_RASPRINTER);
            EXPECT_EQ(whichMethod(
                          dc, [&](int x, int y) { return image.pixel(x, y); }, c.bits, c.halftone),
                      c.method);
            DeleteDC(dc);
        } else {
            HDC dc = CreateImageDC(&image);
            EXPECT_EQ(whichMethod(
                          dc, [&](int x, int y) { return image.pixel(x, y); }, c.bits, c.halftone),
                      c.method);
            DeleteDC(dc);
        }
    }
}

// The fallbacks of the direct method, on devices that fail the calls one after the other. The
// messages are shown without owner or caption, with OK only.
TEST(DrawDib, DirectMethodFallsBackAndReportsDeviceFailures) {
    using gdi::testing::Call;
    struct Case {
        const char* what;
        std::vector<Call> failing;
        const char* message; // null: no message
        bool drawn;
    } const cases[] = {
        {"StretchDIBits fails: first fallback", {Call::StretchDIBits}, nullptr, true},
        {"and SetDIBitsToDevice: second fallback",
         {Call::StretchDIBits, Call::SetDIBitsToDevice},
         nullptr,
         true},
        {"and no bitmap",
         {Call::StretchDIBits, Call::SetDIBitsToDevice, Call::CreateCompatibleBitmap},
         "Could not create bitmap.",
         false},
        {"and SetDIBits",
         {Call::StretchDIBits, Call::SetDIBitsToDevice, Call::SetDIBits},
         "The device does not support the Funtkion setdibits!",
         false},
        {"and StretchBlt",
         {Call::StretchDIBits, Call::SetDIBitsToDevice, Call::StretchBlt},
         "The device does not support the function StretchBlt!",
         false},
    };
    // A 1-bit picture always takes the direct method; 4 x 3 drawn to 6 x 3.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Baseline base;
        platform::MessageBoxRecorder boxes;
        DibRecord pic = makePicture(4, 3, 1, [](int x, int top) { return std::uint32_t((x + top) & 1); });
        auto screenOwner = std::make_unique<Screen>(8, 4);
        Screen& screen = *screenOwner;
        {
            gdi::testing::FailureScope scope;
            for (Call call : c.failing) {
                // SetDIBits runs on the fallback's own memory DC, made during the call.
                if (call == Call::SetDIBits)
                    gdi::testing::FailAlways(call);
                else
                    gdi::testing::FailOnDevice(screen.dc, call);
            }
            DrawDib(screen.dc, 1, 0, 6, 3, pic, 0, 0, 4, 3, true, SRCCOPY, true, nullptr);
        }
        if (c.message) {
            ASSERT_EQ(boxes.calls().size(), 1u);
            EXPECT_EQ(boxes.calls()[0].text.toStdString(), c.message);
            EXPECT_TRUE(boxes.calls()[0].caption.isNull());
            EXPECT_EQ(boxes.calls()[0].owner, nullptr);
            EXPECT_EQ(boxes.calls()[0].type, platform::MB_OK);
        } else {
            EXPECT_TRUE(boxes.calls().empty());
        }
        bool anyDrawn = false;
        for (int y = 0; y < 3; ++y)
            for (int x = 1; x < 7; ++x)
                anyDrawn |= screen.at(x, y) != kSentinel;
        EXPECT_EQ(anyDrawn, c.drawn);
        EXPECT_EQ(screen.at(0, 0), kSentinel);
        EXPECT_EQ(screen.at(7, 0), kSentinel);
        deldib(pic);
        screenOwner.reset();
        base.expectNothingLeft();
    }
}

// The first fallback spreads the source so that the first and last destination columns take
// the first and last source columns: for 4 -> 6 that is 0, 0, 1, 1, 2, 3.
TEST(DrawDib, FirstFallbackMapsEndsToEnds) {
    auto colour = [](int x, int) { return std::uint32_t(0x300000 * (x + 1)); };
    DibRecord pic = makePicture(4, 1, 24, colour);
    QImage image(6, 1, QImage::Format_RGB32);
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("x.pdf"));
    QPainter painter(&image);
    HDC dc = CreatePrinterDC(&printer, &painter);
    {
        gdi::testing::FailureScope scope;
        gdi::testing::FailOnDevice(dc, gdi::testing::Call::StretchDIBits);
        DrawDib(dc, 0, 0, 6, 1, pic, 0, 0, 4, 1, true, SRCCOPY, true, nullptr);
    }
    painter.end();
    const int cols[] = {0, 0, 1, 1, 2, 3};
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(image.pixel(x, 0) | 0xFF000000u, opaque(colour(cols[x], 0))) << x;
    // A destination one pixel wide takes the first source column instead of dividing by zero.
    QImage one(1, 1, QImage::Format_RGB32);
    QPainter p2(&one);
    HDC dc2 = CreatePrinterDC(&printer, &p2);
    {
        gdi::testing::FailureScope scope;
        gdi::testing::FailOnDevice(dc2, gdi::testing::Call::StretchDIBits);
        DrawDib(dc2, 0, 0, 1, 1, pic, 1, 0, 3, 1, true, SRCCOPY, true, nullptr);
    }
    p2.end();
    EXPECT_EQ(one.pixel(0, 0) | 0xFF000000u, opaque(colour(1, 0)));
    DeleteDC(dc);
    DeleteDC(dc2);
    deldib(pic);
}

// Whatever the method, the DC leaves DrawDib with the palette it had on entry.
TEST(DrawDib, PutsBackThePaletteTheDCHad) {
    std::vector<std::uint8_t> lpStorage(sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(lpStorage.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = 4;
    const HPALETTE mine = CreatePalette(lp);
    const HPALETTE pictures = CreatePalette(lp);
    struct Case {
        const char* what;
        int bits, desktop;
        bool failDirect;
    } const cases[] = {{"rows", 24, 32, false},
                       {"halftone", 24, 8, false},
                       {"rows8", 8, 32, false},
                       {"direct", 1, 32, false},
                       {"fallbacks", 1, 32, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DesktopDepth depth(c.desktop);
        platform::MessageBoxRecorder boxes;
        Screen screen(4, 4);
        const HPALETTE original = SelectPalette(screen.dc, mine, FALSE);
        DibRecord pic = makePicture(4, 4, c.bits, [](int x, int) { return std::uint32_t(x & 1); });
        pic.usePalette = 1;
        pic.palette = pictures;
        {
            gdi::testing::FailureScope scope;
            if (c.failDirect) {
                gdi::testing::FailOnDevice(screen.dc, gdi::testing::Call::StretchDIBits);
                gdi::testing::FailOnDevice(screen.dc, gdi::testing::Call::SetDIBitsToDevice);
                gdi::testing::FailOnDevice(screen.dc, gdi::testing::Call::StretchBlt);
            }
            drawWhole(screen.dc, pic);
        }
        EXPECT_EQ(SelectPalette(screen.dc, original, FALSE), mine);
        pic.palette = nullptr;
        deldib(pic);
    }
    DeleteObject(mine);
    DeleteObject(pictures);
}

// Drawing into a DC that shows only part of the destination must put exactly the pixels that a
// full draw puts there, for every method that skips invisible work.
TEST(DrawDib, ClippedDrawEqualsTheSamePartOfAFullDraw) {
    auto colour = [](int x, int top) {
        return std::uint32_t((x * 37 + top * 11) & 0xFF) << 16 | std::uint32_t((x * 5) & 0xFF) << 8 |
               std::uint32_t((top * 3) & 0xFF);
    };
    struct Case {
        const char* what;
        int bits, desktop;
        int destW, destH; // picture is 61 x 43
    } const cases[] = {
        {"1:1 rows", 24, 32, 61, 43},          {"enlarged rows", 24, 32, 150, 97},
        {"shrunk rows", 24, 32, 29, 20},       {"8-bit rows", 8, 32, 83, 51},
        {"1:1 halftone", 24, 8, 61, 43},       {"shrunk halftone", 24, 8, 31, 17},
        {"enlarged halftone", 24, 8, 140, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DesktopDepth depth(c.desktop);
        DibRecord pic = makePicture(61, 43, c.bits, [&](int x, int t) {
            return c.bits == 8 ? std::uint32_t((x * 3 + t * 7) & 0xFF) : colour(x, t);
        });
        Screen full(160, 110);
        DrawDib(full.dc, 5, 3, c.destW, c.destH, pic, 0, 0, 61, 43, true, SRCCOPY, true, nullptr);
        Screen part(160, 110);
        IntersectClipRect(part.dc, 17, 9, 44, 31);
        DrawDib(part.dc, 5, 3, c.destW, c.destH, pic, 0, 0, 61, 43, true, SRCCOPY, true, nullptr);
        for (int y = 0; y < 110; ++y)
            for (int x = 0; x < 160; ++x) {
                const bool inClip = x >= 17 && x < 44 && y >= 9 && y < 31;
                ASSERT_EQ(part.at(x, y), inClip ? full.at(x, y) : kSentinel) << x << "," << y;
            }
        deldib(pic);
    }
}

// Arguments outside what drawing can use draw nothing and do not crash.
TEST(DrawDib, DegenerateArgumentsDrawNothing) {
    const Baseline base;
    DibRecord pic = makePicture(4, 4, 24, [](int, int) { return 0xFFFFFFu; });
    struct Case {
        int dx, dy, dw, dh, sx, sy, sw, sh;
    } const cases[] = {
        {0, 0, 0, 4, 0, 0, 4, 4},
        {0, 0, 4, -1, 0, 0, 4, 4},
        {0, 0, 4, 4, 0, 0, 0, 4},
        {0, 0, 4, 4, 0, 0, 4, -2},
        {0, 0, 4, 4, 4, 0, 4, 4},
        {0, 0, 4, 4, -9, 0, 4, 4},
        {0, 0, 4, 4, 0, 7, 4, 4},
        {0, 0, 4, 4, 0, -5, 4, 4},
        // Cut to one source column, the destination width rounds to 1 * 1 / 9 = 0.
        {0, 0, 1, 1, 3, 3, 9, 9},
    };
    for (const auto& c : cases) {
        Screen screen(6, 6);
        DrawDib(screen.dc, c.dx, c.dy, c.dw, c.dh, pic, c.sx, c.sy, c.sw, c.sh, true, SRCCOPY, true, nullptr);
        bool drawn = false;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x)
                drawn |= screen.at(x, y) != kSentinel;
        EXPECT_FALSE(drawn) << c.dx << " " << c.dw << " " << c.sx << " " << c.sy << " " << c.sw;
    }
    {
        DibRecord none{};
        Screen screen(4, 4);
        DrawDib(screen.dc, 0, 0, 4, 4, none, 0, 0, 4, 4, true, SRCCOPY, true, nullptr);
        EXPECT_EQ(screen.at(0, 0), kSentinel);
    }
    deldib(pic);
    base.expectNothingLeft();
}

// A destination wider than 32-bit products allow: the scaled width must not wrap around.
TEST(DrawDib, LargeClippedSizesDoNotOverflow) {
    DibRecord pic = makePicture(50000, 1, 24, [](int x, int) { return std::uint32_t(x & 0xFFFF); });
    Screen screen(100, 1);
    // Source 60000 wide on a 50000-wide picture: the width is cut to 50000 and the destination
    // to 60000 * 50000 / 60000 = 50000.
    DrawDib(screen.dc, 0, 0, 60000, 1, pic, 0, 0, 60000, 1, true, SRCCOPY, true, nullptr);
    EXPECT_EQ(screen.at(99, 0), opaque(99));
    deldib(pic);
}

} // namespace
