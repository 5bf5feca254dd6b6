// JPEG XL pictures as libjxl's own encoder (cjxl) writes them open with
// every pixel of their source where they are lossless and as djxl reads
// them where they are not, in the smallest form, upright, with their
// profile, EXIF and XMP; an animation opens its first frame; a cut file
// gives the rows decoded from the top; claimed sizes beyond the limits are
// refused before anything is decoded.
#include "platform/files/jxl/jxl_codec.h"
#include "platform/files/qt/qt_image_bridge.h"
#include "platform/metadata/colour_profiles.h"
#include "support/comparisons.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/encoders.h"
#include "support/exiftool.h"
#include "support/failures.h"
#include "support/file_builders.h"
#include "support/profiles.h"
#include "support/qt_reference.h"

#include <QColorSpace>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

QByteArray JxlEncoded(const QByteArray &input, const QString &inputName, const QStringList &options)
{
    return MadeBy(QStringLiteral("cjxl"), QStringList{QStringLiteral("IN"), QStringLiteral("OUT")} + options, input, inputName, QStringLiteral("made.jxl"));
}

QByteArray JxlOf(const QImage &image, const QStringList &options) { return JxlEncoded(PngOf(image), QStringLiteral("in.png"), options); }

std::unique_ptr<TBitmap> Smallest(const QImage &image)
{
    auto bitmap = std::make_unique<TBitmap>();
    BitmapFromQImage(image, *bitmap);
    return bitmap;
}

#define SKIP_WITHOUT_JXL_TOOLS() \
    SKIP_WITHOUT_TOOL("cjxl");   \
    SKIP_WITHOUT_TOOL("djxl")

} // namespace

TEST(JxlReader, LosslessPicturesOpenWithEveryPixelOfTheirSourceInTheSmallestForm)
{
    SKIP_WITHOUT_JXL_TOOLS();
    QImage deep = PhotoLike(29, 17).convertToFormat(QImage::Format_RGBX64);
    for (int y = 0; y < deep.height(); ++y) {
        auto *line = reinterpret_cast<quint16 *>(deep.scanLine(y));
        for (int i = 0; i < 4 * deep.width(); i += 4) line[i] = static_cast<quint16>(line[i] ^ (i * 97 + y * 31));
    }
    const struct {
        const char *what;
        QImage image;
        TPixelFormat format;
    } cases[] = {
        {"RGB", PhotoLike(67, 45), pf24bit},
        {"RGB with alpha", PhotoLike(40, 31, QImage::Format_ARGB32), pf32bit},
        {"grey", PhotoLike(33, 20).convertToFormat(QImage::Format_Grayscale8), pf8bit},
        {"16 bits a sample, rounded", deep, pf24bit},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray file = JxlOf(c.image, {QStringLiteral("-d"), QStringLiteral("0")});
        ASSERT_FALSE(file.isEmpty());
        const auto ours = DecodedBy(DecodeJxl, file);
        ASSERT_TRUE(ours);
        EXPECT_EQ(ours->GetPixelFormat(), c.format);
        EXPECT_EQ(LargestDifference(*ours, *Smallest(c.image.format() == QImage::Format_RGBX64 ? c.image.convertToFormat(QImage::Format_RGB888) : c.image)), 0);
    }
}

// Grey with alpha, which the bitmap holds as four channels, comes through
// libjxl's callback: of 8 and of 16 bits a sample, every pixel as its source.
TEST(JxlReader, GreyWithAlphaOpensWithEveryPixelOfItsSource)
{
    SKIP_WITHOUT_JXL_TOOLS();
    SKIP_WITHOUT_TOOL("convert");
    QImage deep(37, 23, QImage::Format_RGBA64);
    for (int y = 0; y < deep.height(); ++y)
        for (int x = 0; x < deep.width(); ++x) {
            const auto level = static_cast<quint16>((x * 1777 + y * 2311) % 65536);
            deep.setPixelColor(x, y, QColor::fromRgba64(level, level, level, static_cast<quint16>(65535 - (x * 911 + y * 397) % 50000)));
        }
    for (const QImage &grey : {deep.convertToFormat(QImage::Format_ARGB32), deep}) {
        const bool sixteen = grey.format() == QImage::Format_RGBA64;
        SCOPED_TRACE(sixteen ? "16 bits" : "8 bits");
        const QByteArray png = MadeBy(QStringLiteral("convert"),
                                      {QStringLiteral("IN"), QStringLiteral("-define"), QStringLiteral("png:color-type=4"), QStringLiteral("-depth"),
                                       sixteen ? QStringLiteral("16") : QStringLiteral("8"), QStringLiteral("OUT")},
                                      PngOf(grey), QStringLiteral("in.png"), QStringLiteral("grey.png"));
        const QByteArray file = JxlEncoded(png, QStringLiteral("grey.png"), {QStringLiteral("-d"), QStringLiteral("0")});
        ASSERT_FALSE(file.isEmpty());
        const auto ours = DecodedBy(DecodeJxl, file);
        ASSERT_TRUE(ours);
        EXPECT_EQ(ours->GetPixelFormat(), pf32bit);
        EXPECT_EQ(LargestDifference(*ours, *Smallest(grey.convertToFormat(QImage::Format_ARGB32))), 0);
    }
}

TEST(JxlReader, LossyPicturesOpenAsDjxlReadsThem)
{
    SKIP_WITHOUT_JXL_TOOLS();
    for (const QImage &image : {PhotoLike(301, 77), PhotoLike(64, 64, QImage::Format_ARGB32)}) {
        const QByteArray file = JxlOf(image, {QStringLiteral("-d"), QStringLiteral("1.5")});
        const auto ours = DecodedBy(DecodeJxl, file);
        const auto djxl = ReadByTool(QStringLiteral("djxl"), file, QStringLiteral("made.jxl"));
        ASSERT_TRUE(ours && djxl);
        EXPECT_LE(LargestDifference(*ours, *djxl), 1);
        EXPECT_GE(LargestDifference(*ours, *djxl), 0);
    }
}

// A JPEG turned to JPEG XL keeps its EXIF orientation in the codestream,
// which libjxl applies: the picture opens upright, not turned again by the
// EXIF, which travels with it with its XMP.
TEST(JxlReader, APhotographOpensUprightOnceWithItsExifAndXmp)
{
    SKIP_WITHOUT_JXL_TOOLS();
    SKIP_WITHOUT_EXIFTOOL();
    const QByteArray jpeg = MadeBy(QStringLiteral("exiftool"),
                                   {QStringLiteral("-q"), QStringLiteral("-Orientation#=6"), QStringLiteral("-Make=Camera"), QStringLiteral("-XMP-dc:Title=Quay"),
                                    QStringLiteral("-o"), QStringLiteral("OUT"), QStringLiteral("IN")},
                                   WrittenByQt(PhotoLike(48, 32), "jpeg", 90), QStringLiteral("in.jpg"), QStringLiteral("out.jpg"));
    const QByteArray file = JxlEncoded(jpeg, QStringLiteral("in.jpg"), {});
    const auto ours = DecodedBy(DecodeJxl, file);
    const auto djxl = ReadByTool(QStringLiteral("djxl"), file, QStringLiteral("made.jxl"));
    ASSERT_TRUE(ours && djxl);
    EXPECT_EQ(ours->GetWidth(), 32);
    EXPECT_EQ(ours->GetHeight(), 48);
    EXPECT_LE(LargestDifference(*ours, *djxl), 1);
    EXPECT_GE(LargestDifference(*ours, *djxl), 0);
    EXPECT_EQ(ExiftoolRead(ours->GetMetadata().exif, QStringLiteral("exif")).value(QStringLiteral("IFD0:Make")).toString(), QStringLiteral("Camera"));
    EXPECT_EQ(ExiftoolRead(ours->GetMetadata().xmp, QStringLiteral("xmp")).value(QStringLiteral("XMP-dc:Title")).toString(), QStringLiteral("Quay"));
    EXPECT_TRUE(ours->GetMetadata().colourProfile.isEmpty()) << "an sRGB picture carries no profile";

    // A picture of a wider gamut keeps its profile.
    QImage wide = PhotoLike(20, 10);
    const QByteArray profile = WideGamutProfile();
    wide.setColorSpace(QColorSpace::fromIccProfile(profile));
    const auto kept = DecodedBy(DecodeJxl, JxlOf(wide, {QStringLiteral("-d"), QStringLiteral("0")}));
    ASSERT_TRUE(kept);
    EXPECT_EQ(PictureProfileSpace(kept->GetMetadata().colourProfile), TProfileSpace::Rgb);
    EXPECT_NEAR(RedColorant(kept->GetMetadata().colourProfile).x, RedColorant(profile).x, 0.002);
}

TEST(JxlReader, AnAnimationOpensItsFirstFrame)
{
    SKIP_WITHOUT_JXL_TOOLS();
    SKIP_WITHOUT_TOOL("convert");
    // Few colours, which a GIF keeps exactly.
    QImage first(30, 20, QImage::Format_RGB32);
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x) first.setPixel(x, y, qRgb(x / 8 * 60, y / 5 * 80, 200));
    const QImage second = first.mirrored(true, true);
    QTemporaryDir folder;
    PutFile(folder.filePath(QStringLiteral("second.png")), PngOf(second));
    const QByteArray gif = MadeBy(QStringLiteral("convert"), {QStringLiteral("-delay"), QStringLiteral("10"), QStringLiteral("IN"), folder.filePath(QStringLiteral("second.png")), QStringLiteral("OUT")},
                                  PngOf(first), QStringLiteral("first.png"), QStringLiteral("both.gif"));
    const auto ours = DecodedBy(DecodeJxl, JxlEncoded(gif, QStringLiteral("both.gif"), {QStringLiteral("-d"), QStringLiteral("0")}));
    ASSERT_TRUE(ours);
    EXPECT_EQ(LargestDifference(*ours, *Smallest(first)), 0);
}

// Cut anywhere, a file gives the rows decoded whole from the top, the rest
// blank, or is refused with a reason. (libjxl 0.7 gives a frame's rows once
// the whole frame is there: a frame cut short shows none, and says so.)
TEST(JxlReader, ACutFileGivesTheRowsDecodedFromTheTop)
{
    SKIP_WITHOUT_JXL_TOOLS();
    const QByteArray file = JxlOf(PhotoLike(300, 700), {QStringLiteral("-d"), QStringLiteral("1"), QStringLiteral("--group_order=0")});
    const auto whole = DecodedBy(DecodeJxl, file);
    ASSERT_TRUE(whole);
    int opened = 0;
    for (qsizetype size = 0; size < file.size(); size += std::max<qsizetype>(1, file.size() / 61)) {
        TBitmap cut;
        TRowsMissing missing{};
        const std::string reason = MessageOf([&] { missing = DecodeJxl(Bytes(file.left(size)), cut); });
        if (reason != NoException) {
            EXPECT_EQ(reason, "the picture data is damaged or incomplete") << "cut at " << size;
            continue;
        }
        ASSERT_TRUE(HoldsTheFirstRowsOf(cut, *whole, missing)) << "cut at " << size << ", " << missing.missing << " rows missing";
        EXPECT_GT(missing.missing, 0) << "cut at " << size;
        ++opened;
    }
    EXPECT_GT(opened, 0) << "no cut past the header opens";
}

// 2^30 x 2^30 is beyond the program's limit; 20000 x 20000 fits it, but
// libjxl's samples beside ours do not fit the opening's memory.
TEST(JxlReader, ClaimedSizesBeyondTheLimitsAreRefusedBeforeDecoding)
{
    EXPECT_TRUE(LooksLikeJxl(Bytes(CodestreamClaiming(1 << 30, 1 << 30))));
    EXPECT_EQ(MessageOf([] { TBitmap b; DecodeJxl(Bytes(CodestreamClaiming(1 << 30, 1 << 30)), b); }),
              "the picture is 1073741824 x 1073741824 pixels, which would take 3298534883328 MiB; this program handles pictures of less than 2048 MiB");
    EXPECT_EQ(MessageOf([] { TBitmap b; DecodeJxl(Bytes(CodestreamClaiming(20000, 20000)), b); }),
              "the picture is 20000 x 20000 pixels; opening this JPEG XL picture would take about 2783 MiB of memory, more than the 2544 MiB this "
              "program allows for a picture of 1145 MiB");
    EXPECT_EQ(MessageOf([] { TBitmap b; DecodeJxl(Bytes(QByteArray("\xFF\x0A\x01", 3)), b); }), "the picture data is damaged or incomplete");
}
