// What a TIFF file carries besides its pixels, in the fields of its
// picture's directory: read from a file libtiff has open.
#pragma once

#include "platform/pictures/picture_metadata.h"

#include <tiffio.h>

class TTiffFile;

#include <cstdint>
#include <span>

// The fields of the directory libtiff has read (the picture's): the ICC
// profile field (within MaxProfileBytes), the XMP field (within
// MaxXmpBytes), XResolution, YResolution and ResolutionUnit (inches
// where it names none), ImageDescription as the note keyed "Description",
// and the fields that EXIF holds (Make, Model, DateTime, Orientation, ...)
// with the EXIF, GPS and interoperability directories, as the EXIF piece
// (tiff_directories.h; `file` is the file libtiff reads). The
// directory libtiff has read stays the current one.
TPictureMetadata TiffMetadata(TIFF *tiff, const TTiffFile &file);
