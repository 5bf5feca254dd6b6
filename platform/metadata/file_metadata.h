// What the codecs call to keep what a file carries besides its pixels:
// the pieces a reader found, made safe to keep; the orientation they
// state; and what a writer is to write with a picture.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// How the stored rows and columns are to be turned to show the picture
// upright, numbered as EXIF and TIFF number it.
enum class TOrientation {
    Upright = 1,
    Mirrored,             // left and right swapped
    HalfTurn,
    Flipped,              // top and bottom swapped
    Transposed,           // mirrored, then a quarter turn anticlockwise
    QuarterClockwise,     // turned a quarter clockwise to show
    Transversed,          // mirrored, then a quarter turn clockwise
    QuarterAnticlockwise, // turned a quarter anticlockwise to show
};

// The EXIF of a container's chunk or segment as the carrier keeps it: the
// TIFF structure, without the "Exif\0\0" that JPEG's APP1 (and some
// writers of PNG and WebP) put in front.
QByteArray ExifPayload(std::span<const std::uint8_t> chunk);

// Leaves out of the carrier each piece that cannot be used: a colour
// profile that is not a usable RGB or grey one (PictureProfileSpace,
// colour_profiles.h), EXIF or XMP that Exiv2 cannot read or that is too
// large (exif_xmp.h), a resolution not above 0. Every reader calls it once
// on what it found, before it hands the picture over: the picture opens
// whatever its pieces held, and what is left out is never written back.
void DropUnusablePieces(TPictureMetadata &metadata);

// The orientation the EXIF states, else the XMP's, else Upright: how a
// reader turns the stored picture upright.
TOrientation StatedOrientation(const TPictureMetadata &metadata);

// The notes a reader keeps, their keys and texts together, at most (as
// UTF-16, which the carrier holds): a file's notes past it are left out,
// whatever their compressed size in the file.
constexpr qsizetype MaxCommentBytes = qsizetype(1) << 20;

// What a reader's notes may still take: each note counts its key, its
// text and what holding it takes besides, so that many empty notes add
// up too.
class TCommentRoom {
public:
    // Adds a note the reader found, unless the notes would then take
    // more than MaxCommentBytes; whether it was kept. Once one is
    // refused, so is every later one: the notes kept are the file's first.
    bool Keep(TPictureMetadata &metadata, const QString &key, const QString &text);
    // The bytes of text the notes may still take, for a reader that
    // inflates a compressed note: once a note is refused, none.
    qsizetype Left() const { return left_ / 2; }
    // Refuses every further note: one too large to inflate was found.
    void Close() { left_ = 0; }

private:
    qsizetype left_ = MaxCommentBytes;
};

// The bytes of a note whose format names no encoding, as text: UTF-8
// where they are that, else Latin-1; NULs at the end left out.
QString NoteText(std::span<const std::uint8_t> bytes);

// A note as a format whose notes have no key writes it (JPEG's COM, the
// comments of GIF and PBM/PGM/PPM, TIFF's description): the text alone
// where the key is empty, "Comment" or "Description", which such notes
// are; else "key: text", so that what the key said stays.
QString KeylessComment(const TTextComment &comment);

// What a writer writes with the picture: its metadata with the EXIF and
// XMP made true for it (ExifForSaving, XmpForSaving: Orientation 1, the
// picture's pixel dimensions and resolution, no thumbnail), and every
// unusable piece left out as DropUnusablePieces does. A writer writes each
// piece its format can hold and leaves out the rest.
TPictureMetadata MetadataToSave(const TBitmap &picture);
