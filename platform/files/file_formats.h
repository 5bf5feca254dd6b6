// The picture-file formats this program knows, in one table: for each its
// names and extensions, the dialogs' filter, the writer's options and the
// format's size limits. The dialogs, the choice of format on save, the
// packaging and the codecs all read it; which codec reads and writes each
// format is the table of picture_codecs.h, which lies above the codecs.
#pragma once

#include "platform/base/strings_and_errors.h"

#include <QByteArray>

#include <array>
#include <optional>
#include <span>

enum class TPictureFileFormat { Bmp, Png, Jpeg, Gif, Pbm, Pgm, Ppm, Tiff, Webp, Ico, Heif, Avif, Jxl, Tga };

struct TPictureFileFormatInfo {
    TPictureFileFormat format;
    // As messages write it: "PNG".
    const char *name;
    // The name of Qt's image plugin for it, as its reader reports it.
    const char *qtName;
    // Its media (MIME) type, as desktops name it: "image/png".
    const char *mimeType;
    // Lower case, without the dot; unused places are null.
    std::array<const char *, 3> extensions;
    // How many of the extensions, from the first, the Save dialog lists.
    int savedExtensions;
    // The title of the dialogs' filter; neighbours with the same title
    // share one filter.
    const char *filter;
    // The writer's quality, or -1 for its default: JPEG at 95, and WebP at
    // 100, which makes it lossless.
    int quality;
    // The writer's compression, or -1 for its default: LZW for TIFF.
    int compression;
    // The largest width and height the format holds, or 0 for no limit of
    // its own.
    int maxSide;
};

// Every format, BMP first; the packaging lists them from here at build time.
std::span<const TPictureFileFormatInfo> PictureFileFormats();
const TPictureFileFormatInfo &PictureFileFormatInfo(TPictureFileFormat format);
// The format whose Qt plugin has this name, or null.
const TPictureFileFormatInfo *PictureFileFormatNamedByQt(const QByteArray &qtName);

// The format a file name's extension names (case aside); BMP for a name
// without an extension; none for an extension no format has.
std::optional<TPictureFileFormat> PictureFileFormatFor(const AnsiString &fileName);
