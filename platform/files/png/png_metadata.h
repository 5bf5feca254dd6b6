// What a PNG file carries besides its pixels, in its ancillary chunks:
// read from a file's bytes, and the chunks a writer puts in.
#pragma once

#include "platform/metadata/colour_profiles.h"
#include "platform/pictures/picture_metadata.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// The chunks read here, which the reader keeps from libspng: iCCP, sRGB,
// gAMA, cHRM, eXIf, pHYs, tEXt, zTXt and iTXt.
bool IsPngMetadataChunk(const std::uint8_t *type);

// The pieces of the file's chunks, before its data and after: each
// chunk's checksum checked, a damaged chunk, or one PNG does not allow
// twice, left out. The colour profile is the iCCP's; else none where an
// sRGB chunk says sRGB; else one made from the gAMA (and cHRM, else sRGB's
// primaries) for the pixels' space (greyPixels), except where they come
// within a hundredth of sRGB's, which a picture without a profile is. The
// EXIF of the first eXIf, the XMP of the first iTXt keyed
// "XML:com.adobe.xmp", the pHYs resolution, and every other tEXt, zTXt and
// iTXt as a note. Compressed pieces are inflated only up to the largest
// each may take (MaxProfileBytes, MaxXmpBytes, the notes' room): one
// larger is left out, and a note that is, or cannot be read, ends the
// notes kept.
TPictureMetadata PngMetadata(std::span<const std::uint8_t> file, bool greyPixels);

// The chunks that carry the metadata to save into a PNG of RGB (palette
// included) or grey pixels, to follow its header: iCCP (a profile of the
// pixels' space), eXIf, pHYs (in metres, or a ratio), iTXt of the XMP,
// and a tEXt for each note, or an iTXt where its key or text needs more
// than Latin-1 (its key then "Comment", the key kept in its text).
QByteArray PngMetadataChunks(const TPictureMetadata &saved, TProfileSpace pixels);
