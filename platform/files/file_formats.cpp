// The table of picture-file formats, and the choice of format by name.
#include "platform/files/file_formats.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// Qt's ICO writer scales a larger picture down to 256 pixels a side.
constexpr int IcoSide = 256;

constexpr TPictureFileFormatInfo Formats[] = {
    // format, name, Qt's name, media type, extensions, listed on save, filter,
    // quality, compression, max side
    {TPictureFileFormat::Bmp, "BMP", "bmp", "image/bmp", {"bmp", "dib"}, 1, "Bitmaps", -1, -1, 0},
    {TPictureFileFormat::Png, "PNG", "png", "image/png", {"png"}, 1, "PNG pictures", -1, -1, 0},
    {TPictureFileFormat::Jpeg, "JPEG", "jpeg", "image/jpeg", {"jpg", "jpeg", "jpe"}, 2, "JPEG pictures", 95, -1, 65500},
    {TPictureFileFormat::Gif, "GIF", "gif", "image/gif", {"gif"}, 1, "GIF pictures", -1, -1, 0},
    {TPictureFileFormat::Pbm, "PBM", "pbm", "image/x-portable-bitmap", {"pbm"}, 1, "Portable pixmaps", -1, -1, 0},
    {TPictureFileFormat::Pgm, "PGM", "pgm", "image/x-portable-graymap", {"pgm"}, 1, "Portable pixmaps", -1, -1, 0},
    {TPictureFileFormat::Ppm, "PPM", "ppm", "image/x-portable-pixmap", {"ppm"}, 1, "Portable pixmaps", -1, -1, 0},
    {TPictureFileFormat::Tiff, "TIFF", "tiff", "image/tiff", {"tif", "tiff"}, 2, "TIFF pictures", -1, 1, 0},
    {TPictureFileFormat::Webp, "WebP", "webp", "image/webp", {"webp"}, 1, "WebP pictures", 100, -1, 16383},
    {TPictureFileFormat::Ico, "ICO", "ico", "image/vnd.microsoft.icon", {"ico"}, 1, "Icons", -1, -1, IcoSide},
    {TPictureFileFormat::Heif, "HEIF", "heif", "image/heif", {"heic", "heif", "hif"}, 0, "HEIF pictures", -1, -1, 0},
    {TPictureFileFormat::Avif, "AVIF", "avif", "image/avif", {"avif"}, 0, "AVIF pictures", -1, -1, 0},
    {TPictureFileFormat::Jxl, "JPEG XL", "jxl", "image/jxl", {"jxl"}, 0, "JPEG XL pictures", -1, -1, 0},
    {TPictureFileFormat::Tga, "TGA", "tga", "image/x-tga", {"tga"}, 0, "TGA pictures", -1, -1, 0},
};

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
