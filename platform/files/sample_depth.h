// Samples deeper than 8 bits brought to 8 with rounding, as every reader of
// such files does: v of a `bits`-bit range becomes round(v * 255 / (2^bits - 1)).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TSampleRounding {
public:
    // For samples of 9 to 16 bits; values above the range count as its top.
    explicit TSampleRounding(int bits);
    std::uint8_t operator()(std::uint16_t sample) const { return table_[sample]; }
    // `count` samples held in 16-bit words, little-endian bytes, to 8 bits.
    void Row(const std::uint8_t *littleEndian, std::uint8_t *out, std::size_t count) const;
    // The same from 16-bit words in the machine's order.
    void Row(const std::uint16_t *in, std::uint8_t *out, std::size_t count) const;

private:
    std::vector<std::uint8_t> table_;
};

// A floating-point sample of the range 0 to 1, clamped to it, at 8 bits.
inline std::uint8_t RoundedSample(float sample)
{
    const float scaled = sample * 255.0f + 0.5f;
    return scaled >= 255.0f ? 255 : scaled > 0.0f ? static_cast<std::uint8_t>(scaled) : 0;
}
