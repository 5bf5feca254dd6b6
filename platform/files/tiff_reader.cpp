// Reading TIFF pictures of 8-bit grey or RGB strips through libtiff,
// straight into the bitmap's rows.
#include "platform/files/tiff_codec.h"

#include "platform/files/channel_order.h"
#include "platform/files/opening_limits.h"
#include "platform/files/qt_codec.h"
#include "platform/pictures/work_progress.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
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

} // namespace

bool LooksLikeTiff(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 4 && ((bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) ||
                                 (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42));
}

void DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap &into)
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
                       Field<std::uint16_t>(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == ORIENTATION_TOPLEFT &&
                       ((samples == 1 && photometric == PHOTOMETRIC_MINISBLACK) || (samples == 3 && photometric == PHOTOMETRIC_RGB)) &&
                       width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX;
    if (!plain) return DecodeWithQt(bytes, into);

    const bool colour = samples == 3;
    const TPixelFormat format = colour ? pf24bit : pf8bit;
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    CheckPictureFits(w, h, format);
    const std::size_t rowBytes = static_cast<std::size_t>(w) * samples;
    const std::uint32_t rowsPerStrip = std::clamp<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, height), 1, height);
    const std::uint64_t stripBytes = rowBytes * std::uint64_t(rowsPerStrip);
    const std::uint64_t pictureBytes = TBitmap::RowBytes(w, format) * std::uint64_t(h);
    CheckOpeningMemory(w, h, QStringLiteral("TIFF"), bytes.size() + pictureBytes + stripBytes, pictureBytes);

    TBitmap bitmap;
    AllocateDecoded(bitmap, w, h, format);
    if (!colour) bitmap.SetPalette(GreyLevels);
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(stripBytes));
    for (std::uint32_t first = 0, index = 0; first < height; first += rowsPerStrip, ++index) {
        const std::uint32_t rows = std::min(rowsPerStrip, height - first);
        const tmsize_t wanted = static_cast<tmsize_t>(rowBytes * rows);
        if (TIFFReadEncodedStrip(tiff, index, strip.data(), wanted) != wanted) throw Exception(DamagedData());
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint8_t *in = strip.data() + rowBytes * r;
            std::uint8_t *out = bitmap.Row(static_cast<int>(first + r));
            if (colour)
                SwapRedBlue24(in, out, static_cast<std::size_t>(w));
            else
                std::memcpy(out, in, rowBytes);
        }
        ReportProgress(first + rows, height);
    }
    into.TakeOver(bitmap);
}
