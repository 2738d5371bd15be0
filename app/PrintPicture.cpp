#include "app/PrintPicture.h"

#include "capture/DrawDib.h"
#include "platform/gdi/GdiOwners.h"
#include "platform/gdi/GdiQt.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <algorithm>

namespace app {

namespace {

PrintDialogRunner& runner() {
    static PrintDialogRunner current;
    return current;
}

} // namespace

gdi::RECT fitToPage(long long pictureWidth, long long pictureHeight, int pageWidth, int pageHeight) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || pageWidth <= 0 || pageHeight <= 0) return {0, 0, 0, 0};
    // Full page width unless that would make the picture taller than the page; sizes are
    // truncated, as Qt's own aspect scaling does, so the result never overhangs the page.
    long long width = pageWidth;
    long long height = pictureHeight * pageWidth / pictureWidth;
    if (height > pageHeight) {
        height = pageHeight;
        width = pictureWidth * pageHeight / pictureHeight;
    }
    // A sliver of a picture still gets a pixel of the page.
    width = std::max(width, 1LL);
    height = std::max(height, 1LL);
    const long long left = (pageWidth - width) / 2;
    const long long top = (pageHeight - height) / 2;
    return gdi::RECT{gdi::LONG(left), gdi::LONG(top), gdi::LONG(left + width), gdi::LONG(top + height)};
}

bool ExecutePrintDialog(QPrinter& printer, QWidget* owner) {
    if (runner()) return runner()(printer, owner);
    QPrintDialog dialog(&printer, owner);
    return dialog.exec() == QDialog::Accepted;
}

PrintDialogRunner setPrintDialogRunner(PrintDialogRunner replacement) {
    PrintDialogRunner previous = std::move(runner());
    runner() = std::move(replacement);
    return previous;
}

bool PrintPicture(const DibRecord& dib, QPrinter& printer, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (!dib.bits || !dib.info || dib.info->bmiHeader.biWidth <= 0 || dib.info->bmiHeader.biHeight <= 0) {
        *error = QStringLiteral("There is no picture to print.");
        return false;
    }
    const int w = dib.info->bmiHeader.biWidth;
    const int h = dib.info->bmiHeader.biHeight;

    QPainter painter;
    if (!painter.begin(&printer)) {
        *error = QStringLiteral("The printer could not be started. Please check the printer and try again.");
        return false;
    }
    {
        // Deleted before the painter ends the page.
        const gdi::DcOwner dc(gdi::CreatePrinterDC(&printer, &painter));
        if (!dc.get()) {
            painter.end();
            *error =
                QStringLiteral("The printer could not be started. Please check the printer and try again.");
            return false;
        }
        const gdi::RECT page = fitToPage(w, h, gdi::GetDeviceCaps(dc.get(), gdi::HORZRES),
                                         gdi::GetDeviceCaps(dc.get(), gdi::VERTRES));
        // Printers take the picture directly: no halftoning for the screen's palette.
        capture::DrawDib(dc.get(), page.left, page.top, page.right - page.left, page.bottom - page.top, dib,
                         0, 0, w, h, false, gdi::SRCCOPY, true, nullptr);
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error) {
        *error = QStringLiteral("The picture could not be printed. Please check the printer and try again.");
        return false;
    }
    return true;
}

} // namespace app
