// The conversions between pixel formats and the view's rendering give the
// same bytes, and the same palette, on one thread and on any number of
// threads, whatever bands the rows are cut into.
#include "platform/pictures/bitmap.h"
#include "platform/pictures/colour_quantizer.h"
#include "platform/pictures/picture_view.h"
#include "support/pictures.h"
#include "support/thread_splits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

namespace {

// Pixels of `colours` distinct colours (of `grey` levels when asked),
// scattered so that every band meets them in an order of its own; 0 for
// random bytes under a random palette.
std::unique_ptr<TBitmap> Picture(QSize size, TPixelFormat format, int colours, std::uint32_t seed)
{
    if (colours == 0) return Noise(size.width(), size.height(), format, seed, TNoisePalette::Random);
    auto picture = MakeBitmap(size.width(), size.height(), format);
    std::mt19937 random(seed);
    std::vector<TColor> chosen;
    for (int i = 0; i < colours; ++i) chosen.push_back(static_cast<TColor>(random() & 0xFFFFFF));
    FillColours(*picture, [&](int, int) { return chosen[random() % chosen.size()]; });
    return picture;
}

std::unique_ptr<TBitmap> Converted(const TBitmap &picture, TPixelFormat to, const TSplit &split)
{
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(&picture);
    const THeldSplit held(split);
    copy->SetPixelFormat(to);
    return copy;
}

void ExpectSameOnEverySplit(const TBitmap &picture, TPixelFormat to, const std::string &what)
{
    const auto unsplit = Converted(picture, to, Unsplit);
    for (const TSplit &split : SplitsToCompare())
        ASSERT_TRUE(SameRowBytes(*unsplit, *Converted(picture, to, split)))
            << what << " to " << BitsPerPixel(to) << " bits, " << Describe(split);
}

} // namespace

TEST(EveryCore, EveryConversionGivesTheSameBytesAndPaletteOnAnyNumberOfThreads)
{
    std::uint32_t seed = 1;
    // Many colours (the adaptive palette), 200 and 12 colours (exactly
    // those, in order of first appearance), and two greys.
    for (int colours : {0, 200, 12, 2})
        for (TPixelFormat from : AllPixelFormats)
            for (QSize size : AwkwardSizes()) {
                const auto picture = Picture(size, from, colours, ++seed);
                for (TPixelFormat to : AllPixelFormats) {
                    if (to == from) continue;
                    ExpectSameOnEverySplit(*picture, to,
                                           std::to_string(colours) + " colours, " + std::to_string(BitsPerPixel(from)) + " bits, " +
                                               std::to_string(size.width()) + " x " + std::to_string(size.height()));
                }
            }
}

// A palette of few colours lists them in the order they first appear, top
// row first, wherever they first appear: in the top row, which every thread
// starts from, and in later bands, each thread's own, which keep adding
// colours down the picture.
TEST(EveryCore, AFewColoursPaletteIsInTheOrderOfFirstAppearanceOnAnyNumberOfThreads)
{
    std::mt19937 random(5);
    std::vector<TColor> colours(150);
    for (TColor &c : colours) c = static_cast<TColor>(random() & 0xFFFFFF);
    for (TPixelFormat from : {pf24bit, pf32bit}) {
        // Large enough that every thread takes bands of it; a few pixels a
        // row of colours from a choice that grows down the picture, so that
        // each thread meets them in an order of its own.
        auto picture = MakeBitmap(1000, 2000, from);
        FillColours(*picture, [&](int, int y) {
            return random() % 200 == 0 ? colours[random() % std::min<std::size_t>(150, 2 + static_cast<std::size_t>(y) / 8)] : colours[0];
        });
        std::vector<TColor> order;
        for (int y = 0; y < picture->GetHeight(); ++y)
            for (int x = 0; x < picture->GetWidth(); ++x)
                if (std::find(order.begin(), order.end(), picture->GetPixel(x, y)) == order.end()) order.push_back(picture->GetPixel(x, y));
        ASSERT_GT(order.size(), 100u);
        std::vector<TSplit> splits = SplitsToCompare();
        splits.push_back(Unsplit);
        for (const TSplit &split : splits) {
            const auto converted = Converted(*picture, pf8bit, split);
            const TPalette &palette = converted->GetPalette();
            EXPECT_TRUE(std::equal(order.begin(), order.end(), palette.begin()))
                << BitsPerPixel(from) << " bits, " << Describe(split);
        }
    }
}

// Each band has few colours, but the picture more than a palette holds:
// the threads' colours fit one by one and not together.
TEST(EveryCore, ColoursThatFitEachBandButNotThePictureTakeTheAdaptivePaletteOnAnyNumberOfThreads)
{
    auto picture = MakeBitmap(50, 120, pf24bit);
    FillColours(*picture, [](int x, int y) { return static_cast<TColor>(RGB(y * 2, (x % 3) * 90, y % 7 * 30)); });
    auto grey = MakeBitmap(50, 120, pf24bit);
    FillColours(*grey, [](int x, int y) { return static_cast<TColor>(RGB(y * 2 + x % 2, y * 2 + x % 2, y * 2 + x % 2)); });
    for (const TBitmap *p : {picture.get(), grey.get()})
        for (TPixelFormat to : {pf8bit, pf4bit}) ExpectSameOnEverySplit(*p, to, "colours by row");
}

// A gradient whose colours' cells tie in the palette's choice: the cells
// must reach it in the picture's order, whichever thread counted which
// rows. Which thread takes which band is chance, so the threads' counts
// are made here, each of some of the rows.
TEST(EveryCore, ColoursCountedByManyThreadsTakeTheOneThreadPalette)
{
    constexpr int width = 58, height = 32;
    const auto colour = [](int x, int y) { return static_cast<std::uint32_t>(RGB((x * 3) & 0xFF, (y * 5) & 0xFF, ((x + y) * 2) & 0xFF)); };
    const auto palette = [&](int threads, int rowsEach) {
        std::vector<TColourQuantizer::ColourCounts> counts(static_cast<std::size_t>(threads));
        for (int y = 0; y < height; ++y) {
            std::vector<std::uint32_t> row;
            for (int x = 0; x < width; ++x) row.push_back(colour(x, y));
            counts[static_cast<std::size_t>(y / rowsEach % threads)].Add(row.data(), row.size(), std::uint64_t(y) * width);
        }
        TColourQuantizer quantizer(256);
        quantizer.Build(counts);
        return quantizer.Palette();
    };
    const std::vector<TColor> one = palette(1, 1);
    for (int threads : {2, 3})
        for (int rowsEach : {1, 5}) EXPECT_EQ(one, palette(threads, rowsEach)) << threads << " threads, bands of " << rowsEach << " rows";
}

// The palette's choice shares its items out among the threads in pieces of
// a fixed size: palettes from a few cells to every cell, with pieces that
// end at the last cell or a cell past it, are the same on any number of
// threads, and so is every colour's entry.
TEST(EveryCore, ThePalettesChoiceIsTheSameOnAnyNumberOfThreadsForAnyNumberOfCells)
{
    // Two colours a cell (5 bits a channel), so that its mean lies between levels.
    const auto colours = [](std::uint32_t cells) {
        std::vector<std::uint32_t> row;
        for (std::uint32_t i = 0; i < cells; ++i) {
            const std::uint32_t cell = (i * 7919) % 32768;
            const std::uint32_t colour = ((cell & 31) << 3) | (((cell >> 5) & 31) << 11) | (((cell >> 10) & 31) << 19);
            row.insert(row.end(), {colour, colour | 0x050307 * (i % 2 + 1)});
        }
        return row;
    };
    const auto choice = [&](std::uint32_t cells, unsigned threads) {
        const std::vector<std::uint32_t> row = colours(cells);
        std::vector<TColourQuantizer::ColourCounts> counts(1);
        counts[0].Add(row.data(), row.size(), 0);
        const TPiecesHeld held(threads);
        TColourQuantizer quantizer(256);
        quantizer.Build(counts);
        std::vector<std::uint8_t> indices(row.size());
        quantizer.Map(row.data(), indices.data(), row.size());
        return std::pair{quantizer.Palette(), indices};
    };
    for (std::uint32_t cells : {1u, 2u, 255u, 256u, 257u, 513u, 4000u, 32768u}) {
        const auto one = choice(cells, 1);
        for (unsigned threads : {2u, 3u, 5u}) {
            const auto many = choice(cells, threads);
            EXPECT_EQ(one.first, many.first) << cells << " cells, " << threads << " threads";
            EXPECT_EQ(one.second, many.second) << cells << " cells, " << threads << " threads";
        }
    }
}

// More pixels than the palette's choice counts: a sample of the rows is
// counted, each at its place in the sample whichever thread counts it, so
// that the sample's last rows (red here) are counted too.
TEST(EveryCore, APictureCountedBySampleTakesTheSamePaletteOnAnyNumberOfThreads)
{
    constexpr int height = 8300;
    const auto picture = Picture(QSize(2048, height), pf16bit, 0, 5);
    for (int y = height - 300; y < height; ++y)
        for (int x = 0; x < 2048; ++x) picture->SetPixel(x, y, clRed);
    const auto unsplit = Converted(*picture, pf8bit, Unsplit);
    EXPECT_EQ(unsplit->GetPixel(0, height - 1), clRed);
    for (const TSplit &split : {TSplit{2, BandBytes}, TSplit{3, 4096}})
        ASSERT_TRUE(SameRowBytes(*unsplit, *Converted(*picture, pf8bit, split))) << Describe(split);
}

TEST(EveryCore, TheViewIsTheSameOnAnyNumberOfThreads)
{
    std::uint32_t seed = 50;
    for (TPixelFormat format : AllPixelFormats)
        for (QSize size : {QSize(300, 200), QSize(1, 500), QSize(500, 1)}) {
            auto picture = Picture(size, format, 0, ++seed);
            // Alpha used: the checkerboard shows through.
            picture->SetAlphaChannel(TAlphaChannel::Used);
            for (double scale : {0.25, 0.5, 0.8, 1.0, 1.5}) {
                const QSize shown(std::max(1, int(size.width() * scale)), std::max(1, int(size.height() * scale)));
                const QRect exposed(3, 2, shown.width(), shown.height());
                QImage unsplit;
                {
                    const THeldSplit held(Unsplit);
                    unsplit = RenderPictureView(*picture, shown, exposed);
                }
                for (const TSplit &split : SplitsToCompare()) {
                    const THeldSplit held(split);
                    ASSERT_EQ(unsplit, RenderPictureView(*picture, shown, exposed))
                        << BitsPerPixel(format) << " bits at " << scale << ", " << Describe(split);
                }
            }
        }
}
