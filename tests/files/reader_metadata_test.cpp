// TurnUpright, which every reader calls last: every orientation, on every
// pixel format a bitmap stores, each shown pixel the stored one the
// orientation names, the palette and alpha kept.
#include "platform/files/reader_metadata.h"
#include "support/comparisons.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

namespace {

// The stored pixel (x, y) of the upright picture shows, counted as EXIF
// describes each orientation.
std::pair<int, int> StoredAt(TOrientation stored, int x, int y, int width, int height)
{
    switch (stored) {
    case TOrientation::Upright: return {x, y};
    case TOrientation::Mirrored: return {width - 1 - x, y};
    case TOrientation::HalfTurn: return {width - 1 - x, height - 1 - y};
    case TOrientation::Flipped: return {x, height - 1 - y};
    case TOrientation::Transposed: return {y, x};
    case TOrientation::QuarterClockwise: return {y, height - 1 - x};
    case TOrientation::Transversed: return {width - 1 - y, height - 1 - x};
    case TOrientation::QuarterAnticlockwise: return {width - 1 - y, x};
    }
    return {x, y};
}

} // namespace

TEST(Upright, EveryOrientationOfEveryPixelFormatShowsTheStoredPixelItNames)
{
    for (const TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit})
        for (int o = 1; o <= 8; ++o) {
            const auto stored = static_cast<TOrientation>(o);
            SCOPED_TRACE(testing::Message() << "format " << int(format) << ", orientation " << o);
            // Odd sides, so that a middle row and column stay where they are.
            const auto original = MakeBitmap(13, 7, format);
            FillRandomBytes(*original, static_cast<std::uint32_t>(o * 10 + int(format)));
            original->SetAlphaChannel(format == pf32bit ? TAlphaChannel::Used : original->GetAlphaChannel());
            TBitmap turned;
            turned.Assign(original.get());
            TurnUpright(turned, stored);
            const bool swaps = o >= 5;
            ASSERT_EQ(turned.GetWidth(), swaps ? 7 : 13);
            ASSERT_EQ(turned.GetHeight(), swaps ? 13 : 7);
            EXPECT_EQ(turned.GetPixelFormat(), format);
            EXPECT_EQ(turned.GetAlphaChannel(), original->GetAlphaChannel());
            if (HasPalette(format)) {
                EXPECT_EQ(turned.GetPalette(), original->GetPalette());
            }
            for (int y = 0; y < turned.GetHeight(); ++y)
                for (int x = 0; x < turned.GetWidth(); ++x) {
                    const auto [sx, sy] = StoredAt(stored, x, y, 13, 7);
                    ASSERT_EQ(PixelBits(turned, x, y), PixelBits(*original, sx, sy)) << "at " << x << ", " << y;
                }
        }
}
