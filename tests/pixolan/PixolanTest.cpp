#include "pixolan/Pixolan.h"

#include "pixolan/DibAllocation.h"
#include "pixolan/DibOwner.h"
#include "pixolan/Halftone.h"
#include "pixolan/MemoryBudget.h"
#include "platform/gdi/GdiTesting.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <vector>

using namespace gdi;

namespace {

struct Dib {
    DibRecord rec{};
    Dib(int w, int h, int bits, const BITMAPINFO* src = nullptr, int colors = 0) {
        newdib(&rec, w, h, bits, src, colors);
    }
    ~Dib() { deldib(rec); }
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
};

struct LayoutCase {
    int width, height, bits;
    int bytesPerRow;
};

// The row stride and image size that every consumer of a DIB (GDI, the writers, Render's copy
// loop) computes on its own; a mismatch shifts every row after the first.
TEST(NewDib, LayoutFollowsTheDibConvention) {
    const LayoutCase cases[] = {
        {1, 1, 1, 4},   {32, 1, 1, 4},  {33, 2, 1, 8},      {5, 1, 4, 4},   {9, 3, 4, 8},
        {3, 2, 8, 4},   {4, 1, 8, 4},   {5, 1, 8, 8},       {3, 1, 16, 8},  {1, 1, 24, 4},
        {3, 2, 24, 12}, {5, 7, 24, 16}, {800, 3, 24, 2400}, {3, 1, 32, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        Dib d(c.width, c.height, c.bits);
        ASSERT_NE(d.rec.bits, nullptr);
        ASSERT_NE(d.rec.info, nullptr);
        const BITMAPINFOHEADER& h = d.rec.info->bmiHeader;
        EXPECT_EQ(d.rec.bytesPerRow, c.bytesPerRow);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, c.width);
        EXPECT_EQ(h.biHeight, c.height) << "bottom row first means a positive height";
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, c.bits);
        EXPECT_EQ(h.biCompression, BI_RGB);
        EXPECT_EQ(h.biSizeImage, DWORD(c.bytesPerRow * c.height));
        EXPECT_EQ(d.rec.usePalette, 0);
        EXPECT_EQ(d.rec.palette, nullptr);
        std::vector<std::uint8_t> zero(h.biSizeImage, 0);
        EXPECT_EQ(std::memcmp(d.rec.bits, zero.data(), zero.size()), 0) << "pixel bits start zeroed";
    }
}

TEST(NewDib, ColourTableComesFromTheSourceUpToTheCount) {
    std::vector<std::uint8_t> storage(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* src = reinterpret_cast<BITMAPINFO*>(storage.data());
    src->bmiHeader.biSize = 40;
    src->bmiHeader.biBitCount = 8;
    for (int i = 0; i < 256; ++i)
        src->bmiColors[i] = RGBQUAD{BYTE(255 - i), BYTE(i), BYTE(i / 2), 0};

    Dib full(7, 1, 8, src, 256);
    ASSERT_NE(full.rec.bits, nullptr);
    for (int i : {0, 1, 128, 255}) {
        EXPECT_EQ(full.rec.info->bmiColors[i].rgbBlue, 255 - i);
        EXPECT_EQ(full.rec.info->bmiColors[i].rgbGreen, i);
        EXPECT_EQ(full.rec.info->bmiColors[i].rgbRed, i / 2);
    }

    // A 4-bit copy takes the first 16 entries only.
    Dib nibble(3, 3, 4, src, 16);
    ASSERT_NE(nibble.rec.bits, nullptr);
    EXPECT_EQ(nibble.rec.info->bmiColors[15].rgbGreen, 15);
    EXPECT_EQ(nibble.rec.info->bmiColors[15].rgbBlue, 240);

    // Without a source a 1-bit picture is black and white rather than undefined.
    Dib mono(8, 1, 1);
    ASSERT_NE(mono.rec.bits, nullptr);
    EXPECT_EQ(mono.rec.info->bmiColors[0].rgbRed, 0);
    EXPECT_EQ(mono.rec.info->bmiColors[1].rgbRed, 255);
}

// Every way a caller or a user-typed size can make newdib impossible ends in a null bits
// pointer, never in a crash or a picture the system kills us for later.
TEST(NewDib, RefusesWhatCannotBeMade) {
    struct Case {
        const char* what;
        int w, h, bits;
    } const cases[] = {
        {"zero width", 0, 10, 24},
        {"zero height", 10, 0, 24},
        {"negative width", -5, 10, 24},
        {"negative height", 10, -5, 24},
        {"unknown depth 3", 10, 10, 3},
        {"unknown depth 0", 10, 10, 0},
        {"unknown depth 64", 10, 10, 64},
        {"row bytes overflow 32 bits", 2000000000, 1, 32},
        {"image bytes overflow 32 bits", 100000, 100000, 32},
        {"largest ints", 0x7fffffff, 0x7fffffff, 24},
    };
    const auto before = pixolan::liveDibCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DibRecord rec;
        std::memset(&rec, 0xAB, sizeof rec);
        newdib(&rec, c.w, c.h, c.bits, nullptr, 0);
        EXPECT_EQ(rec.bits, nullptr);
        EXPECT_EQ(rec.info, nullptr);
        deldib(rec); // harmless on a failed record
    }
    EXPECT_EQ(pixolan::liveDibCount(), before);
}

TEST(NewDib, RefusesMoreThanTheMachineCanProvide) {
    pixolan::setAvailableMemoryForTesting(200ull << 20);
    DibRecord big;
    newdib(&big, 10000, 10000, 24, nullptr, 0); // 300 MB
    DibRecord small;
    newdib(&small, 1000, 1000, 24, nullptr, 0); // 3 MB
    pixolan::setAvailableMemoryForTesting(0);
    EXPECT_EQ(big.bits, nullptr);
    EXPECT_NE(small.bits, nullptr);
    deldib(small);
}

TEST(NewDib, InjectedFailureGivesNullBits) {
    gdi::testing::FailureScope scope;
    gdi::testing::FailNthCall(gdi::testing::Call::newdib, 2);
    Dib first(4, 4, 24);
    Dib second(4, 4, 24);
    Dib third(4, 4, 24);
    EXPECT_NE(first.rec.bits, nullptr);
    EXPECT_EQ(second.rec.bits, nullptr);
    EXPECT_NE(third.rec.bits, nullptr);
}

// Records travel by value, so the same picture can reach deldib twice (a caller that frees
// both a copy and the original). The second call must not free anything again.
TEST(DelDib, FreesExactlyOnce) {
    const auto before = pixolan::liveDibCount();
    DibRecord rec;
    newdib(&rec, 10, 10, 24, nullptr, 0);
    ASSERT_NE(rec.bits, nullptr);
    EXPECT_TRUE(pixolan::isLive(rec));
    EXPECT_EQ(pixolan::liveDibCount(), before + 1);
    DibRecord copy = rec;
    deldib(rec);
    EXPECT_FALSE(pixolan::isLive(copy));
    deldib(copy);
    EXPECT_EQ(pixolan::liveDibCount(), before);

    DibRecord empty{};
    deldib(empty);
    EXPECT_EQ(pixolan::liveDibCount(), before);
}

// An asymmetric pattern at each depth: written through setpixel, checked byte by byte where
// the layout is fixed (leftmost pixel in the high bits, B-G-R order), read back through getpixel.
TEST(Pixels, SetAndGetAtEveryDepth) {
    struct Case {
        int bits;
        std::uint32_t mask;
    } const cases[] = {{1, 0x1}, {4, 0xF}, {8, 0xFF}, {16, 0xFFFF}, {24, 0xFFFFFF}, {32, 0xFFFFFF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        Dib d(5, 3, c.bits);
        ASSERT_NE(d.rec.bits, nullptr);
        auto value = [&](int x, int y) {
            return std::uint32_t(0x9E3779B1u * std::uint32_t(x * 7 + y * 13 + 1)) & c.mask;
        };
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                setpixel(d.rec, x, y, value(x, y));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(getpixel(d.rec, x, y), value(x, y)) << x << "," << y;
        // Outside the picture: nothing is read or written.
        setpixel(d.rec, 5, 0, c.mask);
        setpixel(d.rec, -1, 0, c.mask);
        setpixel(d.rec, 0, 3, c.mask);
        EXPECT_EQ(getpixel(d.rec, 5, 0), 0u);
        EXPECT_EQ(getpixel(d.rec, 0, -1), 0u);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(getpixel(d.rec, x, y), value(x, y));
    }
}

TEST(Pixels, ByteLayoutOfEachDepth) {
    Dib mono(10, 2, 1);
    setpixel(mono.rec, 0, 1, 1);
    setpixel(mono.rec, 9, 1, 1);
    EXPECT_EQ(mono.rec.bits[4], 0x80) << "storage row 1 starts one stride in; leftmost pixel is bit 7";
    EXPECT_EQ(mono.rec.bits[5], 0x40);

    Dib nibble(3, 1, 4);
    setpixel(nibble.rec, 0, 0, 0xA);
    setpixel(nibble.rec, 1, 0, 0x5);
    setpixel(nibble.rec, 2, 0, 0xC);
    EXPECT_EQ(nibble.rec.bits[0], 0xA5);
    EXPECT_EQ(nibble.rec.bits[1], 0xC0);

    Dib rgb(2, 2, 24);
    setpixel(rgb.rec, 1, 1, 0x112233); // red 0x11, green 0x22, blue 0x33
    const std::uint8_t* p = rgb.rec.bits + rgb.rec.bytesPerRow + 3;
    EXPECT_EQ(p[0], 0x33);
    EXPECT_EQ(p[1], 0x22);
    EXPECT_EQ(p[2], 0x11);
}

// --- Halftoning ---------------------------------------------------------------------------

// A 24-bit picture described by a callback colour(x, top) in picture terms (top = 0 is the
// top row), stored bottom-up as DIBs are.
template <class F> DibRecord makeRgb(int w, int h, F colour) {
    DibRecord rec;
    newdib(&rec, w, h, 24, nullptr, 0);
    for (int top = 0; top < h; ++top)
        for (int x = 0; x < w; ++x)
            setpixel(rec, x, h - 1 - top, colour(x, top));
    return rec;
}

RGBQUAD entry(const DibRecord& rec, int x, int top) {
    const int h = rec.info->bmiHeader.biHeight;
    return rec.info->bmiColors[getpixel(rec, x, h - 1 - top)];
}

TEST(Halftone, PaletteIsACubeAndAGreyRamp) {
    const auto& pal = pixolan::halftonePalette();
    EXPECT_EQ(pal[0].rgbRed, 0);
    EXPECT_EQ(pal[215].rgbRed, 255);
    EXPECT_EQ(pal[215].rgbBlue, 255);
    EXPECT_EQ(pal[5 * 36].rgbRed, 255);
    EXPECT_EQ(pal[5 * 36].rgbGreen, 0);
    std::map<int, int> greys;
    for (const auto& q : pal)
        if (q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue) greys[q.rgbRed]++;
    EXPECT_EQ(greys.size(), 46u) << "six cube greys and forty more, all distinct";
}

TEST(Halftone, CopyCarriesItsPaletteAndKeepsOrientation) {
    const auto palettesBefore = gdi::testing::LiveObjects().palettes;
    // Top row red, bottom row blue, one green pixel at the top-left: catches flips and swaps.
    DibRecord src = makeRgb(4, 2, [](int x, int top) -> std::uint32_t {
        if (top == 0) return x == 0 ? 0x00FF00 : 0xFF0000;
        return 0x0000FF;
    });
    DibRecord copy;
    DIBHalftoneDIB(&copy, src);
    ASSERT_NE(copy.bits, nullptr);
    EXPECT_EQ(copy.info->bmiHeader.biBitCount, 8);
    EXPECT_EQ(copy.info->bmiHeader.biWidth, 4);
    EXPECT_EQ(copy.info->bmiHeader.biHeight, 2);
    EXPECT_EQ(copy.usePalette, 1);
    ASSERT_NE(copy.palette, nullptr);
    EXPECT_EQ(gdi::testing::LiveObjects().palettes, palettesBefore + 1);

    PALETTEENTRY entries[256];
    ASSERT_EQ(GetPaletteEntries(copy.palette, 0, 256, entries), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(entries[i].peRed, copy.info->bmiColors[i].rgbRed);
        EXPECT_EQ(entries[i].peBlue, copy.info->bmiColors[i].rgbBlue);
    }

    // Pure colours lie in the cube and come through undithered.
    EXPECT_EQ(entry(copy, 0, 0).rgbGreen, 255);
    EXPECT_EQ(entry(copy, 0, 0).rgbRed, 0);
    for (int x = 1; x < 4; ++x) {
        EXPECT_EQ(entry(copy, x, 0).rgbRed, 255);
        EXPECT_EQ(entry(copy, x, 0).rgbBlue, 0);
    }
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(entry(copy, x, 1).rgbBlue, 255);
        EXPECT_EQ(entry(copy, x, 1).rgbRed, 0);
    }

    deldib(copy);
    deldib(src);
    EXPECT_EQ(gdi::testing::LiveObjects().palettes, palettesBefore) << "deldib frees the copy's palette";
}

// The dither must keep the average colour of a flat area; a broken threshold shows as a
// brightness shift or banding.
TEST(Halftone, DitherKeepsTheAverageOfFlatAreas) {
    struct Case {
        std::uint32_t rgb;
        double tolerance;
    } const cases[] = {{0x808080, 2.0}, {0x202020, 2.0}, {0xF0F0F0, 2.0}, {0x6496C8, 6.0}, {0xC83219, 6.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.rgb);
        DibRecord src = makeRgb(16, 16, [&](int, int) { return c.rgb; });
        DibRecord copy;
        DIBHalftoneDIB(&copy, src);
        ASSERT_NE(copy.bits, nullptr);
        double r = 0, g = 0, b = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const RGBQUAD q = entry(copy, x, y);
                r += q.rgbRed;
                g += q.rgbGreen;
                b += q.rgbBlue;
            }
        EXPECT_NEAR(r / 256, double((c.rgb >> 16) & 0xFF), c.tolerance);
        EXPECT_NEAR(g / 256, double((c.rgb >> 8) & 0xFF), c.tolerance);
        EXPECT_NEAR(b / 256, double(c.rgb & 0xFF), c.tolerance);
        deldib(copy);
        deldib(src);
    }
}

TEST(Halftone, GreysStayGrey) {
    DibRecord src = makeRgb(8, 8, [](int x, int) { return std::uint32_t(x * 30) * 0x010101u; });
    DibRecord copy;
    DIBHalftoneDIB(&copy, src);
    ASSERT_NE(copy.bits, nullptr);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const RGBQUAD q = entry(copy, x, y);
            EXPECT_TRUE(q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue) << x << "," << y;
        }
    deldib(copy);
    deldib(src);
}

TEST(Halftone, ResizedCopyAveragesWhenShrinkingAndRepeatsWhenEnlarging) {
    // Left half red, right half blue, top half of rows bright, bottom half black.
    DibRecord src = makeRgb(8, 4, [](int x, int top) -> std::uint32_t {
        if (top >= 2) return 0;
        return x < 4 ? 0xFF0000 : 0x0000FF;
    });
    DibRecord small;
    DIBHalftoneDIBXY(&small, src, 2, 2);
    ASSERT_NE(small.bits, nullptr);
    EXPECT_EQ(small.info->bmiHeader.biWidth, 2);
    EXPECT_EQ(small.info->bmiHeader.biHeight, 2);
    EXPECT_EQ(entry(small, 0, 0).rgbRed, 255);
    EXPECT_EQ(entry(small, 0, 0).rgbBlue, 0);
    EXPECT_EQ(entry(small, 1, 0).rgbBlue, 255);
    EXPECT_EQ(entry(small, 1, 0).rgbRed, 0);
    EXPECT_EQ(entry(small, 0, 1).rgbRed, 0);
    EXPECT_EQ(entry(small, 1, 1).rgbBlue, 0);

    // A black and white checkerboard shrunk to one pixel is mid grey, not black or white.
    DibRecord checker = makeRgb(2, 2, [](int x, int top) { return (x + top) % 2 ? 0xFFFFFFu : 0u; });
    DibRecord one;
    DIBHalftoneDIBXY(&one, checker, 1, 1);
    ASSERT_NE(one.bits, nullptr);
    const RGBQUAD q = entry(one, 0, 0);
    EXPECT_NEAR(q.rgbRed, 128, 12);
    EXPECT_EQ(q.rgbRed, q.rgbBlue);

    DibRecord big;
    DIBHalftoneDIBXY(&big, src, 16, 8);
    ASSERT_NE(big.bits, nullptr);
    EXPECT_EQ(entry(big, 7, 3).rgbRed, 255);
    EXPECT_EQ(entry(big, 8, 3).rgbBlue, 255);
    EXPECT_EQ(entry(big, 8, 4).rgbBlue, 0);

    for (DibRecord r : {src, small, checker, one, big})
        deldib(r);
}

// A caller that needs only the visible part of a large copy fills just that part; it must
// match the whole copy pixel for pixel, or scrolling would show seams in the dither.
TEST(Halftone, PartialFillMatchesTheWholeCopy) {
    DibRecord src = makeRgb(37, 23, [](int x, int top) {
        return std::uint32_t((x * 53 + top * 17) & 0xFF) << 16 | std::uint32_t((x * 7) & 0xFF) << 8 |
               std::uint32_t((top * 11) & 0xFF);
    });
    struct Case {
        int w, h;
    } const sizes[] = {{37, 23}, {15, 9}, {80, 50}};
    for (const auto& c : sizes) {
        SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h);
        DibRecord whole;
        DIBHalftoneDIBXY(&whole, src, c.w, c.h);
        ASSERT_NE(whole.bits, nullptr);
        DibRecord part;
        ASSERT_TRUE(pixolan::halftoneAllocate(&part, c.w, c.h));
        const int x0 = c.w / 3, x1 = c.w - 2, t0 = 2, t1 = c.h / 2 + 1;
        pixolan::halftoneFill(part, src, x0, t0, x1, t1);
        for (int top = 0; top < c.h; ++top)
            for (int x = 0; x < c.w; ++x) {
                const int y = c.h - 1 - top;
                if (x >= x0 && x < x1 && top >= t0 && top < t1)
                    ASSERT_EQ(getpixel(part, x, y), getpixel(whole, x, y)) << x << "," << top;
                else
                    ASSERT_EQ(getpixel(part, x, y), 0u) << "outside the part nothing is written";
            }
        deldib(part);
        deldib(whole);
    }
    deldib(src);
}

TEST(Halftone, FailuresGiveNullBitsAndLeakNothing) {
    const auto palettesBefore = gdi::testing::LiveObjects().palettes;
    const auto dibsBefore = pixolan::liveDibCount();
    DibRecord src = makeRgb(4, 4, [](int, int) { return 0x123456u; });
    DibRecord copy;
    DIBHalftoneDIBXY(&copy, src, 0, 4);
    EXPECT_EQ(copy.bits, nullptr);
    DIBHalftoneDIBXY(&copy, src, 4, -1);
    EXPECT_EQ(copy.bits, nullptr);
    {
        gdi::testing::FailureScope scope;
        gdi::testing::FailNthCall(gdi::testing::Call::newdib);
        DIBHalftoneDIB(&copy, src);
        EXPECT_EQ(copy.bits, nullptr);
    }
    DibRecord none{};
    DIBHalftoneDIB(&copy, none);
    EXPECT_EQ(copy.bits, nullptr);
    deldib(src);
    EXPECT_EQ(gdi::testing::LiveObjects().palettes, palettesBefore);
    EXPECT_EQ(pixolan::liveDibCount(), dibsBefore);
}

// The owner frees its picture when the last owner goes and never a picture it handed on: a
// second deldib of a stale record could free a new picture that got the same memory.
TEST(DibOwner, FreesOnceAndMovesLeaveTheSourceEmpty) {
    using pixolan::DibOwner;
    const auto before = pixolan::liveDibCount();
    {
        DibOwner first;
        EXPECT_TRUE(first.empty());
        newdib(first.out(), 3, 2, 24, nullptr, 0);
        ASSERT_FALSE(first.empty());
        const DibRecord rec = first.get();

        DibOwner second(std::move(first));
        EXPECT_TRUE(first.empty()) << "a moved-from owner is empty";
        EXPECT_EQ(second.get().bits, rec.bits);
        {
            const DibOwner last(std::move(second));
            EXPECT_TRUE(second.empty());
        }
        EXPECT_FALSE(pixolan::isLive(rec)) << "freed when the last owner went";
        EXPECT_EQ(pixolan::liveDibCount(), before);

        // Assigning over an owner frees its picture and keeps the one moved in.
        DibOwner target;
        newdib(target.out(), 2, 2, 8, nullptr, 0);
        DibOwner source;
        newdib(source.out(), 4, 4, 24, nullptr, 0);
        const DibRecord old = target.get();
        const DibRecord kept = source.get();
        target = std::move(source);
        EXPECT_FALSE(pixolan::isLive(old));
        EXPECT_TRUE(pixolan::isLive(kept));
        EXPECT_TRUE(source.empty());
        EXPECT_EQ(target.get().bits, kept.bits);

        // A new picture made through out() replaces the one held.
        newdib(target.out(), 1, 1, 24, nullptr, 0);
        EXPECT_FALSE(pixolan::isLive(kept));
        EXPECT_EQ(pixolan::liveDibCount(), before + 1);

        // release() hands the picture on: it outlives the owner.
        DibOwner handing;
        newdib(handing.out(), 5, 5, 24, nullptr, 0);
        const DibRecord handed = handing.release();
        EXPECT_TRUE(handing.empty());
        EXPECT_TRUE(pixolan::isLive(handed));
        deldib(handed);
    }
    EXPECT_EQ(pixolan::liveDibCount(), before);
}

// A picture that could not be made leaves an empty owner; a halftoned copy's palette goes with
// its owner.
TEST(DibOwner, FailedPicturesAreEmptyAndPalettesGoWithTheirPicture) {
    using pixolan::DibOwner;
    const auto palettesBefore = gdi::testing::LiveObjects().palettes;
    const auto dibsBefore = pixolan::liveDibCount();
    {
        DibOwner failed;
        {
            gdi::testing::FailureScope scope;
            gdi::testing::FailNthCall(gdi::testing::Call::newdib);
            newdib(failed.out(), 3, 3, 24, nullptr, 0);
        }
        EXPECT_TRUE(failed.empty());
        EXPECT_FALSE(failed);

        DibOwner source;
        newdib(source.out(), 4, 4, 24, nullptr, 0);
        DibOwner copy;
        DIBHalftoneDIB(copy.out(), source.get());
        ASSERT_FALSE(copy.empty());
        EXPECT_EQ(gdi::testing::LiveObjects().palettes, palettesBefore + 1);
        DibOwner moved(std::move(copy));
        EXPECT_TRUE(copy.empty());
        EXPECT_EQ(gdi::testing::LiveObjects().palettes, palettesBefore + 1) << "the move frees nothing";
    }
    EXPECT_EQ(gdi::testing::LiveObjects().palettes, palettesBefore);
    EXPECT_EQ(pixolan::liveDibCount(), dibsBefore);
}

} // namespace
