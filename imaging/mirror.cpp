// Mirror: the picture reversed left to right, in place.
#include "mirror.h"

#include "platform/base/parallel_pieces.h"
#include "platform/base/vector_kernels.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PW_MIRROR_X86 1
#endif

namespace {

// The ways one row can be computed.
using RowKernel = TVectorLevel;

// Reverses the order of the E-byte pixels in bytes [begin, end) of a row by
// swapping from both ends.
template <std::size_t E>
void PlainPixels(std::uint8_t *row, std::size_t begin, std::size_t end)
{
    if (end - begin < 2 * E) return;
    std::uint8_t *left = row + begin, *right = row + end - E;
    for (; left < right; left += E, right -= E) {
        std::uint8_t held[E];
        std::memcpy(held, left, E);
        std::memcpy(left, right, E);
        std::memcpy(right, held, E);
    }
}

// Single bytes go eight at a time through a byte swap of a 64-bit word.
void PlainBytes(std::uint8_t *row, std::size_t begin, std::size_t end)
{
    for (; end - begin >= 16; begin += 8, end -= 8) {
        std::uint64_t a, b;
        std::memcpy(&a, row + begin, 8);
        std::memcpy(&b, row + end - 8, 8);
        a = __builtin_bswap64(a);
        b = __builtin_bswap64(b);
        std::memcpy(row + begin, &b, 8);
        std::memcpy(row + end - 8, &a, 8);
    }
    PlainPixels<1>(row, begin, end);
}

void PlainRow(std::uint8_t *row, std::size_t pixelBytes, std::size_t bytes)
{
    switch (pixelBytes) {
    case 1: PlainBytes(row, 0, bytes); break;
    case 2: PlainPixels<2>(row, 0, bytes); break;
    case 3: PlainPixels<3>(row, 0, bytes); break;
    default: PlainPixels<4>(row, 0, bytes); break;
    }
}

#ifdef PW_MIRROR_X86
// The shuffle that reverses the E-byte pixels of one 16-byte register.
template <std::size_t E>
constexpr std::array<std::int8_t, 16> LaneReversal()
{
    std::array<std::int8_t, 16> mask{};
    for (std::size_t b = 0; b < 16; ++b) mask[b] = static_cast<std::int8_t>(E * (16 / E - 1 - b / E) + b % E);
    return mask;
}

// 1-, 2- and 4-byte pixels: 16 bytes from each end, each reversed in its register.
template <std::size_t E>
__attribute__((target("ssse3"))) void Ssse3Pixels(std::uint8_t *row, std::size_t end)
{
    static constexpr auto values = LaneReversal<E>();
    const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i *>(values.data()));
    std::size_t begin = 0;
    for (; end - begin >= 32; begin += 16, end -= 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + begin));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + end - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + begin), _mm_shuffle_epi8(b, mask));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + end - 16), _mm_shuffle_epi8(a, mask));
    }
    PlainPixels<E>(row, begin, end);
}

// 3-byte pixels: 16 of them fill three registers. Output register o is the
// OR of each input register r shuffled by TripleMasks[o][r] (-128 gives 0).
constexpr std::array<std::array<std::array<std::int8_t, 16>, 3>, 3> TripleMasks()
{
    std::array<std::array<std::array<std::int8_t, 16>, 3>, 3> masks{};
    for (std::size_t o = 0; o < 3; ++o)
        for (std::size_t r = 0; r < 3; ++r)
            for (std::size_t b = 0; b < 16; ++b) {
                const std::size_t out = 16 * o + b;
                const std::size_t source = 3 * (15 - out / 3) + out % 3;
                masks[o][r][b] = static_cast<std::int8_t>(source / 16 == r ? static_cast<int>(source % 16) : -128);
            }
    return masks;
}

__attribute__((target("ssse3"))) void Ssse3Triples(std::uint8_t *row, std::size_t end)
{
    static constexpr auto values = TripleMasks();
    auto mask = [](std::size_t o, std::size_t r) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(values[o][r].data()));
    };
    // Output 0 takes nothing from input 0, nor output 2 from input 2.
    const __m128i m01 = mask(0, 1), m02 = mask(0, 2), m10 = mask(1, 0), m11 = mask(1, 1), m12 = mask(1, 2),
                  m20 = mask(2, 0), m21 = mask(2, 1);
    std::size_t begin = 0;
    for (; end - begin >= 96; begin += 48, end -= 48) {
        std::uint8_t *left = row + begin, *right = row + end - 48;
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left + 16));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left + 32));
        const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right + 16));
        const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right + 32));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(left),
                         _mm_or_si128(_mm_shuffle_epi8(b1, m01), _mm_shuffle_epi8(b2, m02)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(left + 16),
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b0, m10), _mm_shuffle_epi8(b1, m11)),
                                      _mm_shuffle_epi8(b2, m12)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(left + 32),
                         _mm_or_si128(_mm_shuffle_epi8(b0, m20), _mm_shuffle_epi8(b1, m21)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(right),
                         _mm_or_si128(_mm_shuffle_epi8(a1, m01), _mm_shuffle_epi8(a2, m02)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(right + 16),
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a0, m10), _mm_shuffle_epi8(a1, m11)),
                                      _mm_shuffle_epi8(a2, m12)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(right + 32),
                         _mm_or_si128(_mm_shuffle_epi8(a0, m20), _mm_shuffle_epi8(a1, m21)));
    }
    PlainPixels<3>(row, begin, end);
}

void Ssse3Row(std::uint8_t *row, std::size_t pixelBytes, std::size_t bytes)
{
    switch (pixelBytes) {
    case 1: Ssse3Pixels<1>(row, bytes); break;
    case 2: Ssse3Pixels<2>(row, bytes); break;
    case 3: Ssse3Triples(row, bytes); break;
    default: Ssse3Pixels<4>(row, bytes); break;
    }
}

// 32 bytes of 1-, 2- or 4-byte pixels: reversed within each 128-bit lane,
// then the two lanes swapped.
template <std::size_t E>
__attribute__((target("avx2"))) void Avx2Pixels(std::uint8_t *row, std::size_t end)
{
    static constexpr auto values = LaneReversal<E>();
    const __m128i lane = _mm_loadu_si128(reinterpret_cast<const __m128i *>(values.data()));
    const __m256i mask = _mm256_broadcastsi128_si256(lane);
    std::size_t begin = 0;
    for (; end - begin >= 64; begin += 32, end -= 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + begin));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + end - 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(row + begin), _mm256_permute4x64_epi64(_mm256_shuffle_epi8(b, mask), 0x4E));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(row + end - 32), _mm256_permute4x64_epi64(_mm256_shuffle_epi8(a, mask), 0x4E));
    }
    Ssse3Pixels<E>(row + begin, end - begin);
}

__attribute__((target("avx2"))) void Avx2Row(std::uint8_t *row, std::size_t pixelBytes, std::size_t bytes)
{
    switch (pixelBytes) {
    case 1: Avx2Pixels<1>(row, bytes); break;
    case 2: Avx2Pixels<2>(row, bytes); break;
    case 3: Ssse3Triples(row, bytes); break;
    default: Avx2Pixels<4>(row, bytes); break;
    }
}
#endif

// pf1bit and pf4bit: bytes are reversed in order and within themselves
// (bit order, or the two nibbles), which mirrors the row's whole bit string;
// a shift to the left then drops the unused bits that came to the front.
constexpr std::array<std::uint8_t, 256> ReversedWithin(int bits)
{
    std::array<std::uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        int reversed = 0;
        for (int i = 0; i < 8; i += bits) reversed |= ((v >> i) & ((1 << bits) - 1)) << (8 - bits - i);
        table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(reversed);
    }
    return table;
}

void PackedRow(std::uint8_t *row, std::size_t width, int bits)
{
    static constexpr auto bitTable = ReversedWithin(1);
    static constexpr auto nibbleTable = ReversedWithin(4);
    const std::array<std::uint8_t, 256> &table = bits == 1 ? bitTable : nibbleTable;
    const std::size_t bytes = (width * static_cast<std::size_t>(bits) + 7) / 8;
    const int unused = static_cast<int>(bytes * 8 - width * static_cast<std::size_t>(bits));
    const int kept = row[bytes - 1] & ((1 << unused) - 1);
    std::size_t i = 0, j = bytes;
    for (; i + 1 < j; ++i, --j) {
        const std::uint8_t a = table[row[i]], b = table[row[j - 1]];
        row[i] = b;
        row[j - 1] = a;
    }
    if (i + 1 == j) row[i] = table[row[i]];
    if (unused == 0) return;
    for (std::size_t k = 0; k + 1 < bytes; ++k)
        row[k] = static_cast<std::uint8_t>((row[k] << unused) | (row[k + 1] >> (8 - unused)));
    row[bytes - 1] = static_cast<std::uint8_t>((row[bytes - 1] << unused) | kept);
}

constexpr TVectorKernels Kernels{RowKernel::Ssse3, RowKernel::Avx2};

} // namespace

void MirrorLeftRight(TBitmap &bitmap)
{
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const int bits = BitsPerPixel(bitmap.GetPixelFormat());
    const RowKernel kernel = Kernels.Chosen();
    if (width > 1) {
        const std::size_t pixelBytes = static_cast<std::size_t>(bits / 8);
        const std::size_t bytes = pixelBytes * static_cast<std::size_t>(width);
        ForEachBand(height, bitmap.BytesPerRow(), [&](const TBand &band, unsigned) {
            for (int y = band.first; y < band.end; ++y) {
                std::uint8_t *row = bitmap.Row(y);
                if (bits < 8) {
                    PackedRow(row, static_cast<std::size_t>(width), bits);
                    continue;
                }
                switch (kernel) {
#ifdef PW_MIRROR_X86
                case RowKernel::Ssse3: Ssse3Row(row, pixelBytes, bytes); break;
                case RowKernel::Avx2: Avx2Row(row, pixelBytes, bytes); break;
#endif
                default: PlainRow(row, pixelBytes, bytes); break;
                }
            }
        });
    }
    bitmap.Changed();
}
