// R, G, B to B, G, R: a byte shuffle with SSSE3 where present, else plain loops.
#include "platform/files/channel_order.h"

#include "platform/base/vector_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PW_HAVE_X86 1
#endif

namespace {

void SwapRedBlue24Plain(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i, in += 3, out += 3) {
        const std::uint8_t r = in[0], g = in[1], b = in[2];
        out[0] = b;
        out[1] = g;
        out[2] = r;
    }
}

void SwapRedBlue32Plain(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i, in += 4, out += 4) {
        const std::uint8_t r = in[0], g = in[1], b = in[2], a = in[3];
        out[0] = b;
        out[1] = g;
        out[2] = r;
        out[3] = a;
    }
}

#ifdef PW_HAVE_X86

// Five pixels (15 bytes) a step through a 16-byte shuffle whose last byte
// stays in place.
[[gnu::target("ssse3")]] void SwapRedBlue24Ssse3(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t i = 0;
    // Each step reads 16 bytes: stop while a whole 16 stay inside the pixels.
    for (; i + 6 <= pixels; i += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 3 * i));
        // The 16th byte, the next pixel's first, is written as it was read;
        // the next step (or the plain tail) writes that pixel.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 3 * i), _mm_shuffle_epi8(v, order));
    }
    SwapRedBlue24Plain(in + 3 * i, out + 3 * i, pixels - i);
}

[[gnu::target("ssse3")]] void SwapRedBlue32Ssse3(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    std::size_t i = 0;
    for (; i + 4 <= pixels; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * i), _mm_shuffle_epi8(v, order));
    }
    SwapRedBlue32Plain(in + 4 * i, out + 4 * i, pixels - i);
}

#endif

#ifdef PW_HAVE_X86
constexpr TVectorKernels Kernels{TVectorLevel::Ssse3};
#else
constexpr TVectorKernels Kernels{};
#endif

} // namespace

void SwapRedBlue24(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels)
{
#ifdef PW_HAVE_X86
    if (Kernels.Chosen() == TVectorLevel::Ssse3) return SwapRedBlue24Ssse3(in, out, pixels);
#endif
    SwapRedBlue24Plain(in, out, pixels);
}

void SwapRedBlue32(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels)
{
#ifdef PW_HAVE_X86
    if (Kernels.Chosen() == TVectorLevel::Ssse3) return SwapRedBlue32Ssse3(in, out, pixels);
#endif
    SwapRedBlue32Plain(in, out, pixels);
}
