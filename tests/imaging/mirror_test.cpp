// Mirror: whole pixels reversed left to right in every pixel format.
#include "imaging/mirror.h"
#include "support/comparisons.h"
#include "support/pictures.h"
#include "support/vector_levels.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Whatever a row holds past its last pixel bit: unused bits and padding.
std::vector<int> BitsPastThePixels(const TBitmap &bitmap)
{
    std::vector<int> bits;
    const int used = bitmap.GetWidth() * BitsPerPixel(bitmap.GetPixelFormat());
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int i = used; i < 8 * static_cast<int>(bitmap.BytesPerRow()); ++i) bits.push_back((bitmap.GetScanline(y)[i / 8] >> (7 - i % 8)) & 1);
    return bits;
}

} // namespace

TEST(Mirror, EveryKernelMovesPixelXToWidthMinusOneMinusXInEveryFormat)
{
    std::uint32_t seed = 7;
    for (TVectorLevel level : VectorLevelsToCompare()) {
        const TVectorLevelHeld held(level);
        for (TPixelFormat format : AllPixelFormats)
            for (int width : {2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 96, 97, 129, 200}) {
                auto bitmap = Noise(width, 3, format, ++seed);
                // Bits past the last pixel of a row are set where the format has any.
                const int used = width * BitsPerPixel(format);
                if (used % 8) bitmap->GetScanline(1)[used / 8] |= static_cast<std::uint8_t>(0xFF >> (used % 8));
                TBitmap original;
                original.Assign(bitmap.get());
                MirrorLeftRight(*bitmap);
                for (int y = 0; y < 3; ++y)
                    for (int x = 0; x < width; ++x)
                        ASSERT_EQ(PixelBits(*bitmap, x, y), PixelBits(original, width - 1 - x, y))
                            << "level " << int(level) << " format " << format << " width " << width << " at " << x << "," << y;
                EXPECT_EQ(BitsPastThePixels(*bitmap), BitsPastThePixels(original)) << "format " << format << " width " << width;
            }
    }
}

TEST(Mirror, TwiceGivesTheOriginalInEveryFormat)
{
    for (TPixelFormat format : AllPixelFormats)
        for (int width : {1, 2, 5, 33, 100}) {
            auto bitmap = Noise(width, 4, format, static_cast<std::uint32_t>(width + 100 * format));
            TBitmap original;
            original.Assign(bitmap.get());
            MirrorLeftRight(*bitmap);
            if (width > 1) {
                EXPECT_FALSE(SameBitmap(*bitmap, original)) << "format " << format << " width " << width;
            }
            MirrorLeftRight(*bitmap);
            EXPECT_TRUE(SameBitmap(*bitmap, original)) << "format " << format << " width " << width;
        }
}

TEST(Mirror, OnePixelWidePictureAndOddMiddleColumnStay)
{
    for (TPixelFormat format : AllPixelFormats) {
        auto narrow = Noise(1, 6, format, 3);
        TBitmap original;
        original.Assign(narrow.get());
        MirrorLeftRight(*narrow);
        EXPECT_TRUE(SameBitmap(*narrow, original)) << "format " << format;

        auto odd = Noise(9, 2, format, 4);
        original.Assign(odd.get());
        MirrorLeftRight(*odd);
        for (int y = 0; y < 2; ++y) EXPECT_EQ(PixelBits(*odd, 4, y), PixelBits(original, 4, y)) << "format " << format;
    }
}

TEST(Mirror, KeepsColoursAndAlphaOfThirtyTwoBitPixels)
{
    auto bitmap = MakeBitmap(3, 1, pf32bit);
    std::uint8_t *row = bitmap->GetScanline(0);
    const std::uint8_t bytes[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::memcpy(row, bytes, 12);
    MirrorLeftRight(*bitmap);
    const std::uint8_t expected[12] = {9, 10, 11, 12, 5, 6, 7, 8, 1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(row, expected, 12), 0);
}

TEST(Mirror, LeavesEmptyPicturesAloneAndSignalsTheChange)
{
    for (auto size : {std::pair{0, 3}, std::pair{3, 0}, std::pair{5, 2}}) {
        auto bitmap = MakeBitmap(size.first, size.second, pf24bit);
        int changes = 0;
        bitmap->SetOnChange([&] { ++changes; });
        EXPECT_NO_THROW(MirrorLeftRight(*bitmap));
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(bitmap->GetWidth(), size.first);
        EXPECT_EQ(bitmap->GetHeight(), size.second);
    }
}
