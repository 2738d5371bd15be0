#include "platform/gdi/DibInfo.h"

#include "platform/gdi/GdiObjects.h"

#include <cstring>
#include <limits>

namespace gdi::detail {

Surface DibInfo::rows(const void* bits, int lines) const {
    Surface s;
    auto* base = static_cast<std::uint8_t*>(const_cast<void*>(bits));
    s.width = width;
    s.height = lines;
    s.format = format;
    if (topDown) {
        s.top = base;
        s.pitch = stride;
    } else {
        s.top = base + std::ptrdiff_t(lines - 1) * stride;
        s.pitch = -stride;
    }
    return s;
}

std::uint8_t* colorTableOf(BITMAPINFO* info) {
    return reinterpret_cast<std::uint8_t*>(info) + info->bmiHeader.biSize;
}

const std::uint8_t* colorTableOf(const BITMAPINFO* info) {
    return reinterpret_cast<const std::uint8_t*>(info) + info->bmiHeader.biSize;
}

bool parseDib(const BITMAPINFO* info, UINT usage, const DeviceContext* dc, DibInfo& out) {
    if (!info) return false;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 4096) return false;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<LONG>::min()) return false;
    const int bpp = h.biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    if (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS) return false;

    std::uint32_t masks[3] = {0, 0, 0};
    if (h.biCompression == BI_BITFIELDS) {
        if (bpp != 16 && bpp != 32) return false;
        // Larger headers carry the masks inside; the plain header is followed by them.
        const std::uint8_t* at = reinterpret_cast<const std::uint8_t*>(info) +
                                 (h.biSize >= 52 ? sizeof(BITMAPINFOHEADER) : h.biSize);
        std::memcpy(masks, at, sizeof masks);
    } else if (h.biCompression != BI_RGB) {
        return false;
    }
    if (!makeFormat(out.format, bpp, masks[0], masks[1], masks[2])) return false;

    out.width = h.biWidth;
    out.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    out.topDown = h.biHeight < 0;
    out.stride = rowBytes(h.biWidth, bpp);
    if (out.stride < 0) return false;

    out.colors.fill(0);
    if (bpp <= 8) {
        const int full = 1 << bpp;
        const int count = h.biClrUsed == 0 || h.biClrUsed > DWORD(full) ? full : int(h.biClrUsed);
        const std::uint8_t* table = colorTableOf(info);
        if (usage == DIB_RGB_COLORS) {
            for (int i = 0; i < count; ++i) {
                RGBQUAD q;
                std::memcpy(&q, table + 4 * i, 4);
                out.colors[i] = std::uint32_t(q.rgbRed) << 16 | std::uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
            }
        } else {
            const Palette* palette = dc && dc->palette ? dc->palette : stockPalette();
            for (int i = 0; i < count; ++i) {
                WORD index;
                std::memcpy(&index, table + 2 * i, 2);
                if (index < palette->entries.size()) {
                    const PALETTEENTRY& e = palette->entries[index];
                    out.colors[i] = std::uint32_t(e.peRed) << 16 | std::uint32_t(e.peGreen) << 8 | e.peBlue;
                }
            }
        }
        out.format.colors = out.colors.data();
        out.format.colorCount = count;
    }
    return true;
}

} // namespace gdi::detail
