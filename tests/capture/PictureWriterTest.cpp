#include "capture/PictureWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace gdi;
using capture::PictureFormat;

namespace {

// 'F', red on blue, green dot at the bottom-right: any flip or channel swap shows.
std::uint32_t letterF(int x, int top, int w, int h) {
    if (x == w - 1 && top == h - 1) return 0x00FF00;
    const bool stem = x == 1 && top >= 1 && top < h - 1;
    const bool bar = (top == 1 || top == h / 2) && x >= 1 && x < w - 1;
    return stem || bar ? 0xFF0000 : 0x0000FF;
}

struct Picture {
    DibRecord dib{};
    Picture(int w, int h) {
        newdib(&dib, w, h, 24, nullptr, 0);
        for (int top = 0; top < h; ++top)
            for (int x = 0; x < w; ++x)
                setpixel(dib, x, h - 1 - top, letterF(x, top, w, h));
    }
    ~Picture() { deldib(dib); }
};

TEST(PictureWriter, FormatFollowsTheExtension) {
    struct Case {
        const char* name;
        PictureFormat format;
    } const cases[] = {
        {"page.png", PictureFormat::Png},  {"PAGE.PNG", PictureFormat::Png},
        {"a.jpg", PictureFormat::Jpeg},    {"a.JpEg", PictureFormat::Jpeg},
        {"a.bmp", PictureFormat::Bmp},     {"noextension", PictureFormat::Bmp},
        {"a.tiff", PictureFormat::Bmp},    {"dir.png/shot", PictureFormat::Bmp},
        {"a.png.txt", PictureFormat::Bmp},
    };
    for (const auto& c : cases)
        EXPECT_EQ(capture::formatForFileName(QString::fromUtf8(c.name)), c.format) << c.name;
}

// Each format read back by an independent reader shows the same picture, the right way up.
// The 'F' is drawn in 8 x 8 cells so that JPEG's colour subsampling keeps each cell's colour.
TEST(PictureWriter, EachFormatReadsBackAsThePicture) {
    QTemporaryDir dir;
    const int cells = 8, w = 9, h = 13;
    DibRecord pic;
    newdib(&pic, w * cells, h * cells, 24, nullptr, 0);
    for (int top = 0; top < h * cells; ++top)
        for (int x = 0; x < w * cells; ++x)
            setpixel(pic, x, h * cells - 1 - top, letterF(x / cells, top / cells, w, h));
    struct Case {
        const char* name;
        int tolerance;
    } const cases[] = {{"f.bmp", 0}, {"f.png", 0}, {"f.jpg", 24}, {"f.unknown", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromUtf8(c.name));
        QString error;
        ASSERT_TRUE(capture::WritePicture(pic, path, capture::formatForFileName(path), &error, 95))
            << error.toStdString();
        QImage image;
        ASSERT_TRUE(image.load(path)); // the reader goes by the content, not the name
        ASSERT_EQ(image.width(), w * cells);
        ASSERT_EQ(image.height(), h * cells);
        for (int y = 0; y < h * cells; ++y)
            for (int x = 0; x < w * cells; ++x) {
                // JPEG is judged at the cells' centres only.
                if (c.tolerance > 0 && (x % cells != cells / 2 || y % cells != cells / 2)) continue;
                const QRgb got = image.pixel(x, y);
                const std::uint32_t want = letterF(x / cells, y / cells, w, h);
                ASSERT_NEAR(qRed(got), int(want >> 16), c.tolerance) << x << "," << y;
                ASSERT_NEAR(qGreen(got), int((want >> 8) & 0xFF), c.tolerance) << x << "," << y;
                ASSERT_NEAR(qBlue(got), int(want & 0xFF), c.tolerance) << x << "," << y;
            }
    }
    deldib(pic);
}

TEST(PictureWriter, BitmapFileIsTheDibWithAFileHeader) {
    Picture pic(3, 2);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    ASSERT_TRUE(capture::WritePictureTo(pic.dib, &buffer, PictureFormat::Bmp, &error));
    const QByteArray bytes = buffer.data();
    ASSERT_EQ(bytes.size(), 14 + 40 + 12 * 2);
    EXPECT_EQ(bytes.left(2), QByteArray("BM"));
    std::uint32_t size = 0, offset = 0;
    std::memcpy(&size, bytes.constData() + 2, 4);
    std::memcpy(&offset, bytes.constData() + 10, 4);
    EXPECT_EQ(size, std::uint32_t(bytes.size()));
    EXPECT_EQ(offset, 54u);
    EXPECT_EQ(std::memcmp(bytes.constData() + 54, pic.dib.bits, 24), 0) << "bottom row first, as stored";
}

// A device that takes some bytes and then fails, as a disk does when it fills up.
class FillingDevice : public QIODevice {
  public:
    explicit FillingDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 len) override {
        if (m_room <= 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 n = std::min(len, m_room);
        m_room -= n;
        return n;
    }

  private:
    qint64 m_room;
};

TEST(PictureWriter, AFullDeviceIsReportedInEveryFormat) {
    // Noise, so that no format can squeeze the picture into the room the device has.
    Picture pic(300, 200);
    std::uint32_t seed = 12345;
    for (DWORD i = 0; i < pic.dib.info->bmiHeader.biSizeImage; ++i) {
        seed = seed * 1664525u + 1013904223u;
        pic.dib.bits[i] = std::uint8_t(seed >> 24);
    }
    for (PictureFormat f : {PictureFormat::Bmp, PictureFormat::Png, PictureFormat::Jpeg}) {
        SCOPED_TRACE(int(f));
        FillingDevice device(1000);
        QString error;
        EXPECT_FALSE(capture::WritePictureTo(pic.dib, &device, f, &error, 100));
        EXPECT_TRUE(error.contains("No space left")) << error.toStdString();
    }
}

// A save that fails half way (here: the process may write only 4 KB per file, as on a full
// disk) reports it and leaves the existing file exactly as it was, with no temporary file left.
TEST(PictureWriter, AFailedSaveLeavesTheOldFileUntouched) {
    QTemporaryDir dir;
    const QString path = dir.filePath("keep.bmp");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the old picture");
    }
    Picture pic(400, 300); // 360 KB
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    QString error;
    const bool ok = capture::WritePicture(pic.dib, path, PictureFormat::Bmp, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains("keep.bmp")) << error.toStdString();
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the old picture"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1) << "no temporary file is left behind";
}

TEST(PictureWriter, RefusesWhatAFormatCannotHold) {
    DibRecord tall;
    newdib(&tall, 1, 70000, 24, nullptr, 0);
    ASSERT_NE(tall.bits, nullptr);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_FALSE(capture::WritePictureTo(tall, &buffer, PictureFormat::Jpeg, &error));
    EXPECT_TRUE(error.contains("PNG")) << "the message says what to do instead";
    // PNG has no such limit.
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    EXPECT_TRUE(capture::WritePictureTo(tall, &png, PictureFormat::Png, &error)) << error.toStdString();
    deldib(tall);

    DibRecord none{};
    EXPECT_FALSE(capture::WritePictureTo(none, &png, PictureFormat::Png, &error));
}

} // namespace
