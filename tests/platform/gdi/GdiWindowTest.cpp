// Window DCs on widgets: PaintDC inside paint events, GetDC's overlay outside them, the desktop.
#include "GdiTestSupport.h"
#include "platform/gdi/GdiQt.h"

#include <QApplication>
#include <QPaintEvent>
#include <QScrollArea>
#include <QTest>
#include <QWidget>
#include <functional>

namespace gdi_test {
namespace {

using GdiWindowTest = GdiTest;

const QColor kBackground(0, 160, 0);

class Painted : public QWidget {
  public:
    explicit Painted(QWidget* parent = nullptr) : QWidget(parent) {
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, kBackground);
        setPalette(p);
    }
    std::function<void(QPaintEvent*)> onPaint;
    int paints = 0;
    int flushPaints = 0;

  protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        if (gdi::IsOverlayFlush(this)) ++flushPaints;
        if (onPaint) onPaint(event);
    }
};

QRgb pixelOf(QWidget& w, int x, int y) {
    return w.grab().toImage().pixel(x, y) & 0xFFFFFF;
}

void showAndSettle(QWidget& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QApplication::processEvents();
}

TEST_F(GdiWindowTest, PaintDcDrawsOverTheBackground) {
    Painted w;
    w.resize(10, 12);
    TestDib f = makeF24();
    w.onPaint = [&](QPaintEvent* event) {
        gdi::PaintDC dc(&w, event);
        StretchDIBits(dc.dc(), 1, 1, 6, 10, 0, 0, 3, 5, f.bits(), f.info(), DIB_RGB_COLORS, SRCCOPY);
    };
    const QImage shot = w.grab().toImage();
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 1 && x < 7 && y >= 1 && y < 11;
            const QRgb expected = inside ? fColor((x - 1) / 2, (y - 1) / 2) : kBackground.rgb() & 0xFFFFFF;
            ASSERT_EQ(shot.pixel(x, y) & 0xFFFFFF, expected) << x << "," << y;
        }
}

// Undrawn pixels of a paint DC read as the erased background, as on a window.
TEST_F(GdiWindowTest, PaintDcDestinationIsTheBackground) {
    Painted w;
    w.resize(4, 4);
    w.onPaint = [&](QPaintEvent* event) {
        gdi::PaintDC dc(&w, event);
        EXPECT_EQ(GetPixel(dc.dc(), 1, 1), RGB(0, 160, 0));
        BitBlt(dc.dc(), 0, 0, 2, 2, nullptr, 0, 0, DSTINVERT);
    };
    EXPECT_EQ(pixelOf(w, 0, 0), 0xFF5FFFu);
    EXPECT_EQ(pixelOf(w, 3, 3), QRgb(0x00A000));
}

// A picture the size of the whole paint box costs only what can be seen of it.
TEST_F(GdiWindowTest, PaintDcCoversOnlyTheVisibleArea) {
    QScrollArea area;
    area.resize(200, 150);
    auto* box = new Painted;
    box->resize(10000, 10000);
    area.setWidget(box);
    RECT largest{0, 0, 0, 0};
    TestDib f = makeF24();
    box->onPaint = [&](QPaintEvent* event) {
        gdi::PaintDC dc(box, event);
        RECT clip{};
        GetClipBox(dc.dc(), &clip);
        if (clip.right - clip.left > largest.right - largest.left) largest = clip;
        // Drawing far outside what is shown touches nothing and costs nothing.
        for (int y = 0; y < 10000; y += 100)
            SetDIBitsToDevice(dc.dc(), 0, y, 3, 5, 0, 0, 0, 5, f.bits(), f.info(), DIB_RGB_COLORS);
    };
    showAndSettle(area);
    box->repaint();
    EXPECT_GT(largest.right - largest.left, 0);
    EXPECT_LE(largest.right - largest.left, 200);
    EXPECT_LE(largest.bottom - largest.top, 150);
}

TEST_F(GdiWindowTest, GetDcDrawsAtOnceAndAnOrdinaryPaintErasesIt) {
    Painted w;
    w.resize(40, 20);
    showAndSettle(w);
    HWND hwnd = WindowFromWidget(&w);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(WindowFromWidget(&w), hwnd) << "one handle per widget";
    EXPECT_EQ(WidgetFromWindow(hwnd), &w);

    HDC dc = GetDC(hwnd);
    ASSERT_NE(dc, nullptr);
    RECT clip{};
    EXPECT_EQ(GetClipBox(dc, &clip), SIMPLEREGION);
    EXPECT_EQ(clip.right, 40);
    HBRUSH navy = CreateSolidBrush(RGB(0, 0, 128));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 128));
    HGDIOBJ oldBrush = SelectObject(dc, navy);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    EXPECT_TRUE(Rectangle(dc, 0, 0, 10, 20));
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    const int paintsBefore = w.paints;
    EXPECT_EQ(ReleaseDC(hwnd, dc), 1);
    EXPECT_GT(w.paints, paintsBefore) << "ReleaseDC repaints at once, without the event loop";
    EXPECT_GT(w.flushPaints, 0);
    EXPECT_FALSE(IsOverlayFlush(&w));

    EXPECT_EQ(pixelOf(w, 5, 5), 0x000080u);
    EXPECT_EQ(pixelOf(w, 20, 5), QRgb(0x00A000)) << "beside the drawing the widget shows through";
    // A later increase covers the earlier drawing without erasing it.
    dc = GetDC(hwnd);
    SelectObject(dc, navy);
    SelectObject(dc, pen);
    Rectangle(dc, 0, 0, 15, 20);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    ReleaseDC(hwnd, dc);
    EXPECT_EQ(pixelOf(w, 12, 5), 0x000080u);
    EXPECT_EQ(pixelOf(w, 5, 5), 0x000080u);

    // An ordinary repaint of part of the widget replaces the drawing there only.
    w.repaint(QRect(0, 0, 8, 20));
    EXPECT_EQ(pixelOf(w, 5, 5), QRgb(0x00A000));
    EXPECT_EQ(pixelOf(w, 12, 5), 0x000080u);
    w.repaint();
    EXPECT_EQ(pixelOf(w, 12, 5), QRgb(0x00A000));
    DeleteObject(navy);
    DeleteObject(pen);
}

TEST_F(GdiWindowTest, HiddenAndDestroyedWindows) {
    auto* w = new Painted;
    w->resize(20, 20);
    HWND hwnd = WindowFromWidget(w);
    HDC hidden = GetDC(hwnd);
    RECT clip{};
    EXPECT_EQ(GetClipBox(hidden, &clip), NULLREGION) << "nothing of a hidden window can be drawn on";
    EXPECT_TRUE(Rectangle(hidden, 0, 0, 5, 5));
    EXPECT_EQ(ReleaseDC(hwnd, hidden), 1);
    EXPECT_EQ(w->paints, 0);

    showAndSettle(*w);
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(ReleaseDC(GetDesktopWindow(), dc), 0) << "released with the wrong window";
    delete w;
    EXPECT_EQ(WidgetFromWindow(hwnd), nullptr);
    EXPECT_EQ(GetDC(hwnd), nullptr);
    EXPECT_TRUE(Rectangle(dc, 0, 0, 5, 5)) << "drawing on a DC whose window is gone does nothing";
    EXPECT_EQ(GetPixel(dc, 1, 1), CLR_INVALID);
    EXPECT_EQ(ReleaseDC(hwnd, dc), 1) << "the DC is still given back";
}

TEST_F(GdiWindowTest, DesktopDc) {
    EXPECT_EQ(WidgetFromWindow(GetDesktopWindow()), nullptr);
    HDC byNull = GetDC(nullptr);
    HDC byHandle = GetDC(GetDesktopWindow());
    ASSERT_NE(byNull, nullptr);
    EXPECT_EQ(GetDeviceCaps(byHandle, BITSPIXEL), QGuiApplication::primaryScreen()->depth());
    {
        SetDesktopBitsPerPixel(8);
        EXPECT_EQ(GetDeviceCaps(byNull, BITSPIXEL), 8);
        SetDesktopBitsPerPixel(0);
    }
    EXPECT_EQ(GetDeviceCaps(byNull, BITSPIXEL), QGuiApplication::primaryScreen()->depth());
    EXPECT_EQ(GetPixel(byNull, 0, 0), CLR_INVALID) << "the screen is not read";
    TestDib f = makeF24();
    EXPECT_EQ(SetDIBitsToDevice(byNull, 0, 0, 3, 5, 0, 0, 0, 5, f.bits(), f.info(), DIB_RGB_COLORS), 5);
    EXPECT_EQ(ReleaseDC(nullptr, byNull), 1);
    EXPECT_EQ(ReleaseDC(GetDesktopWindow(), byHandle), 1);
}

} // namespace
} // namespace gdi_test
