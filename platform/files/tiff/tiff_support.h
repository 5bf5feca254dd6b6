// What both TIFF readers share: reading a tag with its default, and the
// byte counts a directory states for its strips or tiles.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <span>
#include <vector>

class TTiffFile;

template <typename T>
T Field(TIFF *tiff, ttag_t tag, T fallback)
{
    T value = fallback;
    return TIFFGetFieldDefaulted(tiff, tag, &value) == 1 ? value : fallback;
}

// The byte count of each strip (TIFFTAG_STRIPBYTECOUNTS) or tile
// (TIFFTAG_TILEBYTECOUNTS) as the first directory gives it, or none when it
// gives none that can be read. libtiff puts its own reckoning in place of
// counts that look wrong to it (a single strip's count short of its rows,
// unequal counts of uncompressed strips), and would then read the bytes
// after a strip (the next strip, the directory) as its pixels.
std::vector<std::uint64_t> DeclaredByteCounts(const TTiffFile &file, ttag_t tag);

// The uncompressed strip rows that lie within what the file states: each
// within its strip's stated byte count (libtiff may have put its own in its
// place, or cut one strip into many) and before the directory.
class TStatedRows {
public:
    // rowBytes: the bytes of a row of one strip (of one plane, when the
    // samples lie in planes apart).
    TStatedRows(TIFF *tiff, const TTiffFile &file, std::uint64_t rowBytes);
    // Whether row y of the plane's strips is there. Always true for
    // compressed data, which its decoder checks.
    bool Holds(std::uint32_t y, std::uint16_t plane = 0) const;

private:
    TIFF *tiff_;
    std::vector<std::uint64_t> declared_;
    std::uint64_t rowsPerStrip_ = 1, stripsPerPlane_ = 1, rowBytes_ = 0;
};
