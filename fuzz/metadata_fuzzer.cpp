// Fuzz target: any bytes as each piece a file carries besides its pixels
// (EXIF, XMP, a colour profile), through everything a codec and the view
// do with them: checking, the orientation stated, what a save writes, and
// the colours shown. Nothing may crash or hang, and what is written must
// read back, upright.
#include "fuzz_support.h"

#include "platform/metadata/exif_xmp.h"
#include "platform/metadata/file_metadata.h"
#include "platform/metadata/shown_colours.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const QByteArray piece(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    TPictureMetadata read{.colourProfile = piece, .exif = ExifPayload(bytes), .xmp = piece};

    const int orientation = static_cast<int>(StatedOrientation(read));
    Require(orientation >= 1 && orientation <= 8, "the orientation stated is one of EXIF's eight");

    TPictureMetadata kept = read;
    DropUnusablePieces(kept);
    TBitmap picture;
    picture.Allocate(5, 3, pf24bit);
    picture.SetMetadata(kept);
    const TPictureMetadata saved = MetadataToSave(picture);
    Require(saved.colourProfile == kept.colourProfile, "a usable profile is written as read");
    Require(saved.exif.isEmpty() || ExifReadable(saved.exif), "the EXIF written reads back");
    Require(ExifOrientation(saved.exif).value_or(1) == 1, "the EXIF written states the picture upright");
    Require(saved.xmp.isEmpty() || XmpReadable(saved.xmp), "the XMP written reads back");
    Require(XmpOrientation(saved.xmp).value_or(1) == 1, "the XMP written states the picture upright");

    // The view, with the piece as the picture's profile and as the screen's.
    picture.SetMetadata({.colourProfile = piece});
    for (int x = 0; x < 5; ++x) picture.SetPixel(x, 1, RGB(50 * x, 255 - 40 * x, 128));
    TScreenColours onSrgb, onPiece(piece);
    const QImage shown = RenderShownView(picture, QSize(10, 6), QRect(0, 0, 10, 6), onSrgb);
    Require(shown.size() == QSize(10, 6), "the view covers what is exposed");
    RenderShownView(picture, QSize(10, 6), QRect(2, 1, 5, 5), onPiece);
    return 0;
}
