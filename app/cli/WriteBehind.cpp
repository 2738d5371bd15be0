#include "app/cli/WriteBehind.h"

#include "capture/PictureWriter.h"

#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace app::cli {

namespace {

// Writes through toDevice to standard output for "-", else through toFile, and fills in the
// result's status, message, bytes and write time.
template <class ToDevice, class ToFile>
void writeTo(const QString& output, PageResult* result, ToDevice&& toDevice, ToFile&& toFile) {
    QElapsedTimer clock;
    clock.start();
    QString error;
    bool written;
    if (output == QLatin1String("-")) {
        QFile stdoutFile;
        written =
            stdoutFile.open(stdout, QIODevice::WriteOnly) && toDevice(&stdoutFile, &error, &result->bytes);
        written = stdoutFile.flush() && written;
        if (!written)
            error = QStringLiteral("Could not write to standard output: %1")
                        .arg(error.isEmpty() ? stdoutFile.errorString() : error);
    } else {
        written = toFile(&error, &result->bytes);
    }
    if (!written) {
        result->status = 5; // ExitWrite
        result->message = error;
        result->bytes = 0;
    }
    result->writeMs = clock.elapsed();
}

} // namespace

void writeOutput(const DibRecord& picture, const QString& output, int quality, PageResult* result) {
    result->width = picture.info->bmiHeader.biWidth;
    result->height = std::abs(picture.info->bmiHeader.biHeight);
    writeTo(
        output, result,
        [&](QIODevice* device, QString* error, qint64* bytes) {
            return capture::WritePictureTo(picture, device, capture::PictureFormat::Png, error, quality,
                                           bytes);
        },
        [&](QString* error, qint64* bytes) {
            return capture::WritePicture(picture, output, capture::formatForFileName(output), error, quality,
                                         bytes);
        });
}

void writeEncodedOutput(const QByteArray& png, const QString& output, PageResult* result) {
    writeTo(
        output, result,
        [&](QIODevice* device, QString* error, qint64* bytes) {
            *bytes = device->write(png);
            if (*bytes == png.size()) return true;
            *error = device->errorString();
            return false;
        },
        [&](QString* error, qint64* bytes) {
            return capture::WriteEncodedPicture(png, output, error, bytes);
        });
}

void WriteBehind::startEncoded(QByteArray encoded, int width, int height, const QString& output,
                               PageResult result, std::function<void(const PageResult&)> done) {
    wait();
    result.width = width;
    result.height = height;
    m_thread = std::thread([encoded = std::move(encoded), output, result, done = std::move(done)]() mutable {
        writeEncodedOutput(encoded, output, &result);
        encoded = QByteArray();
        done(result);
    });
}

void WriteBehind::start(pixolan::DibOwner picture, const QString& output, int quality, PageResult result,
                        std::function<void(const PageResult&)> done) {
    wait();
    m_thread = std::thread(
        [picture = std::move(picture), output, quality, result, done = std::move(done)]() mutable {
            writeOutput(picture.get(), output, quality, &result);
            picture.reset();
            done(result);
        });
}

void WriteBehind::wait() {
    if (m_thread.joinable()) m_thread.join();
}

} // namespace app::cli
