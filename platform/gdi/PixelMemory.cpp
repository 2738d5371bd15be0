#include "platform/gdi/PixelMemory.h"

#include <cstdlib>
#include <sys/mman.h>

namespace gdi {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Smaller blocks come and go as a capture's strips do, and the C library hands the same
// memory back again without faults; blocks this large it maps afresh each time.
constexpr std::size_t kMapFrom = std::size_t(16) << 20;

} // namespace

PixelMemory allocatePixelMemory(std::size_t size) {
    PixelMemory m;
    if (size < kMapFrom) {
        m.bits = static_cast<std::uint8_t*>(std::calloc(size ? size : 1, 1));
        return m;
    }
    if (size > SIZE_MAX - 2 * kHugePage)
        return m;
    const std::size_t length = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* base = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return m;
    const auto start = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
    if (aligned > start)
        munmap(base, aligned - start);
    if (const std::size_t tail = start + length + kHugePage - (aligned + length))
        munmap(reinterpret_cast<void*>(aligned + length), tail);
    m.bits = reinterpret_cast<std::uint8_t*>(aligned);
    m.mapped = length;
    madvise(m.bits, length, MADV_HUGEPAGE); // a hint: without huge pages the pages are small
    return m;
}

void freePixelMemory(const PixelMemory& memory) {
    if (!memory.bits)
        return;
    if (memory.mapped)
        munmap(memory.bits, memory.mapped);
    else
        std::free(memory.bits);
}

} // namespace gdi
