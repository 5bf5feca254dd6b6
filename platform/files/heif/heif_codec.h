// HEIF pictures (HEIC, as phones save them) and AVIF pictures through
// libheif, which decodes HEVC through libde265 and AV1 through dav1d or aom.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstdint>
#include <span>

// Whether the bytes start with a file-type box naming a HEIF brand of
// HEVC pictures (heic, heix, mif1, ...) or, for AVIF, an AV1 one (avif,
// avis).
bool LooksLikeHeif(std::span<const std::uint8_t> bytes);
bool LooksLikeAvif(std::span<const std::uint8_t> bytes);

// Decodes the file's primary picture (of a file holding several, or a
// sequence, the one it names to be shown first), turned upright: by its
// rotation and mirroring properties, which libheif applies, or where it
// has none by its EXIF orientation. Into pf8bit with the grey palette for
// a grey picture, pf32bit with alpha for one with an alpha plane, else
// pf24bit; deeper samples are rounded to 8 bits. Its colour profile (an
// ICC profile, or its nclx description made into one), EXIF and XMP go
// into the picture's metadata. The size is checked against the opening
// memory before anything is decoded, counting libheif's own planes and
// its RGB image besides ours. libheif decodes in one call, giving progress
// between the tiles of a grid: a cancel is honoured once it returns, its
// picture dropped. libheif's limits against hostile files stay as they
// are. A TPictureReader (picture_codecs.h). No rows are ever missing: libheif gives a whole picture
// or none.
TRowsMissing DecodeHeif(std::span<const std::uint8_t> bytes, TBitmap &into);
