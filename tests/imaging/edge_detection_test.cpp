// Edge detection: the clamped periodic 3 x 3 Laplacian of each row's bytes.
#include "imaging/edge_detection.h"
#include "support/pictures.h"
#include "support/vector_levels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// The operation written out from its definition, on a whole copy.
void ReferenceEdges(TBitmap &bitmap)
{
    const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
    const int count = std::min(w, (w * BitsPerPixel(bitmap.GetPixelFormat()) + 7) / 8);
    if (w == 0 || h == 0) return;
    TBitmap copy;
    copy.Assign(&bitmap);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t *prev = copy.GetScanline(y == 0 ? h - 1 : y - 1);
        const std::uint8_t *cur = copy.GetScanline(y);
        const std::uint8_t *next = copy.GetScanline(y == h - 1 ? 0 : y + 1);
        std::uint8_t *out = bitmap.GetScanline(y);
        for (int x = 0; x < count; ++x) {
            const int l = x == 0 ? count - 1 : x - 1, r = x == count - 1 ? 0 : x + 1;
            const int v = 8 * cur[x] - (prev[l] + prev[x] + prev[r] + cur[l] + cur[r] + next[l] + next[x] + next[r]);
            out[x] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
        }
    }
}

std::unique_ptr<TBitmap> Grey(int width, int height, int level)
{
    auto bitmap = MakeBitmap(width, height, pf8bit);
    for (int y = 0; y < height; ++y) std::fill_n(bitmap->GetScanline(y), width, static_cast<std::uint8_t>(level));
    return bitmap;
}

// Every row's whole memory, padding included.
std::vector<std::uint8_t> AllBytes(const TBitmap &bitmap)
{
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        bytes.insert(bytes.end(), bitmap.GetScanline(y), bitmap.GetScanline(y) + bitmap.BytesPerRow());
    return bytes;
}

} // namespace

TEST(EdgeDetection, FlatPictureHasNoEdgesBordersIncluded)
{
    auto bitmap = Grey(19, 7, 137);
    EdgeDetection(*bitmap);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 19; ++x) ASSERT_EQ(bitmap->GetScanline(y)[x], 0) << x << "," << y;
}

TEST(EdgeDetection, SingleBrightPixelStaysAndItsNeighboursClampToZero)
{
    auto bitmap = Grey(40, 5, 0);
    bitmap->GetScanline(2)[20] = 255;
    EdgeDetection(*bitmap);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(bitmap->GetScanline(y)[x], x == 20 && y == 2 ? 255 : 0) << x << "," << y;
}

TEST(EdgeDetection, DarkPixelInABrightFieldLightsItsEightNeighbours)
{
    auto bitmap = Grey(37, 9, 200);
    bitmap->GetScanline(4)[17] = 0;
    EdgeDetection(*bitmap);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 37; ++x) {
            const bool neighbour = std::abs(x - 17) <= 1 && std::abs(y - 4) <= 1 && !(x == 17 && y == 4);
            ASSERT_EQ(bitmap->GetScanline(y)[x], neighbour ? 200 : 0) << x << "," << y;
        }
}

TEST(EdgeDetection, WrapsAtTheLeftColumnAndTheTopRow)
{
    // A dark pixel in the bottom-right corner is a neighbour of the top-left one.
    auto bitmap = Grey(33, 6, 100);
    bitmap->GetScanline(5)[32] = 0;
    EdgeDetection(*bitmap);
    EXPECT_EQ(bitmap->GetScanline(0)[0], 100);
    EXPECT_EQ(bitmap->GetScanline(0)[31], 100);
    EXPECT_EQ(bitmap->GetScanline(4)[0], 100);
    EXPECT_EQ(bitmap->GetScanline(0)[1], 0);
    EXPECT_EQ(bitmap->GetScanline(2)[0], 0);
}

TEST(EdgeDetection, OnePixelPictureBecomesZero)
{
    auto bitmap = Grey(1, 1, 99);
    EdgeDetection(*bitmap);
    EXPECT_EQ(bitmap->GetScanline(0)[0], 0);
}

TEST(EdgeDetection, LeavesEmptyPicturesAlone)
{
    for (auto size : {std::pair{0, 4}, std::pair{4, 0}, std::pair{0, 0}}) {
        auto bitmap = MakeBitmap(size.first, size.second, pf8bit);
        EXPECT_NO_THROW(EdgeDetection(*bitmap));
        EXPECT_EQ(bitmap->GetWidth(), size.first);
        EXPECT_EQ(bitmap->GetHeight(), size.second);
    }
}

TEST(EdgeDetection, EveryKernelMatchesThePlainDefinitionOnAwkwardSizes)
{
    const std::pair<int, int> sizes[] = {{1, 9}, {9, 1}, {2, 2}, {3, 3}, {15, 4}, {16, 3}, {17, 5}, {31, 2},
                                         {33, 7}, {63, 3}, {64, 2}, {65, 6}, {97, 1}, {130, 5}, {1, 1}};
    std::uint32_t seed = 1;
    for (TVectorLevel level : VectorLevelsToCompare()) {
        const TVectorLevelHeld held(level);
        for (auto [w, h] : sizes)
            for (TPixelFormat format : AllPixelFormats) {
                auto bitmap = MakeBitmap(w, h, format);
                FillRandomBytes(*bitmap, ++seed);
                // Extreme bytes now and then, so both ends of the clamp are met.
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < std::min(w, static_cast<int>(bitmap->BytesPerRow())); x += 5)
                        bitmap->GetScanline(y)[x] &= (x % 2 ? 0x00 : 0xFF);
                TBitmap expected;
                expected.Assign(bitmap.get());
                ReferenceEdges(expected);
                EdgeDetection(*bitmap);
                // Padding and the bytes of a row past its pixels are compared too.
                ASSERT_EQ(AllBytes(*bitmap), AllBytes(expected))
                    << "level " << int(level) << " size " << w << "x" << h << " format " << format;
            }
    }
}
