// Whole rows of pixels as colours and indices, by the per-pixel packing of pixel_packing.h.
#include "platform/pictures/pixel_packing.h"

namespace pixel {
namespace {

template <TPixelFormat Format>
void ReadRowOf(const std::uint8_t *row, int width, const TPalette &palette, std::uint32_t *colours)
{
    for (int x = 0; x < width; ++x) colours[x] = Read<Format>(row, x, palette);
}

template <TPixelFormat Format>
void WriteRowOf(const std::uint32_t *colours, std::uint8_t *row, int width)
{
    for (int x = 0; x < width; ++x) Write<Format>(row, x, static_cast<TColor>(colours[x]));
}

} // namespace

void ReadRow(TPixelFormat format, const std::uint8_t *row, int width, const TPalette &palette, std::uint32_t *colours)
{
    switch (format) {
    case pf1bit: return ReadRowOf<pf1bit>(row, width, palette, colours);
    case pf4bit: return ReadRowOf<pf4bit>(row, width, palette, colours);
    case pf8bit: return ReadRowOf<pf8bit>(row, width, palette, colours);
    case pf15bit: return ReadRowOf<pf15bit>(row, width, palette, colours);
    case pf16bit: return ReadRowOf<pf16bit>(row, width, palette, colours);
    case pf24bit: return ReadRowOf<pf24bit>(row, width, palette, colours);
    default: return ReadRowOf<pf32bit>(row, width, palette, colours);
    }
}

void WriteRow(TPixelFormat format, const std::uint32_t *colours, std::uint8_t *row, int width)
{
    switch (format) {
    case pf15bit: return WriteRowOf<pf15bit>(colours, row, width);
    case pf16bit: return WriteRowOf<pf16bit>(colours, row, width);
    case pf24bit: return WriteRowOf<pf24bit>(colours, row, width);
    default: return WriteRowOf<pf32bit>(colours, row, width);
    }
}

void UnpackIndices(TPixelFormat format, const std::uint8_t *row, int width, std::uint8_t *indices)
{
    if (format == pf1bit)
        for (int x = 0; x < width; ++x) indices[x] = static_cast<std::uint8_t>(Index<pf1bit>(row, x));
    else if (format == pf4bit)
        for (int x = 0; x < width; ++x) indices[x] = static_cast<std::uint8_t>(Index<pf4bit>(row, x));
    else
        std::memcpy(indices, row, static_cast<std::size_t>(width));
}

void PackIndices(TPixelFormat format, const std::uint8_t *indices, std::uint8_t *row, int width)
{
    if (format == pf8bit) {
        std::memcpy(row, indices, static_cast<std::size_t>(width));
    } else if (format == pf4bit) {
        // Whole bytes at a time: the row is written, not merged.
        for (int x = 0; x < width; x += 2)
            row[x >> 1] = static_cast<std::uint8_t>((indices[x] << 4) | (x + 1 < width ? indices[x + 1] & 15 : 0));
    } else {
        for (int x = 0; x < width; x += 8) {
            int byte = 0;
            for (int i = 0; i < 8 && x + i < width; ++i) byte |= (indices[x + i] & 1) << (7 - i);
            row[x >> 3] = static_cast<std::uint8_t>(byte);
        }
    }
}

} // namespace pixel
