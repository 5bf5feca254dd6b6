// A reader that fails once it has started its picture leaves the caller's
// picture exactly as it was: every reader decodes into a picture of its own
// and hands it over only when whole.
#include "platform/base/work_progress.h"
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/gif/gif_codec.h"
#include "platform/files/jpeg/jpeg_codec.h"
#include "platform/files/picture_codecs.h"
#include "platform/files/png/png_codec.h"
#include "platform/files/pnm/pnm_codec.h"
#include "platform/files/qt/qt_image_bridge.h"
#include "platform/files/tga/tga_codec.h"
#include "platform/files/webp/webp_codec.h"
#include "support/decoding.h"
#include "support/failures.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

QByteArray ByteArrayOf(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

// A PNG of 16 x 8 RGB whose data is a zlib stream of one block of the
// type deflate lacks.
QByteArray PngOfBadBlock()
{
    QByteArray header = BigEndian32(16) + BigEndian32(8);
    header += QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + PngChunk("IHDR", header) + PngChunk("IDAT", QByteArray("\x78\x9C\xFF\xFF\xFF\xFF", 6)) +
           PngChunk("IEND", {});
}

// A progressive JPEG with, before its third scan, a scan of a colour its
// frame does not have: libjpeg's fatal error once the rows are decoded.
QByteArray JpegOfForeignScan()
{
    const QByteArray jpeg = WrittenByQt(QImageFromBitmap(*Pattern(64, 48)), "jpeg", 90, TJpegScans::Progressive);
    const qsizetype third = jpeg.indexOf(QByteArray("\xFF\xDA", 2), jpeg.indexOf(QByteArray("\xFF\xDA", 2)) + 2);
    return jpeg.left(third) + QByteArray("\xFF\xDA\x00\x08\x01\x63\x00\x00\x3F\x00", 10) + jpeg.mid(third);
}

} // namespace

TEST(DecodedPicture, AReaderFailingAfterItsPictureStartedLeavesTheCallersPictureAsItWas)
{
    const QByteArray webp = EncodePicture(*Pattern(64, 48), TPictureFileFormat::Webp);
    const struct {
        const char *what;
        TDecoder decode;
        QByteArray file;
    } cases[] = {
        // White 3, then black 6 in a row of 8: a run past the row's end.
        {"BMP, fax code", DecodeBmp,
         ByteArrayOf(BmpFile({.headerSize = 64, .width = 8, .height = 2, .bits = 1, .compression = 3, .palette = {0xFFFFFF, 0x000000},
                        .pixels = PackedBits("1000 0010 1000 1000 1000 1000")}))},
        {"PNG", DecodePng, PngOfBadBlock()},
        // A run of 128 pixels in a picture of 16.
        {"TGA, run lengths", DecodeTga, QByteArray("\0\0\x0A", 3) + QByteArray(9, '\0') + QByteArray("\x04\0\x04\0\x18\x20\xFF", 7) +
                                            QByteArray(3, '\x7F')},
        {"PGM, plain", DecodePnm, QByteArray("P2\n4 4\n255\n1 2 3 x 5\n")},
        // Code 7 right after the clear code, when 5 is the highest.
        {"GIF", DecodeGif, QByteArray("GIF89a\x04\0\x04\0\x80\0\0", 13) + QByteArray("\0\0\0\xFF\xFF\xFF", 6) +
                               QByteArray(",\0\0\0\0\x04\0\x04\0\0\x02\x02\xFC\xFF\0;", 16)},
        {"JPEG, progressive", DecodeJpeg, JpegOfForeignScan()},
        // The data after the headers overwritten.
        {"WebP, lossless", DecodeWebp, webp.left(40) + QByteArray(webp.size() - 40, '\xFF')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto shown = Noise(5, 3, pf8bit, 7, TNoisePalette::Random);
        shown->SetMetadata(EveryKindOfMetadata());
        TBitmap picture;
        picture.Assign(shown.get());
        EXPECT_EQ(MessageOf([&] { c.decode(Bytes(c.file), picture); }), Damaged);
        EXPECT_TRUE(SameBitmap(picture, *shown));
        EXPECT_EQ(picture.GetMetadata(), shown->GetMetadata());
    }
}

// A cancel that comes once the rows are in is honoured before the picture
// is handed over.
TEST(DecodedPicture, ACancelTakenWhileAPictureDecodedLeavesTheCallersPictureAsItWas)
{
    const auto shown = Noise(5, 3, pf24bit, 3);
    TBitmap picture;
    picture.Assign(shown.get());
    TWorkProgress progress;
    progress.Cancel();
    TWorkScope scope(progress);
    // Too small to report its progress while it decodes.
    EXPECT_THROW(DecodeGif(Bytes(GifFile({.globalTable = {qRgb(0, 0, 0), qRgb(255, 255, 255)}, .indices = std::vector<int>(48, 1)})), picture), ECancelled);
    EXPECT_TRUE(SameBitmap(picture, *shown));
}
