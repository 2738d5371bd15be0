#include "platform/browser/Pixels.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <memory>
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
        if (!prev)
            return unfilter(1, row, nullptr, length, bpp);
        const std::size_t lead = std::min(std::size_t(bpp), length);
        for (std::size_t i = 0; i < lead; ++i)
            row[i] = std::uint8_t(row[i] + prev[i]);
        for (std::size_t i = lead; i < length; ++i)
            row[i] = std::uint8_t(row[i] + paeth(row[i - std::size_t(bpp)], prev[i], prev[i - std::size_t(bpp)]));
        return true;
    }
    default:
        return false;
    }
}

// The engine's screenshots are plain 8-bit RGB or RGBA PNGs without interlacing. For those the
// whole image is inflated at once with libdeflate, which copies the long repeats of a page's
// flat areas many times faster than zlib's byte loop, and then unfiltered here. Anything else
// returns false and goes to the general decoder.
bool decodeSimplePng(const std::uint8_t* data, std::size_t size, Pixels& out, std::size_t maxPixels,
                     DecodeScratch& scratch) {
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 + 25 || std::memcmp(data, signature, 8) != 0)
        return false;
    std::size_t pos = 8;
    std::uint32_t width = 0, height = 0;
    int bpp = 0;
    std::vector<std::uint8_t>& compressed = scratch.compressed;
    compressed.clear();
    bool header = false, end = false;
    while (pos + 12 <= size && !end) {
        const std::uint32_t length = bigEndian32(data + pos);
        const std::uint8_t* type = data + pos + 4;
        const std::uint8_t* body = data + pos + 8;
        if (length > size - pos - 12)
            return false;
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (length != 13)
                return false;
            width = bigEndian32(body);
            height = bigEndian32(body + 4);
            const int depth = body[8], colour = body[9], interlace = body[12];
            if (depth != 8 || interlace != 0 || body[10] != 0 || body[11] != 0)
                return false;
            if (colour == 2)
                bpp = 3;
            else if (colour == 6)
                bpp = 4;
            else
                return false;
            header = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            compressed.insert(compressed.end(), body, body + length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            end = true;
        } else if (!(type[0] & 0x20)) {
            return false; // a critical chunk this path does not know (a palette, say)
        }
        pos += std::size_t(length) + 12;
    }
    if (!header || width == 0 || height == 0 || std::size_t(width) * height > maxPixels || compressed.empty())
        return false;

    const std::size_t rowBytes = std::size_t(width) * std::size_t(bpp);
    const std::size_t stride = rowBytes + 1;
    std::vector<std::uint8_t>& raw = scratch.raw;
    try {
        raw.resize(stride * height);
        out.width = int(width);
        out.height = int(height);
        out.bgrx.resize(std::size_t(width) * height);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::unique_ptr<libdeflate_decompressor, DeflateFree> inflater(libdeflate_alloc_decompressor());
    if (!inflater)
        return false;
    std::size_t produced = 0;
    if (libdeflate_zlib_decompress(inflater.get(), compressed.data(), compressed.size(), raw.data(), raw.size(),
                                   &produced) != LIBDEFLATE_SUCCESS ||
        produced != raw.size())
        return false;
    const std::uint8_t* prev = nullptr;
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = raw.data() + std::size_t(y) * stride;
        if (!unfilter(row[0], row + 1, prev, rowBytes, bpp))
            return false;
        const std::uint8_t* src = row + 1;
        std::uint32_t* dst = out.row(int(y));
        for (std::uint32_t x = 0; x < width; ++x, src += bpp)
            dst[x] = std::uint32_t(src[2]) | std::uint32_t(src[1]) << 8 | std::uint32_t(src[0]) << 16;
        prev = row + 1;
    }
    return true;
}

} // namespace

bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
    while (!text.empty() && text.back() == '=')
        text.remove_suffix(1);
    if (text.size() % 4 == 1) return false;
    out.resize(text.size() / 4 * 3 + (text.size() % 4 ? text.size() % 4 - 1 : 0));
    const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
    std::uint8_t* o = out.data();
    std::size_t i = 0;
    const std::size_t whole = text.size() / 4 * 4;
    for (; i < whole; i += 4) {
        const int a = base64Values[in[i]], b = base64Values[in[i + 1]], c = base64Values[in[i + 2]],
                  d = base64Values[in[i + 3]];
        if ((a | b | c | d) < 0) return false;
        const std::uint32_t v = std::uint32_t(a) << 18 | std::uint32_t(b) << 12 | std::uint32_t(c) << 6 | d;
        *o++ = std::uint8_t(v >> 16);
        *o++ = std::uint8_t(v >> 8);
        *o++ = std::uint8_t(v);
    }
    const std::size_t rest = text.size() - whole;
    if (rest) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < rest; ++k) {
            const int x = base64Values[in[i + k]];
            if (x < 0) return false;
            v |= std::uint32_t(x) << (18 - 6 * k);
        }
        *o++ = std::uint8_t(v >> 16);
        if (rest == 3) *o++ = std::uint8_t(v >> 8);
    }
    return true;
}

bool decodePng(const std::uint8_t* data, std::size_t size, Pixels& out, QString* error, std::size_t maxPixels,
               DecodeScratch* scratch) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    DecodeScratch own;
    if (decodeSimplePng(data, size, out, maxPixels, scratch ? *scratch : own))
        return true;
    // The engine's own output over a private pipe: checksums would only cost time.
    std::unique_ptr<spng_ctx, SpngFree> ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!ctx) return fail(QStringLiteral("out of memory"));
    spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE);
    spng_set_png_buffer(ctx.get(), data, size);
    spng_ihdr ihdr{};
    if (int r = spng_get_ihdr(ctx.get(), &ihdr))
        return fail(QStringLiteral("not a picture (%1)").arg(QString::fromUtf8(spng_strerror(r))));
    if (ihdr.width == 0 || ihdr.height == 0 || std::size_t(ihdr.width) * ihdr.height > maxPixels)
        return fail(
            QStringLiteral("picture of %1 x %2 pixels is too large").arg(ihdr.width).arg(ihdr.height));
    // The engine sends 8-bit RGB (or RGBA); taking its rows as they are and converting them
    // here is markedly faster than the library's own conversion.
    const bool rgb8 = ihdr.bit_depth == 8 && ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR;
    const bool rgba8 = ihdr.bit_depth == 8 && ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    const int format = (rgb8 || rgba8) ? SPNG_FMT_PNG : SPNG_FMT_RGBA8;
    const std::size_t step = rgb8 ? 3 : 4;
    if (int r = spng_decode_image(ctx.get(), nullptr, 0, format, SPNG_DECODE_PROGRESSIVE))
        return fail(
            QStringLiteral("picture cannot be decoded (%1)").arg(QString::fromUtf8(spng_strerror(r))));
    try {
        out.width = int(ihdr.width);
        out.height = int(ihdr.height);
        out.bgrx.resize(std::size_t(ihdr.width) * ihdr.height);
    } catch (const std::bad_alloc&) {
        out = {};
        return fail(QStringLiteral("not enough memory for a picture of %1 x %2 pixels")
                        .arg(ihdr.width)
                        .arg(ihdr.height));
    }
    std::vector<std::uint8_t> line(std::size_t(ihdr.width) * step);
    spng_row_info info{};
    for (;;) {
        if (spng_get_row_info(ctx.get(), &info)) break;
        int r = spng_decode_row(ctx.get(), line.data(), line.size());
        if (r != 0 && r != SPNG_EOI) {
            out = {};
            return fail(QStringLiteral("picture is damaged (%1)").arg(QString::fromUtf8(spng_strerror(r))));
        }
        std::uint32_t* dst = out.row(int(info.row_num));
        const std::uint8_t* src = line.data();
        for (std::uint32_t x = 0; x < ihdr.width; ++x, src += step)
            dst[x] = std::uint32_t(src[2]) | std::uint32_t(src[1]) << 8 | std::uint32_t(src[0]) << 16;
        if (r == SPNG_EOI) break;
    }
    return true;
}

} // namespace browser
