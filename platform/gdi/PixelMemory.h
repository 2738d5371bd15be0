// Memory for pictures' pixels, zeroed. Large blocks are mapped on their own, aligned to 2 MiB
// and offered transparent huge pages: filling a fresh picture then takes one page fault per
// 2 MiB instead of one per 4 KiB, which for a picture of many megabytes costs more than
// drawing it. Smaller blocks come from calloc.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gdi {

struct PixelMemory {
    std::uint8_t* bits = nullptr;
    std::size_t mapped = 0; // length of the mapping; 0 when the block came from calloc
};

PixelMemory allocatePixelMemory(std::size_t size);
void freePixelMemory(const PixelMemory& memory);

} // namespace gdi
