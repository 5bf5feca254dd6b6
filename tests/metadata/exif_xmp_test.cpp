// EXIF and XMP made true for a saved picture, and the orientation they
// state, judged on pieces ExifTool writes and by what ExifTool reads back.
#include "platform/metadata/exif_xmp.h"
#include "support/exiftool.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A small JPEG for a thumbnail, written by Qt.
QString ThumbnailFile(const QTemporaryDir &folder)
{
    const QString path = folder.filePath(QStringLiteral("thumbnail.jpg"));
    QImage thumbnail(16, 12, QImage::Format_RGB32);
    thumbnail.fill(qRgb(200, 10, 10));
    thumbnail.save(path, "JPEG");
    return path;
}

// Camera data as a camera writes it: turned a quarter, 4000 x 3000 as
// shot, 300 dpi, with a thumbnail and a position.
QByteArray CameraExif(const QString &byteOrder, const QString &thumbnail)
{
    return ExiftoolMade(QStringLiteral("exif"),
                        {QStringLiteral("-ExifByteOrder=") + byteOrder, QStringLiteral("-Make=TestCam"),
                         QStringLiteral("-Model=Model X"), QStringLiteral("-ModifyDate=2021:03:04 05:06:07"),
                         QStringLiteral("-DateTimeOriginal=2021:03:04 05:06:07"), QStringLiteral("-Orientation#=6"),
                         QStringLiteral("-ExifImageWidth=4000"), QStringLiteral("-ExifImageHeight=3000"),
                         QStringLiteral("-XResolution=300"), QStringLiteral("-YResolution=300"),
                         QStringLiteral("-ResolutionUnit=inches"), QStringLiteral("-GPSLatitude=48.1"),
                         QStringLiteral("-GPSLatitudeRef=N"), QStringLiteral("-ThumbnailImage<=") + thumbnail});
}

QStringList KeysOfGroup(const QJsonObject &tags, const QString &group)
{
    QStringList keys;
    for (const QString &key : tags.keys())
        if (key.startsWith(group + ':')) keys << key;
    return keys;
}

} // namespace

TEST(ExifForSaving, MakesOrientationDimensionsAndResolutionTrueDropsTheThumbnailAndKeepsTheCameraData)
{
    SKIP_WITHOUT_EXIFTOOL();
    QTemporaryDir folder;
    const QString thumbnail = ThumbnailFile(folder);
    for (const QString &order : {QStringLiteral("Big-endian"), QStringLiteral("Little-endian")}) {
        SCOPED_TRACE(order.toStdString());
        const QByteArray exif = CameraExif(order, thumbnail);
        ASSERT_FALSE(exif.isEmpty());
        ASSERT_TRUE(ExiftoolRead(exif, "exif").contains("IFD1:ThumbnailImage")) << "the camera's piece has a thumbnail";
        const QByteArray saved = ExifForSaving(exif, {3000, 4000, TResolution{100, 50, TResolutionUnit::Centimetre}});
        const QJsonObject tags = ExiftoolRead(saved, "exif");
        EXPECT_EQ(tags["File:ExifByteOrder"].toString(), order.startsWith('B') ? "MM" : "II");
        EXPECT_EQ(tags["IFD0:Orientation"].toInt(), 1);
        EXPECT_EQ(tags["ExifIFD:ExifImageWidth"].toInt(), 3000);
        EXPECT_EQ(tags["ExifIFD:ExifImageHeight"].toInt(), 4000);
        EXPECT_EQ(tags["IFD0:XResolution"].toDouble(), 100);
        EXPECT_EQ(tags["IFD0:YResolution"].toDouble(), 50);
        EXPECT_EQ(tags["IFD0:ResolutionUnit"].toInt(), 3);
        EXPECT_EQ(KeysOfGroup(tags, "IFD1"), QStringList()) << "nothing of the thumbnail's directory is left";
        EXPECT_EQ(tags["IFD0:Make"].toString(), "TestCam");
        EXPECT_EQ(tags["IFD0:Model"].toString(), "Model X");
        EXPECT_EQ(tags["IFD0:ModifyDate"].toString(), "2021:03:04 05:06:07");
        EXPECT_EQ(tags["ExifIFD:DateTimeOriginal"].toString(), "2021:03:04 05:06:07");
        EXPECT_DOUBLE_EQ(tags["GPS:GPSLatitude"].toDouble(), 48.1);
    }
}

TEST(ExifForSaving, StatesTheSizeEvenWhereTheCameraDidNotAndAddsNoOrientation)
{
    SKIP_WITHOUT_EXIFTOOL();
    const QByteArray exif = ExiftoolMade("exif", {QStringLiteral("-Make=TestCam"), QStringLiteral("-Copyright=Someone")});
    ASSERT_FALSE(exif.isEmpty());
    const QJsonObject tags = ExiftoolRead(ExifForSaving(exif, {640, 480, std::nullopt}), "exif");
    EXPECT_EQ(tags["ExifIFD:ExifImageWidth"].toInt(), 640);
    EXPECT_EQ(tags["ExifIFD:ExifImageHeight"].toInt(), 480);
    EXPECT_FALSE(tags.contains("IFD0:Orientation"));
    // Where the picture has no resolution of its own, the piece's stays.
    EXPECT_EQ(tags["IFD0:XResolution"].toInt(), 72);
    EXPECT_EQ(tags["IFD0:Copyright"].toString(), "Someone");
}

TEST(ExifForSaving, StatesAResolutionInTheUnitsExifHas)
{
    SKIP_WITHOUT_EXIFTOOL();
    const QByteArray exif = ExiftoolMade("exif", {QStringLiteral("-Make=TestCam")});
    const struct {
        TResolution resolution;
        double horizontal, vertical;
        int unit;
    } cases[] = {
        {{300, 300, TResolutionUnit::Inch}, 300, 300, 2},
        {{72.5, 96, TResolutionUnit::Inch}, 72.5, 96, 2},
        {{11811, 5906, TResolutionUnit::Metre}, 118.11, 59.06, 3},
        {{2, 1, TResolutionUnit::None}, 2, 1, 1},
    };
    for (const auto &c : cases) {
        const QJsonObject tags = ExiftoolRead(ExifForSaving(exif, {8, 8, c.resolution}), "exif");
        EXPECT_NEAR(tags["IFD0:XResolution"].toDouble(), c.horizontal, 1e-4);
        EXPECT_NEAR(tags["IFD0:YResolution"].toDouble(), c.vertical, 1e-4);
        EXPECT_EQ(tags["IFD0:ResolutionUnit"].toInt(), c.unit);
    }
}

TEST(XmpForSaving, MakesOrientationAndDimensionsTrueDropsThumbnailsAndKeepsTheRest)
{
    SKIP_WITHOUT_EXIFTOOL();
    const QByteArray xmp = ExiftoolMade(
        "xmp", {QStringLiteral("-XMP-tiff:Orientation#=8"), QStringLiteral("-XMP-exif:ExifImageWidth=4000"),
                QStringLiteral("-XMP-exif:ExifImageHeight=3000"), QStringLiteral("-XMP-tiff:ImageWidth=4000"),
                QStringLiteral("-XMP-tiff:ImageHeight=3000"), QStringLiteral("-XMP-tiff:XResolution=300"),
                QStringLiteral("-XMP-dc:Title=Harbour"), QStringLiteral("-XMP-xmp:ThumbnailFormat=JPEG"),
                QStringLiteral("-XMP-xmp:ThumbnailWidth=16"), QStringLiteral("-XMP-xmp:ThumbnailImage=/9j/4AAQ")});
    ASSERT_FALSE(xmp.isEmpty());
    ASSERT_TRUE(ExiftoolRead(xmp, "xmp").contains("XMP-xmp:ThumbnailImage"));
    const QJsonObject tags = ExiftoolRead(XmpForSaving(xmp, {300, 200, TResolution{150, 150, TResolutionUnit::Inch}}), "xmp");
    EXPECT_EQ(tags["XMP-tiff:Orientation"].toInt(), 1);
    EXPECT_EQ(tags["XMP-exif:ExifImageWidth"].toInt(), 300);
    EXPECT_EQ(tags["XMP-exif:ExifImageHeight"].toInt(), 200);
    EXPECT_EQ(tags["XMP-tiff:ImageWidth"].toInt(), 300);
    EXPECT_EQ(tags["XMP-tiff:ImageHeight"].toInt(), 200);
    EXPECT_EQ(tags["XMP-tiff:XResolution"].toDouble(), 150);
    EXPECT_EQ(tags["XMP-dc:Title"].toString(), "Harbour");
    EXPECT_EQ(KeysOfGroup(tags, "XMP-xmp").filter("Thumbnail"), QStringList());
    // What the packet lacked stays out.
    EXPECT_FALSE(tags.contains("XMP-tiff:YResolution"));
}

TEST(Orientation, ReadFromExifAndXmpAsTheWriterStatedIt)
{
    SKIP_WITHOUT_EXIFTOOL();
    for (int stated = 1; stated <= 8; ++stated) {
        SCOPED_TRACE(stated);
        const QString value = QString::number(stated);
        EXPECT_EQ(ExifOrientation(ExiftoolMade("exif", {"-Orientation#=" + value})), stated);
        EXPECT_EQ(XmpOrientation(ExiftoolMade("xmp", {"-XMP-tiff:Orientation#=" + value})), stated);
    }
    EXPECT_EQ(ExifOrientation(ExiftoolMade("exif", {QStringLiteral("-Orientation#=9")})), std::nullopt);
    EXPECT_EQ(ExifOrientation(ExiftoolMade("exif", {QStringLiteral("-Make=TestCam")})), std::nullopt);
    EXPECT_EQ(XmpOrientation(ExiftoolMade("xmp", {QStringLiteral("-XMP-dc:Title=x")})), std::nullopt);
}
