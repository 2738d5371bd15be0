// Decoding what the engine sends as pictures: base64 text holding a PNG, into 32-bit pixels
// in the byte order of a 32-bit DIB (blue, green, red, unused), top row first.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace browser {

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> bgrx; // width * height, row after row from the top

    std::uint32_t* row(int y) { return bgrx.data() + std::size_t(y) * std::size_t(width); }
    const std::uint32_t* row(int y) const { return bgrx.data() + std::size_t(y) * std::size_t(width); }
    // 0x00RRGGBB at x, y.
    std::uint32_t rgb(int x, int y) const { return row(y)[x] & 0xFFFFFFu; }
};

// Buffers that one decode after another reuses: a capture in pieces decodes picture after
// picture of much the same size, and fresh memory for each costs more than the decoding.
struct DecodeScratch {
    std::vector<std::uint8_t> png;
    std::vector<std::uint8_t> compressed;
    std::vector<std::uint8_t> raw;
};

// Decodes standard base64 (padding optional, no line breaks); false on any other character.
bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out);

// Decodes a PNG of at most maxPixels pixels; false with a reason in error otherwise.
bool decodePng(const std::uint8_t* data, std::size_t size, Pixels& out, QString* error,
               std::size_t maxPixels = std::size_t(1) << 28, DecodeScratch* scratch = nullptr);

} // namespace browser
