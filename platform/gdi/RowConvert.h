// Row converters shared by the raster layer and the browser layer: every picture that enters
// a 24-bit DIB row passes through one of these, so each conversion exists once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gdi {

// Packs n pixels of sourceBytes (3 or 4) bytes each at s into 3-byte pixels at d, taking the
// first three bytes of each; with swapRedBlue the first and third change places (an engine's
// RGB into a DIB's BGR). d may equal s or lie before it: each group of pixels is read before
// it is written, so a row can be turned in place. With sourceBytes 3 up to four bytes past the
// last pixel may be read (not written); the caller leaves room for them.
void packRowTo24(const std::uint8_t* s, std::uint8_t* d, std::size_t n, int sourceBytes, bool swapRedBlue);

// Spreads n 3-byte pixels at s into 32-bit words at d, the fourth byte taken from alpha.
void spreadRowTo32(const std::uint8_t* s, std::uint32_t* d, std::size_t n, std::uint32_t alpha);

} // namespace gdi
