#include "capture/PictureWriter.h"

#include "tests/capture/CaptureTestSupport.h"
#include "tests/common/FileSizeLimit.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <webp/decode.h>

using namespace gdi;
using capture::PictureFormat;
using capture_tests::letterF;

namespace {

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

// Reads a picture file; WebP through libwebp itself, which Qt may have no plugin for.
QImage readPicture(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = f.readAll();
    if (!data.startsWith("RIFF")) return QImage::fromData(data);
    int w = 0, h = 0;
    std::uint8_t* rgb = WebPDecodeRGB(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                      std::size_t(data.size()), &w, &h);
    if (!rgb) return {};
    QImage image = QImage(rgb, w, h, w * 3, QImage::Format_RGB888).copy();
    WebPFree(rgb);
    return image;
}

TEST(PictureWriter, FormatFollowsTheExtension) {
    struct Case {
        const char* name;
        PictureFormat format;
    } const cases[] = {
        {"page.png", PictureFormat::Png},  {"PAGE.PNG", PictureFormat::Png},
        {"a.jpg", PictureFormat::Jpeg},    {"a.JpEg", PictureFormat::Jpeg},
        {"a.bmp", PictureFormat::Bmp},     {"noextension", PictureFormat::Bmp},
        {"a.tiff", PictureFormat::Bmp},    {"dir.png/shot", PictureFormat::Bmp},
        {"a.png.txt", PictureFormat::Bmp}, {"a.webp", PictureFormat::Webp},
        {"A.WebP", PictureFormat::Webp},
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
        int quality;
        int tolerance;
    } const cases[] = {{"f.bmp", 95, 0},     {"f.png", 95, 0},   {"f.jpg", 95, 24},
                       {"f.unknown", 95, 0}, {"f.webp", 100, 0}, {"lossy.webp", 80, 24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromUtf8(c.name));
        QString error;
        qint64 bytes = -1;
        ASSERT_TRUE(
            capture::WritePicture(pic, path, capture::formatForFileName(path), &error, c.quality, &bytes))
            << error.toStdString();
        EXPECT_EQ(bytes, QFileInfo(path).size());
        const QImage image = readPicture(path); // by the content, not the name
        ASSERT_FALSE(image.isNull());
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

// Noise, so that no format can squeeze the picture into the room a device has.
void fillWithNoise(DibRecord& dib, std::uint32_t seed) {
    for (DWORD i = 0; i < dib.info->bmiHeader.biSizeImage; ++i) {
        seed = seed * 1664525u + 1013904223u;
        dib.bits[i] = std::uint8_t(seed >> 24);
    }
}

TEST(PictureWriter, AFullDeviceIsReportedInEveryFormat) {
    Picture pic(300, 200);
    fillWithNoise(pic.dib, 12345);
    for (PictureFormat f :
         {PictureFormat::Bmp, PictureFormat::Png, PictureFormat::Jpeg, PictureFormat::Webp}) {
        SCOPED_TRACE(int(f));
        FillingDevice device(1000);
        QString error;
        EXPECT_FALSE(capture::WritePictureTo(pic.dib, &device, f, &error, 100));
        EXPECT_TRUE(error.contains("No space left")) << error.toStdString();
    }
}

// A PNG written band by band as a picture is made is the same file as one written from the
// finished picture, whatever the bands; rows below a band's end are never read (here they hold
// other colours until their band comes), and the file is complete only with its last row.
TEST(PictureWriter, APngWrittenInBandsAsItsRowsAreMadeIsTheWholePicturesFile) {
    const int w = 37, h = 29;
    Picture finished(w, h);
    QBuffer whole;
    whole.open(QIODevice::WriteOnly);
    QString error;
    ASSERT_TRUE(capture::WritePictureTo(finished.dib, &whole, PictureFormat::Png, &error))
        << error.toStdString();

    const std::vector<std::vector<int>> cuts = {{h}, {1, 2, 3, 28, h}, {10, 10, 0, 20, h + 40}, {5, 7, 6}};
    for (const auto& bands : cuts) {
        SCOPED_TRACE(::testing::Message() << bands.size() << " bands ending at " << bands.back());
        Picture making(w, h);
        for (int top = 0; top < h; ++top)
            for (int x = 0; x < w; ++x)
                setpixel(making.dib, x, h - 1 - top, 0x123456);
        QBuffer banded;
        banded.open(QIODevice::WriteOnly);
        capture::PngRowWriter png(&banded, w, h);
        int made = 0;
        for (int until : bands) {
            for (; made < std::min(until, h); ++made)
                for (int x = 0; x < w; ++x)
                    setpixel(making.dib, x, h - 1 - made, letterF(x, made, w, h));
            ASSERT_TRUE(png.writeRows(making.dib, until)) << png.error().toStdString();
            EXPECT_EQ(png.complete(), made == h);
        }
        if (made == h)
            EXPECT_EQ(banded.data(), whole.data());
        else
            EXPECT_FALSE(png.complete()) << "rows are missing";
    }
}

// A device that fills up half way fails the band it happens in and every band after it.
TEST(PictureWriter, APngWrittenInBandsStopsAtAFullDevice) {
    Picture pic(300, 200);
    fillWithNoise(pic.dib, 99);
    FillingDevice device(20000);
    capture::PngRowWriter png(&device, 300, 200);
    bool failed = false;
    for (int until = 20; until <= 200 && !failed; until += 20)
        failed = !png.writeRows(pic.dib, until);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(png.error().contains("No space left")) << png.error().toStdString();
    EXPECT_FALSE(png.writeRows(pic.dib, 200));
    EXPECT_FALSE(png.complete());
}

// A save that fails half way (here: the process may write only 4 KB per file, as on a full
// disk) reports it and leaves the existing file exactly as it was, with no temporary file left:
// a picture written in many pieces, one small enough to sit whole in the file's write buffer
// until it is committed (its failure comes only then), and an encoded picture of that size.
TEST(PictureWriter, AFailedSaveLeavesTheOldFileUntouched) {
    struct Case {
        const char* name;
        int width, height; // of a bitmap; 0 for 6000 encoded bytes
    } const cases[] = {
        {"360 KB bitmap", 400, 300},
        {"6 KB bitmap", 50, 40},
        {"6000 encoded bytes", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("keep.bmp");
        {
            QFile old(path);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("the old picture");
        }
        QString error;
        bool ok = false;
        {
            const testing_support::FileSizeLimit limit(4096);
            if (c.width > 0) {
                Picture pic(c.width, c.height);
                ok = capture::WritePicture(pic.dib, path, PictureFormat::Bmp, &error);
            } else {
                ok = capture::WriteEncodedPicture(QByteArray(6000, 'x'), path, &error);
            }
        }
        EXPECT_FALSE(ok);
        EXPECT_TRUE(error.contains("keep.bmp")) << error.toStdString();
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), QByteArray("the old picture"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1) << "no temporary file is left behind";
    }
}

TEST(PictureWriter, RefusesWhatAFormatCannotHold) {
    DibRecord tall;
    newdib(&tall, 1, 70000, 24, nullptr, 0);
    ASSERT_NE(tall.bits, nullptr);
    for (PictureFormat f : {PictureFormat::Jpeg, PictureFormat::Webp}) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QString error;
        EXPECT_FALSE(capture::WritePictureTo(tall, &buffer, f, &error));
        EXPECT_TRUE(error.contains("PNG")) << "the message says what to do instead";
        EXPECT_TRUE(error.contains("70000")) << error.toStdString();
    }
    QString error;
    // PNG has no such limit.
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    EXPECT_TRUE(capture::WritePictureTo(tall, &png, PictureFormat::Png, &error)) << error.toStdString();
    deldib(tall);

    DibRecord none{};
    EXPECT_FALSE(capture::WritePictureTo(none, &png, PictureFormat::Png, &error));
}

// What is at the name and is not a regular file is refused and stays as it was: writing into a
// pipe or a device makes no picture file, and a rename onto a folder or a pipe would replace it.
TEST(PictureWriter, RefusesWhatIsNotARegularFileAndLeavesItAlone) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.png");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.png"));
    ASSERT_TRUE(QFile::link(fifo, dir.filePath("to-pipe.png")));
    ASSERT_TRUE(QFile::link(dir.filePath("folder.png"), dir.filePath("to-folder.png")));
    struct Case {
        QString name;
        const char* says;
        mode_t type; // what lstat must still show
    } const cases[] = {
        {fifo, "named pipe", S_IFIFO},
        {"/dev/null", "device", S_IFCHR},
        {dir.filePath("folder.png"), "folder", S_IFDIR},
        {dir.filePath("to-pipe.png"), "link to a named pipe", S_IFLNK},
        {dir.filePath("to-folder.png"), "link to a folder", S_IFLNK},
    };
    Picture pic(5, 7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        QString error;
        qint64 bytes = -1;
        EXPECT_FALSE(capture::WritePicture(pic.dib, c.name, PictureFormat::Png, &error, 90, &bytes));
        EXPECT_TRUE(error.contains(c.says)) << error.toStdString();
        EXPECT_TRUE(error.contains(c.name)) << error.toStdString();
        struct stat st {};
        ASSERT_EQ(lstat(c.name.toLocal8Bit().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, c.type);
    }
    EXPECT_TRUE(QDir(dir.filePath("folder.png")).isEmpty());
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                  .size(),
              4)
        << "no temporary file is left";
}

// A link stays a link: its file, in its own folder and through a chain of links, gets the
// picture, with no temporary file left on either side; a link to nothing yet makes its file.
TEST(PictureWriter, ALinkKeepsItsPlaceAndItsFileGetsThePicture) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("store"));
    const QString real = dir.filePath("store/real.bmp");
    {
        QFile old(real);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    ASSERT_TRUE(QFile::link("store/real.bmp", dir.filePath("first.bmp")));
    ASSERT_TRUE(QFile::link("first.bmp", dir.filePath("second.bmp")));
    ASSERT_TRUE(QFile::link("store/new.bmp", dir.filePath("dangling.bmp")));
    Picture pic(5, 7);
    for (const char* link : {"second.bmp", "dangling.bmp"}) {
        SCOPED_TRACE(link);
        QString error;
        ASSERT_TRUE(capture::WritePicture(pic.dib, dir.filePath(link), PictureFormat::Bmp, &error))
            << error.toStdString();
        EXPECT_TRUE(QFileInfo(dir.filePath(link)).isSymLink());
    }
    EXPECT_EQ(readPicture(real).size(), QSize(5, 7));
    EXPECT_EQ(readPicture(dir.filePath("store/new.bmp")).size(), QSize(5, 7));
    EXPECT_TRUE(QFileInfo(dir.filePath("first.bmp")).isSymLink());
    EXPECT_EQ(QDir(dir.filePath("store")).entryList(QDir::Files | QDir::Hidden),
              QStringList({"new.bmp", "real.bmp"}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 3);
}

} // namespace
