// Colour profiles: which a picture can use, the transforms into a screen's
// (made once a pair), and the view rendered in the screen's colours.
#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/shown_colours.h"
#include "support/pictures.h"
#include "support/profiles.h"
#include "support/thread_splits.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t Shown(int r, int g, int b) { return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b); }

// Whether two shown colours are within the rounding of an 8-bit transform.
testing::AssertionResult Near(std::uint32_t shown, std::uint32_t expected)
{
    for (int shift : {0, 8, 16})
        if (std::abs(int(shown >> shift & 0xFF) - int(expected >> shift & 0xFF)) > 2)
            return testing::AssertionFailure() << std::hex << "shown " << shown << ", expected about " << expected;
    return testing::AssertionSuccess();
}

std::uint32_t Converted(const TColourTransform &transform, std::uint32_t pixel)
{
    transform.Convert(&pixel, 1);
    return pixel;
}

// The same colours with red and green swapped.
QImage SwappedRedAndGreen(const QImage &image)
{
    QImage swapped = image;
    for (int y = 0; y < swapped.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(swapped.scanLine(y));
        for (int x = 0; x < swapped.width(); ++x) row[x] = qRgb(qGreen(row[x]), qRed(row[x]), qBlue(row[x]));
    }
    return swapped;
}

// The largest difference in a channel between two transforms' colours.
int WorstDifference(const TColourTransform &one, const TColourTransform &other, const std::vector<std::uint32_t> &colours)
{
    std::vector<std::uint32_t> byOne = colours, byOther = colours;
    one.Convert(byOne.data(), byOne.size());
    other.Convert(byOther.data(), byOther.size());
    int worst = 0;
    for (std::size_t i = 0; i < colours.size(); ++i)
        for (int shift : {0, 8, 16}) worst = std::max(worst, std::abs(int(byOne[i] >> shift & 0xFF) - int(byOther[i] >> shift & 0xFF)));
    return worst;
}

testing::AssertionResult NearImages(const QImage &shown, const QImage &expected)
{
    if (shown.size() != expected.size()) return testing::AssertionFailure() << "sizes differ";
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (!Near(shown.pixel(x, y), expected.pixel(x, y))) return Near(shown.pixel(x, y), expected.pixel(x, y)) << " at " << x << ", " << y;
    return testing::AssertionSuccess();
}

} // namespace

TEST(PictureProfileSpace, RgbAndGreyProfilesAreUsableAndNothingElse)
{
    EXPECT_EQ(PictureProfileSpace(SwappedRedGreenProfile()), TProfileSpace::Rgb);
    EXPECT_EQ(PictureProfileSpace(WideGamutProfile()), TProfileSpace::Rgb);
    EXPECT_EQ(PictureProfileSpace(LinearGreyProfile()), TProfileSpace::Grey);
    EXPECT_EQ(PictureProfileSpace(LabProfile()), std::nullopt);
    EXPECT_EQ(PictureProfileSpace(DeviceLinkProfile()), std::nullopt);
    EXPECT_EQ(PictureProfileSpace(DamagedCurveProfile()), std::nullopt);
    EXPECT_EQ(PictureProfileSpace(GarbageProfile()), std::nullopt);
    EXPECT_EQ(PictureProfileSpace({}), std::nullopt);
    const QByteArray wide = WideGamutProfile();
    EXPECT_EQ(PictureProfileSpace(wide.left(wide.size() - 40)), std::nullopt);
}

TEST(PictureProfileSpace, ALargeTableIsCheckedForItsStructureAndUsedByTheView)
{
    const QByteArray table = TableProfile(33);
    ASSERT_GT(table.size(), FullyCheckedProfileBytes);
    EXPECT_EQ(PictureProfileSpace(table), TProfileSpace::Rgb);
    TScreenColours screen;
    const TColourTransform *transform = screen.For(table);
    ASSERT_NE(transform, nullptr);
    EXPECT_TRUE(Near(Converted(*transform, Shown(200, 40, 90)), Shown(200, 40, 90))) << "sRGB's colours by table";
    // Without the table a transform reads, it is no profile for a picture.
    QByteArray untabled = table;
    const qsizetype entry = untabled.indexOf("A2B0", 128);
    ASSERT_GT(entry, 0);
    untabled.replace(entry, 4, "zzzz");
    EXPECT_EQ(PictureProfileSpace(untabled), std::nullopt);
    const QByteArray link = LargeDeviceLinkProfile();
    ASSERT_GT(link.size(), FullyCheckedProfileBytes);
    EXPECT_EQ(PictureProfileSpace(link), std::nullopt);
}

TEST(ScreenColours, OnAnSrgbScreenOnlyPicturesWithAProfileAreTurned)
{
    TScreenColours screen;
    EXPECT_EQ(screen.For({}), nullptr);
    EXPECT_EQ(screen.For(GarbageProfile()), nullptr);
    EXPECT_EQ(screen.For(LabProfile()), nullptr);
    EXPECT_EQ(screen.For(DeviceLinkProfile()), nullptr);
    EXPECT_EQ(screen.For(DamagedCurveProfile()), nullptr);
    const TColourTransform *swapped = screen.For(SwappedRedGreenProfile());
    ASSERT_NE(swapped, nullptr);
    EXPECT_TRUE(Near(Converted(*swapped, Shown(255, 0, 0)), Shown(0, 255, 0)));
    EXPECT_TRUE(Near(Converted(*swapped, Shown(10, 200, 30)), Shown(200, 10, 30)));
    EXPECT_TRUE(Near(Converted(*swapped, Shown(128, 128, 128)), Shown(128, 128, 128)));
    // The fourth byte of a shown pixel is left as it is.
    EXPECT_EQ(Converted(*swapped, 0x12000000u | (Shown(1, 2, 3) & 0xFFFFFF)) >> 24, 0x12u);
    // A perceptual table beside a matrix is what the colours go through
    // (a coarse one: green, about).
    const std::uint32_t tabled = Converted(*screen.For(SrgbWithSwappingTable()), Shown(255, 0, 0));
    EXPECT_LT(int(tabled >> 16 & 0xFF), 40);
    EXPECT_GT(int(tabled >> 8 & 0xFF), 215);
    // A wide gamut's colours come out more saturated than their numbers.
    const std::uint32_t wide = Converted(*screen.For(WideGamutProfile()), Shown(180, 120, 120));
    EXPECT_GT(int(wide >> 16 & 0xFF), 180 + 5);
    EXPECT_LT(int(wide >> 8 & 0xFF), 120 - 5);
    // Grey level 128 of a linear grey is lighter in sRGB (about 188).
    EXPECT_TRUE(Near(Converted(*screen.For(LinearGreyProfile()), Shown(128, 128, 128)), Shown(188, 188, 188)));
}

TEST(ColourTransform, TheWrittenOutArithmeticGivesLittleCmssColours)
{
    using namespace colour_transform;
    const QByteArray profiles[] = {QByteArray(), SwappedRedGreenProfile(), WideGamutProfile()};
    std::mt19937 random(5);
    std::vector<std::uint32_t> colours(20000);
    for (std::uint32_t &c : colours) c = random() | 0xFF000000u;
    // The corners of the cube and the greys, where rounding and clipping show.
    for (std::uint32_t v = 0; v < 256; ++v) colours.push_back(Shown(int(v), int(v), int(v)));
    for (std::uint32_t corner = 0; corner < 8; ++corner)
        colours.push_back(Shown(corner & 1 ? 255 : 0, corner & 2 ? 255 : 0, corner & 4 ? 255 : 0));
    for (const QByteArray &picture : profiles)
        for (const QByteArray &screen : profiles) {
            const auto lcms = MadeBy(TWay::LittleCms, picture, screen);
            const auto written = MadeBy(TWay::MatrixAndCurves, picture, screen);
            ASSERT_NE(lcms, nullptr);
            ASSERT_NE(written, nullptr);
            EXPECT_LE(WorstDifference(*lcms, *written, colours), 1)
                << "picture profile of " << picture.size() << " bytes, screen's of " << screen.size();
        }
    // A curve of each channel's own, on either side (each channel's table
    // is its own).
    for (const QByteArray &other : profiles) {
        EXPECT_LE(WorstDifference(*MadeBy(TWay::LittleCms, other, UnevenCurvesProfile()),
                                  *MadeBy(TWay::MatrixAndCurves, other, UnevenCurvesProfile()), colours),
                  1) << "into uneven curves from a profile of " << other.size() << " bytes";
        EXPECT_LE(WorstDifference(*MadeBy(TWay::LittleCms, UnevenCurvesProfile(), other),
                                  *MadeBy(TWay::MatrixAndCurves, UnevenCurvesProfile(), other), colours),
                  1) << "from uneven curves into a profile of " << other.size() << " bytes";
    }
    // Steep power curves on both sides with the same primaries: the
    // darkest levels come back as they were, or as Little CMS turns them.
    for (const double from : {2.2, 2.6})
        for (const double to : {1.0, 2.2, 2.6}) {
            const QByteArray picture = PowerCurveProfile(from), screen = PowerCurveProfile(to);
            EXPECT_LE(WorstDifference(*MadeBy(TWay::LittleCms, picture, screen), *MadeBy(TWay::MatrixAndCurves, picture, screen), colours), 1)
                << "gamma " << from << " into gamma " << to;
        }
    // From a profile whose red is sixty times too bright the coefficients
    // are large, and any red at all is beyond sRGB's: it clips, and the
    // other channels stay as they are (Little CMS's own 8-bit arithmetic
    // wraps around here).
    const auto overbright = MadeBy(TWay::MatrixAndCurves, OverbrightRedProfile(), {});
    ASSERT_NE(overbright, nullptr);
    EXPECT_TRUE(Near(Converted(*overbright, Shown(100, 100, 100)), Shown(255, 100, 100)));
    EXPECT_TRUE(Near(Converted(*overbright, Shown(40, 200, 30)), Shown(255, 200, 30)));
    EXPECT_TRUE(Near(Converted(*overbright, Shown(0, 100, 200)), Shown(0, 100, 200)));
    EXPECT_TRUE(Near(Converted(*overbright, Shown(255, 128, 64)), Shown(255, 128, 64)));
    // Pairs with a table or a grey profile are Little CMS's alone.
    EXPECT_EQ(MadeBy(TWay::MatrixAndCurves, TableProfile(9), {}), nullptr);
    EXPECT_EQ(MadeBy(TWay::MatrixAndCurves, SrgbWithSwappingTable(), {}), nullptr);
    EXPECT_EQ(MadeBy(TWay::MatrixAndCurves, LinearGreyProfile(), {}), nullptr);
    EXPECT_EQ(MadeBy(TWay::MatrixAndCurves, {}, TableProfile(9)), nullptr);
}

TEST(ScreenColours, AScreensOwnProfileTurnsSrgbPicturesToo)
{
    TScreenColours screen(SwappedRedGreenProfile());
    EXPECT_EQ(screen.ScreenProfile(), SwappedRedGreenProfile());
    const TColourTransform *srgb = screen.For({});
    ASSERT_NE(srgb, nullptr);
    EXPECT_TRUE(Near(Converted(*srgb, Shown(255, 0, 0)), Shown(0, 255, 0)));
    EXPECT_TRUE(Near(Converted(*screen.For(SwappedRedGreenProfile()), Shown(200, 40, 90)), Shown(200, 40, 90)));

    // A profile that cannot be turned into is as if the screen had none.
    for (const QByteArray &refused : {GarbageProfile(), LabProfile(), LinearGreyProfile()}) {
        TScreenColours plain(refused);
        EXPECT_TRUE(plain.ScreenProfile().isEmpty());
        EXPECT_EQ(plain.For({}), nullptr);
    }
}

TEST(ScreenColours, ATransformIsMadeOncePerProfileAndKept)
{
    TScreenColours screen;
    const QByteArray profile = SwappedRedGreenProfile();
    const TColourTransform *first = screen.For(profile);
    // Equal bytes elsewhere are the same profile.
    EXPECT_EQ(screen.For(QByteArray(profile.constData(), profile.size())), first);
    EXPECT_EQ(screen.For(profile), first);
    const TColourTransform *wide = screen.For(WideGamutProfile());
    EXPECT_NE(wide, first);
    EXPECT_EQ(screen.For(profile), first);
    // A refusal is kept too, and stays a refusal.
    EXPECT_EQ(screen.For(GarbageProfile()), nullptr);
    EXPECT_EQ(screen.For(GarbageProfile()), nullptr);
}

TEST(RenderShownView, EveryFormAndZoomIsShownInTheColoursItsProfileMeans)
{
    TScreenColours screen;
    for (const TPixelFormat format : AllPixelFormats)
        for (const QSize shown : {QSize(40, 30), QSize(20, 15), QSize(100, 75)}) {
            SCOPED_TRACE(testing::Message() << BitsPerPixel(format) << " bits shown at " << shown.width());
            auto picture = MakeBitmap(40, 30, format);
            FillRandomBytes(*picture, 40);
            if (HasPalette(format)) {
                TPalette palette{};
                for (int i = 0; i < 256; ++i) palette[std::size_t(i)] = RGB(i, 255 - i, (i * 7) % 256);
                picture->SetPalette(palette);
            }
            const QRect exposed(3, 2, 15, 11);
            const QImage stored = RenderPictureView(*picture, shown, exposed);
            EXPECT_EQ(RenderShownView(*picture, shown, exposed, screen), stored) << "no profile: as stored";
            picture->SetMetadata({.colourProfile = SwappedRedGreenProfile()});
            EXPECT_TRUE(NearImages(RenderShownView(*picture, shown, exposed, screen), SwappedRedAndGreen(stored)));
            EXPECT_TRUE(RenderShownView(*picture, shown, QRect(QPoint(200, 200), exposed.size()), screen).isNull());
            picture->SetMetadata({.colourProfile = GarbageProfile()});
            EXPECT_EQ(RenderShownView(*picture, shown, exposed, screen), stored) << "refused: as stored";
        }
}

TEST(RenderShownView, ClearPixelsShowTheBoardGreyAsItIs)
{
    TScreenColours screen;
    auto picture = MakeBitmap(16, 16, pf32bit);
    picture->SetMetadata({.colourProfile = SwappedRedGreenProfile()});
    const QImage shown = RenderShownView(*picture, QSize(16, 16), QRect(0, 0, 16, 16), screen);
    EXPECT_TRUE(Near(shown.pixel(0, 0), Shown(CheckerLight, CheckerLight, CheckerLight)));
    EXPECT_TRUE(Near(shown.pixel(8, 0), Shown(CheckerDark, CheckerDark, CheckerDark)));
}

// Each row is turned on the thread that rendered it: the view must be the
// whole rendered view turned at once, whatever the threads and bands, with
// Little CMS's transform (several threads on one) and the written-out one.
TEST(RenderShownView, TurnedRowByRowAsTheWholeViewOnAnyNumberOfThreads)
{
    TScreenColours screen;
    std::uint32_t seed = 60;
    for (const QByteArray &profile : {WideGamutProfile(), SrgbWithSwappingTable()})
        for (const TPixelFormat format : {pf16bit, pf24bit, pf32bit})
            for (const QSize size : {QSize(120, 90), QSize(1, 200), QSize(200, 1)}) {
                auto picture = Noise(size.width(), size.height(), format, ++seed);
                // Alpha used: the board shows through and is turned with the pixels.
                picture->SetAlphaChannel(TAlphaChannel::Used);
                picture->SetMetadata({.colourProfile = profile});
                const TColourTransform *transform = screen.For(profile);
                ASSERT_NE(transform, nullptr);
                for (double scale : {0.25, 0.5, 1.0, 1.5}) {
                    const QSize shown(std::max(1, int(size.width() * scale)), std::max(1, int(size.height() * scale)));
                    const QRect exposed(1, 2, shown.width(), shown.height());
                    QImage whole;
                    {
                        const THeldSplit held(Unsplit);
                        whole = RenderPictureView(*picture, shown, exposed);
                    }
                    transform->Convert(reinterpret_cast<std::uint32_t *>(whole.bits()),
                                       static_cast<std::size_t>(whole.width()) * static_cast<std::size_t>(whole.height()));
                    for (const TSplit &split : SplitsToCompare()) {
                        const THeldSplit held(split);
                        ASSERT_EQ(RenderShownView(*picture, shown, exposed, screen), whole)
                            << BitsPerPixel(format) << " bits at " << scale << ", " << Describe(split);
                    }
                }
            }
}
