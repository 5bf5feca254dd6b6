// What a TIFF file carries besides its pixels, from the fields of its picture's directory.
#include "platform/files/tiff/tiff_metadata.h"

#include "platform/files/tiff/tiff_directories.h"
#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/exif_xmp.h"
#include "platform/metadata/file_metadata.h"

#include <cstring>

namespace {

// A field of bytes (its count, then where they are), within `most`.
QByteArray BytesField(TIFF *tiff, ttag_t tag, qsizetype most)
{
    std::uint32_t count = 0;
    const void *data = nullptr;
    if (TIFFGetField(tiff, tag, &count, &data) != 1 || !data || count == 0 || count > static_cast<std::uint64_t>(most)) return {};
    return QByteArray(static_cast<const char *>(data), static_cast<qsizetype>(count));
}

std::optional<TResolution> ResolutionOf(TIFF *tiff)
{
    float horizontal = 0, vertical = 0;
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &horizontal) != 1 || TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &vertical) != 1) return std::nullopt;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    switch (unit) {
    case RESUNIT_NONE: return TResolution{horizontal, vertical, TResolutionUnit::None};
    case RESUNIT_INCH: return TResolution{horizontal, vertical, TResolutionUnit::Inch};
    case RESUNIT_CENTIMETER: return TResolution{horizontal, vertical, TResolutionUnit::Centimetre};
    default: return std::nullopt;
    }
}

} // namespace

TPictureMetadata TiffMetadata(TIFF *tiff, const TTiffFile &file)
{
    TPictureMetadata found;
    found.colourProfile = BytesField(tiff, TIFFTAG_ICCPROFILE, MaxProfileBytes);
    found.xmp = BytesField(tiff, TIFFTAG_XMLPACKET, MaxXmpBytes);
    found.resolution = ResolutionOf(tiff);
    const char *description = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) == 1 && description) {
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t *>(description), std::strlen(description));
        // A text past the notes' room is not decoded at all.
        if (bytes.size() <= static_cast<std::size_t>(MaxCommentBytes / 2)) TCommentRoom().Keep(found, QStringLiteral("Description"), NoteText(bytes));
    }
    found.exif = ExifOfTiffDirectory(file, TIFFCurrentDirOffset(tiff));
    return found;
}
