// Writing TIFF pictures through libtiff, in the forms and with the
// compression Qt's writer gave them, with what the picture carries in the
// directory's fields and EXIF's directories beside it.
#include "platform/files/tiff/tiff_codec.h"

#include "platform/base/work_progress.h"
#include "platform/files/channel_order.h"
#include "platform/files/tiff/tiff_directories.h"
#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/file_metadata.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The file being written, in memory, as libtiff's procedures see it.
struct TMemoryFile {
    QByteArray bytes;
    toff_t at = 0;
};

tmsize_t ReadBack(thandle_t handle, void *into, tmsize_t size)
{
    auto *file = static_cast<TMemoryFile *>(handle);
    if (size < 0 || file->at >= static_cast<toff_t>(file->bytes.size())) return 0;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(size), static_cast<std::size_t>(file->bytes.size()) - file->at);
    std::memcpy(into, file->bytes.constData() + file->at, count);
    file->at += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t Write(thandle_t handle, void *from, tmsize_t size)
{
    auto *file = static_cast<TMemoryFile *>(handle);
    if (size < 0) return -1;
    // Written past the end leaves zeros between, as a file does.
    const toff_t end = file->at + static_cast<toff_t>(size);
    if (end > 0xFFFFFFFFu) return -1;
    try {
        if (end > static_cast<toff_t>(file->bytes.size())) file->bytes.resize(static_cast<qsizetype>(end), '\0');
    } catch (const std::bad_alloc &) {
        return -1;
    }
    std::memcpy(file->bytes.data() + file->at, from, static_cast<std::size_t>(size));
    file->at = end;
    return size;
}
toff_t Seek(thandle_t handle, toff_t offset, int whence)
{
    auto *file = static_cast<TMemoryFile *>(handle);
    const toff_t base = whence == SEEK_CUR ? file->at : whence == SEEK_END ? static_cast<toff_t>(file->bytes.size()) : 0;
    if (offset > ~toff_t(0) - base) return ~toff_t(0);
    file->at = base + offset;
    return file->at;
}
int CloseNothing(thandle_t) { return 0; }
toff_t Size(thandle_t handle) { return static_cast<toff_t>(static_cast<TMemoryFile *>(handle)->bytes.size()); }
int MapNothing(thandle_t, void **, toff_t *) { return 0; }
void UnmapNothing(thandle_t, void *, toff_t) {}

// libtiff's messages are not printed: a failure is reported as such.
int Silent(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct TTiffClose {
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
struct TOptionsFree {
    void operator()(TIFFOpenOptions *options) const { TIFFOpenOptionsFree(options); }
};

// The forms Qt's writer gave each picture.
enum class TForm {
    BlackAndWhite, // 1 bit, its two entries black and white
    Grey,          // 8 bits, the palette a ramp of greys
    Palette,       // 8-bit indices and the colour map
    Rgb,           // 8 bits a sample
    Rgba16,        // 16 bits a sample, alpha not premultiplied
};

bool Ramp(const TPalette &palette, bool rising)
{
    for (int i = 0; i < 256; ++i) {
        const int level = rising ? i : 255 - i;
        if (palette[std::size_t(i)] != RGB(level, level, level)) return false;
    }
    return true;
}

TForm FormOf(const TBitmap &bitmap)
{
    const TPalette &palette = bitmap.GetPalette();
    switch (bitmap.GetPixelFormat()) {
    case pf1bit: {
        const bool blackAndWhite = (palette[0] == clBlack && palette[1] == clWhite) || (palette[0] == clWhite && palette[1] == clBlack);
        return blackAndWhite ? TForm::BlackAndWhite : TForm::Palette;
    }
    case pf4bit: return TForm::Palette;
    case pf8bit: return Ramp(palette, true) || Ramp(palette, false) ? TForm::Grey : TForm::Palette;
    case pf32bit: return AnyTranslucent(bitmap) ? TForm::Rgba16 : TForm::Rgb;
    default: return TForm::Rgb;
    }
}

// Row y in the file's form, into `out`; `colours` holds a row's pixels
// where they are read as colours.
void FileRow(const TBitmap &bitmap, TForm form, int y, std::vector<std::uint8_t> &out, std::vector<std::uint32_t> &colours)
{
    const int width = bitmap.GetWidth();
    const std::uint8_t *row = bitmap.Row(y);
    switch (form) {
    case TForm::BlackAndWhite:
    case TForm::Grey: std::memcpy(out.data(), row, out.size()); break;
    case TForm::Palette: pixel::UnpackIndices(bitmap.GetPixelFormat(), row, width, out.data()); break;
    case TForm::Rgb: {
        if (bitmap.GetPixelFormat() == pf24bit) {
            SwapRedBlue24(row, out.data(), static_cast<std::size_t>(width));
            break;
        }
        colours.resize(static_cast<std::size_t>(width));
        pixel::ReadRow(bitmap.GetPixelFormat(), row, width, bitmap.GetPalette(), colours.data());
        for (std::size_t x = 0; x < colours.size(); ++x) {
            out[3 * x] = GetRValue(colours[x]);
            out[3 * x + 1] = GetGValue(colours[x]);
            out[3 * x + 2] = GetBValue(colours[x]);
        }
        break;
    }
    case TForm::Rgba16: {
        auto *samples = reinterpret_cast<std::uint16_t *>(out.data());
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
            samples[4 * x] = static_cast<std::uint16_t>(row[4 * x + 2] * 257);
            samples[4 * x + 1] = static_cast<std::uint16_t>(row[4 * x + 1] * 257);
            samples[4 * x + 2] = static_cast<std::uint16_t>(row[4 * x] * 257);
            samples[4 * x + 3] = static_cast<std::uint16_t>(row[4 * x + 3] * 257);
        }
        break;
    }
    }
}

// The resolution the file states: the picture's, else the 96 dots an inch
// Qt's writer stated for every picture (TIFF requires one).
void SetResolution(TIFF *tiff, const std::optional<TResolution> &resolution)
{
    TResolution stated{96, 96, TResolutionUnit::Inch};
    if (resolution && resolution->Usable()) stated = resolution->InInchesOrCentimetres();
    const std::uint16_t unit = stated.unit == TResolutionUnit::Inch ? RESUNIT_INCH : stated.unit == TResolutionUnit::Centimetre ? RESUNIT_CENTIMETER : RESUNIT_NONE;
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, unit);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(stated.horizontal));
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(stated.vertical));
}

// The fields of the form: samples, photometric meaning, colour map.
void SetForm(TIFF *tiff, const TBitmap &bitmap, TForm form)
{
    switch (form) {
    case TForm::BlackAndWhite:
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, bitmap.GetPalette()[0] == clWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
        break;
    case TForm::Grey:
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, bitmap.GetPalette()[0] == clWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
        break;
    case TForm::Palette: {
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        // The map has an entry for every index of 8 bits; those the
        // picture's format does not reach are black.
        std::vector<std::uint16_t> red(256), green(256), blue(256);
        for (int i = 0; i < bitmap.PaletteSize(); ++i) {
            const TColor c = bitmap.GetPalette()[std::size_t(i)];
            red[std::size_t(i)] = static_cast<std::uint16_t>(GetRValue(c) * 257);
            green[std::size_t(i)] = static_cast<std::uint16_t>(GetGValue(c) * 257);
            blue[std::size_t(i)] = static_cast<std::uint16_t>(GetBValue(c) * 257);
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
        break;
    }
    case TForm::Rgb:
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        break;
    case TForm::Rgba16: {
        const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
        break;
    }
    }
}

// The picture's notes in the one description TIFF holds.
QByteArray Description(const QList<TTextComment> &comments)
{
    QStringList notes;
    for (const TTextComment &comment : comments) notes << KeylessComment(comment);
    QByteArray text = notes.join(QLatin1Char('\n')).toUtf8();
    text.replace('\0', QByteArray());
    return text;
}

} // namespace

QByteArray EncodeTiff(const TBitmap &bitmap, const TPictureFileFormatInfo &format)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    const TPictureMetadata saved = MetadataToSave(bitmap);
    const TForm form = FormOf(bitmap);
    const bool grey = form == TForm::Grey || form == TForm::BlackAndWhite;
    const auto failed = [] { return Exception(QStringLiteral("the picture could not be encoded as TIFF")); };

    TMemoryFile file;
    const std::unique_ptr<TIFFOpenOptions, TOptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Silent, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Silent, nullptr);
    // In the EXIF's byte order, so that its directories are copied as they are.
    const char *mode = !saved.exif.isEmpty() && BigEndianExif(saved.exif) ? "wb" : "wl";
    std::unique_ptr<TIFF, TTiffClose> tiff(
        TIFFClientOpenExt("picture", mode, &file, ReadBack, Write, Seek, CloseNothing, Size, MapNothing, UnmapNothing, options.get()));
    if (!tiff) throw failed();
    TIFF *t = tiff.get();
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_COMPRESSION, format.compression == 0 ? COMPRESSION_NONE : COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    SetResolution(t, saved.resolution);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    SetForm(t, bitmap, form);
    // About 4 MiB a strip, as Qt's writer chose; translucent pictures it
    // left to libtiff's own default, about 8 KiB.
    const tmsize_t scanline = std::max<tmsize_t>(1, TIFFScanlineSize(t));
    const std::uint32_t asked = form == TForm::Rgba16 ? 0 : static_cast<std::uint32_t>(std::max<tmsize_t>(1, (tmsize_t(4) << 20) / scanline));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, asked));
    if (!saved.colourProfile.isEmpty() && PictureProfileSpace(saved.colourProfile) == (grey ? TProfileSpace::Grey : TProfileSpace::Rgb))
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(saved.colourProfile.size()), saved.colourProfile.constData());
    if (!saved.xmp.isEmpty()) TIFFSetField(t, TIFFTAG_XMLPACKET, static_cast<std::uint32_t>(saved.xmp.size()), saved.xmp.constData());
    const QByteArray description = Description(saved.comments);
    if (!description.isEmpty()) TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, description.constData());

    std::vector<std::uint8_t> row(static_cast<std::size_t>(scanline));
    std::vector<std::uint32_t> colours;
    for (int y = 0; y < height; ++y) {
        FileRow(bitmap, form, y, row, colours);
        if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) != 1) {
            throw failed();
        }
        if ((y & 63) == 63) ReportProgress(std::uint64_t(y) + 1, std::uint64_t(height));
    }
    // The directory is written once the rows are.
    if (!TIFFFlush(t)) throw failed();
    tiff.reset();
    return WithExifDirectories(std::move(file.bytes), saved.exif);
}
