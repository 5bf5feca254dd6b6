// The codec of each picture-file format, and what goes through them.
#include "platform/files/picture_codecs.h"

#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/gif/gif_codec.h"
#include "platform/files/heif/heif_codec.h"
#include "platform/files/jpeg/jpeg_codec.h"
#include "platform/files/jxl/jxl_codec.h"
#include "platform/files/png/png_codec.h"
#include "platform/files/pnm/pnm_codec.h"
#include "platform/files/qt/qt_codec.h"
#include "platform/files/tga/tga_codec.h"
#include "platform/files/tiff/tiff_codec.h"
#include "platform/files/webp/webp_codec.h"

#include <algorithm>

namespace {

QByteArray WriteBmp(const TBitmap &bitmap, const TPictureFileFormatInfo &) { return EncodeBmp(bitmap); }
QByteArray WritePng(const TBitmap &bitmap, const TPictureFileFormatInfo &) { return EncodePng(bitmap); }

// In the order the signatures are tried. A format of the table without an
// entry here has no codec of its own.
constexpr TPictureCodec Codecs[] = {
    // format, signature, reader, writer, straight reader, straight writer
    {TPictureFileFormat::Bmp, LooksLikeBmp, DecodeBmp, WriteBmp, ReadBmpStraight, WriteBmpStraight},
    {TPictureFileFormat::Png, LooksLikePng, DecodePng, WritePng},
    {TPictureFileFormat::Jpeg, LooksLikeJpeg, DecodeJpeg, EncodeJpeg},
    {TPictureFileFormat::Gif, LooksLikeGif, DecodeGif, nullptr},
    {TPictureFileFormat::Pbm, LooksLikePnm, DecodePnm, EncodePnm},
    {TPictureFileFormat::Pgm, LooksLikePnm, DecodePnm, EncodePnm},
    {TPictureFileFormat::Ppm, LooksLikePnm, DecodePnm, EncodePnm},
    {TPictureFileFormat::Tiff, LooksLikeTiff, DecodeTiff, EncodeTiff, ReadTiffStraight},
    {TPictureFileFormat::Webp, LooksLikeWebp, DecodeWebp, EncodeWebp},
    {TPictureFileFormat::Ico, nullptr, nullptr, EncodeWithQt},
    {TPictureFileFormat::Heif, LooksLikeHeif, DecodeHeif, nullptr},
    {TPictureFileFormat::Avif, LooksLikeAvif, DecodeHeif, nullptr},
    {TPictureFileFormat::Jxl, LooksLikeJxl, DecodeJxl, nullptr},
    {TPictureFileFormat::Tga, LooksLikeTga, DecodeTga, nullptr},
};

// The extensions as dialog patterns: "*.png *.jpg".
// What a list of file filters is for: the open dialog offers every
// readable format and extension, the save dialog the writable formats and
// the extensions a save writes.
enum class TFilterUse { Opening, Saving };

QString Patterns(const TPictureFileFormatInfo &format, TFilterUse use)
{
    QStringList patterns;
    for (int i = 0; i < (use == TFilterUse::Saving ? format.savedExtensions : int(format.extensions.size())); ++i)
        if (format.extensions[static_cast<std::size_t>(i)])
            patterns << QStringLiteral("*.") + QLatin1String(format.extensions[static_cast<std::size_t>(i)]);
    return patterns.join(QLatin1Char(' '));
}

// "All pictures (...)", then one filter per title.
QStringList Filters(TFilterUse use)
{
    QStringList all, filters;
    QString title, patterns;
    for (const TPictureFileFormatInfo &format : PictureFileFormats()) {
        if (use == TFilterUse::Saving && !PictureCodec(format.format).write) continue;
        const QString these = Patterns(format, use);
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

TPictureCodec PictureCodec(TPictureFileFormat format)
{
    for (const TPictureCodec &codec : Codecs)
        if (codec.format == format) return codec;
    return {format, nullptr, nullptr, nullptr};
}

QString WritablePictureFormats()
{
    QStringList names;
    for (const TPictureFileFormatInfo &format : PictureFileFormats())
        if (PictureCodec(format.format).write) names << QLatin1String(format.name);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

TRowsMissing DecodePicture(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    if (bytes.empty()) throw Exception(QStringLiteral("the file is empty"));
    for (const TPictureCodec &codec : Codecs)
        if (codec.signature && codec.read && codec.signature(bytes)) return codec.read(bytes, into);
    return DecodeWithQt(bytes, into);
}

std::optional<TRowsMissing> ReadPictureStraight(TFileSource &file, TBitmap &into)
{
    // Enough for every signature.
    const std::span<const std::uint8_t> start = file.Start(16);
    for (const TPictureCodec &codec : Codecs)
        if (codec.signature && codec.read && codec.signature(start))
            return codec.readStraight ? codec.readStraight(file, into) : std::nullopt;
    return std::nullopt;
}

namespace {

// The format's writer; throws for a format this program does not write.
TPictureCodec WritingCodec(TPictureFileFormat format)
{
    const TPictureCodec codec = PictureCodec(format);
    if (!codec.write)
        throw Exception(QStringLiteral("this program cannot write %1 pictures; it writes %2 pictures")
                            .arg(QLatin1String(PictureFileFormatInfo(format).name), WritablePictureFormats()));
    return codec;
}

// A 4th byte that is not alpha is saved as opaque, as the picture is
// shown, whatever operations wrote there: the picture to save, the bitmap
// itself or an opaque copy of it made in `opaque`.
const TBitmap &AsSaved(const TBitmap &bitmap, TBitmap &opaque)
{
    if (bitmap.GetPixelFormat() != pf32bit || bitmap.GetAlphaChannel() != TAlphaChannel::Unused || bitmap.Empty()) return bitmap;
    opaque.Assign(&bitmap);
    for (int y = 0; y < opaque.GetHeight(); ++y) {
        std::uint8_t *row = opaque.Row(y);
        for (int x = 0; x < opaque.GetWidth(); ++x) row[4 * static_cast<std::size_t>(x) + 3] = 255;
    }
    opaque.SetAlphaChannel(TAlphaChannel::Used);
    return opaque;
}

} // namespace

QByteArray EncodePicture(const TBitmap &bitmap, TPictureFileFormat format)
{
    const TPictureCodec codec = WritingCodec(format);
    TBitmap opaque;
    return codec.write(AsSaved(bitmap, opaque), PictureFileFormatInfo(format));
}

bool WritesStraight(TPictureFileFormat format) { return PictureCodec(format).writeStraight != nullptr; }

void WritePictureStraight(const TBitmap &bitmap, TPictureFileFormat format, TFileSink &file)
{
    const TPictureCodec codec = WritingCodec(format);
    TBitmap opaque;
    const TBitmap &saved = AsSaved(bitmap, opaque);
    if (codec.writeStraight) return codec.writeStraight(saved, file);
    const QByteArray bytes = codec.write(saved, PictureFileFormatInfo(format));
    file.Begin(static_cast<std::uint64_t>(bytes.size()));
    const std::span<const std::uint8_t> whole(reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    file.Write({&whole, 1});
}

QStringList OpenPictureFilters() { return Filters(TFilterUse::Opening) << QStringLiteral("All files (*)"); }

QStringList SavePictureFilters() { return Filters(TFilterUse::Saving); }
