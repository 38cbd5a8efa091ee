#include "png_unfilter.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvalis::detail {

namespace {

// Paeth's predictor: the neighbour (left a, above b, upper left c) nearest
// to a + b - c, ties going to a, then b.
inline std::uint8_t Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

void UnfilterPlain(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* prev,
                   std::size_t length, unsigned n) {
    const std::size_t first = n < length ? n : length;
    switch (filter) {
        case kFilterSub:
            for (std::size_t i = n; i < length; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + row[i - n]);
            break;
        case kFilterUp:
            for (std::size_t i = 0; i < length; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
            break;
        case kFilterAverage:
            for (std::size_t i = 0; i < first; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + prev[i] / 2);
            for (std::size_t i = n; i < length; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + (row[i - n] + prev[i]) / 2);
            break;
        case kFilterPaeth:
            for (std::size_t i = 0; i < first; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
            for (std::size_t i = n; i < length; ++i)
                row[i] =
                    static_cast<std::uint8_t>(row[i] + Paeth(row[i - n], prev[i], prev[i - n]));
            break;
        default: break;
    }
}

#if defined(__SSE2__)

// One pixel of N bytes widened to 16-bit lanes, and back; no byte past the
// pixel is read or written. The 3-byte pixels are put together in registers:
// a copy through memory would stall on the narrower stores before it.
template <unsigned N>
__m128i LoadPixel(const std::uint8_t* p) {
    std::uint32_t v = 0;
    if constexpr (N == 4)
        std::memcpy(&v, p, 4);
    else
        v = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
}

template <unsigned N>
void StorePixel(std::uint8_t* p, __m128i lanes) {
    const auto v = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes)));
    if constexpr (N == 4) {
        std::memcpy(p, &v, 4);
    } else {
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
        p[2] = static_cast<std::uint8_t>(v >> 16);
    }
}

inline __m128i Abs16(__m128i x) {
    return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
}

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Sub, Average and Paeth depend on the pixel just unfiltered, so they go one
// pixel at a time with every byte of the pixel in a lane of its own.
template <unsigned N, std::uint8_t Filter>
void UnfilterPixels(std::uint8_t* row, const std::uint8_t* prev, std::size_t length) {
    const __m128i low = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128();  // left
    __m128i c = _mm_setzero_si128();  // upper left
    for (std::size_t i = 0; i + N <= length; i += N) {
        const __m128i x = LoadPixel<N>(row + i);
        const __m128i b = LoadPixel<N>(prev + i);
        __m128i predicted = a;
        if constexpr (Filter == kFilterAverage) {
            predicted = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
        } else if constexpr (Filter == kFilterPaeth) {
            const __m128i pa = Abs16(_mm_sub_epi16(b, c));
            const __m128i pb = Abs16(_mm_sub_epi16(a, c));
            const __m128i pc = Abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
            const __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
            predicted =
                Select(_mm_cmpeq_epi16(least, pa), a, Select(_mm_cmpeq_epi16(least, pb), b, c));
        }
        a = _mm_and_si128(_mm_add_epi16(x, predicted), low);
        c = b;
        StorePixel<N>(row + i, a);
    }
}

void UnfilterUp(std::uint8_t* row, const std::uint8_t* prev, std::size_t length) {
    std::size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(x, b));
    }
    for (; i < length; ++i) row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
}

#endif

}  // namespace

void UnfilterRow(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* prev,
                 std::size_t length, unsigned pixelBytes) {
    if (filter == kFilterNone) return;
#if defined(__SSE2__)
    if (filter == kFilterUp) return UnfilterUp(row, prev, length);
    if (pixelBytes == 3 || pixelBytes == 4) {
        const bool three = pixelBytes == 3;
        if (filter == kFilterSub)
            return three ? UnfilterPixels<3, kFilterSub>(row, prev, length)
                         : UnfilterPixels<4, kFilterSub>(row, prev, length);
        if (filter == kFilterAverage)
            return three ? UnfilterPixels<3, kFilterAverage>(row, prev, length)
                         : UnfilterPixels<4, kFilterAverage>(row, prev, length);
        if (filter == kFilterPaeth)
            return three ? UnfilterPixels<3, kFilterPaeth>(row, prev, length)
                         : UnfilterPixels<4, kFilterPaeth>(row, prev, length);
    }
#endif
    UnfilterPlain(filter, row, prev, length, pixelBytes);
}

}  // namespace corvalis::detail
