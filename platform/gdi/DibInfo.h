// What a BITMAPINFO says about the pixel bits that go with it.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/gdi/PixelFormat.h"

#include <array>
#include <cstdint>

namespace gdi::detail {

struct DibInfo {
    DibInfo() = default;
    DibInfo(const DibInfo&) = delete;
    DibInfo& operator=(const DibInfo&) = delete;

    int width = 0;
    int height = 0; // rows, always positive
    bool topDown = false;
    std::ptrdiff_t stride = 0;
    PixelFormat format; // its colour table points into colors
    std::array<std::uint32_t, 256> colors{};

    // The stored rows [0, lines) of bits as a surface, top row first.
    Surface rows(const void* bits, int lines) const;
};

// Reads the header, the masks and the colour table (through the DC's palette for
// DIB_PAL_COLORS). False when the layer cannot draw such a DIB.
bool parseDib(const BITMAPINFO* info, UINT usage, const DeviceContext* dc, DibInfo& out);

// Where the colour table (or, for BI_BITFIELDS with a plain header, the masks) starts.
std::uint8_t* colorTableOf(BITMAPINFO* info);
const std::uint8_t* colorTableOf(const BITMAPINFO* info);

} // namespace gdi::detail
