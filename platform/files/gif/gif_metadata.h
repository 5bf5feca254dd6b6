// What a GIF file carries besides its pixels, in its extension blocks:
// read from a file's bytes. (This program does not write GIF.)
#pragma once

#include "platform/pictures/picture_metadata.h"

#include <cstdint>
#include <span>

// Every comment extension as a note without a key; the colour profile of
// the first "ICCRGBG1012" application extension (within MaxProfileBytes)
// and the XMP of the first "XMP DataXMP" one. The walk ends at the
// trailer, at the end of the file or where a block runs past it; what
// came before is kept.
TPictureMetadata GifMetadata(std::span<const std::uint8_t> file);
