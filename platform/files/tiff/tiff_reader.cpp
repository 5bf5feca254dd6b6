// Reading TIFF pictures of every layout through libtiff, a strip or tile
// at a time, straight into the bitmap's rows, from the file held in memory
// or from where its pieces lie.
#include "platform/files/tiff/tiff_codec.h"

#include "platform/base/work_progress.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/tiff/tiff_samples.h"
#include "platform/files/tiff/tiff_support.h"
#include "platform/files/reader_metadata.h"
#include "platform/files/tiff/tiff_file.h"
#include "platform/files/tiff/tiff_metadata.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The file as libtiff's reading procedures see it.
struct TReadingPlace {
    const TTiffFile &file;
    toff_t at = 0;
};

tmsize_t ReadFile(thandle_t handle, void *into, tmsize_t size)
{
    auto *place = static_cast<TReadingPlace *>(handle);
    if (size < 0 || place->at >= place->file.Size()) return 0;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(size), place->file.Size() - place->at));
    if (!place->file.Read(place->at, std::span(static_cast<std::uint8_t *>(into), count))) return -1;
    place->at += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t WriteNothing(thandle_t, void *, tmsize_t) { return -1; }
toff_t SeekFile(thandle_t handle, toff_t offset, int whence)
{
    auto *place = static_cast<TReadingPlace *>(handle);
    const toff_t base = whence == SEEK_CUR ? place->at : whence == SEEK_END ? place->file.Size() : 0;
    if (offset > ~toff_t(0) - base) return ~toff_t(0);
    place->at = base + offset;
    return place->at;
}
int CloseNothing(thandle_t) { return 0; }
toff_t FileSize(thandle_t handle) { return static_cast<TReadingPlace *>(handle)->file.Size(); }
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

// The rows of the picture as they are stored, and which are missing.
struct TStoredPicture {
    TStoredPicture(const TTiffFile &from, TBitmap &picture, std::uint32_t rows) : file(from), bitmap(picture), missing(rows, false) {}

    const TTiffFile &file;
    TBitmap &bitmap;
    std::vector<bool> missing;

    // Progress between reads: a read of the file that failed ends the
    // reading here, outside libtiff.
    void Advance(std::uint64_t done, std::uint64_t total) const
    {
        file.Check();
        ReportProgress(done, total);
    }

    int Missing() const { return static_cast<int>(std::count(missing.begin(), missing.end(), true)); }
    void Lose(std::uint32_t from, std::uint32_t rows)
    {
        for (std::uint32_t y = from; y < from + rows && y < missing.size(); ++y) {
            missing[y] = true;
            std::memset(bitmap.Row(static_cast<int>(y)), 0, bitmap.BytesPerRow());
        }
    }
};

// Strips of interleaved samples, a row at a time: a row the decoder
// cannot give is missing, and so are the rest of its strip; the next
// strip starts afresh.
void ReadStripRows(TIFF *tiff, const TTiffSamples &samples, TStoredPicture &picture)
{
    const auto height = static_cast<std::uint32_t>(picture.bitmap.GetHeight());
    const int width = picture.bitmap.GetWidth();
    const TStatedRows stated(tiff, picture.file, samples.RowBytes(static_cast<std::uint64_t>(width)));
    const std::uint32_t rowsPerStrip = std::clamp<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, height), 1, height);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(std::max<tmsize_t>(TIFFScanlineSize(tiff), 1)));
    const std::uint8_t *planes[] = {row.data()};
    bool stripLost = false;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (y % rowsPerStrip == 0) stripLost = false;
        stripLost = stripLost || !stated.Holds(y) || TIFFReadScanline(tiff, row.data(), y, 0) != 1;
        if (stripLost)
            picture.Lose(y, 1);
        else
            samples.Convert(planes, width, picture.bitmap.Row(static_cast<int>(y)), 0);
        if ((y & 63) == 63) picture.Advance(y + 1, height);
    }
}

// Strips of samples in planes apart: each band's strip of every plane,
// then its rows.
void ReadPlanarStrips(TIFF *tiff, const TTiffSamples &samples, TStoredPicture &picture)
{
    const auto height = static_cast<std::uint32_t>(picture.bitmap.GetHeight());
    const int width = picture.bitmap.GetWidth();
    const std::uint64_t rowBytes = samples.RowBytes(static_cast<std::uint64_t>(width));
    const TStatedRows stated(tiff, picture.file, rowBytes);
    const std::uint32_t rowsPerStrip = std::clamp<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, height), 1, height);
    const std::uint32_t stripsPerPlane = (height - 1) / rowsPerStrip + 1;
    std::vector<std::vector<std::uint8_t>> buffers(static_cast<std::size_t>(samples.Planes()), std::vector<std::uint8_t>(rowBytes * rowsPerStrip));
    std::vector<const std::uint8_t *> planes(buffers.size());
    for (std::uint32_t strip = 0; strip < stripsPerPlane; ++strip) {
        const std::uint32_t top = strip * rowsPerStrip, rows = std::min(rowsPerStrip, height - top);
        // The rows every plane's strip holds, each within its stated bytes.
        std::uint32_t held = rows;
        for (int p = 0; p < samples.Planes(); ++p) {
            std::uint32_t statedRows = 0;
            while (statedRows < held && stated.Holds(top + statedRows, static_cast<std::uint16_t>(p))) ++statedRows;
            const tmsize_t wanted = static_cast<tmsize_t>(rowBytes * statedRows);
            if (statedRows > 0 &&
                TIFFReadEncodedStrip(tiff, static_cast<std::uint32_t>(p) * stripsPerPlane + strip, buffers[std::size_t(p)].data(), wanted) != wanted)
                statedRows = 0;
            held = std::min(held, statedRows);
        }
        for (std::uint32_t r = 0; r < held; ++r) {
            for (std::size_t p = 0; p < buffers.size(); ++p) planes[p] = buffers[p].data() + rowBytes * r;
            samples.Convert(planes.data(), width, picture.bitmap.Row(static_cast<int>(top + r)), 0);
        }
        picture.Lose(top + held, rows - held);
        picture.Advance(top + rows, height);
    }
}

// Tiles, of interleaved samples or of planes apart: a tile the decoder
// cannot give leaves the rows it crosses missing.
void ReadTiles(TIFF *tiff, const TTiffSamples &samples, TStoredPicture &picture)
{
    const auto height = static_cast<std::uint32_t>(picture.bitmap.GetHeight()), width = static_cast<std::uint32_t>(picture.bitmap.GetWidth());
    const std::uint32_t tileWidth = Field<std::uint32_t>(tiff, TIFFTAG_TILEWIDTH, 0), tileHeight = Field<std::uint32_t>(tiff, TIFFTAG_TILELENGTH, 0);
    const tmsize_t tileBytes = TIFFTileSize(tiff);
    if (tileWidth == 0 || tileHeight == 0 || tileBytes <= 0) throw Exception(DamagedData());
    const std::uint64_t tileRowBytes = samples.RowBytes(tileWidth);
    const bool uncompressed = Field<std::uint16_t>(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == COMPRESSION_NONE;
    const std::vector<std::uint64_t> declared = uncompressed ? DeclaredByteCounts(picture.file, TIFFTAG_TILEBYTECOUNTS) : std::vector<std::uint64_t>();
    std::vector<std::vector<std::uint8_t>> buffers(static_cast<std::size_t>(samples.Planes()), std::vector<std::uint8_t>(static_cast<std::size_t>(tileBytes)));
    std::vector<const std::uint8_t *> planes(buffers.size());
    for (std::uint32_t top = 0; top < height; top += tileHeight) {
        const std::uint32_t rows = std::min(tileHeight, height - top);
        bool lost = false;
        for (std::uint32_t left = 0; left < width && !lost; left += tileWidth) {
            for (std::size_t p = 0; p < buffers.size() && !lost; ++p) {
                const std::uint32_t tile = TIFFComputeTile(tiff, left, top, 0, static_cast<std::uint16_t>(p));
                // An uncompressed tile lies within its stated bytes.
                lost = (tile < declared.size() && declared[tile] != 0 && declared[tile] < std::uint64_t(tileBytes)) ||
                       TIFFReadEncodedTile(tiff, tile, buffers[p].data(), tileBytes) != tileBytes;
            }
            const int pixels = static_cast<int>(std::min(tileWidth, width - left));
            for (std::uint32_t r = 0; r < rows && !lost; ++r) {
                for (std::size_t p = 0; p < buffers.size(); ++p) planes[p] = buffers[p].data() + tileRowBytes * r;
                samples.Convert(planes.data(), pixels, picture.bitmap.Row(static_cast<int>(top + r)), static_cast<int>(left));
            }
        }
        if (lost) picture.Lose(top, rows);
        picture.Advance(top + rows, height);
    }
}

struct RgbaEnd {
    void operator()(TIFFRGBAImage *image) const { TIFFRGBAImageEnd(image); }
};

// Every other photometric through libtiff's conversion to RGBA (associated
// alpha), a strip's or tile row's worth of rows at a time.
void ReadThroughRgba(TIFFRGBAImage &image, TStoredPicture &picture, std::uint32_t bandRows)
{
    const auto height = static_cast<std::uint32_t>(picture.bitmap.GetHeight());
    const int width = picture.bitmap.GetWidth();
    const bool alpha = picture.bitmap.GetPixelFormat() == pf32bit;
    std::vector<std::uint32_t> band(std::size_t(width) * bandRows);
    // The rows in the order they are stored.
    image.req_orientation = image.orientation;
    for (std::uint32_t top = 0; top < height; top += bandRows) {
        const std::uint32_t rows = std::min(bandRows, height - top);
        image.row_offset = static_cast<int>(top);
        image.col_offset = 0;
        if (TIFFRGBAImageGet(&image, band.data(), static_cast<std::uint32_t>(width), rows) != 1) {
            picture.Lose(top, rows);
        } else {
            for (std::uint32_t r = 0; r < rows; ++r) {
                std::uint8_t *out = picture.bitmap.Row(static_cast<int>(top + r));
                for (int x = 0; x < width; ++x) {
                    const std::uint32_t abgr = band[std::size_t(r) * std::size_t(width) + std::size_t(x)];
                    const std::uint32_t a = TIFFGetA(abgr);
                    const auto colour = [&](std::uint32_t c) { return static_cast<std::uint8_t>(!alpha ? c : a ? std::min<std::uint32_t>(255, (c * 255 + a / 2) / a) : 0); };
                    std::uint8_t *p = out + (alpha ? 4 : 3) * std::size_t(x);
                    p[0] = colour(TIFFGetB(abgr));
                    p[1] = colour(TIFFGetG(abgr));
                    p[2] = colour(TIFFGetR(abgr));
                    if (alpha) p[3] = static_cast<std::uint8_t>(a);
                }
            }
        }
        picture.Advance(top + rows, height);
    }
}

TRowsMissing DecodeTiffFile(TTiffFile &file, TBitmap &into)
{
    TReadingPlace place{file};
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Silent, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Silent, nullptr);
    const std::unique_ptr<TIFF, TiffClose> owner(
        TIFFClientOpenExt("picture", "rm", &place, ReadFile, WriteNothing, SeekFile, CloseNothing, FileSize, MapNothing, UnmapNothing, options.get()));
    file.Check();
    if (!owner) throw Exception(DamagedData());
    TIFF *tiff = owner.get();

    const auto width = Field<std::uint32_t>(tiff, TIFFTAG_IMAGEWIDTH, 0), height = Field<std::uint32_t>(tiff, TIFFTAG_IMAGELENGTH, 0);
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) throw Exception(DamagedData());
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    // What the file carries besides its pixels; its colour profile also
    // says how CMYK samples become colours.
    TPictureMetadata metadata = TiffMetadata(tiff, file);
    const std::optional<TTiffSamples> samples = TTiffSamples::Of(tiff, metadata.colourProfile);
    // Pictures of other photometrics go through libtiff's RGBA conversion.
    char reason[1024] = {};
    TIFFRGBAImage rgba{};
    std::unique_ptr<TIFFRGBAImage, RgbaEnd> rgbaOwner;
    if (!samples) {
        if (!TIFFRGBAImageOK(tiff, reason) || !TIFFRGBAImageBegin(&rgba, tiff, 0, reason))
            throw Exception(QStringLiteral("its kind of TIFF picture is not one this program reads"));
        rgbaOwner.reset(&rgba);
    }
    const TPixelFormat format = samples ? samples->Format() : rgba.alpha ? pf32bit : pf24bit;
    // A CMYK picture turned into sRGB carries no profile any more.
    if (samples && Field<std::uint16_t>(tiff, TIFFTAG_PHOTOMETRIC, 0) == PHOTOMETRIC_SEPARATED) metadata.colourProfile.clear();
    // The turn KeepFoundMetadata makes: as the pieces kept state it (the
    // Orientation field is among the EXIF's fields).
    DropUnusablePieces(metadata);
    const TOrientation orientation = StatedOrientation(metadata);

    // Opening holds the file (where it is held whole), the picture,
    // libtiff's compressed strip or tile and what it decodes it into (a
    // row, or a strip or tile of every plane), and a second picture while
    // one whose rows and columns swap is turned.
    const bool tiled = TIFFIsTiled(tiff);
    std::uint64_t compressed = 0;
    const std::uint32_t pieces = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    for (std::uint32_t piece = 0; piece < pieces; ++piece) compressed = std::max<std::uint64_t>(compressed, std::min<std::uint64_t>(TIFFGetStrileByteCount(tiff, piece), file.Size()));
    const std::uint32_t rowsPerStrip = std::clamp<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, height), 1, height);
    const std::uint64_t planes = samples ? std::uint64_t(samples->Planes()) : 1;
    const std::uint64_t decoded = !samples ? 4 * std::uint64_t(width) * (tiled ? Field<std::uint32_t>(tiff, TIFFTAG_TILELENGTH, 1) : rowsPerStrip) + std::uint64_t(std::max<tmsize_t>(TIFFTileSize(tiff), 0))
                                  : tiled ? planes * std::uint64_t(std::max<tmsize_t>(TIFFTileSize(tiff), 0))
                                  : samples->Planar() ? planes * samples->RowBytes(width) * rowsPerStrip
                                                      : std::uint64_t(std::max<tmsize_t>(TIFFScanlineSize(tiff), 0));
    TDecodedPicture decodedPicture(into, TPictureFileFormat::Tiff);
    TBitmap &bitmap =
        decodedPicture.Start(w, h, format, file.HeldBytes() + compressed + decoded + TurningBytes(orientation, PictureBytes(w, h, format)));
    TStoredPicture picture(file, bitmap, height);
    if (samples) {
        picture.bitmap.SetPalette(samples->Palette());
        if (tiled)
            ReadTiles(tiff, *samples, picture);
        else if (samples->Planar())
            ReadPlanarStrips(tiff, *samples, picture);
        else
            ReadStripRows(tiff, *samples, picture);
    } else {
        ReadThroughRgba(rgba, picture, tiled ? std::max<std::uint32_t>(Field<std::uint32_t>(tiff, TIFFTAG_TILELENGTH, 1), 1) : rowsPerStrip);
    }
    file.Finish();
    const TRowsMissing missing{picture.Missing(), h};
    KeepFoundMetadata(picture.bitmap, std::move(metadata));
    return decodedPicture.HandOver(missing);
}

} // namespace

bool LooksLikeTiff(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 4 && ((bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) ||
                                 (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42));
}

TRowsMissing DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    TTiffMemoryFile file(bytes);
    return DecodeTiffFile(file, into);
}

std::optional<TRowsMissing> ReadTiffStraight(TFileSource &source, TBitmap &into)
{
    TTiffSourceFile file(source);
    return DecodeTiffFile(file, into);
}
