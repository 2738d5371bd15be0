// Memory for pictures' pixels, zeroed. Large blocks are mapped on their own, aligned to 2 MiB
// and offered transparent huge pages: filling a fresh picture then takes one page fault per
// 2 MiB instead of one per 4 KiB, which for a picture of many megabytes costs more than
// drawing it. Smaller blocks come from calloc. Blocks of middling size that are given back are
// kept for a while and handed out again, cleared, for a picture of about their size: a capture
// makes and drops strip after strip of the same size, and clearing memory that is there is far
// cheaper than the faults of fresh memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixmem {

struct PixelMemory {
    std::uint8_t* bits = nullptr;
    std::size_t mapped = 0;   // length of the mapping; 0 when the block came from calloc
    std::size_t capacity = 0; // usable bytes
};

PixelMemory allocatePixelMemory(std::size_t size);
void freePixelMemory(const PixelMemory& memory);
// Frees every block kept for reuse: for when the program has been idle a while.
void dropKeptPixelMemory();

namespace testing {
// Blocks kept for reuse, and their bytes.
std::size_t keptPixelBlocks();
std::size_t keptPixelBytes();
} // namespace testing

} // namespace pixmem
