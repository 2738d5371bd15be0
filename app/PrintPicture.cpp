#include "app/PrintPicture.h"

#include "capture/DrawDib.h"
#include "capture/PictureWriter.h"
#include "platform/gdi/GdiOwners.h"
#include "platform/gdi/GdiQt.h"

#include <QFile>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace app {

namespace {

PrintDialogRunner& runner() {
    static PrintDialogRunner current;
    return current;
}

// Printing to a file. The engine that writes the document reports no failed write: on a full
// disk it ends "successfully" with an empty or cut-short file in place of the one that was
// there. So the document is written under a temporary name beside the file, checked to be
// whole and synced, and only then renamed into the file's place.
class PrintFile {
  public:
    // Points printer at the temporary file when it prints to a regular file (or a link to
    // one, or a name with nothing there yet); anything else it prints to as it is.
    explicit PrintFile(QPrinter& printer) : m_printer(printer), m_name(printer.outputFileName()) {
        if (m_name.isEmpty()) return;
        QString notRegular;
        m_target = capture::pictureTarget(m_name, &notRegular);
        if (m_target.isEmpty()) return;
        static std::atomic<int> counter{0};
        m_temporary =
            QStringLiteral("%1.velmora-print-%2-%3").arg(m_target).arg(::getpid()).arg(counter.fetch_add(1));
        m_printer.setOutputFileName(m_temporary);
    }
    ~PrintFile() {
        if (m_temporary.isEmpty()) return;
        m_printer.setOutputFileName(m_name);
        if (!m_placed) QFile::remove(m_temporary);
    }
    PrintFile(const PrintFile&) = delete;
    PrintFile& operator=(const PrintFile&) = delete;

    // Once the printer has ended: the document in the file's place, or false with *error.
    bool place(QString* error) {
        if (m_temporary.isEmpty()) return true;
        const QByteArray temporary = QFile::encodeName(m_temporary);
        const int fd = ::open(temporary.constData(), O_RDONLY | O_CLOEXEC);
        bool whole = false;
        if (fd >= 0) {
            // A PDF ends with its end-of-file marker, a line or two from the end.
            char tail[64] = {};
            const off_t size = ::lseek(fd, 0, SEEK_END);
            const off_t from = std::max<off_t>(0, size - off_t(sizeof tail));
            const ssize_t got = size > 0 ? ::pread(fd, tail, sizeof tail - 1, from) : 0;
            whole = got > 0 && std::strstr(tail, "%%EOF") != nullptr && ::fsync(fd) == 0;
            ::close(fd);
        }
        if (!whole) {
            *error = QStringLiteral("The picture could not be printed to \"%1\": the file could not be "
                                    "written whole. Please check that there is room on the disk.")
                         .arg(m_name);
            return false;
        }
        if (std::rename(temporary.constData(), QFile::encodeName(m_target).constData()) != 0) {
            *error = QStringLiteral("The picture could not be printed to \"%1\": %2")
                         .arg(m_name, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        m_placed = true;
        return true;
    }

  private:
    QPrinter& m_printer;
    const QString m_name; // as the user chose it
    QString m_target;     // the file it leads to
    QString m_temporary;
    bool m_placed = false;
};

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

    PrintFile file(printer);
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
    return file.place(error);
}

} // namespace app
