// Writing a picture to a file: Windows bitmap, PNG, JPEG or WebP, chosen by the file name.
//
// Rows are streamed from the DIB one at a time, so saving a picture of hundreds of megabytes
// needs no second copy of it (WebP excepted: its encoder takes the whole picture at once). Files
// are written under a temporary name beside the file they replace and renamed onto it only when
// complete: a failed save leaves any existing file as it was. A symbolic link stays a link, and
// its target gets the picture. Anything else that is there and is not a regular file (a folder,
// a named pipe, a device) is refused and left alone: a rename would replace it, and writing
// into it would not make a picture file.
#pragma once

#include "pixolan/Pixolan.h"

#include <QString>
#include <memory>

class QIODevice;

namespace capture {

enum class PictureFormat { Bmp, Png, Jpeg, Webp };

// .png, .jpg/.jpeg and .webp (any letter case) choose their formats; any other name, with or
// without an extension, a Windows bitmap.
PictureFormat formatForFileName(const QString& fileName);

// JPEG's and WebP's quality, 1..100; WebP at 100 is lossless.
constexpr int kDefaultJpegQuality = 90;

// Why a picture of width x height cannot be written in format (JPEG and WebP have a largest
// side), for the user; empty when it can.
QString formatSizeError(PictureFormat format, long long width, long long height);

// Writes dib to fileName. On failure returns false, sets *error to a message for the user, and
// leaves fileName as it was. *bytesWritten, when given, gets the file's size.
bool WritePicture(const DibRecord& dib, const QString& fileName, PictureFormat format, QString* error,
                  int quality = kDefaultJpegQuality, qint64* bytesWritten = nullptr);

// Writes a picture encoded already (a whole file's bytes) to fileName, as WritePicture does.
bool WriteEncodedPicture(const QByteArray& encoded, const QString& fileName, QString* error,
                         qint64* bytesWritten = nullptr);

// Writes dib to an open device (standard output, a buffer).
bool WritePictureTo(const DibRecord& dib, QIODevice* device, PictureFormat format, QString* error,
                    int quality = kDefaultJpegQuality, qint64* bytesWritten = nullptr);

// Writes a 24-bit picture to an open device as PNG a band of rows at a time, from the top
// down, as the rows are made: the file is done as soon as its last row is, with no pass over
// the whole picture after it.
class PngRowWriter {
  public:
    PngRowWriter(QIODevice* device, int width, int height);
    ~PngRowWriter();
    PngRowWriter(const PngRowWriter&) = delete;
    PngRowWriter& operator=(const PngRowWriter&) = delete;

    // Encodes dib's rows from the first not yet encoded down to (not including) row `until`,
    // counted from the top; dib has the writer's width and height. False, with error() set,
    // once encoding or writing has failed.
    bool writeRows(const DibRecord& dib, int until);
    // Every row is written and the file is complete.
    bool complete() const { return m_failed.isEmpty() && m_next == m_height; }
    const QString& error() const { return m_failed; }

  private:
    struct Stream; // where spng's output goes, and what went wrong there
    int m_width;
    int m_height;
    int m_next = 0;
    QString m_failed;
    void* m_ctx = nullptr; // spng's encoder
    std::unique_ptr<Stream> m_stream;
};

// The file that saving to fileName writes: fileName itself, or the file a symbolic link at
// fileName leads to. Empty, with *error set, when fileName is there and is neither a regular
// file nor a link to one (or to nothing yet).
QString pictureTarget(const QString& fileName, QString* error);

} // namespace capture
