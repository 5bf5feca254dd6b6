// SetPixelFormat's vectorised indexing of 32-bit rows against the plain one, and the padding of converted rows.
#include "support/pictures.h"
#include "support/vector_levels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Runs of 1 to 40 pixels and single pixels, from `colours` colours; the
// byte after B, G, R is random, as it may be in a 32-bit picture.
std::unique_ptr<TBitmap> RunsOfColours(int width, int height, int colours, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint32_t> table(static_cast<std::size_t>(colours));
    for (std::uint32_t &c : table) c = random() & 0xFFFFFF;
    auto bitmap = MakeBitmap(width, height, pf32bit);
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = bitmap->GetScanline(y);
        for (int x = 0; x < width;) {
            const int run = random() % 4 == 0 ? 1 : 1 + static_cast<int>(random() % 40);
            const std::uint32_t colour = table[random() % table.size()];
            for (const int end = std::min(width, x + run); x < end; ++x) {
                const std::uint32_t v = colour | (random() << 24);
                std::memcpy(row + 4 * x, &v, 4);
            }
        }
    }
    return bitmap;
}

TEST(ConversionKernels, EveryKernelGivesThePlainIndicesAndPaletteOnAwkwardSizes)
{
    std::uint32_t seed = 100;
    for (int colours : {1, 2, 200, 256, 257, 600})
        for (int width : {1, 2, 31, 32, 33, 63, 64, 65, 95, 97, 200})
            for (int height : {1, 3}) {
                auto source = RunsOfColours(width, height, colours, ++seed);
                TBitmap plain;
                plain.Assign(source.get());
                {
                    const TVectorLevelHeld held(TVectorLevel::Plain);
                    plain.SetPixelFormat(pf8bit);
                }
                for (TVectorLevel level : VectorLevelsToCompare()) {
                    const TVectorLevelHeld held(level);
                    TBitmap converted;
                    converted.Assign(source.get());
                    converted.SetPixelFormat(pf8bit);
                    ASSERT_TRUE(SameBitmap(plain, converted)) << "level " << int(level) << ", " << colours << " colours, " << width << " x " << height;
                    if (colours <= 256) {
                        EXPECT_TRUE(SameColours(converted, *source)) << colours << " colours, " << width << " x " << height;
                    }
                }
            }
}

// The converted picture is written into memory that is not cleared first.
TEST(ConversionKernels, ConvertedRowsHaveZeroPaddingInEveryTargetFormat)
{
    for (TPixelFormat target : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit})
        for (int width : {1, 3, 5, 13}) {
            {
                std::vector<std::uint8_t> dirt(4096, 0xEE);
                volatile std::uint8_t kept = dirt[100];
                (void)kept;
            }
            auto bitmap = RunsOfColours(width, 3, 300, 7);
            bitmap->SetPixelFormat(target);
            const int used = (width * BitsPerPixel(target) + 7) / 8;
            for (int y = 0; y < 3; ++y)
                for (int i = used; i < static_cast<int>(bitmap->BytesPerRow()); ++i)
                    ASSERT_EQ(bitmap->GetScanline(y)[i], 0) << "format " << target << ", width " << width << ", row " << y;
        }
}

} // namespace
