// Pixels of every format packed and unpacked: the one place where a row's
// bytes become colours and colours become bytes, and where 5- and 6-bit
// channels are rounded. The layout of each format is stated in bitmap.h.
#pragma once

#include "platform/pictures/colour.h"
#include "platform/pictures/pixel_format.h"

#include <array>
#include <cstdint>
#include <cstring>

using TPalette = std::array<TColor, 256>;

// The palette of 8-bit grey pictures: entry i is the grey level i.
inline constexpr TPalette GreyLevels = [] {
    TPalette palette{};
    for (int i = 0; i < 256; ++i) palette[static_cast<std::size_t>(i)] = RGB(i, i, i);
    return palette;
}();

namespace pixel {

// The order of the channels in a colour value: TColor's 0x00BBGGRR, or
// 0x00RRGGBB, the order of Qt's RGB32 without its alpha.
enum class TOrder { Colour, Rgb };

template <TOrder Order>
constexpr std::uint32_t Pack(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return Order == TOrder::Colour ? r | g << 8 | b << 16 : r << 16 | g << 8 | b;
}

// 5- and 6-bit channels widened to round(v * 255 / max), so that the
// largest value reads as 255, and 8-bit ones narrowed to round(c * max / 255).
inline constexpr std::array<std::uint8_t, 32> From5 = [] {
    std::array<std::uint8_t, 32> t{};
    for (int v = 0; v < 32; ++v) t[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>((v * 255 + 15) / 31);
    return t;
}();
inline constexpr std::array<std::uint8_t, 64> From6 = [] {
    std::array<std::uint8_t, 64> t{};
    for (int v = 0; v < 64; ++v) t[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>((v * 255 + 31) / 63);
    return t;
}();
template <int Max>
inline constexpr std::array<std::uint8_t, 256> Narrowed = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>((c * Max + 127) / 255);
    return t;
}();
inline constexpr const std::array<std::uint8_t, 256> &To5 = Narrowed<31>;
inline constexpr const std::array<std::uint8_t, 256> &To6 = Narrowed<63>;

// The palette index of pixel x of a pf1bit, pf4bit or pf8bit row.
template <TPixelFormat Format>
inline unsigned Index(const std::uint8_t *row, int x)
{
    static_assert(HasPalette(Format));
    if constexpr (Format == pf1bit) return (row[x >> 3] >> (7 - (x & 7))) & 1;
    if constexpr (Format == pf4bit) return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
    return row[x];
}

// A byte of a pixel stored as char8_t: unlike a std::uint8_t store, the
// compiler may assume it changes no int, size or pointer, so a loop of
// SetPixel calls keeps the bitmap's size, format and row address in
// registers instead of reading them again after every pixel. Every other
// access to pixel bytes is through unsigned char or memcpy, which may
// access an object of any type.
inline void StoreByte(std::uint8_t *p, unsigned value)
{
    *reinterpret_cast<char8_t *>(p) = static_cast<char8_t>(value);
}

// The byte of a pf1bit or pf4bit row that holds pixel x, and that byte
// with the pixel's bits set to index (the other pixels keep theirs).
template <TPixelFormat Format>
inline int IndexByteOffset(int x)
{
    static_assert(Format == pf1bit || Format == pf4bit);
    return Format == pf1bit ? x >> 3 : x >> 1;
}
template <TPixelFormat Format>
inline unsigned WithIndex(const std::uint8_t *row, int x, unsigned index)
{
    static_assert(Format == pf1bit || Format == pf4bit);
    const unsigned byte = row[IndexByteOffset<Format>(x)];
    if constexpr (Format == pf1bit) {
        const int shift = 7 - (x & 7);
        return (byte & ~(1u << shift)) | ((index & 1) << shift);
    } else {
        const int shift = (x & 1) ? 0 : 4;
        return (byte & ~(15u << shift)) | ((index & 15) << shift);
    }
}

// Sets the index of pixel x; the row's other pixels keep theirs.
template <TPixelFormat Format>
inline void SetIndex(std::uint8_t *row, int x, unsigned index)
{
    static_assert(HasPalette(Format));
    if constexpr (Format == pf8bit)
        StoreByte(row + x, index);
    else
        StoreByte(row + IndexByteOffset<Format>(x), WithIndex<Format>(row, x, index));
}

// The three bytes B, G, R at p as a TColor. Reads four bytes: after a
// row's last pixel come padding or the next row, after the last row the
// bitmap's slack.
inline TColor FromBgr(const std::uint8_t *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return static_cast<TColor>(__builtin_bswap32(v) >> 8);
}

// Pixel x of a row as a colour in the given order; palette formats give
// their palette entry. (GetPixel reads pf24bit and pf32bit through FromBgr,
// one load a pixel, which suits its single reads.)
template <TPixelFormat Format, TOrder Order = TOrder::Colour>
inline std::uint32_t Read(const std::uint8_t *row, int x, const TPalette &palette)
{
    if constexpr (HasPalette(Format)) {
        const std::uint32_t c = static_cast<std::uint32_t>(palette[Index<Format>(row, x)]);
        return Order == TOrder::Colour ? c : Pack<TOrder::Rgb>(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    } else if constexpr (Format == pf15bit || Format == pf16bit) {
        const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        if constexpr (Format == pf15bit) return Pack<Order>(From5[(v >> 10) & 31], From5[(v >> 5) & 31], From5[v & 31]);
        return Pack<Order>(From5[(v >> 11) & 31], From6[(v >> 5) & 63], From5[v & 31]);
    } else {
        static_assert(Format == pf24bit || Format == pf32bit);
        // Byte by byte: loops over a row vectorise this form best.
        const std::uint8_t *p = row + (Format == pf24bit ? 3 : 4) * x;
        return Pack<Order>(p[2], p[1], p[0]);
    }
}

// A colour as the 16-bit value of a pf15bit or pf16bit pixel.
template <TPixelFormat Format>
inline unsigned Packed16(TColor colour)
{
    static_assert(Format == pf15bit || Format == pf16bit);
    const unsigned r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    return Format == pf15bit ? (To5[r] << 10) | (To5[g] << 5) | To5[b] : (To5[r] << 11) | (To6[g] << 5) | To5[b];
}

// The colour's three bytes B, G, R at p.
inline void WriteBgr(std::uint8_t *p, TColor colour)
{
    StoreByte(p, GetBValue(colour));
    StoreByte(p + 1, GetGValue(colour));
    StoreByte(p + 2, GetRValue(colour));
}

// Writes a colour as pixel x of a pf15bit, pf16bit, pf24bit or pf32bit row,
// its channels rounded to the format's bits; pf32bit pixels become opaque.
template <TPixelFormat Format>
inline void Write(std::uint8_t *row, int x, TColor colour)
{
    static_assert(!HasPalette(Format));
    if constexpr (Format == pf15bit || Format == pf16bit) {
        const unsigned v = Packed16<Format>(colour);
        StoreByte(row + 2 * x, v & 0xFF);
        StoreByte(row + 2 * x + 1, v >> 8);
    } else {
        std::uint8_t *p = row + (Format == pf24bit ? 3 : 4) * x;
        WriteBgr(p, colour);
        if constexpr (Format == pf32bit) StoreByte(p + 3, 0xFF);
    }
}

// The first `width` pixels of a row of any format as TColor values.
void ReadRow(TPixelFormat format, const std::uint8_t *row, int width, const TPalette &palette, std::uint32_t *colours);
// TColor values written as the first `width` pixels of a pf15bit, pf16bit,
// pf24bit or pf32bit row.
void WriteRow(TPixelFormat format, const std::uint32_t *colours, std::uint8_t *row, int width);
// The indices of the first `width` pixels of a pf1bit, pf4bit or pf8bit
// row, one a byte.
void UnpackIndices(TPixelFormat format, const std::uint8_t *row, int width, std::uint8_t *indices);
// Indices, one a byte, packed as the first `width` pixels of a pf1bit,
// pf4bit or pf8bit row; the bits of a last partial byte beyond them are 0.
void PackIndices(TPixelFormat format, const std::uint8_t *indices, std::uint8_t *row, int width);

} // namespace pixel
