// Printer DCs: device values, pictures onto the page, and the path through a compatible bitmap.
#include "GdiTestSupport.h"
#include "platform/gdi/GdiQt.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

namespace gdi_test {
namespace {

using GdiPrinterTest = GdiTest;

// A printer DC onto one page of a PDF file; finish() ends the page and gives the file's bytes.
struct PdfPage {
    QTemporaryDir dir;
    QPrinter printer{QPrinter::HighResolution};
    QPainter painter;
    HDC dc = nullptr;

    PdfPage() {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("page.pdf"));
        if (dir.isValid() && painter.begin(&printer)) dc = CreatePrinterDC(&printer, &painter);
    }
    QByteArray finish() {
        DeleteDC(dc);
        painter.end();
        QFile file(printer.outputFileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(GdiPrinterTest, PrintsAPictureToPdf) {
    PdfPage page;
    HDC dc = page.dc;
    ASSERT_NE(dc, nullptr);
    const QPrinter& printer = page.printer;
    EXPECT_EQ(GetDeviceCaps(dc, TECHNOLOGY), DT_RASPRINTER);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), printer.resolution());
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), printer.width());
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), printer.height());
    EXPECT_EQ(GetDeviceCaps(dc, RASTERCAPS) & (RC_DIBTODEV | RC_STRETCHDIB), RC_DIBTODEV | RC_STRETCHDIB);

    TestDib f = makeF24();
    EXPECT_EQ(StretchDIBits(dc, 100, 100, 300, 500, 0, 0, 3, 5, f.bits(), f.info(), DIB_RGB_COLORS, SRCCOPY),
              5);
    // The page cannot be read back, so operations that combine with it are refused.
    EXPECT_EQ(StretchDIBits(dc, 100, 100, 300, 500, 0, 0, 3, 5, f.bits(), f.info(), DIB_RGB_COLORS, SRCAND),
              GDI_ERROR);
    EXPECT_EQ(GetPixel(dc, 150, 150), CLR_INVALID);
    {
        Canvas canvas(2, 2);
        EXPECT_FALSE(BitBlt(canvas.dc(), 0, 0, 1, 1, dc, 0, 0, SRCCOPY)) << "nothing to read from a page";
    }

    // The way through a bitmap compatible with the printer, for devices that refuse DIBs.
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 3, 5);
    BITMAP bm{};
    GetObjectA(bitmap, sizeof bm, &bm);
    EXPECT_EQ(bm.bmBitsPixel, 24);
    HDC memory = CreateCompatibleDC(dc);
    EXPECT_EQ(GetDeviceCaps(memory, TECHNOLOGY), DT_RASPRINTER);
    EXPECT_EQ(GetDeviceCaps(memory, LOGPIXELSY), printer.resolution());
    EXPECT_EQ(SetDIBits(memory, bitmap, 0, 5, f.bits(), f.info(), DIB_RGB_COLORS), 5);
    HGDIOBJ old = SelectObject(memory, bitmap);
    EXPECT_TRUE(StretchBlt(dc, 500, 100, 300, 500, memory, 0, 0, 3, 5, SRCCOPY));
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);

    const QByteArray pdf = page.finish();
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_TRUE(pdf.contains("/Image")) << "the pictures are on the page";
    EXPECT_TRUE(pdf.trimmed().endsWith("%%EOF"));
}

// A picture on a PDF page is stored as it is: a photo-like picture is where a writer would reach
// for JPEG, and a printed screenshot must keep every pixel.
TEST_F(GdiPrinterTest, PicturesGoIntoAPdfWithoutLossyCompression) {
    PdfPage page;
    ASSERT_NE(page.dc, nullptr);
    TestDib noise(300, 200, 24);
    std::uint32_t seed = 12345;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) {
            seed = seed * 1664525u + 1013904223u;
            noise.set(x, y, (seed >> 8) & 0xFFFFFF);
        }
    EXPECT_EQ(StretchDIBits(page.dc, 0, 0, 3000, 2000, 0, 0, 300, 200, noise.bits(), noise.info(),
                            DIB_RGB_COLORS, SRCCOPY),
              200);
    const QByteArray pdf = page.finish();
    EXPECT_TRUE(pdf.contains("/Image"));
    EXPECT_FALSE(pdf.contains("/DCTDecode")) << "the picture was stored as JPEG";
}

// What the printer DC asks of its painter, seen on an image instead of a PDF page: exact device
// rectangles, no smoothing, mirroring and clipping as on any DC.
TEST_F(GdiPrinterTest, DrawsAtTheDeviceRectangleWithoutSmoothing) {
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    QImage page(40, 30, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    HDC dc = CreatePrinterDC(&printer, &painter);
    ASSERT_NE(dc, nullptr);
    TestDib f = makeF24();
    StretchDIBits(dc, 2, 3, 6, 10, 0, 0, 3, 5, f.bits(), f.info(), DIB_RGB_COLORS, SRCCOPY);
    StretchDIBits(dc, 19, 3, -6, 10, 0, 0, 3, 5, f.bits(), f.info(), DIB_RGB_COLORS, SRCCOPY);
    IntersectClipRect(dc, 20, 0, 24, 30);
    StretchDIBits(dc, 20, 3, 6, 10, 0, 0, 3, 5, f.bits(), f.info(), DIB_RGB_COLORS, NOTSRCCOPY);
    SelectClipRgn(dc, nullptr);
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    RECT r{30, 20, 33, 22};
    FillRect(dc, &r, green);
    DeleteObject(green);
    DeleteDC(dc);
    painter.end();

    const auto at = [&page](int x, int y) { return page.pixel(x, y) & 0xFFFFFF; };
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 6; ++x) {
            const std::uint32_t c = fColor(x / 2, y / 2);
            ASSERT_EQ(at(2 + x, 3 + y), c) << "upright at " << x << "," << y;
            ASSERT_EQ(at(18 - x, 3 + y), c) << "mirrored at " << x << "," << y;
        }
    EXPECT_EQ(at(1, 3), 0xFFFFFFu);
    EXPECT_EQ(at(8, 3), 0xFFFFFFu);
    EXPECT_EQ(at(20, 3), ~kRed & 0xFFFFFF) << "inverted copy";
    EXPECT_EQ(at(23, 3), ~kRed & 0xFFFFFF);
    EXPECT_EQ(at(24, 3), 0xFFFFFFu) << "clipped";
    EXPECT_EQ(at(30, 20), kGreen);
    EXPECT_EQ(at(33, 21), 0xFFFFFFu) << "right edge excluded";
}

TEST_F(GdiPrinterTest, NeedsAnActivePainter) {
    QPrinter printer;
    QPainter idle;
    EXPECT_EQ(CreatePrinterDC(&printer, &idle), nullptr);
    EXPECT_EQ(CreatePrinterDC(&printer, nullptr), nullptr);
    EXPECT_EQ(CreatePrinterDC(nullptr, &idle), nullptr);
}

} // namespace
} // namespace gdi_test
