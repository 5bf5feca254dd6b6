// TPictureMetadata: what a picture file carries besides its pixels, kept beside the bitmap.
//
// What it holds (each piece empty, or absent, when the file had none):
//  - colourProfile: the ICC profile's bytes. The colours of the pixels, and
//    of a palette, are in this profile's space; a picture without one is
//    sRGB.
//  - exif: the camera data as the TIFF structure EXIF is ("II*\0" or
//    "MM\0*" first), without a container's "Exif\0\0" in front.
//  - xmp: the XMP packet, UTF-8 XML.
//  - resolution: pixels per unit across and down, in the unit the file
//    stated (None: the file gave their ratio alone), or absent.
//  - comments: the text notes the file carries, key and text, in the
//    file's order; a format whose notes have no key gives an empty one.
//
// How it travels (TBitmap::GetMetadata):
//  - A reader fills it; Assign copies it, TakeOver moves it (the source is
//    left without any), SetMetadata replaces it. Nothing else changes it:
//    Allocate, SetPixelFormat (a conversion to a palette keeps the
//    profile, whose space the new palette's colours are in) and every
//    operation in imaging/ leave it as it is.
//  - It says what the file said. The EXIF and XMP fields that describe the
//    stored pixels (orientation, pixel dimensions, a thumbnail) are made
//    true for the picture being saved only when it is saved
//    (platform/metadata/file_metadata.h); the pieces are never rewritten
//    in the carrier itself.
//  - The byte pieces are implicitly shared: a copy costs nothing until one
//    of the two is changed.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The unit a file states its resolution in.
enum class TResolutionUnit { None, Inch, Centimetre, Metre };

struct TResolution {
    double horizontal = 0; // pixels per unit across
    double vertical = 0;   // pixels per unit down
    TResolutionUnit unit = TResolutionUnit::None;

    // The same resolution in another unit. A ratio alone (None) has no
    // physical unit to give: absent, except to None, which keeps the values.
    std::optional<TResolution> In(TResolutionUnit target) const;
    // As a format that states inches or centimetres states it: a metre's
    // resolution in inches where both values come out whole numbers (to a
    // hundredth; 11811 a metre is 300 an inch), else in centimetres.
    TResolution InInchesOrCentimetres() const;
    // Both values finite and above 0: what a reader may keep.
    bool Usable() const;
    bool operator==(const TResolution &) const = default;
};

struct TTextComment {
    QString key{};
    QString text{};
    bool operator==(const TTextComment &) const = default;
};

// Each member has an initializer, so that a carrier can be written with
// the pieces it holds alone: {.colourProfile = bytes}.
struct TPictureMetadata {
    QByteArray colourProfile{};
    QByteArray exif{};
    QByteArray xmp{};
    std::optional<TResolution> resolution{};
    QList<TTextComment> comments{};

    bool Empty() const;
    bool operator==(const TPictureMetadata &) const = default;
};
