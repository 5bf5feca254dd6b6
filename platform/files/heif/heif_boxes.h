// What a HEIF or AVIF file's boxes say of its primary picture before it is
// decoded, read by hand over the bytes: what libheif does not tell.
#pragma once

#include <cstdint>
#include <span>

// How the colour of the primary picture (of its first tile, for a grid) is
// sampled, as its decoder configuration (hvcC, av1C) states it.
enum class THeifChroma { Unknown, Grey, Quarter, Half, Full };

struct THeifOutline {
    // The primary item carries a rotation or mirroring property (irot,
    // imir), which libheif applies as it decodes: the EXIF orientation is
    // then not applied again.
    bool transformed = false;
    THeifChroma chroma = THeifChroma::Unknown;
};

// Reads the meta box's primary item, item properties and references. A
// file it cannot follow gives what it found: nothing transformed, chroma
// unknown.
THeifOutline OutlineOfHeif(std::span<const std::uint8_t> bytes);
