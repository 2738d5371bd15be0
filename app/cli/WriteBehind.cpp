#include "app/cli/WriteBehind.h"

#include "capture/PictureWriter.h"
#include "platform/browser/Interrupt.h"

#include <QElapsedTimer>
#include <QFile>
#include <cstdint>
#include <cstdio>
#include <sys/eventfd.h>
#include <unistd.h>

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

template <class Write> void WriteBehind::run(Write write) {
    m_thread = std::thread([this, write = std::move(write)]() mutable {
        write();
        if (m_ended >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_ended, &one, sizeof one);
        }
    });
}

void WriteBehind::startEncoded(QByteArray encoded, int width, int height, const QString& output,
                               PageResult result, std::function<void(const PageResult&)> done) {
    wait();
    result.width = width;
    result.height = height;
    run([encoded = std::move(encoded), output, result, done = std::move(done)]() mutable {
        writeEncodedOutput(encoded, output, &result);
        encoded = QByteArray();
        done(result);
    });
}

void WriteBehind::start(pixolan::DibOwner picture, const QString& output, int quality, PageResult result,
                        std::function<void(const PageResult&)> done) {
    wait();
    run([picture = std::move(picture), output, quality, result, done = std::move(done)]() mutable {
        writeOutput(picture.get(), output, quality, &result);
        picture.reset();
        done(result);
    });
}

WriteBehind::WriteBehind() : m_ended(::eventfd(0, EFD_CLOEXEC)) {}

WriteBehind::~WriteBehind() {
    wait();
    if (m_ended >= 0) ::close(m_ended);
}

void WriteBehind::wait() {
    if (!m_thread.joinable()) return;
    if (m_ended >= 0) {
        browser::waitUntilReadable(m_ended, -1);
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_ended, &count, sizeof count);
    }
    m_thread.join();
}

} // namespace app::cli
