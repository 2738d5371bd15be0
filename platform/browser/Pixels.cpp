#include "platform/browser/Pixels.h"

#include "platform/gdi/RowConvert.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <new>
#include <spng.h>

namespace browser {

namespace {

constexpr std::array<std::int8_t, 256> base64Table() {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        t[std::uint8_t(alphabet[i])] = std::int8_t(i);
    return t;
}
constexpr auto base64Values = base64Table();

struct SpngFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

struct DeflateFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

inline std::uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return std::uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes a row's filter in place; prev is the row above, already unfiltered (null for the first).
bool unfilter(int filter, std::uint8_t* row, const std::uint8_t* prev, std::size_t length, int bpp) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t i = std::size_t(bpp); i < length; ++i)
            row[i] = std::uint8_t(row[i] + row[i - std::size_t(bpp)]);
        return true;
    case 2:
        if (prev)
            for (std::size_t i = 0; i < length; ++i)
                row[i] = std::uint8_t(row[i] + prev[i]);
        return true;
    case 3: {
        const std::size_t lead = std::min(std::size_t(bpp), length);
        if (prev) {
            for (std::size_t i = 0; i < lead; ++i)
                row[i] = std::uint8_t(row[i] + (prev[i] >> 1));
            for (std::size_t i = lead; i < length; ++i)
                row[i] = std::uint8_t(row[i] + ((row[i - std::size_t(bpp)] + prev[i]) >> 1));
        } else {
            for (std::size_t i = lead; i < length; ++i)
                row[i] = std::uint8_t(row[i] + (row[i - std::size_t(bpp)] >> 1));
        }
        return true;
    }
    case 4: {
        // Without a row above, Paeth takes the left neighbour: the Sub filter.
        if (!prev) return unfilter(1, row, nullptr, length, bpp);
        const std::size_t lead = std::min(std::size_t(bpp), length);
        for (std::size_t i = 0; i < lead; ++i)
            row[i] = std::uint8_t(row[i] + prev[i]);
        for (std::size_t i = lead; i < length; ++i)
            row[i] =
                std::uint8_t(row[i] + paeth(row[i - std::size_t(bpp)], prev[i], prev[i - std::size_t(bpp)]));
        return true;
    }
    default:
        return false;
    }
}

struct SimplePng {
    std::uint32_t width = 0, height = 0;
    int bpp = 0; // bytes per pixel: 3 for RGB, 4 for RGBA
};

// The engine's screenshots are plain 8-bit RGB or RGBA PNGs without interlacing. For those the
// whole image is inflated at once with libdeflate, which copies the long repeats of a page's
// flat areas many times faster than zlib's byte loop, and then unfiltered here. This reads
// the chunks of such a picture and hands the compressed data of its IDAT chunks, in order, to
// idat(body, length); false for any other picture, which goes to the general decoder.
template <class Idat>
bool readSimplePng(const std::uint8_t* data, std::size_t size, std::size_t maxPixels, SimplePng& png,
                   Idat&& idat) {
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 + 25 || std::memcmp(data, signature, 8) != 0) return false;
    std::size_t pos = 8;
    bool header = false, end = false, any = false;
    while (pos + 12 <= size && !end) {
        // The header is read before idat may move data over it.
        const std::uint32_t length = bigEndian32(data + pos);
        char type[4];
        std::memcpy(type, data + pos + 4, 4);
        const std::uint8_t* body = data + pos + 8;
        if (length > size - pos - 12) return false;
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (length != 13 || header) return false;
            png.width = bigEndian32(body);
            png.height = bigEndian32(body + 4);
            const int depth = body[8], colour = body[9], interlace = body[12];
            if (depth != 8 || interlace != 0 || body[10] != 0 || body[11] != 0) return false;
            if (colour == 2)
                png.bpp = 3;
            else if (colour == 6)
                png.bpp = 4;
            else
                return false;
            if (png.width == 0 || png.height == 0 || png.width > (1u << 30) / 4 ||
                std::size_t(png.width) * png.height > maxPixels)
                return false;
            header = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            if (!header) return false;
            idat(body, length);
            any = true;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            end = true;
        } else if (!(type[0] & 0x20)) {
            return false; // a critical chunk this path does not know (a palette, say)
        }
        pos += std::size_t(length) + 12;
    }
    return header && any;
}

bool inflate(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize) {
    std::unique_ptr<libdeflate_decompressor, DeflateFree> inflater(libdeflate_alloc_decompressor());
    if (!inflater) return false;
    std::size_t produced = 0;
    return libdeflate_zlib_decompress(inflater.get(), in, inSize, out, outSize, &produced) ==
               LIBDEFLATE_SUCCESS &&
           produced == outSize;
}

void toBgr(const std::uint8_t* s, std::uint8_t* d, std::size_t n, int bpp) {
    gdi::packRowTo24(s, d, n, bpp, true);
}

// Room left after a picture for the shuffles' reads past a row's last pixels.
constexpr std::size_t kSlack = 16;

bool decodeSimplePngBgr24(std::uint8_t* data, std::size_t size, Picture24& out, std::size_t maxPixels) {
    SimplePng png;
    // The compressed data is moved together at the front of data, in place: each piece moves
    // to before where it was, and past nothing the chunk reader still has to read.
    std::size_t packed = 0;
    if (!readSimplePng(data, size, maxPixels, png, [&](const std::uint8_t* body, std::uint32_t length) {
            std::memmove(data + packed, body, length);
            packed += length;
        }))
        return false;
    const std::size_t width = png.width, height = png.height;
    const int bpp = png.bpp;
    const std::size_t rowBytes = width * std::size_t(bpp);
    const std::size_t stride = rowBytes + 1;               // a row as inflated: filter byte, pixels
    const std::size_t dibStride = (width * 3 + 3) / 4 * 4; // a row of the picture made
    // The rows are inflated at an offset such that turning row y into its final place never
    // reaches row y + 1 as inflated, which the row after that still needs as its row above.
    const std::size_t base = dibStride > stride ? (height - 1) * (dibStride - stride) : 0;
    const std::size_t total = std::max(base + height * stride, height * dibStride) + kSlack;
    if (!out.reserve(total)) return false;
    std::uint8_t* buffer = out.bytes.get();
    if (!inflate(data, packed, buffer + base, height * stride)) return false;
    const std::uint8_t* prev = nullptr;
    for (std::size_t y = 0; y < height; ++y) {
        std::uint8_t* row = buffer + base + y * stride;
        if (!unfilter(row[0], row + 1, prev, rowBytes, bpp)) return false;
        // The row above is needed no more: into its place.
        if (y > 0) toBgr(row + 1 - stride, buffer + (y - 1) * dibStride, width, bpp);
        prev = row + 1;
    }
    toBgr(buffer + base + (height - 1) * stride + 1, buffer + (height - 1) * dibStride, width, bpp);
    out.width = int(width);
    out.height = int(height);
    out.stride = dibStride;
    return true;
}

// Any PNG the fast path does not take, through the general decoder, into the same layout.
bool decodeGeneralPng(const std::uint8_t* data, std::size_t size, Picture24& out, QString* error,
                      std::size_t maxPixels) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    // The engine's own output over a private pipe: checksums would only cost time.
    std::unique_ptr<spng_ctx, SpngFree> ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!ctx) return fail(QStringLiteral("out of memory"));
    spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE);
    spng_set_png_buffer(ctx.get(), data, size);
    spng_ihdr ihdr{};
    if (int r = spng_get_ihdr(ctx.get(), &ihdr))
        return fail(QStringLiteral("not a picture (%1)").arg(QString::fromUtf8(spng_strerror(r))));
    if (ihdr.width == 0 || ihdr.height == 0 || ihdr.width > (1u << 30) / 4 ||
        std::size_t(ihdr.width) * ihdr.height > maxPixels)
        return fail(
            QStringLiteral("picture of %1 x %2 pixels is too large").arg(ihdr.width).arg(ihdr.height));
    // 8-bit RGB rows are taken as they are; anything else the library turns into RGBA.
    const bool rgb8 = ihdr.bit_depth == 8 && ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR;
    const int format = rgb8 ? SPNG_FMT_PNG : SPNG_FMT_RGBA8;
    const std::size_t step = rgb8 ? 3 : 4;
    if (int r = spng_decode_image(ctx.get(), nullptr, 0, format, SPNG_DECODE_PROGRESSIVE))
        return fail(
            QStringLiteral("picture cannot be decoded (%1)").arg(QString::fromUtf8(spng_strerror(r))));
    if (!out.resize(int(ihdr.width), int(ihdr.height)))
        return fail(QStringLiteral("not enough memory for a picture of %1 x %2 pixels")
                        .arg(ihdr.width)
                        .arg(ihdr.height));
    std::vector<std::uint8_t> line(std::size_t(ihdr.width) * step + kSlack);
    spng_row_info info{};
    for (;;) {
        if (spng_get_row_info(ctx.get(), &info)) break;
        const int r = spng_decode_row(ctx.get(), line.data(), std::size_t(ihdr.width) * step);
        if (r != 0 && r != SPNG_EOI)
            return fail(QStringLiteral("picture is damaged (%1)").arg(QString::fromUtf8(spng_strerror(r))));
        toBgr(line.data(), out.row(int(info.row_num)), ihdr.width, int(step));
        if (r == SPNG_EOI) break;
    }
    return true;
}

} // namespace

bool plainRgbPngSize(const std::uint8_t* data, std::size_t size, std::uint32_t* width,
                     std::uint32_t* height) {
    SimplePng png;
    if (!readSimplePng(data, size, ~std::size_t(0), png, [](const std::uint8_t*, std::size_t) {}) ||
        png.bpp != 3)
        return false;
    *width = png.width;
    *height = png.height;
    return true;
}

namespace {

// Decodes n base64 characters (no padding) at in into out, which may be in itself; returns the
// number of bytes written, or -1 for a character outside the alphabet.
std::ptrdiff_t base64Bytes(const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
    if (n % 4 == 1) return -1;
    std::uint8_t* o = out;
    std::size_t i = 0;
    const std::size_t whole = n / 4 * 4;
    for (; i < whole; i += 4) {
        const int a = base64Values[in[i]], b = base64Values[in[i + 1]], c = base64Values[in[i + 2]],
                  d = base64Values[in[i + 3]];
        if ((a | b | c | d) < 0) return -1;
        const std::uint32_t v = std::uint32_t(a) << 18 | std::uint32_t(b) << 12 | std::uint32_t(c) << 6 | d;
        *o++ = std::uint8_t(v >> 16);
        *o++ = std::uint8_t(v >> 8);
        *o++ = std::uint8_t(v);
    }
    const std::size_t rest = n - whole;
    if (rest) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < rest; ++k) {
            const int x = base64Values[in[i + k]];
            if (x < 0) return -1;
            v |= std::uint32_t(x) << (18 - 6 * k);
        }
        *o++ = std::uint8_t(v >> 16);
        if (rest == 3) *o++ = std::uint8_t(v >> 8);
    }
    return o - out;
}

std::string_view unpadded(std::string_view text) {
    while (!text.empty() && text.back() == '=')
        text.remove_suffix(1);
    return text;
}

} // namespace

bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
    text = unpadded(text);
    if (text.size() % 4 == 1) return false;
    out.resize(text.size() / 4 * 3 + (text.size() % 4 ? text.size() % 4 - 1 : 0));
    return base64Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), out.data()) >= 0;
}

bool decodeBase64InPlace(std::string& text) {
    const std::size_t n = unpadded(text).size();
    // Each group of four characters becomes three bytes at or before where it was read.
    auto* p = reinterpret_cast<std::uint8_t*>(text.data());
    const std::ptrdiff_t written = base64Bytes(p, n, p);
    if (written < 0) return false;
    text.resize(std::size_t(written));
    return true;
}

bool Picture24::reserve(std::size_t size) {
    if (capacity >= size && bytes) return true;
    bytes.reset();
    capacity = 0;
    // Left uninitialised: every byte that counts is written before it is read.
    bytes.reset(new (std::nothrow) std::uint8_t[size]);
    if (!bytes) return false;
    capacity = size;
    return true;
}

bool Picture24::resize(int w, int h) {
    const std::size_t rowBytes = (std::size_t(w) * 3 + 3) / 4 * 4;
    if (w <= 0 || h <= 0 || !reserve(rowBytes * std::size_t(h) + kSlack)) return false;
    width = w;
    height = h;
    stride = rowBytes;
    return true;
}

bool Picture24::fitTo(int w, int h) {
    if (w == width && h == height) return true;
    Picture24 fitted;
    if (!fitted.resize(w, h)) return false;
    std::memset(fitted.bytes.get(), 0xFF, fitted.stride * std::size_t(h));
    for (int y = 0; y < std::min(h, height); ++y)
        std::memcpy(fitted.row(y), row(y), std::size_t(std::min(w, width)) * 3);
    *this = std::move(fitted);
    return true;
}

bool decodePng(std::uint8_t* data, std::size_t size, Picture24& out, QString* error, std::size_t maxPixels) {
    if (decodeSimplePngBgr24(data, size, out, maxPixels)) return true;
    // Other kinds of picture are told apart by their header, before the fast path moves
    // anything; data it did move belongs to a damaged picture, which fails here too.
    return decodeGeneralPng(data, size, out, error, maxPixels);
}

} // namespace browser
