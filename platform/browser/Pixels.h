// Decoding what the engine sends as pictures: base64 text holding a PNG, into 32-bit pixels
// in the byte order of a 32-bit DIB (blue, green, red, unused), top row first.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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

// A picture in the layout of a top-down 24-bit DIB: blue, green, red, rows padded to four
// bytes. A capture is kept this way, so that drawing it is a copy of rows.
struct Picture24 {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    std::unique_ptr<std::uint8_t[]> bytes; // at least height * stride
    std::size_t capacity = 0;              // kept from one picture to the next

    // Room for size bytes, keeping the memory there is when it is enough; false without memory.
    bool reserve(std::size_t size);
    std::uint8_t* row(int y) { return bytes.get() + std::size_t(y) * stride; }
    const std::uint8_t* row(int y) const { return bytes.get() + std::size_t(y) * stride; }
    // 0x00RRGGBB at x, y.
    std::uint32_t rgb(int x, int y) const {
        const std::uint8_t* p = row(y) + 3 * std::size_t(x);
        return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }
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

// The same in place: text becomes the bytes it stands for.
bool decodeBase64InPlace(std::string& text);

// Decodes a PNG of at most maxPixels pixels; false with a reason in error otherwise.
bool decodePng(const std::uint8_t* data, std::size_t size, Pixels& out, QString* error,
               std::size_t maxPixels = std::size_t(1) << 28, DecodeScratch* scratch = nullptr);

// Decodes a PNG into a 24-bit picture, reusing out's memory. The engine's plain RGB and RGBA
// pictures are inflated straight into out and turned into rows of the DIB layout in place, so
// that a capture needs its pixels once and no more; data is changed on the way (its pieces of
// compressed data are moved together). Anything else goes through decodePng.
bool decodePngBgr24(std::uint8_t* data, std::size_t size, Picture24& out, QString* error,
                    std::size_t maxPixels = std::size_t(1) << 28);

} // namespace browser
