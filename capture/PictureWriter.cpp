#include "capture/PictureWriter.h"

#include "pixolan/Halftone.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <jpeglib.h>
#include <memory>
#include <spng.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <webp/encode.h>

using namespace gdi;

namespace capture {
namespace {

constexpr qint64 kChunk = 4 << 20;

bool writeAll(QIODevice* device, const void* data, qint64 size, QString* error) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const qint64 n = device->write(p, std::min(size, kChunk));
        if (n <= 0) {
            *error = device->errorString();
            return false;
        }
        p += n;
        size -= n;
    }
    return true;
}

int pictureHeight(const DibRecord& dib) {
    return std::abs(dib.info->bmiHeader.biHeight);
}

// Storage row of the picture row `top` counted from the top.
int storageRow(const DibRecord& dib, int top) {
    return dib.info->bmiHeader.biHeight > 0 ? pictureHeight(dib) - 1 - top : top;
}

// --- Windows bitmap ------------------------------------------------------------------------

bool writeBmp(const DibRecord& dib, QIODevice* device, QString* error) {
    const BITMAPINFOHEADER& h = dib.info->bmiHeader;
    int tableBytes = 0;
    if (h.biBitCount <= 8)
        tableBytes = int(h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount)) * 4;
    else if (h.biCompression == BI_BITFIELDS)
        tableBytes = 12;
    const std::uint64_t imageBytes = std::uint64_t(dib.bytesPerRow) * std::uint64_t(pictureHeight(dib));
    const std::uint64_t offset = 14 + sizeof(BITMAPINFOHEADER) + std::uint64_t(tableBytes);
    if (offset + imageBytes > 0xFFFFFFFFull) {
        *error = QStringLiteral("The picture is too large for a Windows bitmap file (at most 4 GB). "
                                "Save it as PNG instead.");
        return false;
    }
    std::uint8_t fileHeader[14] = {'B', 'M'};
    const std::uint32_t fileSize = std::uint32_t(offset + imageBytes);
    const std::uint32_t bitsOffset = std::uint32_t(offset);
    std::memcpy(fileHeader + 2, &fileSize, 4);
    std::memcpy(fileHeader + 10, &bitsOffset, 4);
    BITMAPINFOHEADER header = h;
    header.biSizeImage = std::uint32_t(imageBytes);
    return writeAll(device, fileHeader, sizeof fileHeader, error) &&
           writeAll(device, &header, sizeof header, error) &&
           writeAll(device, dib.info->bmiColors, tableBytes, error) &&
           writeAll(device, dib.bits, qint64(imageBytes), error);
}

} // namespace

// --- PNG -----------------------------------------------------------------------------------

struct PngRowWriter::Stream {
    QIODevice* device;
    QString error;
    bool failed = false;
};

PngRowWriter::PngRowWriter(QIODevice* device, int width, int height)
    : m_width(width), m_height(height), m_stream(new Stream{device, QString()}) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (!ctx) {
        m_failed = QStringLiteral("Not enough memory to write the PNG file.");
        return;
    }
    m_ctx = ctx;
    spng_set_png_stream(
        ctx,
        [](spng_ctx*, void* user, void* data, size_t length) {
            auto* s = static_cast<Stream*>(user);
            if (writeAll(s->device, data, qint64(length), &s->error)) return 0;
            s->failed = true;
            return int(SPNG_IO_ERROR);
        },
        m_stream.get());
    spng_ihdr ihdr{};
    ihdr.width = std::uint32_t(width);
    ihdr.height = std::uint32_t(height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    // A light compression level and one cheap filter: large pictures save several times
    // faster than with the adaptive choice, and pages, whose rows mostly repeat the row above,
    // still compress well.
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 4);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP);
    if (const int rc =
            spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE))
        m_failed = m_stream->failed ? m_stream->error
                                    : QStringLiteral("The PNG file could not be written (%1).")
                                          .arg(QString::fromUtf8(spng_strerror(rc)));
}

PngRowWriter::~PngRowWriter() {
    spng_ctx_free(static_cast<spng_ctx*>(m_ctx));
}

bool PngRowWriter::writeRows(const DibRecord& dib, int until) {
    if (!m_failed.isEmpty()) return false;
    until = std::min(until, m_height);
    if (m_next >= until) return true;
    auto* ctx = static_cast<spng_ctx*>(m_ctx);
    std::vector<std::uint8_t> row(std::size_t(m_width) * 3);
    int rc = 0;
    for (; rc == 0 && m_next < until; ++m_next) {
        pixolan::readRowBgr(dib, storageRow(dib, m_next), 0, m_width, row.data());
        for (std::size_t i = 0; i < row.size(); i += 3)
            std::swap(row[i], row[i + 2]);
        rc = spng_encode_row(ctx, row.data(), row.size());
    }
    // The last row ends the image, and the encoder says so.
    if (rc == SPNG_EOI && m_next == m_height) return true;
    if (rc == 0) return true;
    m_failed = m_stream->failed ? m_stream->error
                                : QStringLiteral("The PNG file could not be written (%1).")
                                      .arg(QString::fromUtf8(spng_strerror(rc)));
    return false;
}

namespace {

bool writePng(const DibRecord& dib, QIODevice* device, QString* error) {
    PngRowWriter png(device, dib.info->bmiHeader.biWidth, pictureHeight(dib));
    if (png.writeRows(dib, pictureHeight(dib)) && png.complete()) return true;
    *error = png.error();
    return false;
}

// --- JPEG ----------------------------------------------------------------------------------

struct JpegDestination {
    jpeg_destination_mgr pub;
    QIODevice* device;
    QString* error;
    bool failed;
    std::uint8_t buffer[1 << 16];
};

void jpegInit(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof d->buffer;
}

boolean jpegEmpty(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    if (!d->failed && !writeAll(d->device, d->buffer, sizeof d->buffer, d->error)) d->failed = true;
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof d->buffer;
    return TRUE;
}

void jpegTerm(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    const qint64 n = qint64(sizeof d->buffer - d->pub.free_in_buffer);
    if (!d->failed && n > 0 && !writeAll(d->device, d->buffer, n, d->error)) d->failed = true;
}

struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

// Kept free of C++ objects with destructors: a libjpeg error leaves through longjmp.
bool encodeJpeg(const DibRecord& dib, JpegDestination* dest, JpegError* err, std::uint8_t* row, int quality) {
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&err->pub);
    err->pub.error_exit = jpegErrorExit;
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest->pub;
    cinfo.image_width = JDIMENSION(dib.info->bmiHeader.biWidth);
    cinfo.image_height = JDIMENSION(pictureHeight(dib));
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR; // DIB rows are B, G, R already
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const int width = dib.info->bmiHeader.biWidth;
    while (cinfo.next_scanline < cinfo.image_height && !dest->failed) {
        pixolan::readRowBgr(dib, storageRow(dib, int(cinfo.next_scanline)), 0, width, row);
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    if (dest->failed) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return !dest->failed;
}

bool writeJpeg(const DibRecord& dib, QIODevice* device, QString* error, int quality) {
    const int width = dib.info->bmiHeader.biWidth;
    const int height = pictureHeight(dib);
    if (const QString tooLarge = formatSizeError(PictureFormat::Jpeg, width, height); !tooLarge.isEmpty()) {
        *error = tooLarge;
        return false;
    }
    auto dest = std::make_unique<JpegDestination>();
    dest->pub.init_destination = jpegInit;
    dest->pub.empty_output_buffer = jpegEmpty;
    dest->pub.term_destination = jpegTerm;
    dest->device = device;
    dest->error = error;
    dest->failed = false;
    auto err = std::make_unique<JpegError>();
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    if (!encodeJpeg(dib, dest.get(), err.get(), row.data(), std::clamp(quality, 1, 100))) {
        if (!dest->failed)
            *error = QStringLiteral("The JPEG file could not be written (%1).")
                         .arg(QString::fromLocal8Bit(err->message));
        return false;
    }
    return true;
}

// --- WebP ----------------------------------------------------------------------------------

struct WebpStream {
    QIODevice* device;
    QString* error;
    bool failed = false;
};

int webpWrite(const std::uint8_t* data, size_t size, const WebPPicture* picture) {
    auto* s = static_cast<WebpStream*>(picture->custom_ptr);
    if (!s->failed && !writeAll(s->device, data, qint64(size), s->error)) s->failed = true;
    return s->failed ? 0 : 1;
}

// Owns the encoder's picture.
struct WebpPicture {
    WebPPicture picture;
    WebpPicture() { WebPPictureInit(&picture); }
    ~WebpPicture() { WebPPictureFree(&picture); }
    WebpPicture(const WebpPicture&) = delete;
    WebpPicture& operator=(const WebpPicture&) = delete;
};

bool writeWebp(const DibRecord& dib, QIODevice* device, QString* error, int quality) {
    const int width = dib.info->bmiHeader.biWidth;
    const int height = pictureHeight(dib);
    if (const QString tooLarge = formatSizeError(PictureFormat::Webp, width, height); !tooLarge.isEmpty()) {
        *error = tooLarge;
        return false;
    }
    WebPConfig config;
    if (!WebPConfigInit(&config)) {
        *error = QStringLiteral("The WebP encoder does not match its library.");
        return false;
    }
    // At 100 the picture is kept exactly, at the encoder's least effort: on a page of text
    // 1280 x 5660 pixels the next level took several times as long (seconds) for a file about
    // 40 % smaller, and a capture tool is waited for. Lossy pictures take a middling method for
    // the same reason.
    if (quality >= 100) {
        WebPConfigLosslessPreset(&config, 0);
    } else {
        config.quality = float(std::clamp(quality, 1, 99));
        config.method = 2;
    }
    WebpPicture pic;
    pic.picture.use_argb = 1;
    pic.picture.width = width;
    pic.picture.height = height;
    if (!WebPPictureAlloc(&pic.picture)) {
        *error = QStringLiteral("Not enough memory to write the WebP file.");
        return false;
    }
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int top = 0; top < height; ++top) {
        pixolan::readRowBgr(dib, storageRow(dib, top), 0, width, row.data());
        std::uint32_t* argb = pic.picture.argb + std::ptrdiff_t(top) * pic.picture.argb_stride;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* bgr = &row[std::size_t(x) * 3];
            argb[x] = 0xFF000000u | std::uint32_t(bgr[2]) << 16 | std::uint32_t(bgr[1]) << 8 | bgr[0];
        }
    }
    WebpStream stream{device, error};
    pic.picture.writer = webpWrite;
    pic.picture.custom_ptr = &stream;
    if (!WebPEncode(&config, &pic.picture)) {
        if (stream.failed) return false;
        *error = pic.picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY
                     ? QStringLiteral("Not enough memory to write the WebP file.")
                     : QStringLiteral("The WebP file could not be written (encoder error %1).")
                           .arg(int(pic.picture.error_code));
        return false;
    }
    return true;
}

// Counts what goes through to the device, which for a pipe cannot be asked afterwards.
class CountingDevice : public QIODevice {
  public:
    explicit CountingDevice(QIODevice* target) : m_target(target) {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    qint64 count() const { return m_count; }
    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        const qint64 n = m_target->write(data, size);
        if (n < 0)
            setErrorString(m_target->errorString());
        else
            m_count += n;
        return n;
    }

  private:
    QIODevice* m_target;
    qint64 m_count = 0;
};

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return QStringLiteral("a folder");
    if (S_ISFIFO(mode)) return QStringLiteral("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("a device");
    if (S_ISSOCK(mode)) return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

} // namespace

PictureFormat formatForFileName(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("png")) return PictureFormat::Png;
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return PictureFormat::Jpeg;
    if (suffix == QLatin1String("webp")) return PictureFormat::Webp;
    return PictureFormat::Bmp;
}

QString formatSizeError(PictureFormat format, long long width, long long height) {
    const char* name = nullptr;
    int most = 0;
    if (format == PictureFormat::Jpeg) {
        name = "JPEG";
        most = JPEG_MAX_DIMENSION;
    } else if (format == PictureFormat::Webp) {
        name = "WebP";
        most = WEBP_MAX_DIMENSION;
    }
    if (!name || (width <= most && height <= most)) return QString();
    return QStringLiteral("%1 pictures can be at most %2 pixels wide and high; this one is %3 x %4. "
                          "Save it as PNG instead.")
        .arg(QLatin1String(name))
        .arg(most)
        .arg(width)
        .arg(height);
}

bool WritePictureTo(const DibRecord& dib, QIODevice* device, PictureFormat format, QString* error,
                    int quality, qint64* bytesWritten) {
    QString ignored;
    if (!error) error = &ignored;
    if (!dib.bits || !dib.info || dib.info->bmiHeader.biWidth <= 0 || dib.info->bmiHeader.biHeight == 0) {
        *error = QStringLiteral("There is no picture to save.");
        return false;
    }
    CountingDevice counted(device);
    bool ok = false;
    switch (format) {
    case PictureFormat::Png:
        ok = writePng(dib, &counted, error);
        break;
    case PictureFormat::Jpeg:
        ok = writeJpeg(dib, &counted, error, quality);
        break;
    case PictureFormat::Webp:
        ok = writeWebp(dib, &counted, error, quality);
        break;
    case PictureFormat::Bmp:
    default:
        ok = writeBmp(dib, &counted, error);
        break;
    }
    if (bytesWritten) *bytesWritten = counted.count();
    return ok;
}

QString pictureTarget(const QString& fileName, QString* error) {
    const QByteArray name = QFile::encodeName(fileName);
    struct stat link {};
    if (::lstat(name.constData(), &link) != 0) return fileName; // nothing there yet: a new file
    if (S_ISREG(link.st_mode)) return fileName;
    if (S_ISLNK(link.st_mode)) {
        const QFileInfo info(fileName);
        struct stat target {};
        if (::stat(name.constData(), &target) != 0) {
            // A link to nothing yet: the picture becomes the file it names.
            QString pointee = info.symLinkTarget();
            if (pointee.isEmpty()) pointee = fileName;
            return pointee;
        }
        if (S_ISREG(target.st_mode)) return info.canonicalFilePath();
        *error =
            QStringLiteral("Could not save \"%1\": it is a link to %2, not to a regular file; pictures are "
                           "written only to regular files.")
                .arg(fileName, kindOf(target.st_mode));
        return QString();
    }
    *error =
        QStringLiteral("Could not save \"%1\": it is %2, not a regular file; pictures are written only to "
                       "regular files.")
            .arg(fileName, kindOf(link.st_mode));
    return QString();
}

namespace {

// Saves through write(device, error) under a temporary name beside fileName's target, renamed
// onto it once complete.
bool saveAs(const QString& fileName, QString* error, const std::function<bool(QIODevice*, QString*)>& write) {
    const QString target = pictureTarget(fileName, error);
    if (target.isEmpty()) return false;
    // The temporary file goes beside the target, so that the rename stays on one file system and
    // replaces the target, not the link that leads to it.
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Could not save \"%1\": %2").arg(fileName, file.errorString());
        return false;
    }
    QString reason;
    if (!write(&file, &reason)) {
        file.cancelWriting();
        *error = QStringLiteral("Could not save \"%1\": %2").arg(fileName, reason);
        return false;
    }
    // What still sits in the file's write buffer is written here, and a disk that cannot take it
    // (full, over quota) says so here: commit() would write it without looking, and put a file
    // cut short in place of the old one (a picture of a few KB fits the buffer whole).
    // The same for what the disk reports only when the file is synced.
    if (!file.flush() || ::fsync(file.handle()) != 0) {
        const QString why = file.error() != QFileDevice::NoError
                                ? file.errorString()
                                : QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        *error = QStringLiteral("Could not save \"%1\": %2").arg(fileName, why);
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("Could not save \"%1\": %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

} // namespace

bool WritePicture(const DibRecord& dib, const QString& fileName, PictureFormat format, QString* error,
                  int quality, qint64* bytesWritten) {
    QString ignored;
    if (!error) error = &ignored;
    if (!dib.bits || !dib.info) {
        *error = QStringLiteral("There is no picture to save.");
        return false;
    }
    return saveAs(fileName, error, [&](QIODevice* device, QString* reason) {
        return WritePictureTo(dib, device, format, reason, quality, bytesWritten);
    });
}

bool WriteEncodedPicture(const QByteArray& encoded, const QString& fileName, QString* error,
                         qint64* bytesWritten) {
    QString ignored;
    if (!error) error = &ignored;
    return saveAs(fileName, error, [&](QIODevice* device, QString* reason) {
        if (!writeAll(device, encoded.constData(), encoded.size(), reason)) return false;
        if (bytesWritten) *bytesWritten = encoded.size();
        return true;
    });
}

} // namespace capture
