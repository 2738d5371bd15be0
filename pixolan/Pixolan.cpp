#include "pixolan/Pixolan.h"

#include "pixolan/DibAllocation.h"
#include "pixolan/Halftone.h"
#include "pixolan/MemoryBudget.h"
#include "pixolan/PixolanTesting.h"
#include "platform/memory/PixelMemory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>

using namespace gdi;

namespace pixolan {
namespace {

std::atomic<testing::FailureCheck> failureCheck{nullptr};

// Everything newdib handed out, keyed by the bits pointer. Records travel by value, so the
// record itself cannot say whether it was freed already; the registry can, which makes a
// second deldib of the same picture harmless instead of a double free.
struct Allocation {
    BITMAPINFO* info;
    HPALETTE palette;
    pixmem::PixelMemory pixels;
};

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}

std::unordered_map<void*, Allocation>& registry() {
    static std::unordered_map<void*, Allocation> r;
    return r;
}

bool supportedDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

int tableEntries(const BITMAPINFOHEADER& h) {
    if (h.biBitCount > 8) return h.biCompression == BI_BITFIELDS ? 3 : 0;
    const int full = 1 << h.biBitCount;
    return h.biClrUsed != 0 && int(h.biClrUsed) < full ? int(h.biClrUsed) : full;
}

void clear(DibRecord* out) {
    std::memset(out, 0, sizeof *out);
}

} // namespace

std::int64_t bytesPerRow(std::int64_t width, int bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

bool createDib(DibRecord* out, int width, int height, int bitsPerPixel, const BITMAPINFO* colorSource,
               int colorCount, HPALETTE palette) {
    clear(out);
    if (width <= 0 || height <= 0 || !supportedDepth(bitsPerPixel)) return false;
    if (const auto check = failureCheck.load(std::memory_order_relaxed); check && check()) return false;

    // Every size is formed in 64 bits; a picture whose byte count does not fit in the header's
    // 32-bit image size cannot be described by a BITMAPINFO and is refused.
    const std::int64_t stride = bytesPerRow(width, bitsPerPixel);
    if (stride > std::numeric_limits<std::int32_t>::max()) return false;
    const std::int64_t imageSize = stride * std::int64_t(height); // below 2^62: no overflow
    if (imageSize > std::int64_t(std::numeric_limits<std::uint32_t>::max())) return false;
    if (!memoryAvailableFor(std::uint64_t(imageSize))) return false;

    const int entries = bitsPerPixel <= 8 ? 1 << bitsPerPixel : 0;
    const std::size_t infoSize =
        sizeof(BITMAPINFOHEADER) + std::size_t(std::max(entries, 1)) * sizeof(RGBQUAD);
    auto* info = static_cast<BITMAPINFO*>(std::calloc(1, infoSize));
    if (!info) return false;
    // Fresh pages are zero, so zeroing costs nothing until a page is used.
    const pixmem::PixelMemory memory = pixmem::allocatePixelMemory(std::size_t(imageSize));
    std::uint8_t* bits = memory.bits;
    if (!bits) {
        std::free(info);
        return false;
    }

    BITMAPINFOHEADER& h = info->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(bitsPerPixel);
    h.biCompression = BI_RGB;
    h.biSizeImage = DWORD(imageSize);

    if (entries > 0) {
        // Without a source the table is a grey ramp, so an index picture still shows something
        // sensible; a source fills as many entries as it has and the caller asked for.
        for (int i = 0; i < entries; ++i) {
            const BYTE v = BYTE(i * 255 / (entries - 1));
            info->bmiColors[i] = RGBQUAD{v, v, v, 0};
        }
        if (colorSource && colorCount > 0) {
            const int available = tableEntries(colorSource->bmiHeader);
            const int n = std::min({entries, colorCount, available});
            std::memcpy(info->bmiColors, colorSource->bmiColors, std::size_t(n) * sizeof(RGBQUAD));
        }
    }

    out->info = info;
    out->bits = bits;
    out->bytesPerRow = std::int32_t(stride);
    out->usePalette = palette ? 1 : 0;
    out->palette = palette;

    std::lock_guard lock(registryMutex());
    registry().emplace(bits, Allocation{info, palette, memory});
    return true;
}

bool isLive(const DibRecord& rec) {
    if (!rec.bits) return false;
    std::lock_guard lock(registryMutex());
    return registry().count(rec.bits) != 0;
}

std::size_t liveDibCount() {
    std::lock_guard lock(registryMutex());
    return registry().size();
}

void testing::SetNewdibFailureCheck(testing::FailureCheck check) {
    failureCheck.store(check, std::memory_order_relaxed);
}

} // namespace pixolan

extern "C" {

void newdib(DibRecord* out, int width, int height, int bitsPerPixel, const BITMAPINFO* colorSource,
            int colorCount) {
    if (!out) return;
    pixolan::createDib(out, width, height, bitsPerPixel, colorSource, colorCount, nullptr);
}

void deldib(DibRecord rec) {
    if (!rec.bits) return;
    pixolan::Allocation a{};
    {
        std::lock_guard lock(pixolan::registryMutex());
        auto it = pixolan::registry().find(rec.bits);
        if (it == pixolan::registry().end()) return;
        a = it->second;
        pixolan::registry().erase(it);
    }
    pixmem::freePixelMemory(a.pixels);
    std::free(a.info);
    if (a.palette) DeleteObject(a.palette);
}

std::uint32_t getpixel(DibRecord rec, int x, int y) {
    if (!rec.bits || !rec.info) return 0;
    const BITMAPINFOHEADER& h = rec.info->bmiHeader;
    if (x < 0 || y < 0 || x >= h.biWidth || y >= std::abs(h.biHeight)) return 0;
    const std::uint8_t* row = rec.bits + std::ptrdiff_t(y) * rec.bytesPerRow;
    switch (h.biBitCount) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
        return (x & 1) ? row[x >> 1] & 0x0Fu : row[x >> 1] >> 4;
    case 8:
        return row[x];
    case 16:
        return std::uint32_t(row[2 * x]) | std::uint32_t(row[2 * x + 1]) << 8;
    case 24:
    case 32: {
        const std::uint8_t* p = row + std::ptrdiff_t(x) * (h.biBitCount / 8);
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
    }
    default:
        return 0;
    }
}

void setpixel(DibRecord rec, int x, int y, std::uint32_t value) {
    if (!rec.bits || !rec.info) return;
    const BITMAPINFOHEADER& h = rec.info->bmiHeader;
    if (x < 0 || y < 0 || x >= h.biWidth || y >= std::abs(h.biHeight)) return;
    std::uint8_t* row = rec.bits + std::ptrdiff_t(y) * rec.bytesPerRow;
    switch (h.biBitCount) {
    case 1: {
        const std::uint8_t mask = std::uint8_t(0x80u >> (x & 7));
        row[x >> 3] = (value & 1u) ? row[x >> 3] | mask : row[x >> 3] & std::uint8_t(~mask);
        break;
    }
    case 4:
        if (x & 1)
            row[x >> 1] = std::uint8_t((row[x >> 1] & 0xF0u) | (value & 0x0Fu));
        else
            row[x >> 1] = std::uint8_t((row[x >> 1] & 0x0Fu) | ((value & 0x0Fu) << 4));
        break;
    case 8:
        row[x] = std::uint8_t(value);
        break;
    case 16:
        row[2 * x] = std::uint8_t(value);
        row[2 * x + 1] = std::uint8_t(value >> 8);
        break;
    case 24:
    case 32: {
        std::uint8_t* p = row + std::ptrdiff_t(x) * (h.biBitCount / 8);
        p[0] = std::uint8_t(value);
        p[1] = std::uint8_t(value >> 8);
        p[2] = std::uint8_t(value >> 16);
        if (h.biBitCount == 32) p[3] = 0;
        break;
    }
    default:
        break;
    }
}

void DIBHalftoneDIB(DibRecord* out, DibRecord rec) {
    if (!out) return;
    if (!rec.bits || !rec.info) {
        pixolan::clear(out);
        return;
    }
    pixolan::halftone(out, rec, rec.info->bmiHeader.biWidth, std::abs(rec.info->bmiHeader.biHeight));
}

void DIBHalftoneDIBXY(DibRecord* out, DibRecord rec, int width, int height) {
    if (!out) return;
    if (!rec.bits || !rec.info) {
        pixolan::clear(out);
        return;
    }
    pixolan::halftone(out, rec, width, height);
}

} // extern "C"
