// Unsigned numbers of 2 and 4 bytes read in either byte order, as files
// whose header names their order (TIFF, EXIF) store them.
#pragma once

#include <cstdint>

enum class TByteOrder { LittleEndian, BigEndian };

inline std::uint16_t ReadUInt16(const std::uint8_t *p, TByteOrder order)
{
    return order == TByteOrder::BigEndian ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
}

inline std::uint32_t ReadUInt32(const std::uint8_t *p, TByteOrder order)
{
    return order == TByteOrder::BigEndian
        ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3]
        : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}
