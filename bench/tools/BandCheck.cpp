// band_check PICTURE.bmp PAGE.html: checks a picture of the band page that bench/bands writes.
// The page is the reference: its hsl() colours, in order, are the html background and then one
// band each, all bands equally tall and the page exactly as tall as the view, so that band i
// fills the picture's rows from i * height / bands on. Prints
//
//   <width> <height> <pixels> <white> <with 0xFF> <off> <background> <other band> <first off row or ->
//
// white: pixels FF FF FF; with 0xFF: pixels with any channel at 255, which the page's colours
// never reach; off: pixels more than 2 steps from their band's colour in some channel (when the
// bands are not whole rows tall, rows that a band's edge crosses are left out of this count,
// where the edge may blend). Of those, background: the html background's colour, where the bands
// were not drawn; other band: another band's colour, a strip from the wrong place.
// The BMP is read in pieces of rows, so that a picture of gigabytes needs only megabytes here.
// Exit status 2 when a file cannot be read or is not a 24-bit BMP.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Rgb = std::array<int, 3>;

// CSS Color 4's hsl-to-rgb, each channel rounded to the nearest step.
Rgb fromHsl(double hue, double saturation, double lightness) {
    const double s = saturation / 100.0, l = lightness / 100.0;
    auto channel = [&](double n) {
        const double k = std::fmod(n + hue / 30.0, 12.0);
        const double a = s * std::min(l, 1.0 - l);
        return int(std::lround(255.0 * (l - a * std::max(-1.0, std::min({k - 3.0, 9.0 - k, 1.0})))));
    };
    return {channel(0), channel(8), channel(4)};
}

bool readPage(const char* path, Rgb* background, std::vector<Rgb>* bands) {
    std::ifstream in(path);
    if (!in) return false;
    std::stringstream text;
    text << in.rdbuf();
    const std::string page = text.str();
    const std::regex hsl(R"(hsl\(\s*([0-9.]+)\s*,\s*([0-9.]+)%\s*,\s*([0-9.]+)%\s*\))");
    bool first = true;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), hsl); it != std::sregex_iterator(); ++it) {
        const Rgb colour = fromHsl(std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]));
        if (std::exchange(first, false))
            *background = colour;
        else
            bands->push_back(colour);
    }
    return !bands->empty();
}

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

bool near(int r, int g, int b, const Rgb& c) {
    return std::abs(r - c[0]) <= 2 && std::abs(g - c[1]) <= 2 && std::abs(b - c[2]) <= 2;
}

int fail(const char* why) {
    std::fprintf(stderr, "band_check: %s\n", why);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail("usage: band_check PICTURE.bmp PAGE.html");
    Rgb background{};
    std::vector<Rgb> bands;
    if (!readPage(argv[2], &background, &bands)) return fail("the page has no hsl() bands");
    // Every colour within 2 steps of a band's, to the band: a table of all 2^24 colours is
    // quicker to ask than anything that searches, for hundreds of millions of pixels.
    std::vector<std::int16_t> bandOf(std::size_t(1) << 24, -1);
    for (std::size_t i = 0; i < bands.size(); ++i)
        for (int dr = -2; dr <= 2; ++dr)
            for (int dg = -2; dg <= 2; ++dg)
                for (int db = -2; db <= 2; ++db) {
                    const int r = bands[i][0] + dr, g = bands[i][1] + dg, b = bands[i][2] + db;
                    if (r >= 0 && r < 256 && g >= 0 && g < 256 && b >= 0 && b < 256)
                        bandOf[std::size_t(r << 16 | g << 8 | b)] = std::int16_t(i);
                }
    std::FILE* f = std::fopen(argv[1], "rb");
    if (!f) return fail("the picture cannot be opened");
    unsigned char header[54];
    if (std::fread(header, 1, sizeof header, f) != sizeof header || header[0] != 'B' || header[1] != 'M')
        return fail("not a BMP");
    const std::uint32_t offset = le32(header + 10);
    const std::int64_t width = std::int32_t(le32(header + 18));
    const std::int64_t rawHeight = std::int32_t(le32(header + 22));
    const int bits = header[28] | header[29] << 8;
    if (bits != 24 || le32(header + 30) != 0 || width <= 0 || rawHeight == 0) return fail("not a 24-bit BMP");
    const bool bottomUp = rawHeight > 0;
    const std::int64_t height = std::llabs(rawHeight);
    const std::int64_t stride = (width * 3 + 3) & ~std::int64_t(3);
    if (std::fseek(f, long(offset), SEEK_SET) != 0) return fail("the picture is cut short");

    const std::int64_t rowsPerRead = std::max<std::int64_t>(1, (32 << 20) / stride);
    std::vector<unsigned char> chunk(std::size_t(rowsPerRead * stride));
    std::int64_t white = 0, withFF = 0, off = 0, offBackground = 0, offOtherBand = 0, firstOffRow = -1;
    const auto count = std::int64_t(bands.size());
    // Bands of whole rows meet exactly at a row's edge: then every row is checked.
    const bool wholeRows = height % count == 0;
    for (std::int64_t fileRow = 0; fileRow < height; fileRow += rowsPerRead) {
        const std::int64_t rows = std::min(rowsPerRead, height - fileRow);
        if (std::fread(chunk.data(), 1, std::size_t(rows * stride), f) != std::size_t(rows * stride))
            return fail("the picture is cut short");
        for (std::int64_t r = 0; r < rows; ++r) {
            const std::int64_t y = bottomUp ? height - 1 - (fileRow + r) : fileRow + r;
            // Which band the row belongs to, and whether a band's edge falls within the row.
            const std::int64_t band = std::min(count - 1, y * count / height);
            const bool nearEdge =
                !wholeRows && ((y * count) % height + count > height || (y * count) % height < count);
            const Rgb& want = bands[std::size_t(band)];
            const unsigned char* p = chunk.data() + r * stride;
            bool rowOff = false;
            for (std::int64_t x = 0; x < width; ++x, p += 3) {
                const int b = p[0], g = p[1], red = p[2];
                if ((b & g & red) == 0xFF) ++white;
                if (b == 0xFF || g == 0xFF || red == 0xFF) ++withFF;
                if (!nearEdge && !near(red, g, b, want)) {
                    ++off;
                    rowOff = true;
                    if (near(red, g, b, background))
                        ++offBackground;
                    else if (bandOf[std::size_t(red << 16 | g << 8 | b)] >= 0)
                        ++offOtherBand;
                }
            }
            if (rowOff && (firstOffRow < 0 || y < firstOffRow)) firstOffRow = y;
        }
    }
    std::fclose(f);
    const std::string first = firstOffRow < 0 ? "-" : std::to_string(firstOffRow);
    std::printf("%lld %lld %lld %lld %lld %lld %lld %lld %s\n", (long long)width, (long long)height,
                (long long)(width * height), (long long)white, (long long)withFF, (long long)off,
                (long long)offBackground, (long long)offOtherBand, first.c_str());
    return 0;
}
