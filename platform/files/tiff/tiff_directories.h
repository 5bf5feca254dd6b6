// EXIF as a TIFF file's directories hold it. The EXIF piece is itself a
// TIFF structure whose first directory holds the fields that describe the
// picture (maker, model, dates, orientation, ...) and points at the EXIF,
// GPS and interoperability directories; in a TIFF file those fields stand
// in the picture's own directory. Copied raw, field by field, so that
// every value keeps its type and bytes.
#pragma once

#include <QByteArray>

class TTiffFile;

#include <cstdint>
#include <span>

// The EXIF piece of a classic TIFF file's directory at `directory`: its
// fields that describe the picture as EXIF's first directory does, and
// its EXIF, GPS and interoperability directories whole, as a TIFF
// structure of its own in the file's byte order. What it copies stays
// within MaxExifBytes (a field that would pass it is left out), a field
// whose value lies outside the file is left out, and each directory is
// read at most once. Empty when the directory holds none of these.
QByteArray ExifOfTiffDirectory(const TTiffFile &file, std::uint64_t directory);

// Whether an EXIF piece is in big-endian ("MM") byte order.
bool BigEndianExif(const QByteArray &exif);

// A classic TIFF file with the EXIF piece's fields of the picture that its
// first directory lacks added, and the piece's EXIF, GPS and
// interoperability directories: the directory is written again after the
// file's bytes, with them, and the header made to point at it (the old
// one's bytes stay, unused). The file and the piece must have the same
// byte order. The file as it is when the piece is empty or holds none of
// these, or the file is not such a file.
QByteArray WithExifDirectories(QByteArray file, const QByteArray &exif);
