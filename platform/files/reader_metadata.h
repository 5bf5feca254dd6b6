// What every reader does last with what its file carried besides the
// pixels: keeps it with the picture, and turns the picture upright as it
// says.
#pragma once

#include "platform/metadata/file_metadata.h"
#include "platform/pictures/bitmap.h"

// The picture turned as the orientation says its stored rows and columns
// lie, so that it shows upright; any pixel format, its palette and alpha
// kept. Reports its progress (work_progress.h).
void TurnUpright(TBitmap &picture, TOrientation orientation);

// Keeps what the reader found with the picture it decoded: the unusable
// pieces left out (DropUnusablePieces), the EXIF's resolution where the
// container stated none, the picture turned upright as the pieces state
// (StatedOrientation), and the metadata set last, on the turned picture.
void KeepFoundMetadata(TBitmap &picture, TPictureMetadata found);
