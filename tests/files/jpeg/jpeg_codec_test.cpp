// JPEG through TurboJPEG: every picture opens with the pixels Qt's reader
// gives (the same libjpeg-turbo underneath), turned as its orientation tag
// says; our writer gives the pixels Qt's writer gave; damaged and lying
// files are refused with their reason.
#include "platform/base/pages_made_ready.h"
#include "platform/base/parallel_pieces.h"
#include "platform/base/work_progress.h"
#include "platform/files/jpeg/jpeg_codec.h"
#include "platform/files/qt/qt_codec.h"
#include "platform/files/qt/qt_image_bridge.h"
#include "support/decoding.h"
#include "support/failures.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <jpeglib.h>

namespace {

const TPictureFileFormatInfo &Jpeg() { return PictureFileFormatInfo(TPictureFileFormat::Jpeg); }

// A smooth picture with noise, as photographs are.
std::unique_ptr<TBitmap> Photo(int width, int height, TPixelFormat format, std::uint32_t seed)
{
    auto bitmap = MakeBitmap(width, height, format);
    std::mt19937 random(seed);
    FillColours(*bitmap, [&](int x, int y) {
        const auto noise = [&] { return static_cast<int>(random() % 21) - 10; };
        const auto clamp = [](int v) { return std::clamp(v, 0, 255); };
        return RGB(clamp(x * 255 / width + noise()), clamp(y * 255 / height + noise()), clamp((x + y) % 256 + noise()));
    });
    return bitmap;
}

// The JPEG with an EXIF block right after its start marker whose first
// directory holds the orientation tag, in either byte order.
QByteArray WithOrientation(const QByteArray &jpeg, int orientation, bool bigEndian)
{
    const auto u16 = [&](int v) { return bigEndian ? QByteArray{1, char(v >> 8)} + char(v & 255) : QByteArray{1, char(v & 255)} + char(v >> 8); };
    const auto u32 = [&](int v) { return bigEndian ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16); };
    QByteArray tiff = QByteArray(bigEndian ? "MM" : "II") + u16(42) + u32(8);
    // Two entries: one other tag first, then the orientation (SHORT, count 1).
    tiff += u16(2) + u16(0x010F) + u16(2) + u32(4) + QByteArray("abc", 4) + u16(0x0112) + u16(3) + u32(1) + u16(orientation) + u16(0) + u32(0);
    const QByteArray exif = QByteArray("Exif\0\0", 6) + tiff;
    const int length = static_cast<int>(exif.size()) + 2;
    return jpeg.left(2) + QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 255) + exif + jpeg.mid(2);
}

} // namespace

TEST(JpegReader, ColourGreyAndProgressivePicturesOpenWithQtsPixels)
{
    for (const auto &[width, height] : {std::pair{1, 1}, std::pair{37, 19}, std::pair{203, 97}})
        for (const int quality : {30, 95, 100})
            for (const TJpegScans scans : {TJpegScans::One, TJpegScans::Progressive}) {
                SCOPED_TRACE(testing::Message() << width << " x " << height << ", quality " << quality << (scans == TJpegScans::Progressive ? ", progressive" : ""));
                const auto colour = Photo(width, height, pf24bit, static_cast<std::uint32_t>(width + quality));
                const QImage image = QImageFromBitmap(*colour);
                const QByteArray jpeg = WrittenByQt(image, "jpeg", quality, scans);
                const auto ours = DecodedBy(DecodeJpeg, jpeg);
                EXPECT_EQ(ours->GetPixelFormat(), pf24bit);
                EXPECT_TRUE(SameBitmap(*ours, *DecodedBy(DecodeWithQt, jpeg)));
                const QByteArray grey = WrittenByQt(image.convertToFormat(QImage::Format_Grayscale8), "jpeg", quality, scans);
                const auto oursGrey = DecodedBy(DecodeJpeg, grey);
                EXPECT_EQ(oursGrey->GetPixelFormat(), pf8bit);
                EXPECT_TRUE(SameBitmap(*oursGrey, *DecodedBy(DecodeWithQt, grey)));
            }
}

TEST(JpegReader, EveryOrientationTagTurnsThePictureAsQtTurnsIt)
{
    const auto picture = Photo(24, 16, pf24bit, 3);
    const QByteArray jpeg = WrittenByQt(QImageFromBitmap(*picture), "jpeg", 95, TJpegScans::One);
    for (const bool bigEndian : {false, true})
        for (int orientation = 0; orientation <= 9; ++orientation) {
            SCOPED_TRACE(testing::Message() << "orientation " << orientation << (bigEndian ? ", big-endian" : ""));
            const QByteArray tagged = WithOrientation(jpeg, orientation, bigEndian);
            const auto ours = DecodedBy(DecodeJpeg, tagged);
            EXPECT_EQ(ours->GetWidth(), orientation >= 5 && orientation <= 8 ? 16 : 24);
            EXPECT_TRUE(SameBitmap(*ours, *UprightByQt(tagged)));
        }
}

// A picture large enough that its pages are mapped on another core while
// libjpeg decodes (platform/base/pages_made_ready.h), written by another
// program in one scan without restart markers: Qt's pixels on one thread
// and on two; cut in its middle, the rows the data reached and zeros after.
TEST(JpegReader, ALargePictureOpensWithQtsPixelsWhileItsPagesAreMadeReady)
{
    const int width = 1600, height = 1000;
    ASSERT_GE(TBitmap::RowBytes(width, pf24bit) * height, TPagesMadeReady::MinBytes);
    const QByteArray jpeg = WrittenByQt(QImageFromBitmap(*Photo(width, height, pf24bit, 11)), "jpeg", 95, TJpegScans::One);
    ASSERT_EQ(jpeg.indexOf(QByteArray("\xFF\xDD", 2)), -1) << "written with restart markers";
    const auto byQt = DecodedBy(DecodeWithQt, jpeg);
    const QByteArray cut = jpeg.left(jpeg.size() / 2);
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        const TPiecesHeld held(threads);
        EXPECT_TRUE(SameBitmap(*DecodedBy(DecodeJpeg, jpeg), *byQt));
        TBitmap part;
        const TRowsMissing missing = DecodeJpeg(Bytes(cut), part);
        EXPECT_GT(missing.missing, height / 4);
        EXPECT_LT(missing.missing, 3 * height / 4);
        EXPECT_TRUE(HoldsTheFirstRowsOf(part, *byQt, missing));
    }
}

// Damaged files, sizes beyond the limit and files too small for the size
// they claim: refused before the picture is allocated. A Huffman-coded
// block costs at least 2 bits in a sequential file, 1 in a progressive one.
TEST(JpegReader, DamagedHugeAndLyingPicturesAreRefusedAndLeaveTheBitmap)
{
    const QByteArray jpeg = EncodeJpeg(*Photo(120, 90, pf24bit, 5), Jpeg());
    // 3 KB of progressive grey, then claiming 46000 x 46000 (2018 MiB).
    const QImage grey = QImageFromBitmap(*Photo(64, 64, pf24bit, 6)).convertToFormat(QImage::Format_Grayscale8);
    const QByteArray small = WrittenByQt(grey, "jpeg", 75, TJpegScans::Progressive);
    ASSERT_LT(small.size(), 4000);
    const auto lying = [](const QByteArray &file, int side, qsizetype least) {
        return QStringLiteral("the header claims %1 x %1 pixels, but the file holds %2 bytes of picture data, and even the most "
                              "compressed JPEG picture of that size takes %3 bytes")
            .arg(side).arg(JpegEntropyBytes(file)).arg(least).toStdString();
    };
    const struct {
        const char *what;
        QByteArray bytes;
        std::string reason;
    } cases[] = {
        {"start marker only", jpeg.left(3), Damaged},
        {"60000 x 60000 claimed", JpegClaiming(jpeg, 60000, 60000),
         "the picture is 60000 x 60000 pixels, which would take 10300 MiB; this program handles pictures of less than 2048 MiB"},
        // 250 x 250 blocks of luma, 125 x 125 of each chroma, 2 bits each.
        {"baseline, patched to 2000 x 2000", JpegClaiming(jpeg, 2000, 2000), lying(jpeg, 2000, (2 * (62500 + 2 * 15625) + 7) / 8)},
        // 5750 x 5750 blocks, a bit each.
        {"progressive, 3 KB claiming 46000 x 46000", JpegClaiming(small, 46000, 46000), lying(small, 46000, (33062500 + 7) / 8)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const TDecodedOver over = DecodedOverAPicture(DecodeJpeg, c.bytes);
        EXPECT_EQ(over.message, c.reason);
        EXPECT_TRUE(over.pictureKept);
    }
    // Bytes after the end marker are no damage.
    EXPECT_EQ(DecodedBy(DecodeJpeg, jpeg + QByteArray(100, 'x'))->GetWidth(), 120);
}

// A flat picture is the most a JPEG can compress: each block is its DC
// difference and its end of block, single bits with tables made for it.
// Such real files, in every mode, are not taken for lying ones.
TEST(JpegReader, TheMostCompressedRealFilesOpen)
{
    QImage flat(2000, 1000, QImage::Format_RGB32);
    flat.fill(qRgb(90, 140, 200));
    for (const bool colour : {false, true})
        for (const TJpegScans scans : {TJpegScans::One, TJpegScans::Progressive}) {
            SCOPED_TRACE(testing::Message() << (colour ? "colour" : "grey") << (scans == TJpegScans::Progressive ? ", progressive" : ""));
            const QByteArray bytes = WrittenByQt(colour ? flat : flat.convertToFormat(QImage::Format_Grayscale8), "jpeg", 75, scans,
                                                 THuffmanTables::MadeForThePicture);
            TBitmap read;
            TRowsMissing missing;
            ASSERT_EQ(MessageOf([&] { missing = DecodeJpeg(Bytes(bytes), read); }), NoException) << bytes.size() << " bytes";
            EXPECT_EQ(missing.missing, 0);
            EXPECT_TRUE(SameBitmap(read, *DecodedBy(DecodeWithQt, bytes)));
        }
}

// Data that ends early, at the end marker or the end of the file, gives
// the rows every scan reached; a file whose scans are whole but that lacks
// its end marker is whole.
TEST(JpegReader, DataThatEndsEarlyGivesTheRowsEveryScanReached)
{
    const auto photo = Photo(120, 90, pf24bit, 5);
    const QByteArray baseline = EncodeJpeg(*photo, Jpeg());
    const QByteArray progressive = WrittenByQt(QImageFromBitmap(*photo), "jpeg", 90, TJpegScans::Progressive);
    for (const auto &[name, jpeg] : {std::pair{"baseline", baseline}, std::pair{"progressive", progressive}}) {
        SCOPED_TRACE(name);
        const auto whole = DecodedBy(DecodeJpeg, jpeg);
        TBitmap bitmap;
        EXPECT_EQ(DecodeJpeg(Bytes(jpeg.left(jpeg.size() - 2)), bitmap).missing, 0);
        EXPECT_TRUE(SameBitmap(bitmap, *whole));
        // Cut in the last scan, in its middle: the rows of the blocks
        // before the cut, less one, as colour is upsampled from below.
        const qsizetype last = jpeg.lastIndexOf(QByteArray("\xFF\xDA", 2));
        const QByteArray cut = jpeg.left((last + jpeg.size()) / 2);
        TBitmap part;
        const TRowsMissing missing = DecodeJpeg(Bytes(cut), part);
        EXPECT_GT(missing.missing, 0);
        EXPECT_LT(missing.missing, 90);
        EXPECT_EQ((missing.rows - missing.missing + 1) % 16, 0) << missing.missing;
        EXPECT_TRUE(HoldsTheFirstRowsOf(part, *whole, missing));
        // Ended at its end marker, put where the data stops.
        TBitmap marked;
        EXPECT_EQ(DecodeJpeg(Bytes(cut + QByteArray("\xFF\xD9", 2)), marked).missing, missing.missing);
        EXPECT_TRUE(SameBitmap(marked, part));
    }
    // A part between restart markers that ends early is damage the decoder
    // gets over at the next marker, not the end of the data: every row is
    // there, those after the part as the whole file has them.
    const auto large = Photo(1000, 1200, pf24bit, 7);
    const QByteArray parts = EncodeJpeg(*large, Jpeg());
    const qsizetype second = parts.indexOf(QByteArray("\xFF\xD1", 2));
    ASSERT_GT(second, 0) << "written in one part";
    const QByteArray damaged = parts.left(second - 200) + parts.mid(second);
    TBitmap repaired;
    EXPECT_EQ(DecodeJpeg(Bytes(damaged), repaired).missing, 0);
    const auto whole = DecodedBy(DecodeJpeg, parts);
    EXPECT_EQ(std::memcmp(repaired.Row(1199), whole->Row(1199), 3000), 0);
}

namespace {

// A grey picture written by libjpeg itself in arithmetic coding, whose
// decisions can cost far less than a bit: files that end early are told
// only by the end of the file inside a scan.
QByteArray ArithmeticJpeg(const TBitmap &grey, TJpegScans scans)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(grey.GetWidth());
    info.image_height = static_cast<JDIMENSION>(grey.GetHeight());
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    info.arith_code = TRUE;
    if (scans == TJpegScans::Progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(grey.Row(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char *>(out), static_cast<qsizetype>(size));
    std::free(out);
    return bytes;
}

} // namespace

// Arithmetic coding may hold a whole flat picture in a few bytes, and may
// meet its end marker before its last decision by right: such files open
// whatever their size claims, and only the end of the file inside a scan
// is data that ends early.
TEST(JpegReader, ArithmeticCodedFilesEndEarlyOnlyWhereTheFileDoes)
{
    auto grey = MakeBitmap(120, 96, pf8bit);
    FillColours(*grey, [](int x, int y) { const int v = (x * 2 + y) & 255; return RGB(v, v, v); });
    for (const TJpegScans scans : {TJpegScans::One, TJpegScans::Progressive}) {
        SCOPED_TRACE(scans == TJpegScans::Progressive ? "progressive" : "sequential");
        const QByteArray jpeg = ArithmeticJpeg(*grey, scans);
        const auto whole = DecodedBy(DecodeJpeg, jpeg);
        EXPECT_TRUE(SameBitmap(*whole, *DecodedBy(DecodeWithQt, jpeg)));
        const qsizetype last = jpeg.lastIndexOf(QByteArray("\xFF\xDA", 2));
        TBitmap part;
        const TRowsMissing missing = DecodeJpeg(Bytes(jpeg.left((last + jpeg.size()) / 2)), part);
        EXPECT_GT(missing.missing, 0);
        EXPECT_LT(missing.missing, 96);
        EXPECT_TRUE(HoldsTheFirstRowsOf(part, *whole, missing));
    }
    // Flat, 8000 x 8000 claimed: no size a Huffman file must reach.
    auto flat = MakeBitmap(64, 64, pf8bit);
    FillColours(*flat, [](int, int) { return RGB(77, 77, 77); });
    TBitmap big;
    EXPECT_EQ(DecodeJpeg(Bytes(JpegClaiming(ArithmeticJpeg(*flat, TJpegScans::One), 8000, 8000)), big).missing, 0);
    EXPECT_EQ(big.GetWidth(), 8000);
}

// A progressive file keeps all its scans as coefficients until its rows are
// decoded: 2 bytes a sample, twice a grey picture's bytes, counted with the
// picture before anything is allocated.
TEST(JpegReader, TheScansOfAProgressiveFileCountInItsOpeningMemory)
{
    const QImage grey = QImageFromBitmap(*Photo(64, 64, pf24bit, 6)).convertToFormat(QImage::Format_Grayscale8);
    QByteArray claimed = JpegClaiming(WrittenByQt(grey, "jpeg", 75, TJpegScans::Progressive), 20000, 15000);
    // Data enough for its 2500 x 1875 blocks.
    claimed.insert(claimed.lastIndexOf(QByteArray("\xFF\xD9", 2)), QByteArray(600000, '\0'));
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeJpeg(Bytes(claimed), b); }),
              "the picture is 20000 x 15000 pixels; opening this JPEG picture would take about 923 MiB of memory, more than the 828 MiB "
              "this program allows for a picture of 287 MiB; a JPEG in several scans (a progressive one) keeps them all, here in 573 MiB, "
              "until its rows are decoded");
}

namespace {

// Where the last scan of a JPEG starts (its SOS marker) and ends (the end marker).
std::pair<qsizetype, qsizetype> LastScan(const QByteArray &jpeg)
{
    return {jpeg.lastIndexOf(QByteArray("\xFF\xDA", 2)), jpeg.lastIndexOf(QByteArray("\xFF\xD9", 2))};
}

} // namespace

// Every scan of a progressive file is read before its first row. A crafted
// file repeating a scan without end is refused for its scans; while the
// scans are read, a cancel is heeded: cancelled before it starts, a file
// whose third scan is fatally damaged stops as cancelled, before libjpeg
// reaches that scan.
TEST(JpegReader, AProgressiveFileIsReadScanByScanWithinALimit)
{
    const auto photo = Photo(160, 120, pf24bit, 21);
    const QImage image = QImageFromBitmap(*photo);
    const QByteArray jpeg = WrittenByQt(image, "jpeg", 90, TJpegScans::Progressive);
    const auto [scan, end] = LastScan(jpeg);
    ASSERT_GT(scan, 0);
    const QByteArray last = jpeg.mid(scan, end - scan);
    const auto repeated = [&](int times) { return jpeg.left(end) + last.repeated(times) + jpeg.mid(end); };
    const auto read = DecodedBy(DecodeJpeg, repeated(50));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetWidth(), 160);
    // Counted before reading, as Qt's reader (four-channel files) cannot be stopped.
    const std::string tooMany = "it has more than 1000 scans; real pictures have a few dozen, and each takes a pass over the whole picture";
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeJpeg(Bytes(repeated(1000)), b); }), tooMany);
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeWithQt(Bytes(repeated(1000)), b); }), tooMany);

    // A scan of a colour the frame does not have: libjpeg's fatal error.
    const qsizetype third = jpeg.indexOf(QByteArray("\xFF\xDA", 2), jpeg.indexOf(QByteArray("\xFF\xDA", 2)) + 2);
    const QByteArray damaged = jpeg.left(third) + QByteArray("\xFF\xDA\x00\x08\x01\x63\x00\x00\x3F\x00", 10) + jpeg.mid(third);
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeJpeg(Bytes(damaged), b); }), Damaged);
    TWorkProgress progress;
    progress.Cancel();
    TWorkScope scope(progress);
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeJpeg(Bytes(damaged), b); }), "Cancelled");
}

// Large pictures are encoded in parts on every core and joined by restart
// markers: the pixels are still those of Qt's writer, read back by Qt's
// reader as by ours, whatever the last part's rows and the blocks' edges.
TEST(JpegWriter, PicturesEncodedInPartsGiveThePixelsOfOneWholeEncoding)
{
    const struct {
        int width, height;
        TPixelFormat format;
    } cases[] = {{1501, 1003, pf24bit}, {1200, 1000, pf32bit}, {2003, 1001, pf8bit}, {20000, 40, pf24bit}, {3000, 1400, pf24bit}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", " << BitsPerPixel(c.format) << " bits");
        const auto bitmap = Photo(c.width, c.height, c.format, 12);
        if (c.format == pf8bit) bitmap->SetPalette(GreyLevels);
        const QByteArray file = EncodeJpeg(*bitmap, Jpeg());
        EXPECT_TRUE(file.contains("\xFF\xD0")) << "not written in parts";
        // Data bytes of 0xFF are stuffed, so each 0xFF 0xD0-0xD7 is a restart
        // marker, and they must count 0 to 7 in turn for a decoder to keep step.
        int restarts = 0;
        for (qsizetype i = 0; i + 1 < file.size(); ++i) {
            if (static_cast<std::uint8_t>(file[i]) == 0xFF && (static_cast<std::uint8_t>(file[i + 1]) & 0xF8) == 0xD0) {
                EXPECT_EQ(static_cast<std::uint8_t>(file[i + 1]), 0xD0 + restarts++ % 8) << "restart marker " << restarts;
            }
        }
        const auto ours = DecodedBy(DecodeJpeg, file);
        EXPECT_TRUE(SameBitmap(*ours, *DecodedBy(DecodeWithQt, file)));
        EXPECT_TRUE(SameBitmap(*ours, *DecodedBy(DecodeWithQt, EncodeWithQt(*bitmap, Jpeg()))));
    }
}

TEST(JpegWriter, EveryFormGivesThePixelsQtsWriterGave)
{
    for (const TPixelFormat format : AllPixelFormats)
        for (const bool greyPalette : {false, true}) {
            if (greyPalette && !HasPalette(format)) continue;
            SCOPED_TRACE(testing::Message() << BitsPerPixel(format) << " bits" << (greyPalette ? ", grey palette" : ""));
            auto bitmap = Photo(101, 67, format, 8);
            if (HasPalette(format) && !greyPalette) {
                TPalette palette{};
                std::mt19937 random(4);
                for (TColor &c : palette) c = static_cast<TColor>(random() & 0xFFFFFF);
                bitmap->SetPalette(palette);
            }
            const auto ours = DecodedBy(DecodeJpeg, EncodeJpeg(*bitmap, Jpeg()));
            const auto qt = DecodedBy(DecodeWithQt, EncodeWithQt(*bitmap, Jpeg()));
            EXPECT_EQ(ours->GetPixelFormat(), greyPalette ? pf8bit : pf24bit);
            EXPECT_TRUE(SameBitmap(*ours, *qt));
        }
    TBitmap empty;
    EXPECT_EQ(MessageOf([&] { EncodeJpeg(empty, Jpeg()); }), "there is no picture to save");
    EXPECT_EQ(MessageOf([&] { EncodeJpeg(*MakeBitmap(1, 65501, pf8bit), Jpeg()); }),
              "the picture is 1 x 65501 pixels; JPEG pictures can be at most 65500 pixels wide and high");
}
