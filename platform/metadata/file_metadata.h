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

// What a writer writes with the picture: its metadata with the EXIF and
// XMP made true for it (ExifForSaving, XmpForSaving: Orientation 1, the
// picture's pixel dimensions and resolution, no thumbnail), and every
// unusable piece left out as DropUnusablePieces does. A writer writes each
// piece its format can hold and leaves out the rest.
TPictureMetadata MetadataToSave(const TBitmap &picture);
