// Halftoning for displays of 256 colours or fewer: one fixed palette (a 6 x 6 x 6 colour cube
// and a fine grey ramp) and an 8 x 8 ordered dither. Ordered rather than error-diffusing, so
// that a picture halftoned in parts, or scrolled, shows the same pattern at the same pixels.
#pragma once

#include "pixolan/Pixolan.h"

#include <array>
#include <cstdint>

namespace pixolan {

constexpr int kCubeLevels = 6;
constexpr int kCubeEntries = kCubeLevels * kCubeLevels * kCubeLevels; // indices 0..215

// The 256 entries of the halftone palette, as a colour table.
const std::array<gdi::RGBQUAD, 256>& halftonePalette();

// The palette index for colour (r, g, b) at picture position (x, y), dithered.
std::uint8_t halftoneIndex(int r, int g, int b, int x, int y);

// *out becomes an 8-bit halftoned copy of rec, resized to width x height (averaging the source
// area when shrinking, nearest pixel when enlarging). Failure leaves out->bits null.
void halftone(DibRecord* out, const DibRecord& rec, int width, int height);

// The two halves of halftone(), for callers that need only part of a large copy: allocate the
// copy (zeroed, with its palette), then fill the part [x0, x1) x [top0, top1), counted from the
// copy's top-left corner. A part comes out exactly as the same part of a whole copy.
bool halftoneAllocate(DibRecord* out, int width, int height);
void halftoneFill(const DibRecord& copy, const DibRecord& rec, int x0, int top0, int x1, int top1);

// Reads columns [x0, x1) of storage row y of rec as 8-bit B, G, R triples into bgr.
void readRowBgr(const DibRecord& rec, int y, int x0, int x1, std::uint8_t* bgr);

} // namespace pixolan
