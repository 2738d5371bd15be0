#include "app/cli/WriteBehind.h"

#include "capture/PictureWriter.h"

#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace app::cli {

void writeOutput(const DibRecord& picture, const QString& output, int quality, PageResult* result) {
    QElapsedTimer clock;
    clock.start();
    result->width = picture.info->bmiHeader.biWidth;
    result->height = std::abs(picture.info->bmiHeader.biHeight);
    QString error;
    bool written;
    if (output == QLatin1String("-")) {
        QFile stdoutFile;
        written = stdoutFile.open(stdout, QIODevice::WriteOnly) &&
                  capture::WritePictureTo(picture, &stdoutFile, capture::PictureFormat::Png, &error, quality,
                                          &result->bytes);
        written = stdoutFile.flush() && written;
        if (!written && error.isEmpty()) error = stdoutFile.errorString();
    } else {
        written = capture::WritePicture(picture, output, capture::formatForFileName(output), &error, quality,
                                        &result->bytes);
    }
    if (!written) {
        result->status = 5; // ExitWrite
        result->message = error;
        result->bytes = 0;
    }
    result->writeMs = clock.elapsed();
}

void writeEncodedOutput(const QByteArray& png, const QString& output, PageResult* result) {
    QElapsedTimer clock;
    clock.start();
    QString error;
    bool written;
    if (output == QLatin1String("-")) {
        QFile stdoutFile;
        written = stdoutFile.open(stdout, QIODevice::WriteOnly) && stdoutFile.write(png) == png.size();
        written = stdoutFile.flush() && written;
        if (!written) error = stdoutFile.errorString();
        result->bytes = written ? png.size() : 0;
    } else {
        written = capture::WriteEncodedPicture(png, output, &error, &result->bytes);
    }
    if (!written) {
        result->status = 5; // ExitWrite
        result->message = error;
        result->bytes = 0;
    }
    result->writeMs = clock.elapsed();
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
