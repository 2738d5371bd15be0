#include "platform/memory/PixelMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <vector>

namespace pixmem {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Smaller blocks come and go as a capture's strips do, and are kept for reuse; blocks this
// large are mapped afresh each time.
constexpr std::size_t kMapFrom = std::size_t(16) << 20;
// What is kept for reuse: blocks from kKeepFrom bytes up to half of kKeepBytes, at most
// kKeepBlocks of them and kKeepBytes in all, the oldest going first.
constexpr std::size_t kKeepFrom = std::size_t(256) << 10;
constexpr std::size_t kKeepBytes = std::size_t(24) << 20;
constexpr std::size_t kKeepBlocks = 4;

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer every block goes back at once, so that a use after free is caught.
constexpr bool kKeep = false;
#else
constexpr bool kKeep = true;
#endif

struct Kept {
    std::mutex mutex;
    std::vector<PixelMemory> blocks; // oldest first
    std::size_t bytes = 0;
};

Kept& kept() {
    static Kept* k = new Kept; // never destroyed: blocks may be given back during exit
    return *k;
}

void release(const PixelMemory& m) {
    if (m.mapped)
        munmap(m.bits, m.mapped);
    else
        std::free(m.bits);
}

PixelMemory map(std::size_t size) {
    PixelMemory m;
    if (size > SIZE_MAX - 2 * kHugePage) return m;
    const std::size_t length = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* base =
        mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return m;
    // One huge page more than needed was mapped; what lies before the first huge-page boundary and
    // after the block goes back.
    auto* const start = static_cast<std::uint8_t*>(base);
    const std::size_t skip = (kHugePage - reinterpret_cast<std::uintptr_t>(base) % kHugePage) % kHugePage;
    std::uint8_t* const aligned = start + skip;
    if (skip) munmap(start, skip);
    if (const std::size_t tail = kHugePage - skip) munmap(aligned + length, tail);
    m.bits = aligned;
    m.mapped = length;
    m.capacity = length;
    madvise(m.bits, length, MADV_HUGEPAGE); // a hint: without huge pages the pages are small
    return m;
}

} // namespace

PixelMemory allocatePixelMemory(std::size_t size) {
    if (kKeep && size >= kKeepFrom) {
        Kept& k = kept();
        std::unique_lock lock(k.mutex);
        // The smallest kept block that holds size without wasting more than a quarter of it.
        std::size_t best = k.blocks.size();
        for (std::size_t i = 0; i < k.blocks.size(); ++i) {
            const std::size_t c = k.blocks[i].capacity;
            if (c >= size && c - size <= size / 4 && (best == k.blocks.size() || c < k.blocks[best].capacity))
                best = i;
        }
        if (best < k.blocks.size()) {
            const PixelMemory m = k.blocks[best];
            k.blocks.erase(k.blocks.begin() + std::ptrdiff_t(best));
            k.bytes -= m.capacity;
            lock.unlock();
            std::memset(m.bits, 0, size);
            return m;
        }
    }
    if (size >= kMapFrom) return map(size);
    PixelMemory m;
    m.bits = static_cast<std::uint8_t*>(std::calloc(size ? size : 1, 1));
    m.capacity = m.bits ? size : 0;
    return m;
}

void freePixelMemory(const PixelMemory& memory) {
    if (!memory.bits) return;
    if (kKeep && memory.capacity >= kKeepFrom && memory.capacity <= kKeepBytes / 2) {
        Kept& k = kept();
        std::vector<PixelMemory> gone;
        {
            std::lock_guard lock(k.mutex);
            k.blocks.push_back(memory);
            k.bytes += memory.capacity;
            while (k.blocks.size() > kKeepBlocks || k.bytes > kKeepBytes) {
                gone.push_back(k.blocks.front());
                k.bytes -= k.blocks.front().capacity;
                k.blocks.erase(k.blocks.begin());
            }
        }
        for (const PixelMemory& m : gone)
            release(m);
        return;
    }
    release(memory);
}

void dropKeptPixelMemory() {
    std::vector<PixelMemory> gone;
    {
        std::lock_guard lock(kept().mutex);
        gone.swap(kept().blocks);
        kept().bytes = 0;
    }
    for (const PixelMemory& m : gone)
        release(m);
}

namespace testing {

std::size_t keptPixelBlocks() {
    std::lock_guard lock(kept().mutex);
    return kept().blocks.size();
}

std::size_t keptPixelBytes() {
    std::lock_guard lock(kept().mutex);
    return kept().bytes;
}

} // namespace testing

} // namespace pixmem
