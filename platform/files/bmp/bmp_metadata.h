// What a BMP file carries besides its pixels, in its info header: read
// from a file's bytes.
#pragma once

#include "platform/pictures/picture_metadata.h"

#include <cstdint>
#include <span>

// The resolution (pixels per metre, where both are above 0) of a header
// of 40 bytes or more; and of a 108- or 124-byte header the colour space:
// an embedded profile (within MaxProfileBytes and the file), or a profile
// made from a calibrated space's endpoints and gammas. A linked profile,
// which names a file elsewhere, is not followed.
TPictureMetadata BmpMetadata(std::span<const std::uint8_t> file);
