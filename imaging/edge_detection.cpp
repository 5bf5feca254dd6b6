// Edge detection: the clamped 3 x 3 Laplacian of a picture's row bytes, in place.
#include "edge_detection.h"

#include "platform/base/parallel_pieces.h"
#include "platform/base/vector_kernels.h"

#include <algorithm>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PW_EDGE_X86 1
#endif

namespace {

// The ways one row can be computed.
using RowKernel = TVectorLevel;

// The picture's result is 9 * centre - (sum of the 3 x 3 block). Each row's
// three-byte horizontal sums are made once, while the row is still original,
// and the block sum of a row is the sums of the rows above, at and below it.

// sums[x] = row[x - 1] + row[x] + row[x + 1] for begin <= x < end, inside the row.
void PlainSums(const std::uint8_t *row, std::uint16_t *sums, std::size_t begin, std::size_t end)
{
    for (std::size_t x = begin; x < end; ++x) sums[x] = static_cast<std::uint16_t>(row[x - 1] + row[x] + row[x + 1]);
}

// The first and last sums take their missing neighbour from the other end.
void WrappedSums(const std::uint8_t *row, std::uint16_t *sums, std::size_t count)
{
    const std::size_t last = count - 1;
    sums[0] = static_cast<std::uint16_t>(row[last] + row[0] + row[count > 1 ? 1 : 0]);
    if (count > 1) sums[last] = static_cast<std::uint16_t>(row[last - 1] + row[last] + row[0]);
}

void PlainCombine(const std::uint16_t *above, const std::uint16_t *centre, const std::uint16_t *below,
                  std::uint8_t *row, std::size_t begin, std::size_t count)
{
    for (std::size_t x = begin; x < count; ++x) {
        const int v = 9 * row[x] - (above[x] + centre[x] + below[x]);
        row[x] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
    }
}

#ifdef PW_EDGE_X86
// 16 sums a step; the three loads stay inside the row.
void Sse2Sums(const std::uint8_t *row, std::uint16_t *sums, std::size_t count)
{
    const __m128i zero = _mm_setzero_si128();
    std::size_t x = 1;
    for (; x + 16 < count; x += 16) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x - 1));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x + 1));
        const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(l, zero), _mm_unpacklo_epi8(m, zero)),
                                         _mm_unpacklo_epi8(r, zero));
        const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(l, zero), _mm_unpackhi_epi8(m, zero)),
                                         _mm_unpackhi_epi8(r, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(sums + x), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(sums + x + 8), hi);
    }
    PlainSums(row, sums, x, count - 1);
}

// 16 results a step in 16-bit lanes: 9 * centre - block lies in
// -2295..2295, and the signed-to-unsigned saturating pack is the clamp.
void Sse2Combine(const std::uint16_t *above, const std::uint16_t *centre, const std::uint16_t *below,
                 std::uint8_t *row, std::size_t count)
{
    const __m128i zero = _mm_setzero_si128();
    auto load = [](const std::uint16_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    std::size_t x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x));
        __m128i result[2];
        for (int half = 0; half < 2; ++half) {
            const std::size_t at = x + 8 * static_cast<std::size_t>(half);
            const __m128i c = half ? _mm_unpackhi_epi8(bytes, zero) : _mm_unpacklo_epi8(bytes, zero);
            const __m128i block = _mm_add_epi16(_mm_add_epi16(load(above + at), load(centre + at)), load(below + at));
            result[half] = _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(c, 3), c), block);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + x), _mm_packus_epi16(result[0], result[1]));
    }
    PlainCombine(above, centre, below, row, x, count);
}

// 16 bytes widened to 16-bit lanes, in order.
__attribute__((target("avx2"), always_inline)) inline __m256i Widen(const std::uint8_t *p)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

__attribute__((target("avx2"), always_inline)) inline __m256i Load(const std::uint16_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

__attribute__((target("avx2"))) void Avx2Sums(const std::uint8_t *row, std::uint16_t *sums, std::size_t count)
{
    std::size_t x = 1;
    for (; x + 16 < count; x += 16) {
        const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(Widen(row + x - 1), Widen(row + x)), Widen(row + x + 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(sums + x), sum);
    }
    PlainSums(row, sums, x, count - 1);
}

// 32 results a step; the pack works within 128-bit lanes, and the
// permutation puts its quarters back in order.
__attribute__((target("avx2"))) void Avx2Combine(const std::uint16_t *above, const std::uint16_t *centre,
                                                 const std::uint16_t *below, std::uint8_t *row, std::size_t count)
{
    std::size_t x = 0;
    for (; x + 32 <= count; x += 32) {
        const __m256i c0 = Widen(row + x), c1 = Widen(row + x + 16);
        const __m256i block0 = _mm256_add_epi16(_mm256_add_epi16(Load(above + x), Load(centre + x)), Load(below + x));
        const __m256i block1 = _mm256_add_epi16(_mm256_add_epi16(Load(above + x + 16), Load(centre + x + 16)),
                                                Load(below + x + 16));
        const __m256i v0 = _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(c0, 3), c0), block0);
        const __m256i v1 = _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(c1, 3), c1), block1);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v0, v1), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(row + x), packed);
    }
    PlainCombine(above, centre, below, row, x, count);
}
#endif

constexpr TVectorKernels Kernels{RowKernel::Sse2, RowKernel::Avx2};

void Sums(RowKernel kernel, const std::uint8_t *row, std::uint16_t *sums, std::size_t count)
{
    WrappedSums(row, sums, count);
    switch (kernel) {
#ifdef PW_EDGE_X86
    case RowKernel::Sse2: Sse2Sums(row, sums, count); return;
    case RowKernel::Avx2: Avx2Sums(row, sums, count); return;
#endif
    default: if (count > 2) PlainSums(row, sums, 1, count - 1); return;
    }
}

void Combine(RowKernel kernel, const std::uint16_t *above, const std::uint16_t *centre, const std::uint16_t *below,
             std::uint8_t *row, std::size_t count)
{
    switch (kernel) {
#ifdef PW_EDGE_X86
    case RowKernel::Sse2: Sse2Combine(above, centre, below, row, count); return;
    case RowKernel::Avx2: Avx2Combine(above, centre, below, row, count); return;
#endif
    default: PlainCombine(above, centre, below, row, 0, count); return;
    }
}

} // namespace

void EdgeDetection(TBitmap &bitmap)
{
    const RowKernel kernel = Kernels.Chosen();
    const int height = bitmap.GetHeight();
    const std::size_t pixelBytes = (static_cast<std::size_t>(bitmap.GetWidth()) * BitsPerPixel(bitmap.GetPixelFormat()) + 7) / 8;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(bitmap.GetWidth()), pixelBytes);
    if (height == 0 || count == 0) return bitmap.Changed();
    const std::size_t stride = bitmap.BytesPerRow();

    // Bands of rows on every core. A band's first and last rows need the
    // rows just outside it as they were, which other bands overwrite: the
    // sums of those rows (the periodic neighbours at the picture's top and
    // bottom) are made first, before any row is written. Bands of a few
    // rows at least keep them a small part of the picture's size.
    constexpr int minRows = 8;
    const int bands = BandCount(height, stride, minRows);
    std::vector<std::uint16_t> outside(2 * static_cast<std::size_t>(bands) * count);
    const auto above = [&](int band) { return outside.data() + 2 * static_cast<std::size_t>(band) * count; };
    const auto below = [&](int band) { return above(band) + count; };
    ForEachBand(height, stride, [&](const TBand &band, unsigned) {
        Sums(kernel, bitmap.Row((band.first + height - 1) % height), above(band.index), count);
        Sums(kernel, bitmap.Row(band.end % height), below(band.index), count);
    }, minRows);

    // Within a band three buffers take turns as the sums of the rows above,
    // at and below the one being written; a row's sums are made before the
    // row is overwritten.
    std::vector<std::uint16_t> storage(3 * static_cast<std::size_t>(WorkerThreads()) * count);
    ForEachBand(height, stride, [&](const TBand &band, unsigned worker) {
        std::uint16_t *const spare[3] = {storage.data() + 3 * worker * count, storage.data() + (3 * worker + 1) * count,
                                         storage.data() + (3 * worker + 2) * count};
        auto unused = [&](const std::uint16_t *p, const std::uint16_t *q) {
            for (std::uint16_t *buffer : spare)
                if (buffer != p && buffer != q) return buffer;
            return spare[0];
        };
        const std::uint16_t *up = above(band.index);
        std::uint16_t *centre = spare[0];
        Sums(kernel, bitmap.Row(band.first), centre, count);
        for (int y = band.first; y < band.end; ++y) {
            const std::uint16_t *down = below(band.index);
            std::uint16_t *next = nullptr;
            if (y + 1 < band.end) {
                next = unused(up, centre);
                Sums(kernel, bitmap.Row(y + 1), next, count);
                down = next;
            }
            Combine(kernel, up, centre, down, bitmap.Row(y), count);
            up = centre;
            centre = next;
        }
    }, minRows);
    bitmap.Changed();
}
