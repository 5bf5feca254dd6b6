// What the codecs call: usable pieces kept as read, the orientation to
// turn by, and the carrier a writer writes, on pieces ExifTool writes.
#include "platform/metadata/exif_xmp.h"
#include "platform/metadata/file_metadata.h"
#include "support/exiftool.h"
#include "support/profiles.h"

#include <gtest/gtest.h>

namespace {

std::span<const std::uint8_t> Bytes(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

QByteArray ExifOrientedAs(int orientation)
{
    return ExiftoolMade("exif", {QStringLiteral("-Make=TestCam"), "-Orientation#=" + QString::number(orientation)});
}

QByteArray XmpOrientedAs(int orientation)
{
    return ExiftoolMade("xmp", {"-XMP-tiff:Orientation#=" + QString::number(orientation)});
}

} // namespace

TEST(ExifPayload, TakesTheTiffStructureWithoutTheMarkerSomeContainersPutInFront)
{
    const QByteArray tiff("MM\0*\0\0\0\x08rest", 12);
    EXPECT_EQ(ExifPayload(Bytes(QByteArray("Exif\0\0", 6) + tiff)), tiff);
    EXPECT_EQ(ExifPayload(Bytes(tiff)), tiff);
    EXPECT_EQ(ExifPayload(Bytes(QByteArray("Exif\0", 5))), QByteArray("Exif\0", 5));
    EXPECT_EQ(ExifPayload({}), QByteArray());
}

TEST(StatedOrientation, ExifFirstThenXmpElseUpright)
{
    SKIP_WITHOUT_EXIFTOOL();
    const QByteArray exif6 = ExifOrientedAs(6), exifWithout = ExiftoolMade("exif", {QStringLiteral("-Make=TestCam")});
    const QByteArray xmp8 = XmpOrientedAs(8);
    EXPECT_EQ(StatedOrientation({.exif = exif6, .xmp = xmp8}), TOrientation::QuarterClockwise);
    EXPECT_EQ(StatedOrientation({.exif = exifWithout, .xmp = xmp8}), TOrientation::QuarterAnticlockwise);
    EXPECT_EQ(StatedOrientation({.exif = "damaged", .xmp = xmp8}), TOrientation::QuarterAnticlockwise);
    EXPECT_EQ(StatedOrientation({.exif = ExifOrientedAs(9), .xmp = XmpOrientedAs(3)}), TOrientation::HalfTurn);
    EXPECT_EQ(StatedOrientation({.exif = exifWithout}), TOrientation::Upright);
    EXPECT_EQ(StatedOrientation({}), TOrientation::Upright);
    for (int stated = 1; stated <= 8; ++stated) EXPECT_EQ(static_cast<int>(StatedOrientation({.exif = ExifOrientedAs(stated)})), stated);
}

TEST(DropUnusablePieces, KeepsEveryUsablePieceAsRead)
{
    SKIP_WITHOUT_EXIFTOOL();
    for (const QByteArray &profile : {SwappedRedGreenProfile(), WideGamutProfile(), LinearGreyProfile()}) {
        const TPictureMetadata read{.colourProfile = profile,
                                    .exif = ExifOrientedAs(6),
                                    .xmp = XmpOrientedAs(8),
                                    .resolution = TResolution{2, 1, TResolutionUnit::None},
                                    .comments = {{QStringLiteral("Comment"), QStringLiteral("kept")}}};
        TPictureMetadata kept = read;
        DropUnusablePieces(kept);
        EXPECT_EQ(kept, read);
    }
}

TEST(MetadataToSave, GivesThePiecesMadeTrueForThePictureAndLeavesTheBitmapsAsRead)
{
    SKIP_WITHOUT_EXIFTOOL();
    TBitmap picture;
    picture.Allocate(30, 20, pf24bit);
    const TPictureMetadata read{.colourProfile = WideGamutProfile(),
                                .exif = ExifOrientedAs(6),
                                .xmp = XmpOrientedAs(6),
                                .resolution = TResolution{300, 300, TResolutionUnit::Inch},
                                .comments = {{QString(), QStringLiteral("a note")}}};
    picture.SetMetadata(read);
    const TPictureMetadata saved = MetadataToSave(picture);
    EXPECT_EQ(saved.colourProfile, read.colourProfile);
    EXPECT_EQ(saved.resolution, read.resolution);
    EXPECT_EQ(saved.comments, read.comments);
    EXPECT_EQ(ExifOrientation(saved.exif), 1);
    EXPECT_EQ(XmpOrientation(saved.xmp), 1);
    const QJsonObject tags = ExiftoolRead(saved.exif, "exif");
    EXPECT_EQ(tags["ExifIFD:ExifImageWidth"].toInt(), 30);
    EXPECT_EQ(tags["ExifIFD:ExifImageHeight"].toInt(), 20);
    EXPECT_EQ(tags["IFD0:XResolution"].toInt(), 300);
    EXPECT_EQ(picture.GetMetadata(), read);
    // Nothing carried, nothing to write.
    TBitmap plain;
    plain.Allocate(3, 3, pf8bit);
    EXPECT_TRUE(MetadataToSave(plain).Empty());
}
