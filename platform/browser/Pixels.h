// Decoding what the engine sends as pictures: base64 text holding a PNG, into rows of a top-down
// 24-bit DIB (blue, green, red).
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace browser {

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
    // Makes the picture width x height with rows of the DIB layout, keeping memory as reserve
    // does; the pixels are left as they were. False without memory.
    bool resize(int w, int h);
    std::uint8_t* row(int y) { return bytes.get() + std::size_t(y) * stride; }
    const std::uint8_t* row(int y) const { return bytes.get() + std::size_t(y) * stride; }
    // Makes the picture exactly w x h: the engine rounds a capture's size itself, and a pixel
    // more or less at the far edge is made up with white or cut off. False without memory.
    bool fitTo(int w, int h);
    // 0x00RRGGBB at x, y.
    std::uint32_t rgb(int x, int y) const {
        const std::uint8_t* p = row(y) + 3 * std::size_t(x);
        return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }
};

// Decodes standard base64 (padding optional, no line breaks); false on any other character.
bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out);

// The same in place: text becomes the bytes it stands for.
bool decodeBase64InPlace(std::string& text);

// Decodes a PNG into out, reusing its memory. The engine's plain RGB and RGBA pictures are
// inflated straight into out and turned into rows of the DIB layout in place, so that a capture
// needs its pixels once and no more; data is changed on the way (its pieces of compressed data
// are moved together). Any other PNG goes through the general decoder into the same layout.
// False with a reason in error when the picture cannot be read or has more than maxPixels.
bool decodePng(std::uint8_t* data, std::size_t size, Picture24& out, QString* error = nullptr,
               std::size_t maxPixels = std::size_t(1) << 28);

// The size of a PNG that is 8-bit RGB without interlacing (what a 24-bit picture file of it
// holds), read from its chunks; false for any other PNG and for what is no PNG.
bool plainRgbPngSize(const std::uint8_t* data, std::size_t size, std::uint32_t* width, std::uint32_t* height);

} // namespace browser
