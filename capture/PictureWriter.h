// Writing a picture to a file: Windows bitmap, PNG or JPEG, chosen by the file name.
//
// Rows are streamed from the DIB one at a time, so saving a picture of hundreds of megabytes
// needs no second copy of it. Files are written under a temporary name in the target folder and
// renamed into place only when complete: a failed save leaves any existing file as it was.
#pragma once

#include "pixolan/Pixolan.h"

#include <QString>

class QIODevice;

namespace capture {

enum class PictureFormat { Bmp, Png, Jpeg };

// .png and .jpg/.jpeg (any letter case) choose their formats; any other name, with or
// without an extension, a Windows bitmap.
PictureFormat formatForFileName(const QString& fileName);

constexpr int kDefaultJpegQuality = 90;

// Writes dib to fileName. On failure returns false, sets *error to a message for the user, and
// leaves fileName as it was.
bool WritePicture(const DibRecord& dib, const QString& fileName, PictureFormat format, QString* error,
                  int jpegQuality = kDefaultJpegQuality);

// Writes dib to an open device (standard output, a buffer).
bool WritePictureTo(const DibRecord& dib, QIODevice* device, PictureFormat format, QString* error,
                    int jpegQuality = kDefaultJpegQuality);

} // namespace capture
