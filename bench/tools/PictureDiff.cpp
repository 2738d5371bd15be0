// picture_diff [--fuzz PERCENT] A B: the share of pixels in which two pictures differ, for the
// comparison script. Prints "<share> <width A>x<height A> <width B>x<height B>"; pixels that one
// picture has and the other lacks count as differing. With --fuzz, a pixel differs only when one
// of its channels differs by more than PERCENT % of 255, so that two encoders' rounding or a
// slightly different anti-aliasing of the same drawing does not count. Exit status 2 when a
// picture cannot be read or the arguments are wrong.
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int usage() {
    std::fprintf(stderr, "usage: picture_diff [--fuzz PERCENT] A B\n");
    return 2;
}

// The largest channel difference that still counts as equal: "more than PERCENT % of 255" in
// whole steps, so 3 % (7.65) lets 7 pass and counts 8.
int toleranceFor(double percent) {
    return std::clamp(int(percent * 255.0 / 100.0), 0, 255);
}

bool channelsWithin(QRgb a, QRgb b, int tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
        if (d > tolerance) return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    double fuzz = 0;
    int first = 1;
    if (argc == 5 && std::strcmp(argv[1], "--fuzz") == 0) {
        char* end = nullptr;
        fuzz = std::strtod(argv[2], &end);
        if (end == argv[2] || *end != 0 || !(fuzz >= 0 && fuzz <= 100)) return usage();
        first = 3;
    } else if (argc != 3) {
        return usage();
    }
    QImageReader::setAllocationLimit(0); // pictures of tall pages exceed Qt's default limit
    QImage a(QString::fromLocal8Bit(argv[first]));
    QImage b(QString::fromLocal8Bit(argv[first + 1]));
    if (a.isNull() || b.isNull()) {
        std::printf("unreadable\n");
        return 2;
    }
    a = a.convertToFormat(QImage::Format_RGB32);
    b = b.convertToFormat(QImage::Format_RGB32);
    const int tolerance = toleranceFor(fuzz);
    const qint64 w = std::max(a.width(), b.width()), h = std::max(a.height(), b.height());
    const int cw = std::min(a.width(), b.width()), ch = std::min(a.height(), b.height());
    qint64 differing = w * h - qint64(cw) * ch;
    for (int y = 0; y < ch; ++y) {
        const QRgb* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        if (tolerance == 0) {
            for (int x = 0; x < cw; ++x)
                differing += (ra[x] & 0xFFFFFF) != (rb[x] & 0xFFFFFF);
        } else {
            for (int x = 0; x < cw; ++x)
                differing += !channelsWithin(ra[x], rb[x], tolerance);
        }
    }
    std::printf("%.6f %dx%d %dx%d\n", double(differing) / double(w * h), a.width(), a.height(), b.width(),
                b.height());
    return 0;
}
