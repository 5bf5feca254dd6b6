// TColourIndexTable: up to 256 colours, each with its palette index, found by hash.
#pragma once

#include <array>
#include <cstdint>

// Colours are 24-bit keys (0x00BBGGRR, or B | G << 8 | R << 16 where rows
// are read as they lie); 0xFFFFFFFF, never a colour, marks an empty slot.
// Open addressing over 1024 slots: with at most 256 colours a lookup
// usually takes one slot. Holding more than 256 is the caller's fault.
class TColourIndexTable {
public:
    TColourIndexTable() { Clear(); }

    void Clear() { colours_.fill(Empty); }

    // The index stored with the colour, or -1.
    int Find(std::uint32_t colour) const
    {
        for (std::uint32_t slot = SlotOf(colour); colours_[slot] != Empty; slot = Next(slot))
            if (colours_[slot] == colour) return indices_[slot];
        return -1;
    }

    // Stores the colour with the index unless it is there already; the
    // index the table holds for it either way.
    int Add(std::uint32_t colour, std::uint8_t index)
    {
        std::uint32_t slot = SlotOf(colour);
        for (; colours_[slot] != Empty; slot = Next(slot))
            if (colours_[slot] == colour) return indices_[slot];
        colours_[slot] = colour;
        indices_[slot] = index;
        return index;
    }

private:
    static constexpr std::uint32_t Slots = 1024;
    static constexpr std::uint32_t Empty = 0xFFFFFFFF;
    // Fibonacci hashing: the top 10 bits of the colour times 2^32 / phi.
    static constexpr std::uint32_t SlotOf(std::uint32_t colour) { return (colour * 2654435761u) >> 22; }
    static constexpr std::uint32_t Next(std::uint32_t slot) { return (slot + 1) & (Slots - 1); }

    std::array<std::uint32_t, Slots> colours_;
    std::array<std::uint8_t, Slots> indices_{};
};
