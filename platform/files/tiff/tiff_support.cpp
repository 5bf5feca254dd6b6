// Reading TIFF tags and stated byte counts.
#include "platform/files/tiff/tiff_support.h"

#include "platform/files/tiff/tiff_file.h"

#include <algorithm>
#include <optional>

std::vector<std::uint64_t> DeclaredByteCounts(const TTiffFile &file, ttag_t wanted)
{
    std::uint8_t order = 0;
    if (!file.Read(0, std::span(&order, 1))) return {};
    const bool big = order == 'M';
    const auto read = [&](std::uint64_t at, int size) -> std::optional<std::uint64_t> {
        std::uint8_t bytes[8];
        if (!file.Read(at, std::span(bytes, static_cast<std::size_t>(size)))) return std::nullopt;
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i) value |= std::uint64_t(bytes[big ? size - 1 - i : i]) << (8 * i);
        return value;
    };
    const auto magic = read(2, 2);
    if (!magic || (*magic != 42 && *magic != 43)) return {};
    // Classic TIFF: 2-byte entry counts, 12-byte entries, 4-byte counts and
    // values; BigTIFF: 8, 20, 8 and 8.
    const bool classic = *magic == 42;
    const int wordSize = classic ? 4 : 8, entrySize = classic ? 12 : 20;
    const auto directory = read(classic ? 4 : 8, wordSize);
    const auto entries = directory ? read(*directory, classic ? 2 : 8) : std::nullopt;
    if (!entries) return {};
    const std::uint64_t first = *directory + (classic ? 2 : 8);
    for (std::uint64_t e = 0; e < *entries; ++e) {
        const std::uint64_t entry = first + e * std::uint64_t(entrySize);
        const auto tag = read(entry, 2), type = read(entry + 2, 2), count = read(entry + 4, wordSize);
        if (!tag || !type || !count) return {};
        if (*tag != wanted) continue;
        const int size = *type == TIFF_SHORT ? 2 : *type == TIFF_LONG ? 4 : *type == TIFF_LONG8 ? 8 : 0;
        if (size == 0 || *count > file.Size() / std::uint64_t(size)) return {};
        // Values that fit are held in the entry itself, others where it points.
        std::optional<std::uint64_t> values = entry + 4 + std::uint64_t(wordSize);
        if (*count * std::uint64_t(size) > std::uint64_t(wordSize)) values = read(*values, wordSize);
        std::vector<std::uint64_t> counts;
        for (std::uint64_t i = 0; values && i < *count; ++i) {
            const auto value = read(*values + i * std::uint64_t(size), size);
            if (!value) return {};
            counts.push_back(*value);
        }
        return counts;
    }
    return {};
}

TStatedRows::TStatedRows(TIFF *tiff, const TTiffFile &file, std::uint64_t rowBytes) : tiff_(tiff), rowBytes_(rowBytes)
{
    if (Field<std::uint16_t>(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) != COMPRESSION_NONE || TIFFIsTiled(tiff)) return;
    declared_ = DeclaredByteCounts(file, TIFFTAG_STRIPBYTECOUNTS);
    const std::uint32_t height = std::max<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_IMAGELENGTH, 1), 1);
    const bool apart = Field<std::uint16_t>(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_SEPARATE;
    // One strip stated holds every row, whatever RowsPerStrip says.
    rowsPerStrip_ = declared_.size() == 1 ? height : std::clamp<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, height), 1, height);
    stripsPerPlane_ = apart ? (height + rowsPerStrip_ - 1) / rowsPerStrip_ : declared_.size();
}

bool TStatedRows::Holds(std::uint32_t y, std::uint16_t plane) const
{
    const std::uint64_t strip = std::uint64_t(plane) * stripsPerPlane_ + y / rowsPerStrip_;
    if (strip >= declared_.size()) return true;
    // An unstated count leaves the data to the directory.
    std::uint64_t data = declared_[strip] != 0 ? declared_[strip] : ~std::uint64_t(0);
    const std::uint64_t at = TIFFGetStrileOffset(tiff_, declared_.size() == 1 ? 0 : static_cast<std::uint32_t>(strip));
    if (at < TIFFCurrentDirOffset(tiff_)) data = std::min(data, TIFFCurrentDirOffset(tiff_) - at);
    return (y % rowsPerStrip_ + 1) * rowBytes_ <= data;
}
