// picture_diff A B: the share of pixels in which two pictures differ, for the comparison script.
// Prints "<share> <width A>x<height A> <width B>x<height B>"; pixels that one picture has and
// the other lacks count as differing. Exit status 2 when a picture cannot be read.
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: picture_diff A B\n");
        return 2;
    }
    QImageReader::setAllocationLimit(0); // pictures of tall pages exceed Qt's default limit
    QImage a(QString::fromLocal8Bit(argv[1]));
    QImage b(QString::fromLocal8Bit(argv[2]));
    if (a.isNull() || b.isNull()) {
        std::printf("unreadable\n");
        return 2;
    }
    a = a.convertToFormat(QImage::Format_RGB32);
    b = b.convertToFormat(QImage::Format_RGB32);
    const qint64 w = std::max(a.width(), b.width()), h = std::max(a.height(), b.height());
    const int cw = std::min(a.width(), b.width()), ch = std::min(a.height(), b.height());
    qint64 differing = w * h - qint64(cw) * ch;
    for (int y = 0; y < ch; ++y) {
        const QRgb* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < cw; ++x)
            differing += (ra[x] & 0xFFFFFF) != (rb[x] & 0xFFFFFF);
    }
    std::printf("%.6f %dx%d %dx%d\n", double(differing) / double(w * h), a.width(), a.height(), b.width(),
                b.height());
    return 0;
}
