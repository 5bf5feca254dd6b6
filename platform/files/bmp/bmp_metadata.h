// What a BMP file carries besides its pixels, in its info header: read
// from a file's bytes.
#pragma once

#include "platform/pictures/picture_metadata.h"

#include <cstdint>
#include <optional>
#include <span>

// The resolution (pixels per metre, where both are above 0) of a header
// of 40 bytes or more; and of a 108- or 124-byte header the colour space:
// an embedded profile (within MaxProfileBytes and the file), or a profile
// made from a calibrated space's endpoints and gammas. A linked profile,
// which names a file elsewhere, is not followed.
TPictureMetadata BmpMetadata(std::span<const std::uint8_t> file);

// Where a 124-byte header places the profile it embeds: its offset in the
// file and its size (at most MaxProfileBytes). None for any other header.
struct TBmpProfilePlace {
    std::uint64_t at;
    std::uint64_t size;
};
std::optional<TBmpProfilePlace> BmpProfilePlace(std::span<const std::uint8_t> headers);

// BmpMetadata of a file read in parts: its start, holding its headers, and
// the bytes of the profile they embed, where the file holds them (else
// empty).
TPictureMetadata BmpMetadata(std::span<const std::uint8_t> headers, std::span<const std::uint8_t> profile);
