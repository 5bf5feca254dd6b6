// The BMP file layout shared by our reader and writer: offsets, codes, byte order.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cstring>

#include "platform/base/huge_pages.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bmp {

// A file starts with a 14-byte file header, then one info header whose
// first 4 bytes give its own size, then (for 40-byte headers with bit
// fields) the masks, then the palette, then the pixels at PixelOffsetAt.
constexpr std::size_t FileHeaderBytes = 14;
constexpr std::size_t FileSizeAt = 2;
constexpr std::size_t PixelOffsetAt = 10;

// Info header sizes: the old OS/2 core header (16-bit sizes, 3-byte palette
// entries), the short and full OS/2 2.x headers, and the Windows family.
constexpr std::uint32_t CoreHeaderBytes = 12;
constexpr std::uint32_t Os2ShortHeaderBytes = 16;
constexpr std::uint32_t InfoHeaderBytes = 40;
constexpr std::uint32_t V2HeaderBytes = 52;
constexpr std::uint32_t V3HeaderBytes = 56;
constexpr std::uint32_t Os2HeaderBytes = 64;
constexpr std::uint32_t V4HeaderBytes = 108;
constexpr std::uint32_t V5HeaderBytes = 124;

// Field offsets inside an info header of 16 bytes or more.
constexpr std::size_t WidthAt = 4;
constexpr std::size_t HeightAt = 8;
constexpr std::size_t PlanesAt = 12;
constexpr std::size_t BitCountAt = 14;
constexpr std::size_t CompressionAt = 16;
constexpr std::size_t ImageSizeAt = 20;
constexpr std::size_t XPixelsPerMetreAt = 24;
constexpr std::size_t YPixelsPerMetreAt = 28;
constexpr std::size_t ColoursUsedAt = 32;
constexpr std::size_t MasksAt = 40;          // red, green, blue, then alpha at 52
constexpr std::size_t ColourSpaceAt = 56;
// In 108- and 124-byte headers: a calibrated space's endpoints (red,
// green, blue, each X, Y, Z in 2.30 fixed point) and gammas (16.16); in
// 124-byte ones the rendering intent and where the profile lies (from the
// info header's start) and its size.
constexpr std::size_t EndpointsAt = 60;
constexpr std::size_t GammasAt = 96;
constexpr std::size_t IntentAt = 108;
constexpr std::size_t ProfileDataAt = 112;
constexpr std::size_t ProfileSizeAt = 116;

enum Compression : std::uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3,      // in OS/2 2.x headers: Huffman 1D
    Jpeg = 4,           // in OS/2 2.x headers: RLE24
    Png = 5,
    AlphaBitFields = 6,
};

constexpr std::uint32_t SrgbColourSpace = 0x73524742;   // "sRGB" read as a little-endian number
constexpr std::uint32_t CalibratedColourSpace = 0;
constexpr std::uint32_t EmbeddedColourSpace = 0x4D424544; // "MBED"
constexpr std::uint32_t PictureIntent = 4;               // LCS_GM_IMAGES: perceptual
constexpr std::int32_t PixelsPerMetre = 2835;            // 72 pixels an inch

inline std::uint16_t GetU16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t GetU32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t GetI32(const std::uint8_t *p) { return static_cast<std::int32_t>(GetU32(p)); }

inline void PutU16(std::uint8_t *p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t *p, std::uint32_t v)
{
    PutU16(p, v);
    PutU16(p + 2, v >> 16);
}

// Copies a row's bytes with vector moves. memcpy of a few kilobytes turns
// to a string move whose speed on some processors depends on how source and
// target lie relative to each other: up to five times slower.
inline void CopyRow(std::uint8_t *dst, const std::uint8_t *src, std::size_t bytes)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 64 <= bytes; i += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 48));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), a);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i + 16), b);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i + 32), c);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i + 48), d);
    }
#endif
    std::memcpy(dst + i, src + i, bytes - i);
}

} // namespace bmp
