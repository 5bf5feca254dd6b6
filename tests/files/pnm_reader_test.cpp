// Binary PGM and PPM read straight into the bitmap give Qt's reading of
// the same file; the files it leaves to Qt still open as before, and an
// opening takes the file and the picture alone.
#include "platform/files/file_formats.h"
#include "platform/files/pnm_codec.h"
#include "platform/files/qt_codec.h"
#include "support/decoding.h"
#include "support/failures.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <gtest/gtest.h>

#include <random>

namespace {

QByteArray Samples(int count, std::uint32_t seed, int maxValue = 255)
{
    std::mt19937 random(seed);
    QByteArray bytes(count, '\0');
    for (char &b : bytes) b = char(random() % (maxValue + 1));
    return bytes;
}

} // namespace

TEST(PnmReader, GreyAndColourFilesOpenAsQtReadsThem)
{
    for (const char kind : {'5', '6'})
        for (const auto &[width, height] : {std::pair{1, 1}, std::pair{37, 19}, std::pair{640, 3}}) {
            SCOPED_TRACE(testing::Message() << "P" << kind << " " << width << " x " << height);
            const int samples = width * height * (kind == '6' ? 3 : 1);
            const QByteArray size = QByteArray::number(width) + ' ' + QByteArray::number(height);
            const QByteArray data = Samples(samples, static_cast<std::uint32_t>(width + kind));
            ExpectReadsAsQt(DecodePnm, "P" + QByteArray(1, kind) + "\n" + size + "\n255\n" + data);
            // Comments, other white space, and bytes after the data.
            ExpectReadsAsQt(DecodePnm, "P" + QByteArray(1, kind) + "\r\n# made by hand\n" + size + " #size\n\t255 " + data + "tail");
            // Samples of other widths, left to Qt's reader.
            ExpectReadsAsQt(DecodePnm, "P" + QByteArray(1, kind) + "\n" + size + "\n15\n" + Samples(samples, 3, 15));
            ExpectReadsAsQt(DecodePnm, "P" + QByteArray(1, kind) + "\n" + size + "\n65535\n" + Samples(2 * samples, 4));
        }
}

TEST(PnmReader, DataThatEndsEarlyIsRefusedAndLeavesTheBitmap)
{
    const QByteArray file = "P6 9 5 255\n" + Samples(9 * 5 * 3, 7);
    auto kept = MakeBitmap(3, 2, pf8bit);
    FillRandomBytes(*kept, 9);
    TBitmap bitmap;
    bitmap.Assign(kept.get());
    EXPECT_EQ(MessageOf([&] { DecodePnm(Bytes(file.left(file.size() - 1)), bitmap); }), "the picture data is damaged or incomplete");
    EXPECT_TRUE(SameBitmap(*kept, bitmap));
    // The whole file, through the program's reading of any picture.
    TBitmap whole;
    DecodePicture(Bytes(file), whole);
    EXPECT_EQ(whole.GetWidth(), 9);
}

// A 10000 x 10000 PPM is the picture's 300 MB again: Qt's reading would
// hold a 32-bit copy besides, more than an opening may take.
TEST(PnmReader, AHundredMegapixelPpmOpensWithinTheOpeningMemory)
{
    const QByteArray file = "P6\n10000 10000\n255\n" + QByteArray(10000 * 10000 * 3, char(0x5A));
    const auto read = DecodedWhereQtIsRefused(DecodePnm, file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetHeight(), 10000);
    EXPECT_EQ(read->GetPixel(9999, 9999), RGB(0x5A, 0x5A, 0x5A));
}
