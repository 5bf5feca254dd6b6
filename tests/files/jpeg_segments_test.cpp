// The walk over a JPEG stream's segments, on streams put together byte by byte.
#include "platform/files/jpeg_segments.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

// The markers and payload sizes a walk meets until it ends.
std::vector<std::pair<int, std::size_t>> Walked(const TBytes &stream, TStrayBytes stray)
{
    std::vector<std::pair<int, std::size_t>> met;
    TJpegSegments segments(stream, stray);
    while (const auto segment = segments.Next()) met.emplace_back(int(segment->marker), segment->payload.size());
    return met;
}

} // namespace

TEST(JpegSegments, FillBytesAndMarkersThatStandAloneAreSteppedOverAndEndOfImageEndsTheWalk)
{
    const TBytes stream = {0xFF, 0xD8,                    // SOI
                           0xFF, 0xE0, 0x00, 0x04, 1, 2,  // APP0 of 2 bytes
                           0xFF, 0xFF, 0xFF, 0x01,        // fill bytes, TEM
                           0xFF, 0xD3, 0xFF, 0xD8,        // RST3, a repeated SOI
                           0xFF, 0xFE, 0x00, 0x02,        // an empty comment
                           0xFF, 0xD9};
    const std::vector<std::pair<int, std::size_t>> expected = {{0xE0, 2}, {0xFE, 0}, {0xD9, 0}};
    EXPECT_EQ(Walked(stream, TStrayBytes::End), expected);
    EXPECT_EQ(Walked(stream, TStrayBytes::Skip), expected);
    TJpegSegments segments(stream, TStrayBytes::End);
    const auto app0 = segments.Next();
    ASSERT_TRUE(app0);
    EXPECT_EQ(app0->at, 2u);
    EXPECT_EQ(app0->end, 8u);
    EXPECT_EQ(app0->payload[1], 2);
}

TEST(JpegSegments, StrayBytesEndOneWalkAndAreSkippedByTheOther)
{
    const TBytes stream = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x02, 'x', 0x00, 0xFF, 0x00, 0xFF, 0xFE, 0x00, 0x03, 7};
    EXPECT_EQ(Walked(stream, TStrayBytes::End), (std::vector<std::pair<int, std::size_t>>{{0xE1, 0}}));
    // 0xFF 0x00 is no marker either.
    EXPECT_EQ(Walked(stream, TStrayBytes::Skip), (std::vector<std::pair<int, std::size_t>>{{0xE1, 0}, {0xFE, 1}}));
}

TEST(JpegSegments, ALengthShortOfItselfOrPastTheEndEndsTheWalk)
{
    for (const TBytes &stream : {TBytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xD9}, TBytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x05, 1, 2},
                                 TBytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00}, TBytes{0xFF, 0xD8, 0xFF}})
        EXPECT_TRUE(Walked(stream, TStrayBytes::Skip).empty()) << stream.size() << " bytes";
    // A length that just fits is whole.
    EXPECT_EQ(Walked({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 1, 2}, TStrayBytes::End), (std::vector<std::pair<int, std::size_t>>{{0xE0, 2}}));
}

TEST(JpegSegments, EntropyCodedDataRunsToTheNextMarkerOverStuffedBytesAndRestarts)
{
    const TBytes stream = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, // SOS with an empty header
                           1, 0xFF, 0x00, 2, 0xFF, 0xD5, 3, 4,  // data: a stuffed byte, RST5
                           0xFF, 0xFF, 0xD9};                   // a fill byte, EOI
    TJpegSegments segments(stream, TStrayBytes::Skip);
    const auto scan = segments.Next();
    ASSERT_TRUE(scan);
    EXPECT_EQ(scan->marker, TJpegMarker::Sos);
    EXPECT_EQ(segments.SkipEntropyCodedData(), 9u);
    const auto end = segments.Next();
    ASSERT_TRUE(end);
    EXPECT_EQ(end->marker, TJpegMarker::Eoi);
    // Data that runs to the end of the bytes is all of what is left.
    const TBytes cut(stream.begin(), stream.end() - 2);
    TJpegSegments cutSegments(cut, TStrayBytes::Skip);
    ASSERT_TRUE(cutSegments.Next());
    EXPECT_EQ(cutSegments.SkipEntropyCodedData(), 9u);
    EXPECT_FALSE(cutSegments.Next());
}
