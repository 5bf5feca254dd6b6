// The table of palette colours by hash that the bitmap, conversion and the quantizer share.
#include "platform/pictures/colour_index_table.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

TEST(ColourIndexTable, AFullPaletteIsFoundEntryByEntryAndOtherColoursAreNot)
{
    std::mt19937 random(4);
    std::set<std::uint32_t> colours;
    // Black, white and neighbours of each other among random colours, so
    // that some share a slot.
    for (std::uint32_t c : {0x000000u, 0xFFFFFFu, 0x000001u, 0x000100u, 0x010000u}) colours.insert(c);
    while (colours.size() < 256) colours.insert(random() & 0xFFFFFF);
    TColourIndexTable table;
    int index = 0;
    for (std::uint32_t c : colours) {
        EXPECT_EQ(table.Add(c, static_cast<std::uint8_t>(index)), index);
        ++index;
    }
    index = 0;
    for (std::uint32_t c : colours) EXPECT_EQ(table.Find(c), index++) << std::hex << c;
    for (int k = 0; k < 1000; ++k) {
        const std::uint32_t other = random() & 0xFFFFFF;
        if (!colours.count(other)) {
            EXPECT_EQ(table.Find(other), -1) << std::hex << other;
        }
    }
}

TEST(ColourIndexTable, AColourAddedAgainKeepsItsFirstIndexAndClearEmptiesTheTable)
{
    TColourIndexTable table;
    EXPECT_EQ(table.Find(0x123456), -1);
    EXPECT_EQ(table.Add(0x123456, 7), 7);
    EXPECT_EQ(table.Add(0x123456, 9), 7);
    EXPECT_EQ(table.Find(0x123456), 7);
    table.Clear();
    EXPECT_EQ(table.Find(0x123456), -1);
    EXPECT_EQ(table.Add(0x123456, 9), 9);
}
