// The picture-file formats this program knows, in one table: for each its
// names and extensions, the dialogs' filter, its reader and writer, the
// writer's options and the format's size limits. The dialogs, the choice of
// format on save and the codecs all read it.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QByteArray>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

enum class TPictureFileFormat { Bmp, Png, Jpeg, Gif, Pbm, Pgm, Ppm, Tiff, Webp, Ico };

struct TPictureFileFormatInfo;

// Whether bytes start as a file of the format does.
using TPictureSignature = bool (*)(std::span<const std::uint8_t> bytes);
// Decodes a whole file held in memory into `into`. Throws Exception with a
// plain reason (no file name); `into` is then unchanged. Gives the rows the
// file lacked because its data ends early (opening_limits.h).
using TPictureReader = TRowsMissing (*)(std::span<const std::uint8_t> bytes, TBitmap &into);
// Encodes a bitmap whole into memory with the format's options. Throws
// Exception with a plain reason.
using TPictureWriter = QByteArray (*)(const TBitmap &bitmap, const TPictureFileFormatInfo &format);

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
    // A reader of our own, tried first for bytes with its signature; formats
    // without one are read by Qt's readers, which tell formats apart
    // themselves.
    TPictureSignature signature;
    TPictureReader read;
    // Null for a format this program does not write.
    TPictureWriter write;
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
// "BMP, PNG, ... and ICO": the formats this program writes.
QString WritablePictureFormats();

// Decodes a whole file held in memory, by the reader of the format whose
// signature it has, else by Qt's readers. Throws Exception with the reason
// (without a file name) when the bytes are not a picture it can read.
// Gives the rows the file lacked because it ends early.
TRowsMissing DecodePicture(std::span<const std::uint8_t> bytes, TBitmap &into);
// Encodes a bitmap whole into memory. Throws Exception with the reason,
// also for a format this program does not write.
QByteArray EncodePicture(const TBitmap &bitmap, TPictureFileFormat format);

// Name filters for the open and save dialogs: "All pictures" first; the open
// dialog's last is "All files".
QStringList OpenPictureFilters();
QStringList SavePictureFilters();
