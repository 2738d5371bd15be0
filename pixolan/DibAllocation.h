// The raster library's own bookkeeping, for the halftone code and for tests.
#pragma once

#include "pixolan/Pixolan.h"

#include <cstddef>
#include <cstdint>

namespace pixolan {

std::int64_t bytesPerRow(std::int64_t width, int bitsPerPixel);

// newdib with a palette handle that the record then owns (deldib deletes it).
bool createDib(DibRecord* out, int width, int height, int bitsPerPixel, const gdi::BITMAPINFO* colorSource,
               int colorCount, gdi::HPALETTE palette);

// Whether rec's pixels were made by this library and not freed yet.
bool isLive(const DibRecord& rec);
// How many pictures are allocated and not yet freed.
std::size_t liveDibCount();

} // namespace pixolan
