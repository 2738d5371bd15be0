// Decoding the engine's PNG screenshots: every row filter, RGB and RGBA, comes out as the
// picture that was encoded; damaged data is refused rather than shown half right.
#include "platform/browser/Pixels.h"

#include <gtest/gtest.h>
#include <spng.h>
#include <string>
#include <vector>

namespace {

struct Encoded {
    std::vector<std::uint8_t> png;
};

// Encodes w x h pixels given as R, G, B(, A) bytes (or one grey byte each) with one filter for
// every row.
std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& pixels, int w, int h, bool alpha,
                                 int filterChoice, bool grey = false) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, filterChoice);
    spng_ihdr ihdr{};
    ihdr.width = std::uint32_t(w);
    ihdr.height = std::uint32_t(h);
    ihdr.bit_depth = 8;
    ihdr.color_type = grey    ? SPNG_COLOR_TYPE_GRAYSCALE
                      : alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                              : SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    EXPECT_EQ(spng_encode_image(ctx, pixels.data(), pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
    size_t size = 0;
    int error = 0;
    auto* buffer = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &size, &error));
    std::vector<std::uint8_t> out(buffer, buffer + size);
    free(buffer);
    spng_ctx_free(ctx);
    return out;
}

// w x h pixels of noise (opaque where there is alpha), so that every branch of every filter
// (the ties of the Paeth predictor too) is taken many times.
std::vector<std::uint8_t> noise(int w, int h, bool alpha, std::uint32_t& seed) {
    std::vector<std::uint8_t> pixels(std::size_t(w * h * (alpha ? 4 : 3)));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        pixels[i] = (alpha && i % 4 == 3) ? 255 : std::uint8_t(seed);
    }
    return pixels;
}

TEST(PngDecoding, EveryFilterAndBothLayoutsComeOutAsEncoded) {
    const int w = 37, h = 23;
    for (bool alpha : {false, true}) {
        const int bpp = alpha ? 4 : 3;
        std::uint32_t seed = 2463534242u;
        const std::vector<std::uint8_t> pixels = noise(w, h, alpha, seed);
        for (int filter : {SPNG_FILTER_CHOICE_NONE, SPNG_FILTER_CHOICE_SUB, SPNG_FILTER_CHOICE_UP,
                           SPNG_FILTER_CHOICE_AVG, SPNG_FILTER_CHOICE_PAETH, SPNG_FILTER_CHOICE_ALL}) {
            SCOPED_TRACE(::testing::Message() << "alpha " << alpha << " filter " << filter);
            std::vector<std::uint8_t> png = encode(pixels, w, h, alpha, filter);
            browser::Picture24 out;
            QString error;
            ASSERT_TRUE(browser::decodePng(png.data(), png.size(), out, &error)) << error.toStdString();
            ASSERT_EQ(out.width, w);
            ASSERT_EQ(out.height, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const std::uint8_t* p = &pixels[std::size_t((y * w + x) * bpp)];
                    ASSERT_EQ(out.rgb(x, y), std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2])
                        << x << "," << y;
                }
        }
    }
}

// The 24-bit decoder turns rows in place: every width's padding (3 x width modulo 4 takes each
// value), both layouts, every filter and widths past the sixteen-pixel blocks must come out as
// encoded, in DIB rows.
TEST(PngDecoding, InPlaceDibRowsMatchTheEncodedPicture) {
    std::uint32_t seed = 88172645u;
    browser::Picture24 out; // reused from picture to picture, as a capture's memory is
    for (const int w : {1, 2, 3, 4, 5, 17, 19, 33, 50}) {
        for (const int h : {1, 2, 9}) {
            for (bool alpha : {false, true}) {
                const int bpp = alpha ? 4 : 3;
                const std::vector<std::uint8_t> pixels = noise(w, h, alpha, seed);
                for (int filter : {SPNG_FILTER_CHOICE_NONE, SPNG_FILTER_CHOICE_AVG, SPNG_FILTER_CHOICE_PAETH,
                                   SPNG_FILTER_CHOICE_ALL}) {
                    SCOPED_TRACE(::testing::Message()
                                 << w << " x " << h << " alpha " << alpha << " filter " << filter);
                    std::vector<std::uint8_t> png = encode(pixels, w, h, alpha, filter);
                    QString error;
                    ASSERT_TRUE(browser::decodePng(png.data(), png.size(), out, &error))
                        << error.toStdString();
                    ASSERT_EQ(out.width, w);
                    ASSERT_EQ(out.height, h);
                    ASSERT_EQ(out.stride, std::size_t((w * 3 + 3) / 4 * 4));
                    int wrong = 0;
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x) {
                            const std::uint8_t* p = &pixels[std::size_t((y * w + x) * bpp)];
                            wrong += out.rgb(x, y) !=
                                     (std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2]);
                        }
                    ASSERT_EQ(wrong, 0);
                }
            }
        }
    }
    // Base64 decoded in place gives the same bytes as into a buffer of its own.
    std::string text = "iVBORw0KGgo=";
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(browser::decodeBase64(text, bytes));
    ASSERT_TRUE(browser::decodeBase64InPlace(text));
    EXPECT_EQ(std::vector<std::uint8_t>(text.begin(), text.end()), bytes);
    std::string bad = "iVBO!w0K";
    EXPECT_FALSE(browser::decodeBase64InPlace(bad));
}

TEST(PngDecoding, DamagedPicturesAreRefused) {
    std::vector<std::uint8_t> pixels(16 * 16 * 3, 0x80);
    std::vector<std::uint8_t> png = encode(pixels, 16, 16, false, SPNG_FILTER_CHOICE_UP);
    // The decoder changes the data it is given: each try has a copy of its own.
    browser::Picture24 picture;
    std::vector<std::uint8_t> copy = png;
    EXPECT_FALSE(browser::decodePng(copy.data(), copy.size() / 2, picture, nullptr));
    copy = png;
    EXPECT_FALSE(browser::decodePng(copy.data(), copy.size(), picture, nullptr, 100));
    std::uint8_t notPng[] = "definitely not a picture, just some text";
    EXPECT_FALSE(browser::decodePng(notPng, sizeof notPng, picture, nullptr));
    // A damaged picture of a kind the fast path does not take fails in the general decoder.
    std::vector<std::uint8_t> greyPixels(16 * 16, 0x40);
    std::vector<std::uint8_t> grey = encode(greyPixels, 16, 16, false, SPNG_FILTER_CHOICE_UP, true);
    EXPECT_FALSE(browser::decodePng(grey.data(), grey.size() / 2, picture, nullptr));
}

// Pictures the engine does not send as plain RGB (grey here) take the general decoder into the
// same DIB rows, reusing the memory of an earlier picture.
TEST(PngDecoding, OtherKindsOfPictureComeOutInTheSameRows) {
    const int w = 21, h = 5;
    std::vector<std::uint8_t> greyPixels(std::size_t(w * h));
    for (std::size_t i = 0; i < greyPixels.size(); ++i)
        greyPixels[i] = std::uint8_t(i * 7);
    std::vector<std::uint8_t> png = encode(greyPixels, w, h, false, SPNG_FILTER_CHOICE_ALL, true);
    browser::Picture24 out;
    ASSERT_TRUE(out.resize(400, 300));
    QString error;
    ASSERT_TRUE(browser::decodePng(png.data(), png.size(), out, &error)) << error.toStdString();
    ASSERT_EQ(out.width, w);
    ASSERT_EQ(out.height, h);
    ASSERT_EQ(out.stride, std::size_t((w * 3 + 3) / 4 * 4));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t v = greyPixels[std::size_t(y * w + x)];
            ASSERT_EQ(out.rgb(x, y), v << 16 | v << 8 | v) << x << "," << y;
        }
}

} // namespace
