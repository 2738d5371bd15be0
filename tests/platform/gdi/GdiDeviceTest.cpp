// Device contexts and objects: selection rules, device values, palettes, clipping, simple
// drawing, misuse, failure injection.
#include "GdiTestSupport.h"
#include "platform/gdi/GdiQt.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>

namespace gdi_test {
namespace {

using GdiDeviceTest = GdiTest;

// Leaves the desktop depth as the screen has it, whatever a test set.
struct DesktopDepth {
    explicit DesktopDepth(int bpp) { SetDesktopBitsPerPixel(bpp); }
    ~DesktopDepth() { SetDesktopBitsPerPixel(0); }
};

BITMAP objectOf(HBITMAP bitmap) {
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(bitmap, sizeof bm, &bm), int(sizeof bm));
    return bm;
}

TEST_F(GdiDeviceTest, MemoryDcStartsWithTheMonochromeStockBitmap) {
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 1);
    RECT box{};
    EXPECT_EQ(GetClipBox(dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.right - box.left, 1);
    // A bitmap compatible with a fresh memory DC is monochrome, not the screen's depth.
    HBITMAP mono = CreateCompatibleBitmap(dc, 8, 2);
    EXPECT_EQ(objectOf(mono).bmBitsPixel, 1);

    HGDIOBJ stock = SelectObject(dc, mono);
    ASSERT_NE(ToBitmap(stock), nullptr);
    const BITMAP bm = objectOf(ToBitmap(stock));
    EXPECT_EQ(bm.bmWidth, 1);
    EXPECT_EQ(bm.bmHeight, 1);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    EXPECT_EQ(bm.bmBits, nullptr);
    EXPECT_EQ(ToBitmap(SelectObject(dc, stock)), mono) << "SelectObject returns the previous bitmap";
    EXPECT_TRUE(DeleteObject(stock)) << "stock objects ignore DeleteObject";
    DeleteObject(mono);
    DeleteDC(dc);
}

TEST_F(GdiDeviceTest, BitmapSelectionRules) {
    HDC first = CreateCompatibleDC(nullptr);
    HDC second = CreateCompatibleDC(nullptr);
    TestDib header(4, 4, 24);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(first, header.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(objectOf(bitmap).bmBits, bits) << "a DIB section shows its bits";

    HGDIOBJ stock = SelectObject(first, bitmap);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(ToBitmap(SelectObject(first, bitmap)), bitmap) << "selecting again changes nothing";
    EXPECT_EQ(SelectObject(second, bitmap), nullptr) << "one memory DC at a time";
    EXPECT_FALSE(DeleteObject(bitmap)) << "a selected bitmap cannot be deleted";
    EXPECT_EQ(GetDeviceCaps(first, BITSPIXEL), 24) << "a memory DC reports its bitmap's depth";

    // A bitmap cannot be selected into a device that has its own pixels.
    QImage image(2, 2, QImage::Format_RGB32);
    HDC display = CreateImageDC(&image);
    EXPECT_EQ(SelectObject(display, stock), nullptr);
    DeleteDC(display);

    // Deleting the DC lets go of its bitmap.
    DeleteDC(first);
    EXPECT_NE(SelectObject(second, bitmap), nullptr);
    DeleteDC(second);
    EXPECT_TRUE(DeleteObject(bitmap));
}

TEST_F(GdiDeviceTest, BrushesPensAndPalettesAreHeldWhileSelected) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(4, 5, 6));
    LOGPALETTE lp{0x300, 1, {{7, 8, 9, 0}}};
    HPALETTE palette = CreatePalette(&lp);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HPALETTE oldPalette = SelectPalette(dc, palette, FALSE);
    EXPECT_NE(ToBrush(oldBrush), nullptr);
    EXPECT_NE(ToPen(oldPen), nullptr);
    EXPECT_EQ(GetPaletteEntries(oldPalette, 0, 0, nullptr), 20u)
        << "every DC starts with the default palette";
    EXPECT_FALSE(DeleteObject(brush));
    EXPECT_FALSE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(palette));
    EXPECT_EQ(ToBrush(SelectObject(dc, oldBrush)), brush);
    EXPECT_EQ(ToPen(SelectObject(dc, oldPen)), pen);
    EXPECT_EQ(SelectPalette(dc, oldPalette, FALSE), palette);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(palette));
    DeleteDC(dc);
}

TEST_F(GdiDeviceTest, PaletteEntriesAndRealizing) {
    LOGPALETTE* lp = static_cast<LOGPALETTE*>(std::malloc(sizeof(LOGPALETTE) + 2 * sizeof(PALETTEENTRY)));
    lp->palVersion = 0x300;
    lp->palNumEntries = 3;
    lp->palPalEntry[0] = {255, 0, 0, 0};
    lp->palPalEntry[1] = {0, 255, 0, 0};
    lp->palPalEntry[2] = {0, 0, 255, 0};
    HPALETTE palette = CreatePalette(lp);
    std::free(lp);
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY out[4]{};
    EXPECT_EQ(GetPaletteEntries(palette, 1, 4, out), 2u) << "only as many as there are";
    EXPECT_EQ(out[0].peGreen, 255);
    EXPECT_EQ(out[1].peBlue, 255);
    EXPECT_EQ(GetPaletteEntries(palette, 3, 1, out), 0u);
    WORD count = 0;
    EXPECT_EQ(GetObjectA(palette, sizeof count, &count), 2);
    EXPECT_EQ(count, 3);

    QImage image(2, 2, QImage::Format_RGB32);
    HDC dc = CreateImageDC(&image);
    HPALETTE old = SelectPalette(dc, palette, FALSE);
    {
        DesktopDepth depth(32);
        EXPECT_EQ(RealizePalette(dc), 0u) << "a true-colour device has no palette to fill";
    }
    {
        DesktopDepth depth(8);
        EXPECT_EQ(RealizePalette(dc), 3u);
    }
    // PALETTEINDEX colours come from the selected palette.
    EXPECT_EQ(SetPixel(dc, 0, 0, PALETTEINDEX(2)), RGB(0, 0, 255));
    SelectPalette(dc, old, FALSE);
    DeleteDC(dc);
    DeleteObject(palette);
    EXPECT_EQ(CreatePalette(nullptr), nullptr);
}

TEST_F(GdiDeviceTest, DeviceValuesOfEachKindOfDc) {
    QImage image(300, 200, QImage::Format_RGB32);
    HDC display = CreateImageDC(&image);
    HDC desktop = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(display);
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const int caps = RC_BITBLT | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;

    EXPECT_EQ(GetDeviceCaps(display, TECHNOLOGY), DT_RASDISPLAY);
    EXPECT_EQ(GetDeviceCaps(display, BITSPIXEL), screen->depth());
    EXPECT_EQ(GetDeviceCaps(desktop, BITSPIXEL), screen->depth());
    EXPECT_EQ(GetDeviceCaps(display, RASTERCAPS) & caps, caps);
    EXPECT_EQ(GetDeviceCaps(display, RASTERCAPS) & RC_PALETTE, screen->depth() <= 8 ? RC_PALETTE : 0);
    EXPECT_EQ(GetDeviceCaps(display, LOGPIXELSX), qRound(screen->logicalDotsPerInchX()));
    EXPECT_EQ(GetDeviceCaps(display, HORZRES), 300) << "an image DC is a display of the image's size";
    EXPECT_EQ(GetDeviceCaps(desktop, HORZRES), screen->geometry().width());
    EXPECT_EQ(GetDeviceCaps(memory, TECHNOLOGY), DT_RASDISPLAY);
    EXPECT_EQ(GetDeviceCaps(memory, LOGPIXELSY), qRound(screen->logicalDotsPerInchY()));
    EXPECT_EQ(GetDeviceCaps(memory, 9999), 0);
    EXPECT_EQ(GetDeviceCaps(nullptr, BITSPIXEL), 0);

    // A desktop of 8 bits per pixel or fewer is a palette device; its compatible bitmaps follow.
    for (const int bpp : {8, 4, 1, 16, 24}) {
        SCOPED_TRACE(bpp);
        DesktopDepth depth(bpp);
        EXPECT_EQ(GetDeviceCaps(desktop, BITSPIXEL), bpp);
        EXPECT_EQ(GetDeviceCaps(display, RASTERCAPS) & RC_PALETTE, bpp <= 8 ? RC_PALETTE : 0);
        HBITMAP compatible = CreateCompatibleBitmap(desktop, 3, 3);
        EXPECT_EQ(objectOf(compatible).bmBitsPixel, bpp);
        DeleteObject(compatible);
    }
    ReleaseDC(nullptr, desktop);
    DeleteDC(memory);
    DeleteDC(display);
}

TEST_F(GdiDeviceTest, CompatibleBitmapSizes) {
    QImage image(4, 4, QImage::Format_RGB32);
    HDC display = CreateImageDC(&image);
    HBITMAP empty = CreateCompatibleBitmap(display, 0, 5);
    const BITMAP bm = objectOf(empty);
    EXPECT_EQ(bm.bmWidth, 1) << "an empty request gives a 1 x 1 monochrome bitmap";
    EXPECT_EQ(bm.bmBitsPixel, 1);
    EXPECT_EQ(CreateCompatibleBitmap(display, -1, 5), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(display, 1 << 30, 1 << 30), nullptr) << "refused, not promised";
    EXPECT_EQ(CreateCompatibleBitmap(nullptr, 4, 4), nullptr);
    DeleteObject(empty);
    DeleteDC(display);
}

TEST_F(GdiDeviceTest, ClipBoxFollowsClipRectangleAndOrigin) {
    Canvas canvas(10, 8);
    HDC dc = canvas.dc();
    RECT box{};
    EXPECT_EQ(GetClipBox(dc, &box), SIMPLEREGION);
    EXPECT_EQ((std::vector<LONG>{box.left, box.top, box.right, box.bottom}),
              (std::vector<LONG>{0, 0, 10, 8}));
    EXPECT_EQ(IntersectClipRect(dc, 2, 1, 20, 5), SIMPLEREGION);
    EXPECT_EQ(IntersectClipRect(dc, 3, 0, 6, 3), SIMPLEREGION) << "clip rectangles intersect";
    GetClipBox(dc, &box);
    EXPECT_EQ((std::vector<LONG>{box.left, box.top, box.right, box.bottom}), (std::vector<LONG>{3, 1, 6, 3}));
    SetViewportOrgEx(dc, 1, 1, nullptr);
    GetClipBox(dc, &box);
    EXPECT_EQ((std::vector<LONG>{box.left, box.top, box.right, box.bottom}), (std::vector<LONG>{2, 0, 5, 2}))
        << "the clip box is in logical coordinates";
    EXPECT_EQ(IntersectClipRect(dc, 100, 100, 101, 101), NULLREGION);
    EXPECT_EQ(GetClipBox(dc, &box), NULLREGION);
    EXPECT_EQ(SelectClipRgn(dc, nullptr), SIMPLEREGION);
    GetClipBox(dc, &box);
    EXPECT_EQ((std::vector<LONG>{box.left, box.top, box.right, box.bottom}),
              (std::vector<LONG>{-1, -1, 9, 7}));
}

TEST_F(GdiDeviceTest, RectangleOutlinesWithThePenAndFillsWithTheBrush) {
    Canvas canvas(6, 5);
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HGDIOBJ oldBrush = SelectObject(canvas.dc(), brush);
    HGDIOBJ oldPen = SelectObject(canvas.dc(), pen);
    // Right and bottom edges are excluded.
    EXPECT_TRUE(Rectangle(canvas.dc(), 1, 0, 5, 4));
    EXPECT_EQ(canvas.letters(), (Rows{".RRRR.", ".RBBR.", ".RBBR.", ".RRRR.", "......"}));
    // Reversed corners draw the same rectangle; an empty one draws nothing.
    Canvas again(6, 5);
    SelectObject(again.dc(), brush);
    SelectObject(again.dc(), pen);
    Rectangle(again.dc(), 5, 4, 1, 0);
    EXPECT_EQ(again.letters(), canvas.letters());
    EXPECT_TRUE(Rectangle(again.dc(), 0, 0, 0, 5));
    EXPECT_EQ(again.at(0, 0), 0x808080u);
    SelectObject(again.dc(), oldBrush);
    SelectObject(again.dc(), oldPen);

    // A clipped rectangle touches only the clip.
    Canvas clipped(6, 5);
    SelectObject(clipped.dc(), brush);
    SelectObject(clipped.dc(), pen);
    IntersectClipRect(clipped.dc(), 0, 0, 3, 5);
    Rectangle(clipped.dc(), 1, 0, 5, 4);
    EXPECT_EQ(clipped.letters(), (Rows{".RR...", ".RB...", ".RB...", ".RR...", "......"}));
    SelectObject(clipped.dc(), oldBrush);
    SelectObject(clipped.dc(), oldPen);

    RECT r{0, 4, 6, 5};
    EXPECT_EQ(FillRect(canvas.dc(), &r, brush), 1);
    EXPECT_EQ(canvas.letters().back(), "BBBBBB");
    SelectObject(canvas.dc(), oldBrush);
    SelectObject(canvas.dc(), oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
    EXPECT_EQ(CreatePen(7, 1, 0), nullptr) << "only solid pens";
}

TEST_F(GdiDeviceTest, PixelsMapToWhatTheSurfaceCanHold) {
    struct Case {
        const char* name;
        int bpp;
        std::vector<std::uint32_t> colors;
        COLORREF asked;
        COLORREF stored;
    };
    const std::vector<Case> cases{
        {"8 bits: nearest table colour", 8, {kBlack, kRed, kGreen, kWhite}, RGB(250, 20, 10), RGB(255, 0, 0)},
        {"4 bits: nearest table colour", 4, {kBlack, kWhite, kBlue}, RGB(10, 10, 200), RGB(0, 0, 255)},
        {"1 bit", 1, {kBlack, kWhite}, RGB(200, 200, 200), RGB(255, 255, 255)},
        {"16 bits keep 5 bits a component", 16, {}, RGB(0x87, 0x40, 0xFF), RGB(0x84, 0x42, 0xFF)},
        {"24 bits keep everything", 24, {}, RGB(1, 2, 3), RGB(1, 2, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDib header(2, 2, c.bpp, c.colors);
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bitmap = CreateDIBSection(dc, header.info(), DIB_RGB_COLORS, nullptr, nullptr, 0);
        HGDIOBJ old = SelectObject(dc, bitmap);
        EXPECT_EQ(SetPixel(dc, 1, 1, c.asked), c.stored);
        EXPECT_EQ(GetPixel(dc, 1, 1), c.stored);
        EXPECT_EQ(GetPixel(dc, 2, 1), CLR_INVALID) << "outside the bitmap";
        EXPECT_EQ(SetPixel(dc, -1, 0, c.asked), CLR_INVALID);
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    // A 16-bit DIB section is 5-5-5 unless told otherwise.
    TestDib header(1, -1, 16);
    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, header.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SetPixel(dc, 0, 0, RGB(255, 0, 0));
    EXPECT_EQ(*static_cast<std::uint16_t*>(bits), 0x7C00);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

// A 32-bit window or image is shown as it is, so what is drawn must be opaque; a 32-bit DIB
// section keeps 0 in its fourth byte.
TEST_F(GdiDeviceTest, ThirtyTwoBitSurfacesAndAlpha) {
    TestDib dib = makeF24();
    QImage image(3, 5, QImage::Format_ARGB32);
    image.fill(0);
    HDC dc = CreateImageDC(&image);
    SetDIBitsToDevice(dc, 0, 0, 3, 5, 0, 0, 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS);
    EXPECT_EQ(image.pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(image.pixel(2, 4), 0xFF0000FFu);
    DeleteDC(dc);

    Canvas canvas(3, 5, 0x12345678);
    SetDIBitsToDevice(canvas.dc(), 0, 0, 3, 5, 0, 0, 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS);
    EXPECT_EQ(canvas.raw(0, 0), 0x00FF0000u);
    EXPECT_EQ(CreateImageDC(nullptr), nullptr);
    QImage indexed(2, 2, QImage::Format_Indexed8);
    EXPECT_EQ(CreateImageDC(&indexed), nullptr) << "only 32-bit images";
}

// Misuse inside the program fails the way Win32 fails and never crashes.
TEST_F(GdiDeviceTest, StaleAndForeignHandlesFailSafely) {
    HDC dead = CreateCompatibleDC(nullptr);
    DeleteDC(dead);
    HBRUSH deadBrush = CreateSolidBrush(0);
    DeleteObject(deadBrush);
    int local = 0;
    auto* foreign = reinterpret_cast<HDC>(&local);
    for (HDC dc : {static_cast<HDC>(nullptr), dead, foreign}) {
        RECT r{0, 0, 1, 1};
        EXPECT_FALSE(DeleteDC(dc));
        EXPECT_EQ(SelectObject(dc, deadBrush), nullptr);
        EXPECT_EQ(GetDeviceCaps(dc, TECHNOLOGY), 0);
        EXPECT_EQ(GetClipBox(dc, &r), ERROR_REGION);
        EXPECT_EQ(IntersectClipRect(dc, 0, 0, 1, 1), ERROR_REGION);
        EXPECT_EQ(SelectClipRgn(dc, nullptr), ERROR_REGION);
        EXPECT_FALSE(SetViewportOrgEx(dc, 0, 0, nullptr));
        EXPECT_EQ(SetStretchBltMode(dc, COLORONCOLOR), 0);
        EXPECT_EQ(GetStretchBltMode(dc), 0);
        EXPECT_EQ(SelectPalette(dc, nullptr, FALSE), nullptr);
        EXPECT_EQ(RealizePalette(dc), UINT(GDI_ERROR));
        EXPECT_FALSE(Rectangle(dc, 0, 0, 2, 2));
        EXPECT_EQ(FillRect(dc, &r, deadBrush), 0);
        EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
        EXPECT_EQ(SetPixel(dc, 0, 0, 0), CLR_INVALID);
        EXPECT_FALSE(BitBlt(dc, 0, 0, 1, 1, dc, 0, 0, SRCCOPY));
        EXPECT_FALSE(StretchBlt(dc, 0, 0, 1, 1, dc, 0, 0, 1, 1, SRCCOPY));
        EXPECT_EQ(CreateCompatibleBitmap(dc, 1, 1), nullptr);
        if (dc) {
            EXPECT_EQ(CreateCompatibleDC(dc), nullptr);
        }
        EXPECT_EQ(ReleaseDC(nullptr, dc), 0);
    }
    EXPECT_FALSE(DeleteObject(deadBrush));
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(&local)));
    EXPECT_EQ(GetObjectA(reinterpret_cast<HGDIOBJ>(&local), 0, nullptr), 0);
    EXPECT_EQ(ToBitmap(reinterpret_cast<HGDIOBJ>(&local)), nullptr);
    EXPECT_EQ(GetPaletteEntries(nullptr, 0, 1, nullptr), 0u);
    EXPECT_EQ(WidgetFromWindow(reinterpret_cast<HWND>(&local)), nullptr);
    EXPECT_EQ(GetDC(reinterpret_cast<HWND>(&local)), nullptr);
    // A device of the wrong kind: a window DC goes back with ReleaseDC, a memory DC with DeleteDC.
    HDC desktop = GetDC(nullptr);
    EXPECT_FALSE(DeleteDC(desktop));
    HDC memory = CreateCompatibleDC(nullptr);
    EXPECT_EQ(ReleaseDC(nullptr, memory), 0);
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_EQ(ReleaseDC(nullptr, desktop), 1);
}

TEST_F(GdiDeviceTest, FailureInjectionPerCallKind) {
    using gdi::testing::Call;
    gdi::testing::FailureScope scope;
    Canvas canvas(2, 2);
    Canvas other(2, 2);
    TestDib dib = makeF24();
    const auto stretch = [&dib](HDC dc) {
        return StretchDIBits(dc, 0, 0, 1, 1, 0, 0, 1, 1, dib.bits(), dib.info(), DIB_RGB_COLORS, SRCCOPY);
    };

    gdi::testing::FailNthCall(Call::StretchDIBits, 2);
    EXPECT_NE(stretch(canvas.dc()), GDI_ERROR);
    EXPECT_EQ(stretch(canvas.dc()), GDI_ERROR) << "the second call fails";
    EXPECT_NE(stretch(canvas.dc()), GDI_ERROR) << "and only that one";

    gdi::testing::FailOnDevice(canvas.dc(), Call::StretchDIBits);
    EXPECT_EQ(stretch(canvas.dc()), GDI_ERROR);
    EXPECT_EQ(stretch(canvas.dc()), GDI_ERROR);
    EXPECT_NE(stretch(other.dc()), GDI_ERROR) << "other devices still work";
    EXPECT_NE(SetDIBitsToDevice(canvas.dc(), 0, 0, 1, 1, 0, 0, 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS),
              0)
        << "other calls on the device still work";
    gdi::testing::ClearFailures();
    EXPECT_NE(stretch(canvas.dc()), GDI_ERROR);

    // Each injectable call fails with its own failure result.
    gdi::testing::FailAlways(Call::SetDIBitsToDevice);
    gdi::testing::FailAlways(Call::CreateCompatibleBitmap);
    gdi::testing::FailAlways(Call::CreateDIBSection);
    gdi::testing::FailAlways(Call::CreateCompatibleDC);
    gdi::testing::FailAlways(Call::SetDIBits);
    gdi::testing::FailAlways(Call::StretchBlt);
    gdi::testing::FailAlways(Call::GetDIBits);
    gdi::testing::FailAlways(Call::newdib);
    EXPECT_EQ(SetDIBitsToDevice(canvas.dc(), 0, 0, 1, 1, 0, 0, 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS),
              0);
    EXPECT_EQ(CreateCompatibleBitmap(canvas.dc(), 1, 1), nullptr);
    void* bits = &bits;
    EXPECT_EQ(CreateDIBSection(nullptr, dib.info(), DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
    EXPECT_EQ(CreateCompatibleDC(nullptr), nullptr);
    EXPECT_EQ(SetDIBits(canvas.dc(), canvas.bitmap(), 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS), 0);
    EXPECT_FALSE(StretchBlt(canvas.dc(), 0, 0, 1, 1, other.dc(), 0, 0, 1, 1, SRCCOPY));
    EXPECT_TRUE(BitBlt(canvas.dc(), 0, 0, 1, 1, other.dc(), 0, 0, SRCCOPY)) << "BitBlt is not injectable";
    EXPECT_EQ(GetDIBits(canvas.dc(), canvas.bitmap(), 0, 5, dib.bits(), dib.info(), DIB_RGB_COLORS), 0);
    EXPECT_TRUE(gdi::testing::ShouldFail(Call::newdib));
}

TEST_F(GdiDeviceTest, LiveObjectCountsTrackEveryKind) {
    const auto before = gdi::testing::LiveObjects();
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 2, 2);
    HBRUSH brush = CreateSolidBrush(0);
    HPEN pen = CreatePen(PS_SOLID, 1, 0);
    LOGPALETTE lp{0x300, 1, {{0, 0, 0, 0}}};
    HPALETTE palette = CreatePalette(&lp);
    const auto during = gdi::testing::LiveObjects();
    EXPECT_EQ(during.dcs, before.dcs + 1);
    EXPECT_EQ(during.bitmaps, before.bitmaps + 1);
    EXPECT_EQ(during.brushes, before.brushes + 1);
    EXPECT_EQ(during.pens, before.pens + 1);
    EXPECT_EQ(during.palettes, before.palettes + 1);
    DeleteObject(bitmap);
    DeleteObject(brush);
    DeleteObject(pen);
    DeleteObject(palette);
    DeleteDC(dc);
    // GdiTest's tear-down checks that the counts are back where they were.
}

} // namespace
} // namespace gdi_test
