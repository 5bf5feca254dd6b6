// What a JPEG file carries besides its pixels, in its segments before the
// first scan: read from a file's bytes, and the segments a writer puts in.
#pragma once

#include "platform/metadata/colour_profiles.h"
#include "platform/pictures/picture_metadata.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// The pieces of the segments before the first scan: the colour profile of
// the APP2 ICC_PROFILE chunks (all of them there, each once, within
// MaxProfileBytes; else none), the first APP1 EXIF and XMP, the JFIF
// density (a ratio of 1:1 states none) and each COM as a note without a
// key. A damaged segment ends the walk; what came before is kept. Only
// the pieces kept are copied.
TPictureMetadata JpegMetadata(std::span<const std::uint8_t> file);

// The density a JFIF header states: 0 a ratio, 1 dots an inch, 2 dots a
// centimetre; values of 1 to 65535.
struct TJfifDensity {
    std::uint8_t unit = 0;
    std::uint16_t horizontal = 1;
    std::uint16_t vertical = 1;
};
// A resolution as JFIF states it: inches or centimetres
// (TResolution::InInchesOrCentimetres), rounded; a ratio made to
// fit 16 bits. 1:1 where there is none or it does not fit.
TJfifDensity JfifDensity(const std::optional<TResolution> &resolution);

// The segments that carry the metadata to save into a JPEG of colour or
// grey pixels: APP1 EXIF (where it fits a segment's 65527 bytes), APP1
// XMP (where it fits 65504), APP2 ICC_PROFILE chunks (a profile of the
// file's space, up to 255 chunks), then one COM a note. Pieces that do not
// fit are left out.
QByteArray JpegMetadataSegments(const TPictureMetadata &saved, TProfileSpace pixels);
