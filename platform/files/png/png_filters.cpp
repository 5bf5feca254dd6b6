// PNG row filters: SSE2 kernels (every x86-64 has them) and plain loops.
#include "platform/files/png/png_filters.h"

#include "platform/base/vector_kernels.h"
#include "platform/files/png/png_paeth.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline std::uint8_t Size(std::uint8_t b) { return b < 128 ? b : static_cast<std::uint8_t>(256 - b); }


inline std::uint8_t Predict(TPngFilter filter, int a, int b, int c)
{
    switch (filter) {
    case TPngFilter::None: return 0;
    case TPngFilter::Sub: return static_cast<std::uint8_t>(a);
    case TPngFilter::Up: return static_cast<std::uint8_t>(b);
    case TPngFilter::Average: return static_cast<std::uint8_t>((a + b) >> 1);
    case TPngFilter::Paeth: return PaethPredictor(a, b, c);
    }
    return 0;
}

// Bytes from `from` on, plainly.
std::uint64_t FilterTail(TPngFilter filter, const std::uint8_t *row, const std::uint8_t *prior, std::size_t from, std::size_t bytes,
                         std::size_t step, std::uint8_t *out)
{
    std::uint64_t sum = 0;
    for (std::size_t i = from; i < bytes; ++i) {
        const int a = i >= step ? row[i - step] : 0;
        const int c = i >= step ? prior[i - step] : 0;
        out[i] = static_cast<std::uint8_t>(row[i] - Predict(filter, a, prior[i], c));
        sum += Size(out[i]);
    }
    return sum;
}

#if defined(__SSE2__)
inline __m128i Load(const std::uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

std::uint64_t FilterSse2(TPngFilter filter, const std::uint8_t *row, const std::uint8_t *prior, std::size_t bytes, std::size_t step,
                         std::uint8_t *out)
{
    // The first pixel has no left neighbour: plainly; then 16 bytes a step.
    const std::size_t head = step < bytes ? step : bytes;
    std::uint64_t sum = FilterTail(filter, row, prior, 0, head, step, out);
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    std::size_t i = head;
    for (; i + 16 <= bytes; i += 16) {
        const __m128i x = Load(row + i);
        __m128i predicted = zero;
        switch (filter) {
        case TPngFilter::None: break;
        case TPngFilter::Sub: predicted = Load(row + i - step); break;
        case TPngFilter::Up: predicted = Load(prior + i); break;
        case TPngFilter::Average: {
            const __m128i a = Load(row + i - step), b = Load(prior + i);
            // avg_epu8 rounds up; the filter rounds down.
            predicted = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
            break;
        }
        case TPngFilter::Paeth: {
            const __m128i a = Load(row + i - step), b = Load(prior + i), c = Load(prior + i - step);
            const __m128i low = PaethPredictor16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
            const __m128i high = PaethPredictor16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
            predicted = _mm_packus_epi16(low, high);
            break;
        }
        }
        const __m128i filtered = _mm_sub_epi8(x, predicted);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), filtered);
        sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_min_epu8(filtered, _mm_sub_epi8(zero, filtered)), zero));
    }
    sum += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) + static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    return sum + FilterTail(filter, row, prior, i, bytes, step, out);
}

constexpr TVectorKernels Kernels{TVectorLevel::Sse2};
#endif

} // namespace

std::uint64_t FilterPngRow(TPngFilter filter, const std::uint8_t *row, const std::uint8_t *prior, std::size_t bytes, int step,
                           std::uint8_t *out)
{
#if defined(__SSE2__)
    if (Kernels.Chosen() == TVectorLevel::Sse2) return FilterSse2(filter, row, prior, bytes, static_cast<std::size_t>(step), out);
#endif
    return FilterTail(filter, row, prior, 0, bytes, static_cast<std::size_t>(step), out);
}

void FilterPngRowAdaptively(const std::uint8_t *row, const std::uint8_t *prior, std::size_t bytes, int step, std::uint8_t *out,
                            std::uint8_t *scratch)
{
    static constexpr TPngFilter Candidates[] = {TPngFilter::Sub, TPngFilter::Up, TPngFilter::Average, TPngFilter::Paeth};
    std::uint64_t best = 0;
    for (std::size_t i = 0; i < bytes; ++i) best += Size(row[i]);
    int chosen = -1;
    for (int k = 0; k < 4; ++k) {
        const std::uint64_t sum = FilterPngRow(Candidates[k], row, prior, bytes, step, scratch + static_cast<std::size_t>(k) * bytes);
        if (sum < best) best = sum, chosen = k;
    }
    out[0] = static_cast<std::uint8_t>(chosen < 0 ? TPngFilter::None : Candidates[chosen]);
    std::memcpy(out + 1, chosen < 0 ? row : scratch + static_cast<std::size_t>(chosen) * bytes, bytes);
}
