// PNG row unfiltering: plain loops, and SSE2 kernels (every x86-64 has
// them) for the common 3 and 4 bytes a pixel, a pixel at a time, as each
// pixel needs the one to its left.
#include "platform/files/png/png_unfilter.h"

#include "platform/base/vector_kernels.h"
#include "platform/files/png/png_filters.h"
#include "platform/files/png/png_paeth.h"

#include <cstring>

namespace {

// Bytes [from, bytes) of a row, plainly; the bytes before `from` are done.
void UnfilterTail(TPngFilter filter, const std::uint8_t *in, const std::uint8_t *prior, std::size_t from, std::size_t bytes,
                  std::size_t step, std::uint8_t *out)
{
    switch (filter) {
    case TPngFilter::None: std::memcpy(out + from, in + from, bytes - from); return;
    case TPngFilter::Up:
        for (std::size_t i = from; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(in[i] + prior[i]);
        return;
    case TPngFilter::Sub:
        for (std::size_t i = from; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(in[i] + (i >= step ? out[i - step] : 0));
        return;
    case TPngFilter::Average:
        for (std::size_t i = from; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + (((i >= step ? out[i - step] : 0u) + prior[i]) >> 1));
        return;
    case TPngFilter::Paeth:
        for (std::size_t i = from; i < bytes; ++i) {
            const int a = i >= step ? out[i - step] : 0, c = i >= step ? prior[i - step] : 0;
            out[i] = static_cast<std::uint8_t>(in[i] + PaethPredictor(a, prior[i], c));
        }
        return;
    }
}

#if defined(__SSE2__)
// A pixel's bytes in the low bytes of a vector: always 4 bytes are read,
// one load (3 read one at a time and joined would stall the next load).
inline __m128i LoadPixel(const std::uint8_t *p)
{
    int v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}
template <int Step>
inline void StorePixel(std::uint8_t *p, __m128i v)
{
    const int bytes = _mm_cvtsi128_si32(v);
    std::memcpy(p, &bytes, Step);
}

// The row's pixels a pixel at a time, but for the last of 3 bytes, whose
// load would read past the row; returns the bytes done.
template <int Step>
std::size_t UnfilterPixels(TPngFilter filter, const std::uint8_t *in, const std::uint8_t *prior, std::size_t bytes, std::uint8_t *out)
{
    const std::size_t whole = bytes - bytes % Step;
    const std::size_t end = Step == 4 || whole == 0 ? whole : whole - Step;
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero; // the unfiltered pixel to the left
    switch (filter) {
    case TPngFilter::Sub:
        for (std::size_t i = 0; i < end; i += Step) {
            a = _mm_add_epi8(a, LoadPixel(in + i));
            StorePixel<Step>(out + i, a);
        }
        return end;
    case TPngFilter::Average:
        for (std::size_t i = 0; i < end; i += Step) {
            const __m128i b = LoadPixel(prior + i);
            // floor((a + b) / 2): the rounded-up mean less the odd bit.
            const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
            a = _mm_add_epi8(mean, LoadPixel(in + i));
            StorePixel<Step>(out + i, a);
        }
        return end;
    case TPngFilter::Paeth: {
        __m128i a16 = zero, c16 = zero;
        for (std::size_t i = 0; i < end; i += Step) {
            const __m128i b16 = _mm_unpacklo_epi8(LoadPixel(prior + i), zero);
            const __m128i predicted = PaethPredictor16(a16, b16, c16);
            const __m128i pixel = _mm_add_epi8(_mm_packus_epi16(predicted, predicted), LoadPixel(in + i));
            StorePixel<Step>(out + i, pixel);
            a16 = _mm_unpacklo_epi8(pixel, zero);
            c16 = b16;
        }
        return end;
    }
    default: return 0;
    }
}

constexpr TVectorKernels Kernels{TVectorLevel::Sse2};
#endif

} // namespace

bool UnfilterPngRow(unsigned filter, const std::uint8_t *filtered, const std::uint8_t *prior, std::size_t bytes, int step,
                    std::uint8_t *out)
{
    if (filter > static_cast<unsigned>(TPngFilter::Paeth)) return false;
    const auto type = static_cast<TPngFilter>(filter);
    std::size_t done = 0;
#if defined(__SSE2__)
    if ((step == 3 || step == 4) && Kernels.Chosen() == TVectorLevel::Sse2)
        done = step == 3 ? UnfilterPixels<3>(type, filtered, prior, bytes, out) : UnfilterPixels<4>(type, filtered, prior, bytes, out);
#endif
    UnfilterTail(type, filtered, prior, done, bytes, static_cast<std::size_t>(step), out);
    return true;
}
