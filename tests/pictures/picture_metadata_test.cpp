// What a file carried travels with the bitmap: Assign copies it, TakeOver
// moves it, changes of form and size keep it; and the resolution's units.
#include "platform/pictures/bitmap.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {


std::unique_ptr<TBitmap> Carrying(const TPictureMetadata &metadata, TPixelFormat format)
{
    auto bitmap = MakeBitmap(7, 5, format);
    FillRandomBytes(*bitmap, 7);
    bitmap->SetMetadata(metadata);
    return bitmap;
}

} // namespace

TEST(PictureMetadata, AssignCopiesItAndTheCopiesStayApart)
{
    const TPictureMetadata metadata = EveryKindOfMetadata();
    const auto source = Carrying(metadata, pf24bit);
    TBitmap copy;
    copy.SetMetadata({.xmp = "stale"});
    copy.Assign(source.get());
    ASSERT_EQ(copy.GetMetadata(), metadata);
    TPictureMetadata changed = copy.GetMetadata();
    changed.colourProfile[0] = 'P';
    changed.comments.clear();
    copy.SetMetadata(changed);
    EXPECT_EQ(source->GetMetadata(), metadata);
    // A picture without any makes the copy's go too.
    copy.Assign(MakeBitmap(2, 2, pf8bit).get());
    EXPECT_TRUE(copy.GetMetadata().Empty());
}

TEST(PictureMetadata, TakeOverMovesItAndLeavesTheSourceWithout)
{
    const TPictureMetadata metadata = EveryKindOfMetadata();
    auto source = Carrying(metadata, pf8bit);
    TBitmap taker;
    taker.SetMetadata({.exif = "old"});
    taker.TakeOver(*source);
    EXPECT_EQ(taker.GetMetadata(), metadata);
    EXPECT_TRUE(source->GetMetadata().Empty());
    // A picture read from a file without any replaces what was there.
    TBitmap fresh;
    fresh.Allocate(3, 3, pf24bit);
    taker.TakeOver(fresh);
    EXPECT_TRUE(taker.GetMetadata().Empty());
}

TEST(PictureMetadata, EveryChangeOfFormAndSizeKeepsIt)
{
    const TPictureMetadata metadata = EveryKindOfMetadata();
    for (const TPixelFormat from : AllPixelFormats)
        for (const TPixelFormat to : AllPixelFormats) {
            SCOPED_TRACE(testing::Message() << BitsPerPixel(from) << " to " << BitsPerPixel(to) << " bits");
            const auto bitmap = Carrying(metadata, from);
            bitmap->SetPixelFormat(to);
            ASSERT_EQ(bitmap->GetPixelFormat(), to);
            EXPECT_EQ(bitmap->GetMetadata(), metadata);
        }
    const auto bitmap = Carrying(metadata, pf24bit);
    bitmap->SetSize(40, 2);
    bitmap->Allocate(3, 9, pf8bit);
    bitmap->SetPalette(TPalette{});
    EXPECT_EQ(bitmap->GetMetadata(), metadata);
}

TEST(PictureMetadata, SetMetadataAnnouncesTheChangeSoThatViewsRedraw)
{
    TBitmap bitmap;
    int changes = 0;
    bitmap.SetOnChange([&] { ++changes; });
    bitmap.SetMetadata(EveryKindOfMetadata());
    EXPECT_EQ(changes, 1);
}

TEST(PictureMetadata, EmptyOnlyWithoutAnyPiece)
{
    EXPECT_TRUE(TPictureMetadata{}.Empty());
    EXPECT_FALSE(TPictureMetadata{.colourProfile = "p"}.Empty());
    EXPECT_FALSE(TPictureMetadata{.exif = "e"}.Empty());
    EXPECT_FALSE(TPictureMetadata{.xmp = "x"}.Empty());
    EXPECT_FALSE(TPictureMetadata{.resolution = TResolution{}}.Empty());
    const TPictureMetadata withComment{.comments = {{QString(), QString()}}};
    EXPECT_FALSE(withComment.Empty());
}

TEST(Resolution, ConvertsBetweenUnitsAndNeverInventsOneForARatio)
{
    const TResolution perInch{300, 150, TResolutionUnit::Inch};
    const TResolution perCentimetre = *perInch.In(TResolutionUnit::Centimetre);
    EXPECT_EQ(perCentimetre.unit, TResolutionUnit::Centimetre);
    EXPECT_NEAR(perCentimetre.horizontal, 300 / 2.54, 1e-9);
    EXPECT_NEAR(perCentimetre.vertical, 150 / 2.54, 1e-9);
    const TResolution perMetre = *perInch.In(TResolutionUnit::Metre);
    EXPECT_NEAR(perMetre.horizontal, 11811.023622, 1e-6);
    const TResolution back = *perMetre.In(TResolutionUnit::Inch);
    EXPECT_NEAR(back.horizontal, 300, 1e-9);
    EXPECT_NEAR(back.vertical, 150, 1e-9);
    EXPECT_EQ(*perInch.In(TResolutionUnit::Inch), perInch);

    const TResolution ratio{2, 1, TResolutionUnit::None};
    EXPECT_FALSE(ratio.In(TResolutionUnit::Inch));
    EXPECT_EQ(*perInch.In(TResolutionUnit::None), (TResolution{300, 150, TResolutionUnit::None}));
}

TEST(Resolution, UsableOnlyWhenBothAreFiniteAndAboveZero)
{
    EXPECT_TRUE((TResolution{72, 72, TResolutionUnit::Inch}.Usable()));
    EXPECT_TRUE((TResolution{0.5, 1e6, TResolutionUnit::None}.Usable()));
    EXPECT_FALSE((TResolution{0, 72, TResolutionUnit::Inch}.Usable()));
    EXPECT_FALSE((TResolution{72, -1, TResolutionUnit::Inch}.Usable()));
    EXPECT_FALSE((TResolution{NAN, 72, TResolutionUnit::Inch}.Usable()));
    EXPECT_FALSE((TResolution{72, INFINITY, TResolutionUnit::Inch}.Usable()));
}
