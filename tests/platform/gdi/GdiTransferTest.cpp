// Pixel transfers: DIBs onto devices, bitmaps back into DIBs, DC to DC.
#include "GdiTestSupport.h"

#include <QImage>
#include <climits>
#include <iterator>

namespace gdi_test {
namespace {

const Rows kFramedF{".....", ".RRR.", ".RBB.", ".RRB.", ".RBB.", ".RBB.", "....."};

struct DepthCase {
    const char* name;
    int bpp;
    DWORD compression;
    std::vector<DWORD> masks;
    std::vector<std::uint32_t> colors;
    std::uint32_t red; // native value of red and of blue in this format
    std::uint32_t blue;
};

std::vector<std::uint32_t> tableWith(int size, int redAt, int blueAt) {
    std::vector<std::uint32_t> t(std::size_t(size), 0x123456);
    t[std::size_t(redAt)] = kRed;
    t[std::size_t(blueAt)] = kBlue;
    return t;
}

const std::vector<DepthCase>& depthCases() {
    static const std::vector<DepthCase> cases{
        {"1 bit", 1, BI_RGB, {}, {kBlue, kRed}, 1, 0},
        {"4 bits, red in the low nibble's index", 4, BI_RGB, {}, tableWith(16, 5, 9), 5, 9},
        {"8 bits", 8, BI_RGB, {}, tableWith(256, 200, 17), 200, 17},
        {"16 bits 5-5-5 by default", 16, BI_RGB, {}, {}, 0x7C00, 0x001F},
        {"16 bits 5-6-5 bit fields", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, {}, 0xF800, 0x001F},
        {"24 bits", 24, BI_RGB, {}, {}, kRed, kBlue},
        {"32 bits", 32, BI_RGB, {}, {}, kRed, kBlue},
        {"32 bits with red in the low byte", 32, BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000}, {}, 0xFF, 0xFF0000},
    };
    return cases;
}

TestDib makeF(const DepthCase& c, bool topDown) {
    TestDib dib(3, topDown ? -5 : 5, c.bpp, c.colors, c.compression, c.masks);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            dib.set(x, y, fColor(x, y) == kRed ? c.red : c.blue);
    return dib;
}

using GdiTransferTest = GdiTest;

// Every source depth and both row orders come out upright, unmirrored and in the right colours.
TEST_F(GdiTransferTest, SetDIBitsToDeviceDrawsEveryDepthUpright) {
    for (const DepthCase& c : depthCases()) {
        for (const bool topDown : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (topDown ? ", top-down" : ", bottom-up"));
            TestDib dib = makeF(c, topDown);
            Canvas canvas(5, 7);
            EXPECT_EQ(SetDIBitsToDevice(canvas.dc(), 1, 1, 3, 5, 0, 0, 0, 5, dib.bits(), dib.info(),
                                        DIB_RGB_COLORS),
                      5);
            EXPECT_EQ(canvas.letters(), kFramedF);
        }
    }
}

// Banding: the bits hold only scan lines startScan .. startScan + scanLines - 1, counted from
// the bottom for a bottom-up DIB and from the top for a top-down one.
TEST_F(GdiTransferTest, SetDIBitsToDeviceBandsOfScanLines) {
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        TestDib dib = makeF24(topDown);
        Canvas canvas(3, 5);
        for (int scan = 0; scan < 5; ++scan) {
            const std::uint8_t* band = dib.bits() + scan * dib.stride();
            EXPECT_EQ(SetDIBitsToDevice(canvas.dc(), 0, 0, 3, 5, 0, 0, UINT(scan), 1, band, dib.info(),
                                        DIB_RGB_COLORS),
                      1);
        }
        EXPECT_EQ(canvas.letters(), fShape());
    }
    // A band that reaches past the picture is cut at its last scan line; only its rows change.
    TestDib dib = makeF24(false);
    Canvas canvas(3, 5);
    EXPECT_EQ(SetDIBitsToDevice(canvas.dc(), 0, 0, 3, 5, 0, 0, 3, 10, dib.bits() + 3 * dib.stride(),
                                dib.info(), DIB_RGB_COLORS),
              2);
    EXPECT_EQ(canvas.letters(), (Rows{"RRR", "RBB", "...", "...", "..."}));
    // A band that holds none of the source rectangle's rows sets nothing.
    EXPECT_EQ(SetDIBitsToDevice(canvas.dc(), 0, 0, 3, 2, 0, 0, 3, 2, dib.bits() + 3 * dib.stride(),
                                dib.info(), DIB_RGB_COLORS),
              0);
}

TEST_F(GdiTransferTest, SetDIBitsToDeviceSourceRectangleClipAndOrigin) {
    TestDib dib = makeF24(false);
    {
        // ySrc is the lower edge counted from the bottom: scans 3 and 4 are the top two rows.
        // The destination starts left of the surface, so only the source's last column lands.
        Canvas canvas(3, 3);
        EXPECT_EQ(
            SetDIBitsToDevice(canvas.dc(), -1, 0, 2, 2, 1, 3, 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS),
            2);
        EXPECT_EQ(canvas.letters(), (Rows{"R..", "B..", "..."}));
    }
    {
        Canvas canvas(4, 5);
        EXPECT_EQ(IntersectClipRect(canvas.dc(), 1, 1, 3, 3), SIMPLEREGION);
        SetDIBitsToDevice(canvas.dc(), 0, 0, 3, 5, 0, 0, 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS);
        EXPECT_EQ(canvas.letters(), (Rows{"....", ".BB.", ".RB.", "....", "...."}));
    }
    {
        // The viewport origin moves logical (0, 0) to device (1, 0); the clip moves with it.
        Canvas canvas(4, 5);
        POINT previous{9, 9};
        EXPECT_TRUE(SetViewportOrgEx(canvas.dc(), 1, 0, &previous));
        EXPECT_EQ(previous.x, 0);
        IntersectClipRect(canvas.dc(), 0, 0, 2, 5);
        SetDIBitsToDevice(canvas.dc(), 0, 0, 3, 5, 0, 0, 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS);
        EXPECT_EQ(canvas.letters(), (Rows{".RR.", ".RB.", ".RR.", ".RB.", ".RB."}));
    }
}

// Rows wide enough for the word-at-a-time loops and their tails, through every pairing of
// depths the fast paths cover, compared pixel by pixel with what GetPixel reads back.
TEST_F(GdiTransferTest, WideRowsSurviveEveryFastPath) {
    constexpr int W = 37, H = 3;
    std::vector<std::uint32_t> table(256);
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFFFF; };
    for (auto& c : table)
        c = next();
    // What a 16-bit 5-5-5 pixel keeps of a colour.
    const auto as555 = [](std::uint32_t c) {
        std::uint32_t out = 0;
        for (int shift : {0, 8, 16}) {
            const std::uint32_t v = (c >> shift) & 0xF8;
            out |= (v | v >> 5) << shift;
        }
        return out;
    };
    for (const int from : {8, 24, 32}) {
        for (const int to : {16, 24, 32}) {
            SCOPED_TRACE("from " + std::to_string(from) + " to " + std::to_string(to) + " bits");
            TestDib source(W, H, from, from == 8 ? table : std::vector<std::uint32_t>{});
            std::vector<std::uint32_t> expected;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const std::uint32_t rgb = next();
                    const std::uint8_t index = std::uint8_t(rgb);
                    source.set(x, y, from == 8 ? index : rgb);
                    const std::uint32_t shown = from == 8 ? table[index] : rgb;
                    expected.push_back(to == 16 ? as555(shown) : shown);
                }
            TestDib header(W + 2, H, to);
            HDC dc = CreateCompatibleDC(nullptr);
            HBITMAP bitmap = CreateDIBSection(dc, header.info(), DIB_RGB_COLORS, nullptr, nullptr, 0);
            HGDIOBJ old = SelectObject(dc, bitmap);
            EXPECT_EQ(
                SetDIBitsToDevice(dc, 1, 0, W, H, 0, 0, 0, H, source.bits(), source.info(), DIB_RGB_COLORS),
                H);
            int wrong = 0;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x)
                    wrong += GetPixel(dc, x + 1, y) != RGB(BYTE(expected[y * W + x] >> 16),
                                                           BYTE(expected[y * W + x] >> 8),
                                                           BYTE(expected[y * W + x]));
            EXPECT_EQ(wrong, 0);
            for (int y = 0; y < H; ++y) {
                EXPECT_EQ(GetPixel(dc, 0, y), RGB(0, 0, 0)) << "left of the destination";
                EXPECT_EQ(GetPixel(dc, W + 1, y), RGB(0, 0, 0)) << "right of the destination";
            }
            SelectObject(dc, old);
            DeleteObject(bitmap);
            DeleteDC(dc);
        }
    }
}

// A 24-bit row of distinct values, 1, 2, 3, ..., to follow where each source pixel goes.
TestDib numberedRow(int width, bool vertical = false, bool topDown = true) {
    TestDib dib(vertical ? 1 : width, vertical ? (topDown ? -width : width) : -1, 24);
    for (int i = 0; i < width; ++i)
        dib.set(vertical ? 0 : i, vertical ? i : 0, std::uint32_t(i + 1));
    return dib;
}

std::vector<int> rowValues(const Canvas& c, int width, int y = 0) {
    std::vector<int> v;
    for (int x = 0; x < width; ++x)
        v.push_back(int(c.at(x, y) & 0xFF));
    return v;
}

std::vector<int> columnValues(const Canvas& c, int height) {
    std::vector<int> v;
    for (int y = 0; y < height; ++y)
        v.push_back(int(c.at(0, y) & 0xFF));
    return v;
}

TEST_F(GdiTransferTest, StretchDIBitsNearestNeighbourAndMirroring) {
    struct Case {
        const char* name;
        int sourceWidth;
        int xDest, destWidth, xSrc, srcWidth;
        std::vector<int> expected; // 0x80: untouched
    };
    const std::vector<Case> cases{
        {"enlarging 4 to 6", 4, 0, 6, 0, 4, {1, 1, 2, 3, 3, 4}},
        {"shrinking 6 to 4", 6, 0, 4, 0, 6, {1, 2, 4, 5, 0x80, 0x80}},
        {"negative destination width mirrors", 4, 4, -4, 0, 4, {4, 3, 2, 1, 0x80, 0x80}},
        {"negative source width mirrors", 4, 0, 4, 4, -4, {4, 3, 2, 1, 0x80, 0x80}},
        {"both negative do not mirror", 4, 4, -4, 4, -4, {1, 2, 3, 4, 0x80, 0x80}},
        {"mirrored enlarging is the mirror image", 4, 6, -6, 0, 4, {4, 3, 3, 2, 1, 1}},
        {"source partly left of the picture", 4, 0, 4, -2, 4, {0x80, 0x80, 1, 2, 0x80, 0x80}},
        {"source partly right of the picture", 4, 0, 4, 2, 4, {3, 4, 0x80, 0x80, 0x80, 0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDib dib = numberedRow(c.sourceWidth);
        Canvas canvas(6, 1);
        SetStretchBltMode(canvas.dc(), COLORONCOLOR);
        EXPECT_EQ(StretchDIBits(canvas.dc(), c.xDest, 0, c.destWidth, 1, c.xSrc, 0, c.srcWidth, 1, dib.bits(),
                                dib.info(), DIB_RGB_COLORS, SRCCOPY),
                  1);
        EXPECT_EQ(rowValues(canvas, 6), c.expected);
    }
}

TEST_F(GdiTransferTest, StretchDIBitsRowsAndSourceY) {
    struct Case {
        const char* name;
        bool topDown;
        int yDest, destHeight, ySrc, srcHeight;
        std::vector<int> expected;
    };
    const std::vector<Case> cases{
        // Rows 1..4 from the top. For a bottom-up DIB ySrc counts from the bottom row.
        {"bottom-up, lower edge 0 is the bottom", false, 0, 2, 0, 2, {3, 4, 0x80}},
        {"bottom-up, lower edge 2", false, 0, 2, 2, 2, {1, 2, 0x80}},
        {"top-down counts from the top", true, 0, 2, 0, 2, {1, 2, 0x80}},
        {"enlarging 2 rows to 3", true, 0, 3, 0, 2, {1, 1, 2}},
        {"negative destination height flips", true, 2, -2, 0, 2, {2, 1, 0x80}},
        {"source partly below the picture", false, 0, 2, -1, 2, {4, 0x80, 0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDib dib = numberedRow(4, true, c.topDown);
        Canvas canvas(1, 3);
        SetStretchBltMode(canvas.dc(), COLORONCOLOR);
        StretchDIBits(canvas.dc(), 0, c.yDest, 1, c.destHeight, 0, c.ySrc, 1, c.srcHeight, dib.bits(),
                      dib.info(), DIB_RGB_COLORS, SRCCOPY);
        EXPECT_EQ(columnValues(canvas, 3), c.expected);
    }
}

TEST_F(GdiTransferTest, StretchDIBitsDoublesTheF) {
    TestDib dib = makeF24(false);
    Canvas canvas(6, 10);
    EXPECT_EQ(
        StretchDIBits(canvas.dc(), 0, 0, 6, 10, 0, 0, 3, 5, dib.bits(), dib.info(), DIB_RGB_COLORS, SRCCOPY),
        5);
    Rows doubled;
    for (const std::string& row : fShape()) {
        std::string wide;
        for (char ch : row)
            wide += std::string(2, ch);
        doubled.push_back(wide);
        doubled.push_back(wide);
    }
    EXPECT_EQ(canvas.letters(), doubled);
}

TEST_F(GdiTransferTest, RasterOperationsCombineSourceAndDestination) {
    constexpr std::uint32_t S = 0x0F33CC, D = 0x3355F0;
    const struct {
        const char* name;
        DWORD rop;
        std::uint32_t expected;
    } cases[] = {
        {"SRCCOPY", SRCCOPY, S},
        {"SRCPAINT", SRCPAINT, S | D},
        {"SRCAND", SRCAND, S & D},
        {"SRCINVERT", SRCINVERT, S ^ D},
        {"SRCERASE", SRCERASE, S & ~D & 0xFFFFFF},
        {"NOTSRCCOPY", NOTSRCCOPY, ~S & 0xFFFFFF},
        {"NOTSRCERASE", NOTSRCERASE, ~(S | D) & 0xFFFFFF},
        {"MERGEPAINT", MERGEPAINT, (~S | D) & 0xFFFFFF},
        {"DSTINVERT", DSTINVERT, ~D & 0xFFFFFF},
        {"BLACKNESS", BLACKNESS, 0},
        {"WHITENESS", WHITENESS, 0xFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDib dib(2, 1, 24);
        dib.set(0, 0, S);
        dib.set(1, 0, S);
        Canvas canvas(3, 1, D);
        EXPECT_NE(
            StretchDIBits(canvas.dc(), 0, 0, 2, 1, 0, 0, 2, 1, dib.bits(), dib.info(), DIB_RGB_COLORS, c.rop),
            GDI_ERROR);
        EXPECT_EQ(canvas.at(0, 0), c.expected);
        EXPECT_EQ(canvas.at(1, 0), c.expected);
        EXPECT_EQ(canvas.at(2, 0), D) << "outside the destination";
    }
}

TEST_F(GdiTransferTest, StretchDIBitsFailuresReturnGdiError) {
    TestDib dib = makeF24();
    Canvas canvas(3, 5);
    HDC deleted = CreateCompatibleDC(nullptr);
    DeleteDC(deleted);
    TestDib badDepth = makeF24();
    badDepth.info()->bmiHeader.biBitCount = 7;
    TestDib badSize = makeF24();
    badSize.info()->bmiHeader.biSize = 12;
    TestDib compressed = makeF24();
    compressed.info()->bmiHeader.biCompression = 1; // run-length encoded
    TestDib noWidth = makeF24();
    noWidth.info()->bmiHeader.biWidth = 0;
    const struct {
        const char* name;
        HDC dc;
        TestDib* dib;
        const void* bits;
        DWORD rop;
    } cases[] = {
        {"null DC", nullptr, &dib, dib.bits(), SRCCOPY},
        {"deleted DC", deleted, &dib, dib.bits(), SRCCOPY},
        {"unknown raster operation", canvas.dc(), &dib, dib.bits(), 0x00123456},
        {"7 bits per pixel", canvas.dc(), &badDepth, badDepth.bits(), SRCCOPY},
        {"old header size", canvas.dc(), &badSize, badSize.bits(), SRCCOPY},
        {"compressed", canvas.dc(), &compressed, compressed.bits(), SRCCOPY},
        {"zero width", canvas.dc(), &noWidth, noWidth.bits(), SRCCOPY},
        {"no bits", canvas.dc(), &dib, nullptr, SRCCOPY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StretchDIBits(c.dc, 0, 0, 3, 5, 0, 0, 3, 5, c.bits, c.dib->info(), DIB_RGB_COLORS, c.rop),
                  GDI_ERROR);
        EXPECT_EQ(SetDIBitsToDevice(c.dc, 0, 0, 3, 5, 0, 0, 0, 5, c.bits, c.dib->info(), DIB_RGB_COLORS),
                  c.rop == SRCCOPY ? 0 : 5);
    }
    // Only SetDIBitsToDevice with the sound header drew (it takes no raster operation).
    EXPECT_EQ(canvas.letters(), fShape());
}

TEST_F(GdiTransferTest, StretchDIBitsWithNothingToDrawIsNotAnError) {
    TestDib dib = makeF24();
    Canvas canvas(3, 5);
    EXPECT_EQ(
        StretchDIBits(canvas.dc(), 0, 0, 0, 5, 0, 0, 3, 5, dib.bits(), dib.info(), DIB_RGB_COLORS, SRCCOPY),
        0);
    // Operations that ignore the source need no bits.
    EXPECT_NE(
        StretchDIBits(canvas.dc(), 0, 0, 1, 1, 0, 0, 1, 1, nullptr, dib.info(), DIB_RGB_COLORS, BLACKNESS),
        GDI_ERROR);
    EXPECT_EQ(canvas.at(0, 0), kBlack);
    // Entirely outside the surface: nothing drawn, still a success.
    EXPECT_NE(StretchDIBits(canvas.dc(), -100, -100, 3, 5, 0, 0, 3, 5, dib.bits(), dib.info(), DIB_RGB_COLORS,
                            SRCCOPY),
              GDI_ERROR);
    EXPECT_EQ(canvas.at(1, 1), 0x808080u);
}

// Coordinates and sizes at the ends of their ranges: every call either draws inside the surface
// or fails, with one of the results its contract allows.
TEST_F(GdiTransferTest, ExtremeArgumentsStayInsideTheSurface) {
    const int values[] = {INT_MIN, INT_MIN + 1, -70000, -3, -1, 0, 1, 2, 3, 5, 70000, INT_MAX - 1, INT_MAX};
    std::uint32_t seed = 7;
    const auto pick = [&] {
        seed = seed * 1664525u + 1013904223u;
        return values[(seed >> 16) % std::size(values)];
    };
    TestDib dib = makeF24();
    Canvas canvas(7, 5);
    Canvas source(4, 4);
    int drawn = 0;
    for (int round = 0; round < 4000; ++round) {
        SetStretchBltMode(canvas.dc(), 1 + round % 4);
        const int a = pick(), b = pick(), c = pick(), d = pick(), e = pick(), f = pick(), g = pick(),
                  h = pick();
        const int stretched = StretchDIBits(canvas.dc(), a, b, c, d, e, f, g, h, dib.bits(), dib.info(),
                                            DIB_RGB_COLORS, SRCINVERT);
        ASSERT_TRUE(stretched == GDI_ERROR || (stretched >= 0 && stretched <= 5)) << stretched;
        const int set = SetDIBitsToDevice(canvas.dc(), a, b, DWORD(c), DWORD(d), e, f, UINT(g), UINT(h) % 6,
                                          dib.bits(), dib.info(), DIB_RGB_COLORS);
        ASSERT_TRUE(set >= 0 && set <= 5) << set;
        drawn += stretched > 0;
        StretchBlt(canvas.dc(), a, b, c, d, source.dc(), e, f, g, h, SRCCOPY);
        BitBlt(canvas.dc(), a, b, c, d, canvas.dc(), e, f, SRCPAINT);
        Rectangle(canvas.dc(), a, b, c, d);
        SetViewportOrgEx(canvas.dc(), round % 3 ? 0 : e, round % 3 ? 0 : f, nullptr);
    }
    EXPECT_GT(drawn, 100) << "the mix must also reach the drawing code";
}

} // namespace
} // namespace gdi_test
