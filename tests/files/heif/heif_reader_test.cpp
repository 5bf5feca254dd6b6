// HEIF and AVIF pictures as their own encoders write them (heif-enc of
// libheif, avifenc of libavif) open as libheif's heif-convert reads them, in
// the smallest form, upright exactly once, with their colour profile, EXIF
// and XMP; files holding several pictures open their primary one; lying or
// cut files are refused with a reason.
#include "platform/files/picture_codecs.h"
#include "platform/files/heif/heif_codec.h"
#include "platform/files/reader_metadata.h"
#include "platform/metadata/cicp_profiles.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/encoders.h"
#include "support/exiftool.h"
#include "support/failures.h"
#include "support/profiles.h"
#include "support/qt_reference.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray HeifEncoded(const QImage &image, const QStringList &options, const QString &output = QStringLiteral("made.heic"))
{
    return MadeBy(QStringLiteral("heif-enc"), options + QStringList{QStringLiteral("-o"), QStringLiteral("OUT"), QStringLiteral("IN")}, PngOf(image),
                  QStringLiteral("in.png"), output);
}

QByteArray AvifEncoded(const QImage &image, const QStringList &options)
{
    return MadeBy(QStringLiteral("avifenc"), QStringList{QStringLiteral("-s"), QStringLiteral("8")} + options + QStringList{QStringLiteral("IN"), QStringLiteral("OUT")},
                  PngOf(image), QStringLiteral("in.png"), QStringLiteral("made.avif"));
}

// The file as heif-convert reads it.
std::unique_ptr<TBitmap> Libheifs(const QByteArray &file, const char *name = "made.heic")
{
    return ReadByTool(QStringLiteral("heif-convert"), file, QLatin1String(name));
}

#define SKIP_WITHOUT_HEIF_TOOLS()     \
    SKIP_WITHOUT_TOOL("heif-enc");    \
    SKIP_WITHOUT_TOOL("heif-convert"); \
    SKIP_WITHOUT_TOOL("avifenc")

} // namespace

TEST(HeifReader, PicturesTheEncodersWriteOpenAsLibheifReadsThemInTheSmallestForm)
{
    SKIP_WITHOUT_HEIF_TOOLS();
    const QImage photo = PhotoLike(67, 45), translucent = PhotoLike(40, 30, QImage::Format_ARGB32);
    const QImage grey = PhotoLike(33, 20).convertToFormat(QImage::Format_Grayscale8);
    const struct {
        const char *what;
        QByteArray file;
        TPixelFormat format;
        int tolerance; // levels: deeper samples rounded here, by Qt's conversion there
    } cases[] = {
        {"HEIC", HeifEncoded(photo, {QStringLiteral("-q"), QStringLiteral("90")}), pf24bit, 0},
        {"HEIC, 4:4:4", HeifEncoded(photo, {QStringLiteral("-p"), QStringLiteral("chroma=444")}), pf24bit, 0},
        {"HEIC with alpha", HeifEncoded(translucent, {}), pf32bit, 0},
        {"AVIF by heif-enc", HeifEncoded(photo, {QStringLiteral("-A")}, QStringLiteral("made.avif")), pf24bit, 0},
        {"AVIF", AvifEncoded(photo, {}), pf24bit, 0},
        {"AVIF, 4:2:0", AvifEncoded(photo, {QStringLiteral("-y"), QStringLiteral("420")}), pf24bit, 0},
        {"AVIF, grey", AvifEncoded(grey, {QStringLiteral("-y"), QStringLiteral("400")}), pf8bit, 0},
        {"AVIF with alpha", AvifEncoded(translucent, {}), pf32bit, 0},
        {"AVIF, 10 bits", AvifEncoded(photo, {QStringLiteral("-d"), QStringLiteral("10")}), pf24bit, 1},
        {"AVIF, 12 bits with alpha", AvifEncoded(translucent, {QStringLiteral("-d"), QStringLiteral("12")}), pf32bit, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.file.isEmpty());
        const auto ours = DecodedBy(DecodeHeif, c.file);
        const auto theirs = Libheifs(c.file);
        ASSERT_TRUE(ours && theirs);
        EXPECT_EQ(ours->GetPixelFormat(), c.format);
        EXPECT_LE(LargestDifference(*ours, *theirs), c.tolerance);
        EXPECT_GE(LargestDifference(*ours, *theirs), 0);
    }
}

// libheif turns a picture by its rotation and mirroring properties; the
// EXIF orientation counts only where the file has none, and never twice.
TEST(HeifReader, PicturesAreTurnedUprightByTheirPropertiesElseByTheirExifOnce)
{
    SKIP_WITHOUT_HEIF_TOOLS();
    SKIP_WITHOUT_EXIFTOOL();
    const QImage photo = PhotoLike(48, 30);
    QTemporaryDir folder;
    const QString exif = folder.filePath(QStringLiteral("six.exif"));
    PutFile(exif, ExiftoolMade(QStringLiteral("exif"), {QStringLiteral("-Orientation#=6"), QStringLiteral("-Make=Cam")}));
    const auto upright = DecodedBy(DecodeHeif, AvifEncoded(photo, {}));
    ASSERT_TRUE(upright);

    // A quarter turn anticlockwise by irot, with EXIF saying 6 beside it.
    const QByteArray turned = AvifEncoded(photo, {QStringLiteral("--irot"), QStringLiteral("1"), QStringLiteral("--exif"), exif});
    const auto ours = DecodedBy(DecodeHeif, turned);
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours->GetWidth(), 30);
    EXPECT_EQ(LargestDifference(*ours, *Libheifs(turned, "made.avif")), 0);
    TBitmap expected;
    expected.Assign(upright.get());
    TurnUpright(expected, TOrientation::QuarterClockwise);
    TurnUpright(expected, TOrientation::HalfTurn);
    EXPECT_EQ(LargestDifference(*ours, expected), 0) << "not the picture turned a quarter anticlockwise";

    // Mirrored by imir.
    const QByteArray mirrored = AvifEncoded(photo, {QStringLiteral("--imir"), QStringLiteral("1")});
    expected.Assign(upright.get());
    TurnUpright(expected, TOrientation::Mirrored);
    EXPECT_EQ(LargestDifference(*DecodedBy(DecodeHeif, mirrored), expected), 0);

    // No property: EXIF's 6 turns it a quarter clockwise.
    const QByteArray stated = AvifEncoded(photo, {QStringLiteral("--exif"), exif});
    expected.Assign(upright.get());
    TurnUpright(expected, TOrientation::QuarterClockwise);
    const auto byExif = DecodedBy(DecodeHeif, stated);
    ASSERT_TRUE(byExif);
    EXPECT_EQ(LargestDifference(*byExif, expected), 0);
    EXPECT_EQ(ExiftoolRead(byExif->GetMetadata().exif, QStringLiteral("exif")).value(QStringLiteral("IFD0:Make")).toString(), QStringLiteral("Cam"));
}

TEST(HeifReader, TheColourProfileExifAndXmpTravelWithThePicture)
{
    SKIP_WITHOUT_HEIF_TOOLS();
    SKIP_WITHOUT_EXIFTOOL();
    const QImage photo = PhotoLike(24, 16);
    QTemporaryDir folder;
    const QString icc = folder.filePath(QStringLiteral("wide.icc")), exif = folder.filePath(QStringLiteral("made.exif")),
                  xmp = folder.filePath(QStringLiteral("made.xmp"));
    const QByteArray wide = WideGamutProfile();
    PutFile(icc, wide);
    PutFile(exif, ExiftoolMade(QStringLiteral("exif"), {QStringLiteral("-Make=Phone"), QStringLiteral("-Model=Twelve")}));
    PutFile(xmp, ExiftoolMade(QStringLiteral("xmp"), {QStringLiteral("-XMP-dc:Title=Harbour")}));
    const auto read = DecodedBy(DecodeHeif, AvifEncoded(photo, {QStringLiteral("--icc"), icc, QStringLiteral("--exif"), exif, QStringLiteral("--xmp"), xmp}));
    ASSERT_TRUE(read);
    const TPictureMetadata &metadata = read->GetMetadata();
    EXPECT_EQ(metadata.colourProfile, wide);
    EXPECT_EQ(ExiftoolRead(metadata.exif, QStringLiteral("exif")).value(QStringLiteral("IFD0:Model")).toString(), QStringLiteral("Twelve"));
    EXPECT_EQ(ExiftoolRead(metadata.xmp, QStringLiteral("xmp")).value(QStringLiteral("XMP-dc:Title")).toString(), QStringLiteral("Harbour"));

    // Colours described by code points: Display P3 becomes its profile; sRGB's need none.
    const auto p3 = DecodedBy(DecodeHeif, AvifEncoded(photo, {QStringLiteral("--cicp"), QStringLiteral("12/13/6")}));
    ASSERT_TRUE(p3);
    EXPECT_NEAR(RedColorant(p3->GetMetadata().colourProfile).x, RedColorant(ProfileForCodePoints(12, 13)).x, 1e-4);
    EXPECT_GT(RedColorant(p3->GetMetadata().colourProfile).x, 0.5);
    const auto srgb = DecodedBy(DecodeHeif, AvifEncoded(photo, {QStringLiteral("--cicp"), QStringLiteral("1/13/6")}));
    ASSERT_TRUE(srgb);
    EXPECT_TRUE(srgb->GetMetadata().colourProfile.isEmpty());

    // A HEIC made from a photograph keeps its camera data.
    const QByteArray jpeg = MadeBy(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-Make=Camera"), QStringLiteral("-o"), QStringLiteral("OUT"), QStringLiteral("IN")},
                                   WrittenByQt(photo, "jpeg", 95), QStringLiteral("in.jpg"), QStringLiteral("out.jpg"));
    const auto heic = DecodedBy(DecodeHeif, MadeBy(QStringLiteral("heif-enc"), {QStringLiteral("-o"), QStringLiteral("OUT"), QStringLiteral("IN")}, jpeg,
                                                   QStringLiteral("in.jpg"), QStringLiteral("made.heic")));
    ASSERT_TRUE(heic);
    EXPECT_EQ(ExiftoolRead(heic->GetMetadata().exif, QStringLiteral("exif")).value(QStringLiteral("IFD0:Make")).toString(), QStringLiteral("Camera"));
}

// Of a file holding several pictures the primary one opens, of a sequence
// the first, with no message.
TEST(HeifReader, TheFirstOfSeveralPicturesOrOfASequenceOpens)
{
    SKIP_WITHOUT_HEIF_TOOLS();
    const QImage first = PhotoLike(40, 24);
    QImage second = first.mirrored(true, true);
    second.invertPixels();
    QTemporaryDir folder;
    PutFile(folder.filePath(QStringLiteral("second.png")), PngOf(second));
    const QByteArray two =
        MadeBy(QStringLiteral("heif-enc"), {QStringLiteral("-o"), QStringLiteral("OUT"), QStringLiteral("IN"), folder.filePath(QStringLiteral("second.png"))},
               PngOf(first), QStringLiteral("in.png"), QStringLiteral("two.heic"));
    const auto alone = DecodedBy(DecodeHeif, HeifEncoded(first, {}));
    const auto ofTwo = DecodedBy(DecodeHeif, two);
    ASSERT_TRUE(alone && ofTwo);
    EXPECT_EQ(LargestDifference(*ofTwo, *alone), 0);

    const QByteArray sequence =
        MadeBy(QStringLiteral("avifenc"), {QStringLiteral("-s"), QStringLiteral("8"), QStringLiteral("IN"), folder.filePath(QStringLiteral("second.png")), QStringLiteral("OUT")},
               PngOf(first), QStringLiteral("in.png"), QStringLiteral("made.avifs"));
    const auto firstFrame = DecodedBy(DecodeHeif, sequence);
    const auto firstAlone = DecodedBy(DecodeHeif, AvifEncoded(first, {}));
    ASSERT_TRUE(firstFrame && firstAlone);
    EXPECT_LE(LargestDifference(*firstFrame, *firstAlone), 24) << "not the first frame";
}

// A grid of tiles opens as libheif reads it; one whose grid claims more
// tiles than it holds, or a size it does not have, is refused with a
// reason, a size beyond the program's limit before anything is decoded.
TEST(HeifReader, GridsOpenAndFilesThatLieAreRefusedWithAReason)
{
    SKIP_WITHOUT_HEIF_TOOLS();
    // Tiles of 64 x 64, the least AV1 grids take.
    const QImage photo = PhotoLike(128, 128);
    const QByteArray grid = AvifEncoded(photo, {QStringLiteral("--grid"), QStringLiteral("2x2")});
    ASSERT_FALSE(grid.isEmpty());
    const auto ours = DecodedBy(DecodeHeif, grid);
    ASSERT_TRUE(ours);
    EXPECT_EQ(LargestDifference(*ours, *Libheifs(grid, "made.avif")), 0);

    // The grid's rows (rows - 1, then columns - 1, width, height).
    QByteArray moreTiles = grid;
    const qsizetype descriptor = moreTiles.indexOf(QByteArray("\0\0\1\1\0\x80\0\x80", 8));
    ASSERT_GE(descriptor, 0);
    moreTiles[descriptor + 2] = 2;
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeHeif(Bytes(moreTiles), b); }), "the picture data is damaged or incomplete");

    // The picture's size as its ispe property says, far beyond the limit.
    QByteArray huge = AvifEncoded(photo, {});
    const qsizetype ispe = huge.indexOf("ispe");
    ASSERT_GE(ispe, 0);
    for (int i = 0; i < 2; ++i) huge.replace(ispe + 8 + 4 * i, 4, QByteArray("\0\0\x75\x30", 4)); // 30000
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeHeif(Bytes(huge), b); }),
              "the picture is 30000 x 30000 pixels, which would take 2575 MiB; this program handles pictures of less than 2048 MiB");
}

// A file cut anywhere gives a whole picture or none: libheif decodes the
// whole or fails, and no byte is read past the end.
TEST(HeifReader, CutFilesAreRefusedWithAReasonOrOpenWhole)
{
    SKIP_WITHOUT_HEIF_TOOLS();
    const QImage photo = PhotoLike(32, 24);
    for (const QByteArray &file : {HeifEncoded(photo, {}), AvifEncoded(photo, {})}) {
        const auto whole = DecodedBy(DecodeHeif, file);
        ASSERT_TRUE(whole);
        for (qsizetype size = 0; size < file.size(); size += std::max<qsizetype>(1, file.size() / 97)) {
            TBitmap cut;
            TRowsMissing missing{};
            const std::string reason = MessageOf([&] { missing = DecodeHeif(Bytes(file.left(size)), cut); });
            if (reason == NoException) {
                EXPECT_EQ(missing.missing, 0);
                EXPECT_EQ(cut.GetWidth(), whole->GetWidth());
            } else {
                EXPECT_FALSE(reason.empty()) << "cut at " << size;
            }
        }
    }
}

TEST(HeifReader, TheTableKnowsHeifAndAvifByTheirBrandsAndWritesNeither)
{
    const QByteArray heic("\0\0\0\x18" "ftypheic\0\0\0\0mif1heic", 24), avif("\0\0\0\x1c" "ftypavif\0\0\0\0avifmif1miaf", 28),
        avifCompatible("\0\0\0\x18" "ftypmif1\0\0\0\0avifmiaf", 24), mp4("\0\0\0\x18" "ftypisom\0\0\0\0isomiso2", 24);
    EXPECT_TRUE(LooksLikeHeif(Bytes(heic)));
    EXPECT_FALSE(LooksLikeAvif(Bytes(heic)));
    EXPECT_TRUE(LooksLikeAvif(Bytes(avif)));
    EXPECT_TRUE(LooksLikeAvif(Bytes(avifCompatible)));
    EXPECT_FALSE(LooksLikeHeif(Bytes(mp4)) || LooksLikeAvif(Bytes(mp4)));
    for (const TPictureFileFormat format : {TPictureFileFormat::Heif, TPictureFileFormat::Avif, TPictureFileFormat::Jxl})
        EXPECT_NE(MessageOf([&] { EncodePicture(*std::make_unique<TBitmap>(), format); }).find("it writes BMP, PNG"), std::string::npos);
}
