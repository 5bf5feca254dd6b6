// Reading TIFF pictures of 8-bit grey or RGB strips through libtiff,
// straight into the bitmap's rows.
#include "platform/files/tiff/tiff_codec.h"

#include "platform/base/work_progress.h"
#include "platform/files/channel_order.h"
#include "platform/files/opening_limits.h"
#include "platform/files/qt/qt_codec.h"
#include "platform/files/reader_metadata.h"
#include "platform/files/tiff/tiff_metadata.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The file in memory, as libtiff's reading procedures see it.
struct MemoryFile {
    std::span<const std::uint8_t> bytes;
    toff_t at = 0;
};

tmsize_t ReadFile(thandle_t handle, void *into, tmsize_t size)
{
    auto *file = static_cast<MemoryFile *>(handle);
    if (size < 0 || file->at >= file->bytes.size()) return 0;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(size), file->bytes.size() - file->at);
    std::memcpy(into, file->bytes.data() + file->at, count);
    file->at += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t WriteNothing(thandle_t, void *, tmsize_t) { return -1; }
toff_t SeekFile(thandle_t handle, toff_t offset, int whence)
{
    auto *file = static_cast<MemoryFile *>(handle);
    const toff_t base = whence == SEEK_CUR ? file->at : whence == SEEK_END ? file->bytes.size() : 0;
    if (offset > ~toff_t(0) - base) return ~toff_t(0);
    file->at = base + offset;
    return file->at;
}
int CloseNothing(thandle_t) { return 0; }
toff_t FileSize(thandle_t handle) { return static_cast<MemoryFile *>(handle)->bytes.size(); }
int MapNothing(thandle_t, void **, toff_t *) { return 0; }
void UnmapNothing(thandle_t, void *, toff_t) {}

// libtiff's messages are not printed: a failure is reported as damage.
int Silent(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct TiffClose {
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
struct OptionsFree {
    void operator()(TIFFOpenOptions *options) const { TIFFOpenOptionsFree(options); }
};

template <typename T>
T Field(TIFF *tiff, ttag_t tag, T fallback)
{
    T value = fallback;
    return TIFFGetFieldDefaulted(tiff, tag, &value) == 1 ? value : fallback;
}

// The byte count of each strip as the first directory gives it, or none
// when it gives none that can be read. libtiff puts its own reckoning in
// place of counts that look wrong to it (a single strip's count short of
// its rows, unequal counts of uncompressed strips), and would then read the
// bytes after a strip (the next strip, the directory) as its pixels.
std::vector<std::uint64_t> DeclaredStripBytes(std::span<const std::uint8_t> bytes)
{
    const bool big = bytes[0] == 'M';
    const auto read = [&](std::uint64_t at, int size) -> std::optional<std::uint64_t> {
        if (at > bytes.size() || std::uint64_t(size) > bytes.size() - at) return std::nullopt;
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i) value |= std::uint64_t(bytes[at + std::size_t(big ? size - 1 - i : i)]) << (8 * i);
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
        if (*tag != TIFFTAG_STRIPBYTECOUNTS) continue;
        const int size = *type == TIFF_SHORT ? 2 : *type == TIFF_LONG ? 4 : *type == TIFF_LONG8 ? 8 : 0;
        if (size == 0 || *count > bytes.size() / std::uint64_t(size)) return {};
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

// Whether the uncompressed data of a TIFF left to Qt's reader is shorter
// than its strips or tiles take: libtiff would read on past it, showing
// bytes from outside the picture's data, and Qt cannot give the rows
// before it alone.
bool UncompressedDataShort(TIFF *tiff, std::span<const std::uint8_t> bytes)
{
    if (Field<std::uint16_t>(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) != COMPRESSION_NONE) return false;
    if (TIFFIsTiled(tiff)) {
        for (std::uint32_t tile = 0; tile < TIFFNumberOfTiles(tiff); ++tile)
            if (TIFFGetStrileByteCount(tiff, tile) < TIFFTileSize64(tiff)) return true;
        return false;
    }
    const std::vector<std::uint64_t> declared = DeclaredStripBytes(bytes);
    const std::uint32_t height = Field<std::uint32_t>(tiff, TIFFTAG_IMAGELENGTH, 0);
    const std::uint32_t rowsPerStrip = declared.size() == 1 ? height : std::clamp<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, height), 1, std::max(height, 1u));
    const bool apart = Field<std::uint16_t>(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_SEPARATE;
    const std::uint64_t stripsPerPlane = (std::uint64_t(height) + rowsPerStrip - 1) / rowsPerStrip;
    for (std::size_t strip = 0; strip < declared.size(); ++strip) {
        const std::uint64_t first = (apart ? strip % stripsPerPlane : strip) * rowsPerStrip;
        if (declared[strip] != 0 && first < height && declared[strip] < TIFFVStripSize64(tiff, std::min<std::uint64_t>(rowsPerStrip, height - first)))
            return true;
    }
    return false;
}

} // namespace

bool LooksLikeTiff(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 4 && ((bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) ||
                                 (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42));
}

TRowsMissing DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    MemoryFile file{bytes};
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Silent, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Silent, nullptr);
    const std::unique_ptr<TIFF, TiffClose> owner(
        TIFFClientOpenExt("picture", "rm", &file, ReadFile, WriteNothing, SeekFile, CloseNothing, FileSize, MapNothing, UnmapNothing, options.get()));
    // A file libtiff cannot open gets Qt's verdict, as before.
    if (!owner) return DecodeWithQt(bytes, into);
    TIFF *tiff = owner.get();

    const auto width = Field<std::uint32_t>(tiff, TIFFTAG_IMAGEWIDTH, 0), height = Field<std::uint32_t>(tiff, TIFFTAG_IMAGELENGTH, 0);
    const auto samples = Field<std::uint16_t>(tiff, TIFFTAG_SAMPLESPERPIXEL, 0);
    const auto photometric = Field<std::uint16_t>(tiff, TIFFTAG_PHOTOMETRIC, 0xFFFF);
    const bool plain = !TIFFIsTiled(tiff) && Field<std::uint16_t>(tiff, TIFFTAG_BITSPERSAMPLE, 0) == 8 &&
                       Field<std::uint16_t>(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) == SAMPLEFORMAT_UINT &&
                       Field<std::uint16_t>(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_CONTIG &&
                       ((samples == 1 && photometric == PHOTOMETRIC_MINISBLACK) || (samples == 3 && photometric == PHOTOMETRIC_RGB)) &&
                       width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX;
    if (!plain) {
        if (UncompressedDataShort(tiff, bytes)) throw Exception(DamagedData());
        const TPictureMetadata found = TiffMetadata(tiff, bytes);
        TBitmap read;
        const TRowsMissing missing = DecodeWithQt(bytes, read);
        KeepFoundMetadata(read, found);
        into.TakeOver(read);
        return missing;
    }

    const bool colour = samples == 3;
    const TPixelFormat format = colour ? pf24bit : pf8bit;
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    CheckPictureFits(w, h, format);
    const std::size_t rowBytes = static_cast<std::size_t>(w) * samples;
    // libtiff holds one strip's bytes as the file has them while it decodes
    // the strip's rows, which come one at a time.
    std::uint64_t stripBytes = 0;
    for (std::uint32_t strip = 0; strip < TIFFNumberOfStrips(tiff); ++strip)
        stripBytes = std::max<std::uint64_t>(stripBytes, std::min<std::uint64_t>(TIFFGetStrileByteCount(tiff, strip), bytes.size()));
    const std::uint64_t pictureBytes = TBitmap::RowBytes(w, format) * std::uint64_t(h);
    CheckOpeningMemory(w, h, QStringLiteral("TIFF"), bytes.size() + pictureBytes + stripBytes + rowBytes, pictureBytes);
    // The rows of uncompressed strips lie where the file says: each within
    // its strip's byte count (libtiff may have put its own in its place, or
    // cut one strip into many) and before the directory.
    const bool uncompressed = Field<std::uint16_t>(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == COMPRESSION_NONE;
    const std::vector<std::uint64_t> declared = uncompressed ? DeclaredStripBytes(bytes) : std::vector<std::uint64_t>();
    const std::uint64_t fileRowsPerStrip =
        declared.size() == 1 ? height : std::clamp<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, height), 1, height);
    const auto inData = [&](std::uint32_t y) {
        const std::uint64_t strip = y / fileRowsPerStrip;
        if (strip >= declared.size()) return true;
        // An unstated count leaves the data to the directory.
        std::uint64_t data = declared[strip] != 0 ? declared[strip] : ~std::uint64_t(0);
        const std::uint64_t at = TIFFGetStrileOffset(tiff, declared.size() == 1 ? 0 : static_cast<std::uint32_t>(strip));
        if (at < TIFFCurrentDirOffset(tiff)) data = std::min(data, TIFFCurrentDirOffset(tiff) - at);
        return (y % fileRowsPerStrip + 1) * rowBytes <= data;
    };

    TBitmap bitmap;
    AllocateDecoded(bitmap, w, h, format);
    if (!colour) bitmap.SetPalette(GreyLevels);
    // Rows are asked for one by one, strip after strip: a row the decoder
    // cannot give (its strip ends early, or is damaged) is missing, and so
    // are the rest of its strip; the next strip starts afresh.
    const std::uint32_t rowsPerStrip = std::clamp<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, height), 1, height);
    std::vector<std::uint8_t> row(rowBytes);
    int missing = 0;
    bool stripLost = false;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (y % rowsPerStrip == 0) stripLost = false;
        stripLost = stripLost || !inData(y) || TIFFReadScanline(tiff, row.data(), y, 0) != 1;
        std::uint8_t *out = bitmap.Row(static_cast<int>(y));
        if (stripLost)
            ++missing;
        else if (colour)
            SwapRedBlue24(row.data(), out, static_cast<std::size_t>(w));
        else
            std::memcpy(out, row.data(), rowBytes);
        if ((y & 63) == 63) ReportProgress(y + 1, height);
    }
    KeepFoundMetadata(bitmap, TiffMetadata(tiff, bytes));
    into.TakeOver(bitmap);
    return {missing, h};
}
