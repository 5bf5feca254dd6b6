// The table of picture-file formats, and what reads it: the choice of format
// by name, decoding and encoding, the dialogs' filters.
#include "platform/files/file_formats.h"

#include "platform/files/bmp_codec.h"
#include "platform/files/jpeg_codec.h"
#include "platform/files/png_codec.h"
#include "platform/files/pnm_codec.h"
#include "platform/files/qt_codec.h"
#include "platform/files/tiff_codec.h"
#include "platform/files/webp_codec.h"

#include <QFileInfo>

#include <algorithm>

namespace {

QByteArray WriteBmp(const TBitmap &bitmap, const TPictureFileFormatInfo &) { return EncodeBmp(bitmap); }
QByteArray WritePng(const TBitmap &bitmap, const TPictureFileFormatInfo &) { return EncodePng(bitmap); }

// Qt's ICO writer scales a larger picture down to 256 pixels a side.
constexpr int IcoSide = 256;

constexpr TPictureFileFormatInfo Formats[] = {
    // format, name, Qt's name, media type, extensions, listed on save, filter,
    // signature, reader, writer, quality, compression, max side
    {TPictureFileFormat::Bmp, "BMP", "bmp", "image/bmp", {"bmp", "dib"}, 1, "Bitmaps", LooksLikeBmp, DecodeBmp, WriteBmp, -1, -1, 0},
    {TPictureFileFormat::Png, "PNG", "png", "image/png", {"png"}, 1, "PNG pictures", LooksLikePng, DecodePng, WritePng, -1, -1, 0},
    {TPictureFileFormat::Jpeg, "JPEG", "jpeg", "image/jpeg", {"jpg", "jpeg", "jpe"}, 2, "JPEG pictures", LooksLikeJpeg, DecodeJpeg, EncodeJpeg, 95, -1, 65500},
    {TPictureFileFormat::Gif, "GIF", "gif", "image/gif", {"gif"}, 1, "GIF pictures", nullptr, nullptr, nullptr, -1, -1, 0},
    {TPictureFileFormat::Pbm, "PBM", "pbm", "image/x-portable-bitmap", {"pbm"}, 1, "Portable pixmaps", LooksLikePnm, DecodePnm, EncodeWithQt, -1, -1, 0},
    {TPictureFileFormat::Pgm, "PGM", "pgm", "image/x-portable-graymap", {"pgm"}, 1, "Portable pixmaps", LooksLikePnm, DecodePnm, EncodeWithQt, -1, -1, 0},
    {TPictureFileFormat::Ppm, "PPM", "ppm", "image/x-portable-pixmap", {"ppm"}, 1, "Portable pixmaps", LooksLikePnm, DecodePnm, EncodeWithQt, -1, -1, 0},
    {TPictureFileFormat::Tiff, "TIFF", "tiff", "image/tiff", {"tif", "tiff"}, 2, "TIFF pictures", LooksLikeTiff, DecodeTiff, EncodeWithQt, -1, 1, 0},
    {TPictureFileFormat::Webp, "WebP", "webp", "image/webp", {"webp"}, 1, "WebP pictures", LooksLikeWebp, DecodeWebp, EncodeWithQt, 100, -1, 16383},
    {TPictureFileFormat::Ico, "ICO", "ico", "image/vnd.microsoft.icon", {"ico"}, 1, "Icons", nullptr, nullptr, EncodeWithQt, -1, -1, IcoSide},
};

// The extensions as dialog patterns: "*.png *.jpg".
QString Patterns(const TPictureFileFormatInfo &format, bool saving)
{
    QStringList patterns;
    for (int i = 0; i < (saving ? format.savedExtensions : int(format.extensions.size())); ++i)
        if (format.extensions[static_cast<std::size_t>(i)])
            patterns << QStringLiteral("*.") + QLatin1String(format.extensions[static_cast<std::size_t>(i)]);
    return patterns.join(QLatin1Char(' '));
}

// "All pictures (...)", then one filter per title.
QStringList Filters(bool saving)
{
    QStringList all, filters;
    QString title, patterns;
    for (const TPictureFileFormatInfo &format : Formats) {
        if (saving && !format.write) continue;
        const QString these = Patterns(format, saving);
        all << these;
        if (title == QLatin1String(format.filter)) {
            patterns += QLatin1Char(' ') + these;
            continue;
        }
        if (!title.isEmpty()) filters << QStringLiteral("%1 (%2)").arg(title, patterns);
        title = QLatin1String(format.filter);
        patterns = these;
    }
    filters << QStringLiteral("%1 (%2)").arg(title, patterns);
    filters.prepend(QStringLiteral("All pictures (%1)").arg(all.join(QLatin1Char(' '))));
    return filters;
}

} // namespace

std::span<const TPictureFileFormatInfo> PictureFileFormats() { return Formats; }

const TPictureFileFormatInfo &PictureFileFormatInfo(TPictureFileFormat format)
{
    return *std::find_if(std::begin(Formats), std::end(Formats), [&](const TPictureFileFormatInfo &f) { return f.format == format; });
}

const TPictureFileFormatInfo *PictureFileFormatNamedByQt(const QByteArray &qtName)
{
    for (const TPictureFileFormatInfo &format : Formats)
        if (qtName == format.qtName) return &format;
    return nullptr;
}

std::optional<TPictureFileFormat> PictureFileFormatFor(const AnsiString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix.isEmpty()) return TPictureFileFormat::Bmp;
    for (const TPictureFileFormatInfo &format : Formats)
        for (const char *extension : format.extensions)
            if (extension && suffix == QLatin1String(extension)) return format.format;
    return std::nullopt;
}

QString WritablePictureFormats()
{
    QStringList names;
    for (const TPictureFileFormatInfo &format : Formats)
        if (format.write) names << QLatin1String(format.name);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

TRowsMissing DecodePicture(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    if (bytes.empty()) throw Exception(QStringLiteral("the file is empty"));
    for (const TPictureFileFormatInfo &format : Formats)
        if (format.signature && format.read && format.signature(bytes)) return format.read(bytes, into);
    return DecodeWithQt(bytes, into);
}

QByteArray EncodePicture(const TBitmap &bitmap, TPictureFileFormat format)
{
    const TPictureFileFormatInfo &info = PictureFileFormatInfo(format);
    if (!info.write)
        throw Exception(QStringLiteral("this program cannot write %1 pictures; it writes %2 pictures")
                            .arg(QLatin1String(info.name), WritablePictureFormats()));
    // A 4th byte that is not alpha is saved as opaque, as the picture is
    // shown, whatever operations wrote there.
    if (bitmap.GetPixelFormat() == pf32bit && bitmap.GetAlphaChannel() == TAlphaChannel::Unused && !bitmap.Empty()) {
        TBitmap opaque;
        opaque.Assign(&bitmap);
        for (int y = 0; y < opaque.GetHeight(); ++y) {
            std::uint8_t *row = opaque.Row(y);
            for (int x = 0; x < opaque.GetWidth(); ++x) row[4 * static_cast<std::size_t>(x) + 3] = 255;
        }
        opaque.SetAlphaChannel(TAlphaChannel::Used);
        return info.write(opaque, info);
    }
    return info.write(bitmap, info);
}

QStringList OpenPictureFilters() { return Filters(false) << QStringLiteral("All files (*)"); }

QStringList SavePictureFilters() { return Filters(true); }
