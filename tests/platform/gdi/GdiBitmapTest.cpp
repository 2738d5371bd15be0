// Bitmaps read back and written: GetDIBits, SetDIBits, and transfers between DCs.
#include "GdiTestSupport.h"
#include "platform/gdi/GdiQt.h"
#include "platform/memory/PixelMemory.h"

#include <QImage>

namespace gdi_test {
namespace {

using GdiBitmapTest = GdiTest;

// A memory DC holding a 24-bit DIB section with the 'F' in it.
class FBitmap {
  public:
    FBitmap() {
        TestDib f = makeF24(false);
        m_dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_dc, f.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
        std::memcpy(bits, f.bits(), std::size_t(f.stride()) * 5);
        m_previous = SelectObject(m_dc, m_bitmap);
    }
    ~FBitmap() {
        SelectObject(m_dc, m_previous);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    HDC dc() const { return m_dc; }
    HBITMAP bitmap() const { return m_bitmap; }

  private:
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_previous;
};

TEST_F(GdiBitmapTest, GetDIBitsIntoEveryFormat) {
    FBitmap f;
    struct Case {
        const char* name;
        int bpp;
        bool topDown;
        DWORD compression;
        std::uint32_t red, blue; // expected native values
    };
    const std::vector<Case> cases{
        {"24 bits bottom-up", 24, false, BI_RGB, kRed, kBlue},
        {"24 bits top-down", 24, true, BI_RGB, kRed, kBlue},
        {"32 bits", 32, false, BI_RGB, kRed, kBlue},
        {"16 bits 5-5-5", 16, false, BI_RGB, 0x7C00, 0x001F},
        {"16 bits with bit fields asked for", 16, true, BI_BITFIELDS, 0x7C00, 0x001F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDib out(3, c.topDown ? -5 : 5, c.bpp, {}, c.compression, {0, 0, 0});
        EXPECT_EQ(GetDIBits(f.dc(), f.bitmap(), 0, 5, out.bits(), out.info(), DIB_RGB_COLORS), 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(out.get(x, y), fColor(x, y) == kRed ? c.red : c.blue) << x << "," << y;
        EXPECT_EQ(out.info()->bmiHeader.biSizeImage, DWORD(out.stride() * 5));
        if (c.compression == BI_BITFIELDS) {
            DWORD masks[3];
            std::memcpy(masks, out.info()->bmiColors, sizeof masks);
            EXPECT_EQ(masks[0], 0x7C00u) << "the masks are filled in";
        }
    }
}

TEST_F(GdiBitmapTest, GetDIBitsAtEightBitsFillsTheColourTable) {
    FBitmap f;
    TestDib out(3, 5, 8);
    EXPECT_EQ(GetDIBits(f.dc(), f.bitmap(), 0, 5, out.bits(), out.info(), DIB_RGB_COLORS), 5);
    const auto colorAt = [&out](std::uint32_t index) {
        RGBQUAD q;
        std::memcpy(&q, reinterpret_cast<std::uint8_t*>(out.info()->bmiColors) + 4 * index, 4);
        return std::uint32_t(q.rgbRed) << 16 | std::uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
    };
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(colorAt(out.get(x, y)), fColor(x, y));
    EXPECT_EQ(out.info()->bmiHeader.biClrUsed, 0u);
}

// Below 8 bits the table is the bitmap's own when the depths match, else the standard one, and
// every pixel is the table's nearest colour.
TEST_F(GdiBitmapTest, GetDIBitsBelowEightBits) {
    FBitmap f;
    const auto colorAt = [](TestDib& dib, std::uint32_t index) {
        RGBQUAD q;
        std::memcpy(&q, reinterpret_cast<std::uint8_t*>(dib.info()->bmiColors) + 4 * index, 4);
        return std::uint32_t(q.rgbRed) << 16 | std::uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
    };
    TestDib four(3, 5, 4);
    EXPECT_EQ(GetDIBits(f.dc(), f.bitmap(), 0, 5, four.bits(), four.info(), DIB_RGB_COLORS), 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(colorAt(four, four.get(x, y)), fColor(x, y)) << x << "," << y;

    TestDib one(3, 5, 1);
    EXPECT_EQ(GetDIBits(f.dc(), f.bitmap(), 0, 5, one.bits(), one.info(), DIB_RGB_COLORS), 5);
    EXPECT_EQ(colorAt(one, 0), kBlack);
    EXPECT_EQ(colorAt(one, 1), kWhite);
    EXPECT_EQ(one.get(0, 0), 0u) << "red is nearer black than white";

    // A monochrome bitmap read at 1 bit keeps its pixels.
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP mono = CreateCompatibleBitmap(dc, 9, 1);
    HGDIOBJ old = SelectObject(dc, mono);
    SetPixel(dc, 8, 0, RGB(255, 255, 255));
    SetPixel(dc, 1, 0, RGB(255, 255, 255));
    TestDib bits(9, 1, 1);
    EXPECT_EQ(GetDIBits(dc, mono, 0, 1, bits.bits(), bits.info(), DIB_RGB_COLORS), 1);
    EXPECT_EQ(bits.bits()[0], 0x40);
    EXPECT_EQ(bits.bits()[1], 0x80);
    SelectObject(dc, old);
    DeleteObject(mono);
    DeleteDC(dc);
}

// Packed destinations are written one pixel at a time without disturbing their neighbours.
TEST_F(GdiBitmapTest, PackedDestinationsAtOddOffsets) {
    for (const int bpp : {1, 4}) {
        SCOPED_TRACE(bpp);
        std::vector<std::uint32_t> table{kBlack, kWhite, kRed, kBlue};
        TestDib header(11, 5, bpp, table);
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bitmap = CreateDIBSection(dc, header.info(), DIB_RGB_COLORS, nullptr, nullptr, 0);
        HGDIOBJ old = SelectObject(dc, bitmap);
        HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
        const RECT all{0, 0, 11, 5};
        FillRect(dc, &all, white);
        DeleteObject(white);
        TestDib f = makeF24();
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x)
                f.set(x, y, fColor(x, y) == kRed ? kBlack : kBlue);
        SetDIBitsToDevice(dc, 3, 0, 3, 5, 0, 0, 0, 5, f.bits(), f.info(), DIB_RGB_COLORS);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x) {
                COLORREF expected = RGB(255, 255, 255);
                if (x >= 3 && x < 6)
                    expected = fColor(x - 3, y) == kRed ? RGB(0, 0, 0)
                               : bpp == 1               ? RGB(0, 0, 0)
                                                        : RGB(0, 0, 255);
                EXPECT_EQ(GetPixel(dc, x, y), expected) << x << "," << y;
            }
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
}

// DIB_PAL_COLORS: the colour table holds indices into the DC's selected palette.
TEST_F(GdiBitmapTest, PaletteIndexedColourTables) {
    LOGPALETTE* lp = static_cast<LOGPALETTE*>(std::malloc(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY)));
    lp->palVersion = 0x300;
    lp->palNumEntries = 2;
    lp->palPalEntry[0] = {0, 0, 255, 0};
    lp->palPalEntry[1] = {255, 0, 0, 0};
    HPALETTE palette = CreatePalette(lp);
    std::free(lp);
    Canvas canvas(3, 5);
    HPALETTE old = SelectPalette(canvas.dc(), palette, FALSE);
    TestDib f(3, 5, 1);
    WORD indices[2] = {0, 1};
    std::memcpy(f.info()->bmiColors, indices, sizeof indices);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            f.set(x, y, fColor(x, y) == kRed ? 1 : 0);
    EXPECT_EQ(SetDIBitsToDevice(canvas.dc(), 0, 0, 3, 5, 0, 0, 0, 5, f.bits(), f.info(), DIB_PAL_COLORS), 5);
    EXPECT_EQ(canvas.letters(), fShape());
    EXPECT_EQ(SetDIBitsToDevice(canvas.dc(), 0, 0, 3, 5, 0, 0, 0, 5, f.bits(), f.info(), 7), 0)
        << "unknown use";
    SelectPalette(canvas.dc(), old, FALSE);
    DeleteObject(palette);
}

// A DIB section keeps its own copy of the colour table it was made with.
TEST_F(GdiBitmapTest, DibSectionCopiesItsColourTable) {
    TestDib header(3, -5, 8, {kBlue, kRed});
    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(dc, header.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    const RGBQUAD green{0, 255, 0, 0};
    std::memcpy(header.info()->bmiColors, &green, 4); // the caller's table changes afterwards
    auto* pixels = static_cast<std::uint8_t*>(bits);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            pixels[y * 4 + x] = fColor(x, y) == kRed ? 1 : 0;
    HGDIOBJ old = SelectObject(dc, section);
    Canvas canvas(3, 5);
    BitBlt(canvas.dc(), 0, 0, 3, 5, dc, 0, 0, SRCCOPY);
    EXPECT_EQ(canvas.letters(), fShape()) << "top-down rows, the table as it was";
    SelectObject(dc, old);
    DeleteObject(section);
    DeleteDC(dc);
}

TEST_F(GdiBitmapTest, GetDIBitsQueriesAndScanLines) {
    FBitmap f;
    // bits == nullptr and no bit count: the header describes the bitmap.
    TestDib query(1, 1, 24);
    std::memset(&query.info()->bmiHeader, 0, sizeof(BITMAPINFOHEADER));
    query.info()->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_NE(GetDIBits(f.dc(), f.bitmap(), 0, 5, nullptr, query.info(), DIB_RGB_COLORS), 0);
    const BITMAPINFOHEADER& h = query.info()->bmiHeader;
    EXPECT_EQ(h.biWidth, 3);
    EXPECT_EQ(h.biHeight, 5);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, BI_RGB);
    EXPECT_EQ(h.biSizeImage, 60u);

    // Scan lines count from the bottom: lines 3 and 4 are the top two rows.
    TestDib out(3, 5, 24);
    EXPECT_EQ(GetDIBits(f.dc(), f.bitmap(), 3, 10, out.bits(), out.info(), DIB_RGB_COLORS), 2)
        << "cut at the bitmap's last line";
    const std::uint8_t* first = out.bits();
    EXPECT_EQ(first[0] | first[1] << 8 | first[2] << 16, int(kRed)) << "scan 3 is row 1: R B B";
    EXPECT_EQ(first[3] | first[4] << 8 | first[5] << 16, int(kBlue));
    EXPECT_EQ(GetDIBits(f.dc(), f.bitmap(), 5, 1, out.bits(), out.info(), DIB_RGB_COLORS), 0);

    HBITMAP deleted = CreateCompatibleBitmap(f.dc(), 1, 1);
    DeleteObject(deleted);
    EXPECT_EQ(GetDIBits(f.dc(), deleted, 0, 1, out.bits(), out.info(), DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(nullptr, f.bitmap(), 0, 1, out.bits(), out.info(), DIB_RGB_COLORS), 0);
}

// A device-dependent bitmap of the screen's depth takes a DIB and gives it back unchanged.
TEST_F(GdiBitmapTest, SetDIBitsThenGetDIBitsRoundTrip) {
    QImage image(1, 1, QImage::Format_RGB32);
    HDC display = CreateImageDC(&image);
    for (const int depth : {32, 24, 16}) {
        SetDesktopBitsPerPixel(depth);
        SCOPED_TRACE(depth);
        HBITMAP bitmap = CreateCompatibleBitmap(display, 3, 5);
        TestDib in = makeF24(true);
        EXPECT_EQ(SetDIBits(display, bitmap, 0, 5, in.bits(), in.info(), DIB_RGB_COLORS), 5);
        TestDib out(3, 5, 24);
        EXPECT_EQ(GetDIBits(display, bitmap, 0, 5, out.bits(), out.info(), DIB_RGB_COLORS), 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(out.get(x, y), fColor(x, y));
        // A band of the two top scan lines of a bottom-up DIB lands on the top two rows.
        TestDib white(3, 5, 24);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x)
                white.set(x, y, kWhite);
        EXPECT_EQ(SetDIBits(nullptr, bitmap, 3, 2, white.bits(), white.info(), DIB_RGB_COLORS), 2);
        GetDIBits(display, bitmap, 0, 5, out.bits(), out.info(), DIB_RGB_COLORS);
        EXPECT_EQ(out.get(0, 0), kWhite);
        EXPECT_EQ(out.get(1, 1), kWhite);
        EXPECT_EQ(out.get(1, 2), kRed);
        DeleteObject(bitmap);
    }
    SetDesktopBitsPerPixel(0);
    DeleteDC(display);
}

TEST_F(GdiBitmapTest, BitBltAndStretchBltBetweenDcs) {
    FBitmap f;
    {
        Canvas canvas(5, 7);
        EXPECT_TRUE(BitBlt(canvas.dc(), 1, 1, 3, 5, f.dc(), 0, 0, SRCCOPY));
        EXPECT_EQ(canvas.letters(), (Rows{".....", ".RRR.", ".RBB.", ".RRB.", ".RBB.", ".RBB.", "....."}));
    }
    {
        // StretchBlt's source y counts from the top of the source bitmap.
        Canvas canvas(3, 2);
        EXPECT_TRUE(StretchBlt(canvas.dc(), 0, 0, 3, 2, f.dc(), 0, 0, 3, 2, SRCCOPY));
        EXPECT_EQ(canvas.letters(), (Rows{"RRR", "RBB"}));
        EXPECT_TRUE(StretchBlt(canvas.dc(), 0, 0, 3, 1, f.dc(), 0, 4, 3, 1, SRCCOPY));
        EXPECT_EQ(canvas.letters(), (Rows{"RBB", "RBB"}));
    }
    {
        // Mirrored both ways, and the source viewport origin applies to the source.
        Canvas canvas(3, 5);
        SetViewportOrgEx(f.dc(), 0, 0, nullptr);
        EXPECT_TRUE(StretchBlt(canvas.dc(), 3, 5, -3, -5, f.dc(), 0, 0, 3, 5, SRCCOPY));
        EXPECT_EQ(canvas.letters(), (Rows{"BBR", "BBR", "BRR", "BBR", "RRR"}));
    }
    {
        // A copy within one bitmap reads the source before it is overwritten.
        Canvas canvas(3, 5);
        BitBlt(canvas.dc(), 0, 0, 3, 5, f.dc(), 0, 0, SRCCOPY);
        BitBlt(canvas.dc(), 0, 1, 3, 4, canvas.dc(), 0, 0, SRCCOPY);
        EXPECT_EQ(canvas.letters(), (Rows{"RRR", "RRR", "RBB", "RRB", "RBB"}));
        BitBlt(canvas.dc(), 0, 0, 3, 4, canvas.dc(), 0, 1, SRCCOPY);
        EXPECT_EQ(canvas.letters(), (Rows{"RRR", "RBB", "RRB", "RBB", "RBB"}));
    }
    {
        // A printer or the desktop has no pixels to read.
        Canvas canvas(3, 5);
        HDC desktop = GetDC(nullptr);
        EXPECT_FALSE(BitBlt(canvas.dc(), 0, 0, 1, 1, desktop, 0, 0, SRCCOPY));
        EXPECT_TRUE(BitBlt(canvas.dc(), 0, 0, 1, 1, nullptr, 0, 0, WHITENESS)) << "no source needed";
        EXPECT_EQ(canvas.at(0, 0), kWhite);
        ReleaseDC(nullptr, desktop);
    }
}

// Shrinking under the stretch modes other than COLORONCOLOR combines the pixels it drops.
TEST_F(GdiBitmapTest, StretchModesWhenShrinking) {
    constexpr std::uint32_t a = 0x102030, b = 0x302010;
    const struct {
        int mode;
        std::uint32_t expected;
    } cases[] = {
        {COLORONCOLOR, a},
        {BLACKONWHITE, a & b},
        {WHITEONBLACK, a | b},
        {HALFTONE, 0x202020},
    };
    TestDib dib(2, 2, 24);
    for (int y = 0; y < 2; ++y) {
        dib.set(0, y, a);
        dib.set(1, y, b);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        Canvas canvas(1, 1);
        EXPECT_EQ(SetStretchBltMode(canvas.dc(), c.mode), BLACKONWHITE) << "the mode a DC starts with";
        EXPECT_EQ(GetStretchBltMode(canvas.dc()), c.mode);
        StretchDIBits(canvas.dc(), 0, 0, 1, 1, 0, 0, 2, 2, dib.bits(), dib.info(), DIB_RGB_COLORS, SRCCOPY);
        EXPECT_EQ(canvas.at(0, 0), c.expected);
    }
    Canvas canvas(1, 1);
    EXPECT_EQ(SetStretchBltMode(canvas.dc(), 0), 0) << "no such mode";
    EXPECT_EQ(GetStretchBltMode(canvas.dc()), BLACKONWHITE);
}

} // namespace
} // namespace gdi_test

namespace gdi_test {
namespace {

bool allZero(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

// Pixel memory is handed out again after it was given back: it must come back cleared, and
// what is kept for that must stay bounded.
TEST(PixelMemoryTest, ReusedMemoryIsClearedAndWhatIsKeptIsBounded) {
    using namespace pixmem;
    pixmem::dropKeptPixelMemory();
    for (const std::size_t size : {std::size_t(300) << 10, std::size_t(3) << 20, std::size_t(40) << 20}) {
        SCOPED_TRACE(size);
        PixelMemory first = allocatePixelMemory(size);
        ASSERT_NE(first.bits, nullptr);
        ASSERT_GE(first.capacity, size);
        EXPECT_TRUE(allZero(first.bits, size));
        std::memset(first.bits, 0xAB, size);
        freePixelMemory(first);
        for (const std::size_t again : {size, size - size / 8}) {
            PixelMemory second = allocatePixelMemory(again);
            ASSERT_NE(second.bits, nullptr);
            EXPECT_TRUE(allZero(second.bits, again));
            std::memset(second.bits, 0xCD, again);
            freePixelMemory(second);
        }
        // A large picture is mapped on a huge-page boundary.
        if (size >= (std::size_t(16) << 20)) {
            PixelMemory large = allocatePixelMemory(size);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large.bits) % (std::size_t(2) << 20), 0u);
            large.bits[0] = 1;
            large.bits[size - 1] = 1;
            freePixelMemory(large);
        }
    }
    // Many blocks given back: only a few are kept, and never more than a bounded amount.
    std::vector<PixelMemory> blocks;
    for (int i = 0; i < 12; ++i)
        blocks.push_back(allocatePixelMemory(std::size_t(5 + i) << 20));
    for (const PixelMemory& m : blocks)
        freePixelMemory(m);
    EXPECT_LE(pixmem::testing::keptPixelBlocks(), 4u);
    EXPECT_LE(pixmem::testing::keptPixelBytes(), std::size_t(24) << 20);
    pixmem::dropKeptPixelMemory();
    EXPECT_EQ(pixmem::testing::keptPixelBlocks(), 0u);
}

// A DIB section made where a dirty one was starts black, as a new one must.
TEST(PixelMemoryTest, ANewDibSectionStartsBlackAfterAnotherWasDeleted) {
    TestDib header(800, 500, 24);
    for (int round = 0; round < 3; ++round) {
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, header.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        const std::size_t size = std::size_t(header.stride()) * 500;
        EXPECT_TRUE(allZero(static_cast<const std::uint8_t*>(bits), size)) << "round " << round;
        std::memset(bits, 0xFF, size);
        DeleteObject(bitmap);
    }
}

} // namespace
} // namespace gdi_test
