#include "platform/gdi/RowConvert.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace gdi {

namespace {

void packScalar(const std::uint8_t* s, std::uint8_t* d, std::size_t n, int sourceBytes, bool swap) {
    for (std::size_t i = 0; i < n; ++i, s += sourceBytes, d += 3) {
        const std::uint8_t a = s[0], b = s[1], c = s[2];
        d[0] = swap ? c : a;
        d[1] = b;
        d[2] = swap ? a : c;
    }
}

void spreadScalar(const std::uint8_t* s, std::uint32_t* d, std::size_t n, std::uint32_t alpha) {
    std::size_t i = 0;
    // Four pixels from three words.
    for (; i + 4 <= n; i += 4, s += 12) {
        std::uint32_t w0, w1, w2;
        std::memcpy(&w0, s, 4);
        std::memcpy(&w1, s + 4, 4);
        std::memcpy(&w2, s + 8, 4);
        d[i] = (w0 & 0xFFFFFF) | alpha;
        d[i + 1] = (w0 >> 24) | ((w1 & 0xFFFF) << 8) | alpha;
        d[i + 2] = (w1 >> 16) | ((w2 & 0xFF) << 16) | alpha;
        d[i + 3] = (w2 >> 8) | alpha;
    }
    for (; i < n; ++i, s += 3)
        d[i] = std::uint32_t(s[0]) | std::uint32_t(s[1]) << 8 | std::uint32_t(s[2]) << 16 | alpha;
}

#if defined(__x86_64__)
// Sixteen pixels at a time: four loads, a shuffle each, three stores; rows pass at close to
// the speed of copying them.
__attribute__((target("ssse3"))) void packSsse3(const std::uint8_t* s, std::uint8_t* d, std::size_t n,
                                                int sourceBytes, bool swap) {
    const __m128i mask = sourceBytes == 3
                             ? (swap ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1)
                                     : _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1, -1, -1, -1))
                             : (swap ? _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)
                                     : _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    const std::size_t step = std::size_t(sourceBytes) * 4;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16, s += 4 * step, d += 48) {
        // Each register holds four pixels packed into its low 12 bytes.
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), mask);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + step)), mask);
        const __m128i c =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * step)), mask);
        const __m128i e =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * step)), mask);
        auto* out = reinterpret_cast<__m128i*>(d);
        _mm_storeu_si128(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(e, 4)));
    }
    packScalar(s, d, n - i, sourceBytes, swap);
}

// Sixteen pixels from three 16-byte loads, spread by byte shuffles.
__attribute__((target("ssse3"))) void spreadSsse3(const std::uint8_t* s, std::uint32_t* d, std::size_t n,
                                                  std::uint32_t alpha) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i a = _mm_set1_epi32(int(alpha));
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16, s += 48) {
        const __m128i in0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i in1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
        const __m128i in2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
        auto* out = reinterpret_cast<__m128i*>(d + i);
        _mm_storeu_si128(out, _mm_or_si128(_mm_shuffle_epi8(in0, spread), a));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(in1, in0, 12), spread), a));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(in2, in1, 8), spread), a));
        _mm_storeu_si128(out + 3, _mm_or_si128(_mm_shuffle_epi8(_mm_srli_si128(in2, 4), spread), a));
    }
    spreadScalar(s, d + i, n - i, alpha);
}

const bool hasSsse3 = __builtin_cpu_supports("ssse3");
#endif

} // namespace

void packRowTo24(const std::uint8_t* s, std::uint8_t* d, std::size_t n, int sourceBytes, bool swapRedBlue) {
    if (sourceBytes == 3 && !swapRedBlue) {
        std::memmove(d, s, n * 3);
        return;
    }
#if defined(__x86_64__)
    if (hasSsse3) {
        packSsse3(s, d, n, sourceBytes, swapRedBlue);
        return;
    }
#endif
    packScalar(s, d, n, sourceBytes, swapRedBlue);
}

void spreadRowTo32(const std::uint8_t* s, std::uint32_t* d, std::size_t n, std::uint32_t alpha) {
#if defined(__x86_64__)
    if (hasSsse3) {
        spreadSsse3(s, d, n, alpha);
        return;
    }
#endif
    spreadScalar(s, d, n, alpha);
}

} // namespace gdi
