// What every reader does last with what its file carried besides the
// pixels: keeps it with the picture, and turns the picture upright as it
// says.
#pragma once

#include "platform/metadata/file_metadata.h"
#include "platform/pictures/bitmap.h"

#include <cstdint>

// The picture turned as the orientation says its stored rows and columns
// lie, so that it shows upright; any pixel format, its palette, alpha use
// and metadata kept. Mirrors and the half turn (2, 3, 4) are done in place;
// the four that swap rows and columns (5 to 8) take a second picture of the
// same size while they run, then free the first. Reports its progress
// (work_progress.h).
void TurnUpright(TBitmap &picture, TOrientation orientation);

// The bytes TurnUpright takes besides the picture: a second picture of
// pictureBytes for the orientations that swap rows and columns, else none.
// For the readers' memory checks before they decode.
std::uint64_t TurningBytes(TOrientation orientation, std::uint64_t pictureBytes);

// Keeps what the reader found with the picture it decoded: the unusable
// pieces left out (DropUnusablePieces), the EXIF's resolution where the
// container stated none, the picture turned upright as the pieces state
// (StatedOrientation), and the metadata set last, on the turned picture.
void KeepFoundMetadata(TBitmap &picture, TPictureMetadata found);
// As above, the picture turned as `orientation` says instead: for a format
// whose own properties say how the picture lies and whose decoder turns it
// (HEIF's irot and imir, JPEG XL's codestream), which its EXIF and XMP
// then describe already.
void KeepFoundMetadata(TBitmap &picture, TPictureMetadata found, TOrientation orientation);
