#include "platform/browser/Pixels.h"

#include <array>
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

bool decodePng(const std::uint8_t* data, std::size_t size, Pixels& out, QString* error,
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
