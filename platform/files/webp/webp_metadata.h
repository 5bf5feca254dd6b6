// What a WebP file carries besides its pixels, in the chunks of its RIFF
// container: read from a file's bytes, and put into an encoded file.
#pragma once

#include "platform/pictures/picture_metadata.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// The ICCP chunk's colour profile (within MaxProfileBytes), the first
// EXIF and XMP chunks. A chunk that runs past the file's end ends the
// walk; what came before is kept. Only the pieces kept are copied.
TPictureMetadata WebpMetadata(std::span<const std::uint8_t> file);

// The encoded file with the metadata to save in chunks of its own (an
// RGB colour profile, EXIF, XMP), through libwebp's mux library, which
// writes the extended header that announces them; the file as it is when
// there is none. Throws Exception when the library fails.
QByteArray WebpWithMetadata(const QByteArray &encoded, const TPictureMetadata &saved);
