// Every operation gives the same bytes on one thread and on any number of
// threads, whatever bands its rows are cut into: awkward sizes, every
// pixel format. Edge Detection's neighbours across a band's edge are the
// rows as they were, and its wrap at the picture's edges holds.
#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "imaging/mirror.h"
#include "imaging/pixel_capture.h"
#include "support/pictures.h"
#include "support/thread_splits.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// The operation on a copy of the picture, held to the split.
std::unique_ptr<TBitmap> Done(const TBitmap &picture, const TSplit &split, const std::function<void(TBitmap &)> &operation)
{
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(&picture);
    const THeldSplit held(split);
    operation(*copy);
    return copy;
}

} // namespace

TEST(EveryCore, EachOperationGivesTheSameBytesOnAnyNumberOfThreads)
{
    const struct {
        const char *name;
        std::function<void(TBitmap &)> run;
    } operations[] = {{"Complement", Complement}, {"EdgeDetection", EdgeDetection}, {"MirrorLeftRight", MirrorLeftRight}};
    std::uint32_t seed = 1;
    for (const auto &operation : operations)
        for (TPixelFormat format : AllPixelFormats)
            for (QSize size : AwkwardSizes()) {
                const auto picture = Noise(size.width(), size.height(), format, ++seed);
                const auto unsplit = Done(*picture, Unsplit, operation.run);
                for (const TSplit &split : SplitsToCompare())
                    ASSERT_TRUE(SameRowBytes(*unsplit, *Done(*picture, split, operation.run)))
                        << operation.name << ", " << BitsPerPixel(format) << " bits, " << size.width() << " x " << size.height()
                        << ", " << Describe(split);
            }
}

// Tall enough for Edge Detection's bands of several rows to meet: a band
// that wrote its rows before its neighbour read them would show.
TEST(EveryCore, EdgeDetectionAcrossManyBandsIsTheOneThreadResult)
{
    for (QSize size : {QSize(40, 200), QSize(1, 300), QSize(33, 65)}) {
        const auto picture = Noise(size.width(), size.height(), pf8bit, 77);
        const auto unsplit = Done(*picture, Unsplit, EdgeDetection);
        for (const TSplit &split : SplitsToCompare())
            ASSERT_TRUE(SameRowBytes(*unsplit, *Done(*picture, split, EdgeDetection)))
                << size.width() << " x " << size.height() << ", " << Describe(split);
    }
}

TEST(EveryCore, TheCaptureTakesTheSamePaletteAndTableOnAnyNumberOfThreads)
{
    std::uint32_t seed = 100;
    const auto capture = [](const TBitmap &picture, const TSplit &split, std::vector<int> &table) {
        table.assign(512 * 512, -1);
        return Done(picture, split, [&](TBitmap &bitmap) { CapturePixelsInto(bitmap, std::span<int, 512 * 512>(table.data(), table.size())); });
    };
    for (TPixelFormat format : AllPixelFormats)
        for (QSize size : {QSize(1, 600), QSize(600, 1), QSize(77, 31), QSize(513, 5)}) {
            const auto picture = Noise(size.width(), size.height(), format, ++seed);
            std::vector<int> unsplitTable, table;
            const auto unsplit = capture(*picture, Unsplit, unsplitTable);
            for (const TSplit &split : SplitsToCompare()) {
                const auto done = capture(*picture, split, table);
                ASSERT_TRUE(SameRowBytes(*unsplit, *done) && table == unsplitTable)
                    << BitsPerPixel(format) << " bits, " << size.width() << " x " << size.height() << ", " << Describe(split);
            }
        }
}
