// What a picture's file carries survives every save: pictures written by
// other programs with a colour profile that is not sRGB, camera data, XMP
// and 300 dots an inch, opened here and saved to every format we write,
// then read back by ExifTool.
#include "platform/files/file_formats.h"
#include "platform/files/picture_files.h"
#include "support/comparisons.h"
#include "support/disk_files.h"
#include "support/exiftool.h"
#include "support/independent_writers.h"
#include "support/profiles.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int Width = 24, Height = 16;

// What a format holds besides the pixels.
struct THolds {
    bool profile = false, camera = false, xmp = false, resolution = false;
};

// The formats we write, what each holds, and where ExifTool finds the
// resolution: its field of the horizontal resolution and of the unit, and
// 300 dots an inch in that unit (-n: inches are 1 in JFIF, 2 in EXIF).
struct TTarget {
    const char *extension;
    THolds holds;
    const char *resolutionField, *unitField;
    double resolution, unit;
};

const TTarget Targets[] = {
    {"jpg", {true, true, true, true}, "JFIF:XResolution", "JFIF:ResolutionUnit", 300, 1},
    {"png", {true, true, true, true}, "PNG-pHYs:PixelsPerUnitX", "PNG-pHYs:PixelUnits", 11811, 1},
    {"tif", {true, true, true, true}, "IFD0:XResolution", "IFD0:ResolutionUnit", 300, 2},
    // WebP states its resolution in the EXIF alone.
    {"webp", {true, true, true, true}, "IFD0:XResolution", "IFD0:ResolutionUnit", 300, 2},
    {"bmp", {true, false, false, true}, "File:PixelsPerMeterX", nullptr, 11811, 0},
    {"ppm", {}, nullptr, nullptr, 0, 0},
    {"pgm", {}, nullptr, nullptr, 0, 0},
    {"pbm", {}, nullptr, nullptr, 0, 0},
    {"ico", {}, nullptr, nullptr, 0, 0},
};

// The camera data and XMP ExifTool puts into the files: the picture is
// stored turned, to be shown a quarter turn clockwise, and carries a
// thumbnail where the format's EXIF can.
const QStringList CameraData = {QStringLiteral("-Make=Cam"), QStringLiteral("-Model=M1"), QStringLiteral("-ModifyDate=2020:01:02 03:04:05"),
                                QStringLiteral("-XResolution=300"), QStringLiteral("-YResolution=300"), QStringLiteral("-ResolutionUnit=inches"),
                                QStringLiteral("-Orientation#=6"), QStringLiteral("-XMP-dc:Title=Hello"),
                                QStringLiteral("-icc_profile<=wide.icc")};

struct TSource {
    const char *extension;
    THolds holds;
    // Whether it states the quarter turn (its EXIF is read).
    bool turned;
    QByteArray file;
};

// The files other programs write: Pillow the pixels and the resolution,
// ExifTool what else; ImageMagick a BMP with a 124-byte header and the
// profile embedded.
std::vector<TSource> Sources()
{
    const QList<QPair<QString, QByteArray>> files = {{QStringLiteral("wide.icc"), WideGamutProfile()},
                                                     {QStringLiteral("thumb.jpg"), PillowWritten(8, 6, QStringLiteral("jpg"))}};
    const auto edited = [&](const char *extension, const QString &dpi, bool thumbnail) {
        const QString ext = QLatin1String(extension);
        QStringList arguments = CameraData;
        if (thumbnail) arguments << QStringLiteral("-ThumbnailImage<=thumb.jpg");
        return ExiftoolEdited(PillowWritten(Width, Height, ext, dpi), ext, arguments, files);
    };
    const QString dpi = QStringLiteral("dpi=(300, 300)");
    return {
        {"jpg", {true, true, true, true}, true, edited("jpg", dpi + QStringLiteral(", quality=95"), true)},
        {"png", {true, true, true, true}, true, edited("png", dpi, true)},
        {"tif", {true, true, true, true}, true, edited("tif", dpi, false)},
        {"webp", {true, true, true, true}, true, edited("webp", QStringLiteral("lossless=True"), true)},
        {"bmp", {true, false, false, true}, false,
         ImageMagickConverted(PillowWritten(Width, Height, QStringLiteral("png")), QStringLiteral("png"),
                              {QStringLiteral("-profile"), QStringLiteral("wide.icc"), QStringLiteral("-density"), QStringLiteral("300"),
                               QStringLiteral("-units"), QStringLiteral("PixelsPerInch")},
                              QStringLiteral("BMP"), files)},
    };
}

bool HasGroup(const QJsonObject &fields, const QString &group)
{
    for (const QString &key : fields.keys())
        if (key.startsWith(group + QLatin1Char(':'))) return true;
    return false;
}

} // namespace

TEST(MetadataRoundTrip, EveryItemATargetHoldsSurvivesEverySave)
{
    SKIP_WITHOUT_EXIFTOOL();
    SKIP_WITHOUT_PILLOW();
    SKIP_WITHOUT_IMAGEMAGICK();
    QTemporaryDir folder;
    const QByteArray profile = WideGamutProfile();
    for (const TSource &source : Sources()) {
        SCOPED_TRACE(testing::Message() << "from " << source.extension);
        ASSERT_FALSE(source.file.isEmpty()) << "the other programs could not write the source";
        const QString sourcePath = folder.filePath(QStringLiteral("source.") + QLatin1String(source.extension));
        PutFile(sourcePath, source.file);
        TBitmap opened;
        ReadPictureFile(sourcePath, opened);
        // Turned upright a quarter clockwise where the file says so.
        EXPECT_EQ(opened.GetWidth(), source.turned ? Height : Width);
        EXPECT_EQ(opened.GetHeight(), source.turned ? Width : Height);
        for (const TTarget &target : Targets) {
            SCOPED_TRACE(testing::Message() << "to " << target.extension);
            const QString ext = QLatin1String(target.extension);
            const QString path = folder.filePath(QStringLiteral("saved.") + ext);
            ASSERT_NO_THROW(WritePictureFile(path, opened));
            const QByteArray saved = FileBytes(path);
            // Pixel dimensions as the picture's, and shown as stored.
            TBitmap reopened;
            ASSERT_NO_THROW(ReadPictureFile(path, reopened));
            EXPECT_EQ(reopened.GetWidth(), opened.GetWidth());
            EXPECT_EQ(reopened.GetHeight(), opened.GetHeight());
            if (ext == QLatin1String("png") || ext == QLatin1String("tif") || ext == QLatin1String("bmp") || ext == QLatin1String("webp")) {
                EXPECT_TRUE(SameColours(opened, reopened));
            }

            const QJsonObject fields = ExiftoolRead(saved, ext);
            const auto holds = [&](bool THolds::*item) { return source.holds.*item && target.holds.*item; };
            if (holds(&THolds::profile)) {
                EXPECT_EQ(ExiftoolProfile(saved, ext), profile);
            }
            if (holds(&THolds::camera)) {
                EXPECT_EQ(fields.value(QStringLiteral("IFD0:Make")).toString(), QStringLiteral("Cam"));
                EXPECT_EQ(fields.value(QStringLiteral("IFD0:Model")).toString(), QStringLiteral("M1"));
                EXPECT_EQ(fields.value(QStringLiteral("IFD0:ModifyDate")).toString(), QStringLiteral("2020:01:02 03:04:05"));
                EXPECT_EQ(fields.value(QStringLiteral("IFD0:Orientation")).toInt(), 1);
                EXPECT_EQ(fields.value(QStringLiteral("ExifIFD:ExifImageWidth")).toInt(), opened.GetWidth());
                EXPECT_EQ(fields.value(QStringLiteral("ExifIFD:ExifImageHeight")).toInt(), opened.GetHeight());
                EXPECT_FALSE(HasGroup(fields, QStringLiteral("IFD1"))) << "the old thumbnail is still there";
            }
            if (holds(&THolds::xmp)) {
                EXPECT_EQ(fields.value(QStringLiteral("XMP-dc:Title")).toString(), QStringLiteral("Hello"));
            }
            if (holds(&THolds::resolution)) {
                EXPECT_NEAR(fields.value(QLatin1String(target.resolutionField)).toDouble(), target.resolution, 0.01);
                if (target.unitField) {
                    EXPECT_EQ(fields.value(QLatin1String(target.unitField)).toDouble(), target.unit);
                }
            }
        }
    }
}
