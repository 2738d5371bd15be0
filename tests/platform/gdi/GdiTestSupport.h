// Small DIBs built in memory for the raster layer's tests, and a memory DC over a 32-bit DIB
// section whose pixels the tests read straight from memory.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/gdi/GdiTesting.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace gdi_test {

using namespace gdi;

// A DIB with its header, colour table (or masks) and bits in memory.
class TestDib {
  public:
    // height > 0: bottom-up, < 0: top-down. colors: 0x00RRGGBB entries for <= 8 bits.
    TestDib(int width, int height, int bpp, std::vector<std::uint32_t> colors = {},
            DWORD compression = BI_RGB, std::vector<DWORD> masks = {})
        : m_width(width), m_height(height < 0 ? -height : height), m_topDown(height < 0), m_bpp(bpp) {
        const std::size_t tableBytes = bpp <= 8 ? 4u * (1u << bpp) : (compression == BI_BITFIELDS ? 12u : 0u);
        m_header.assign(sizeof(BITMAPINFOHEADER) + tableBytes + 4, 0);
        BITMAPINFOHEADER& h = info()->bmiHeader;
        h.biSize = sizeof(BITMAPINFOHEADER);
        h.biWidth = width;
        h.biHeight = height;
        h.biPlanes = 1;
        h.biBitCount = WORD(bpp);
        h.biCompression = compression;
        auto* table = m_header.data() + sizeof(BITMAPINFOHEADER);
        if (bpp <= 8) {
            for (std::size_t i = 0; i < std::min(colors.size(), std::size_t(1) << bpp); ++i) {
                const RGBQUAD q{BYTE(colors[i]), BYTE(colors[i] >> 8), BYTE(colors[i] >> 16), 0};
                std::memcpy(table + 4 * i, &q, 4);
            }
        } else if (compression == BI_BITFIELDS) {
            std::memcpy(table, masks.data(), 12);
        }
        m_stride = (width * bpp + 31) / 32 * 4;
        m_bits.assign(std::size_t(m_stride) * std::size_t(m_height), 0);
    }

    BITMAPINFO* info() { return reinterpret_cast<BITMAPINFO*>(m_header.data()); }
    std::uint8_t* bits() { return m_bits.data(); }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int stride() const { return m_stride; }

    // The storage row of the picture row y counted from the top.
    std::uint8_t* rowFromTop(int y) {
        const int stored = m_topDown ? y : m_height - 1 - y;
        return m_bits.data() + std::size_t(stored) * std::size_t(m_stride);
    }
    // Native pixel values: an index at <= 8 bits, the word at 16/32, 0x00RRGGBB at 24.
    void set(int x, int y, std::uint32_t v) {
        std::uint8_t* r = rowFromTop(y);
        switch (m_bpp) {
        case 1:
            r[x / 8] = std::uint8_t((r[x / 8] & ~(0x80 >> (x % 8))) | ((v & 1) << (7 - x % 8)));
            break;
        case 4:
            r[x / 2] = std::uint8_t(x % 2 ? (r[x / 2] & 0xF0) | (v & 15) : (r[x / 2] & 0x0F) | (v << 4));
            break;
        case 8:
            r[x] = std::uint8_t(v);
            break;
        case 16:
            r[2 * x] = std::uint8_t(v);
            r[2 * x + 1] = std::uint8_t(v >> 8);
            break;
        case 24:
            r[3 * x] = std::uint8_t(v);
            r[3 * x + 1] = std::uint8_t(v >> 8);
            r[3 * x + 2] = std::uint8_t(v >> 16);
            break;
        default:
            std::memcpy(r + 4 * x, &v, 4);
            break;
        }
    }
    std::uint32_t get(int x, int y) {
        const std::uint8_t* r = rowFromTop(y);
        switch (m_bpp) {
        case 1:
            return (r[x / 8] >> (7 - x % 8)) & 1;
        case 4:
            return x % 2 ? r[x / 2] & 15 : r[x / 2] >> 4;
        case 8:
            return r[x];
        case 16:
            return std::uint32_t(r[2 * x]) | std::uint32_t(r[2 * x + 1]) << 8;
        case 24:
            return std::uint32_t(r[3 * x]) | std::uint32_t(r[3 * x + 1]) << 8 |
                   std::uint32_t(r[3 * x + 2]) << 16;
        default: {
            std::uint32_t v;
            std::memcpy(&v, r + 4 * x, 4);
            return v;
        }
        }
    }

  private:
    int m_width;
    int m_height;
    bool m_topDown;
    int m_bpp;
    int m_stride = 0;
    std::vector<std::uint8_t> m_header;
    std::vector<std::uint8_t> m_bits;
};

constexpr std::uint32_t kRed = 0xFF0000;
constexpr std::uint32_t kBlue = 0x0000FF;
constexpr std::uint32_t kGreen = 0x00FF00;
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;

// An 'F' in red on blue, 3 x 5: flips and red/blue swaps both change it.
//   R R R
//   R B B
//   R R B
//   R B B
//   R B B
inline const std::vector<std::string>& fShape() {
    static const std::vector<std::string> rows{"RRR", "RBB", "RRB", "RBB", "RBB"};
    return rows;
}
inline std::uint32_t fColor(int x, int y) {
    return fShape()[std::size_t(y)][std::size_t(x)] == 'R' ? kRed : kBlue;
}

// The 'F' as a 24-bit DIB, bottom-up or top-down.
inline TestDib makeF24(bool topDown = false) {
    TestDib dib(3, topDown ? -5 : 5, 24);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            dib.set(x, y, fColor(x, y));
    return dib;
}

// A memory DC with a 32-bit top-down DIB section selected, every pixel preset to fill.
class Canvas {
  public:
    Canvas(int width, int height, std::uint32_t fill = 0x00808080) : m_width(width), m_height(height) {
        TestDib header(width, -height, 32);
        m_dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_dc, header.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
        m_bits = static_cast<std::uint32_t*>(bits);
        m_previous = SelectObject(m_dc, m_bitmap);
        for (int i = 0; i < width * height; ++i)
            m_bits[i] = fill;
    }
    ~Canvas() {
        SelectObject(m_dc, m_previous);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return m_dc; }
    HBITMAP bitmap() const { return m_bitmap; }
    std::uint32_t at(int x, int y) const { return m_bits[y * m_width + x] & 0xFFFFFF; }
    std::uint32_t raw(int x, int y) const { return m_bits[y * m_width + x]; }
    // The canvas as rows of letters through a legend (R red, B blue, . the fill, ? other).
    std::vector<std::string> letters(std::uint32_t fill = 0x808080) const {
        std::vector<std::string> rows;
        for (int y = 0; y < m_height; ++y) {
            std::string row;
            for (int x = 0; x < m_width; ++x) {
                const std::uint32_t c = at(x, y);
                row += c == kRed ? 'R' : c == kBlue ? 'B' : c == fill ? '.' : c == kGreen ? 'G' : '?';
            }
            rows.push_back(row);
        }
        return rows;
    }

  private:
    int m_width;
    int m_height;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_previous = nullptr;
    std::uint32_t* m_bits = nullptr;
};

using Rows = std::vector<std::string>;

// Every test leaves no failure armed and no object alive.
class GdiTest : public ::testing::Test {
  protected:
    void SetUp() override { m_before = gdi::testing::LiveObjects(); }
    void TearDown() override {
        gdi::testing::ClearFailures();
        const auto after = gdi::testing::LiveObjects();
        EXPECT_EQ(after.dcs, m_before.dcs) << "DCs leaked";
        EXPECT_EQ(after.bitmaps, m_before.bitmaps) << "bitmaps leaked";
        EXPECT_EQ(after.palettes, m_before.palettes) << "palettes leaked";
        EXPECT_EQ(after.brushes, m_before.brushes) << "brushes leaked";
        EXPECT_EQ(after.pens, m_before.pens) << "pens leaked";
    }

  private:
    gdi::testing::ObjectCounts m_before;
};

} // namespace gdi_test
