// Rounding deep samples to 8 bits.
#include "platform/files/sample_depth.h"

#include <algorithm>

TSampleRounding::TSampleRounding(int bits) : table_(65536)
{
    const std::uint32_t top = (std::uint32_t(1) << std::clamp(bits, 1, 16)) - 1;
    for (std::uint32_t v = 0; v < table_.size(); ++v) table_[v] = static_cast<std::uint8_t>((std::min(v, top) * 255 + top / 2) / top);
}

void TSampleRounding::Row(const std::uint8_t *littleEndian, std::uint8_t *out, std::size_t count) const
{
    for (std::size_t i = 0; i < count; ++i) out[i] = table_[std::size_t(littleEndian[2 * i]) | std::size_t(littleEndian[2 * i + 1]) << 8];
}

void TSampleRounding::Row(const std::uint16_t *in, std::uint8_t *out, std::size_t count) const
{
    for (std::size_t i = 0; i < count; ++i) out[i] = table_[in[i]];
}
