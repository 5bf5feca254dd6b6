// BMP files read straight into the picture's rows: every form whose rows
// are ours comes out byte for byte as the whole file decodes, whatever the
// file holds where no pixel is, bottom row first or top row first; every
// other file is left, its start alone read, to be read whole. And the file
// reading underneath: pieces, the bytes after them, a file that changes.
#include "platform/base/strings_and_errors.h"
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/bmp/bmp_format.h"
#include "platform/files/disk/file_reading.h"
#include "platform/files/picture_codecs.h"
#include "platform/files/picture_files.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/file_builders.h"
#include "support/memory_files.h"
#include "support/pictures.h"
#include "support/profiles.h"
#include "support/thread_splits.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cstring>
#include <random>
#include <set>

namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(count);
    for (std::uint8_t &b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

// What the whole file decodes to, the judge of the straight read (itself
// judged by the public suite's references in bmp_reader_test).
std::unique_ptr<TBitmap> Decoded(const std::vector<std::uint8_t> &file)
{
    auto bitmap = std::make_unique<TBitmap>();
    const TRowsMissing missing = DecodeBmp(file, *bitmap);
    EXPECT_EQ(missing.missing, 0);
    return bitmap;
}

// The straight read of a file that must be read so, checked against the
// whole file's decoding.
void ExpectReadStraightAsDecoded(const std::vector<std::uint8_t> &file)
{
    TMemoryFileSource source(file);
    TBitmap straight;
    // Memory the allocator hands back dirty: padding must still come out zero.
    {
        std::vector<std::uint8_t> dirt(file.size() + 64, 0xEE);
        volatile std::uint8_t kept = dirt[dirt.size() / 2];
        (void)kept;
    }
    const std::optional<TRowsMissing> missing = ReadBmpStraight(source, straight);
    ASSERT_TRUE(missing.has_value()) << "the file was left to be read whole";
    EXPECT_EQ(missing->missing, 0);
    EXPECT_TRUE(source.finished);
    EXPECT_EQ(source.position, file.size());
    EXPECT_TRUE(SameRowBytes(straight, *Decoded(file)));
}

struct TStraightForm {
    const char *name;
    std::uint32_t headerSize, bits, compression;
    std::vector<std::uint32_t> masks;
    std::size_t paletteEntries;
};

// Every form whose rows are ours, or ours but for bytes changed in place.
const TStraightForm StraightForms[] = {
    {"1-bit", 40, 1, 0, {}, 2},
    {"8-bit", 40, 8, 0, {}, 256},
    {"8-bit, OS/2 1.x header", 12, 8, 0, {}, 256},
    {"5-5-5", 40, 16, 0, {}, 0},
    {"5-6-5 masks", 40, 16, 3, {0xF800, 0x07E0, 0x001F}, 0},
    {"24-bit", 40, 24, 0, {}, 0},
    {"32-bit, 4th byte unused", 40, 32, 0, {}, 0},
    {"32-bit, alpha mask", 108, 32, 3, {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000}, 0},
};

std::vector<std::uint8_t> FormFile(const TStraightForm &form, int width, int height, std::size_t gap, std::uint32_t seed)
{
    TBmpRecipe recipe;
    recipe.headerSize = form.headerSize;
    recipe.width = width;
    recipe.height = height;
    recipe.bits = form.bits;
    recipe.compression = form.compression;
    recipe.masks = form.masks;
    recipe.palette.clear();
    for (std::size_t i = 0; i < form.paletteEntries; ++i) recipe.palette.push_back(static_cast<std::uint32_t>(i * 0x010203));
    recipe.gap = gap;
    // Random bytes everywhere: padding, spare bits, unused 4th bytes and top bits too.
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * form.bits + 31) / 32 * 4;
    recipe.pixels = RandomBytes(rowBytes * static_cast<std::size_t>(std::abs(height)), seed);
    return BmpFile(recipe);
}

} // namespace

TEST(BmpStraight, EveryFormOfOurRowsReadsAsTheWholeFileDecodesBottomUpAndTopDownWhateverLiesBetweenPixels)
{
    std::uint32_t seed = 1;
    for (const TStraightForm &form : StraightForms)
        for (int width : AwkwardWidths)
            for (int height : {1, 3, -1, -4})
                // Pixels that come with the headers' bytes, and pixels after them.
                for (std::size_t gap : {std::size_t(0), std::size_t(300)}) {
                    if (form.headerSize == 12 && height < 0) continue;
                    SCOPED_TRACE(testing::Message() << form.name << ", " << width << " x " << height << ", gap " << gap);
                    ExpectReadStraightAsDecoded(FormFile(form, width, height, gap, ++seed));
                }
}

TEST(BmpStraight, TallPicturesOfMoreRowsThanOneReadTakesComeOutInOrder)
{
    for (int height : {3000, -3000})
        for (int width : {1, 5}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height);
            ExpectReadStraightAsDecoded(FormFile(StraightForms[1], width, height, 0, 7));
            ExpectReadStraightAsDecoded(FormFile(StraightForms[5], width, height, 0, 8));
        }
}

TEST(BmpStraight, FilesNotOfOurRowsAreLeftToBeReadWholeWithOnlyTheirStartRead)
{
    struct TCase {
        const char *name;
        std::vector<std::uint8_t> file;
    };
    std::vector<TCase> cases;
    TBmpRecipe rle;
    rle.compression = 1;
    rle.pixels = {4, 1, 0, 0, 4, 0, 0, 1};
    cases.push_back({"RLE8", BmpFile(rle)});
    TBmpRecipe fourBit;
    fourBit.bits = 4;
    fourBit.pixels.assign(8, 0x10);
    cases.push_back({"4-bit", BmpFile(fourBit)});
    TBmpRecipe odd;
    odd.bits = 32;
    odd.compression = 3;
    odd.masks = {0xFF, 0xFF00, 0xFF0000};
    odd.palette.clear();
    odd.pixels.assign(32, 7);
    cases.push_back({"32-bit, red and blue swapped by masks", BmpFile(odd)});
    TBmpRecipe cut;
    cut.pixels.assign(7, 1);
    cases.push_back({"ends within its last row", BmpFile(cut)});
    TBmpRecipe far;
    far.gap = std::size_t(1) << 21;
    cases.push_back({"pixels 2 MiB on", BmpFile(far)});
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryFileSource source(c.file);
        TBitmap bitmap;
        EXPECT_FALSE(ReadBmpStraight(source, bitmap).has_value());
        EXPECT_FALSE(source.readIntoPieces);
        EXPECT_LE(source.position, std::size_t(1) << 20);
        EXPECT_TRUE(bitmap.Empty());
    }
}

TEST(BmpStraight, RefusalsFoundInTheHeadersAreTheWholeFilesOwn)
{
    TBmpRecipe inside;
    inside.pixelsAt = 20;
    TBmpRecipe planes;
    planes.planes = 2;
    for (const TBmpRecipe &recipe : {inside, planes}) {
        const std::vector<std::uint8_t> file = BmpFile(recipe);
        QString whole, straight;
        try {
            TBitmap bitmap;
            DecodeBmp(file, bitmap);
        } catch (const Exception &error) {
            whole = error.Message();
        }
        try {
            TMemoryFileSource source(file);
            TBitmap bitmap;
            ReadBmpStraight(source, bitmap);
        } catch (const Exception &error) {
            straight = error.Message();
        }
        EXPECT_FALSE(whole.isEmpty());
        EXPECT_EQ(straight, whole);
    }
}

TEST(BmpStraight, ThePublicSuiteReadsFromDiskAsItDecodesTheStraightFormsStraight)
{
    SKIP_WITHOUT_CORPORA(corpora);
    const QString suite = corpora + QStringLiteral("/bmpsuite-good/g/");
    // Those of rows unlike ours: 4-bit indices, runs, masks of another order.
    const std::set<QString> readWhole = {QStringLiteral("pal4.bmp"), QStringLiteral("pal4gs.bmp"), QStringLiteral("pal4rle.bmp"),
                                         QStringLiteral("pal8rle.bmp"), QStringLiteral("rgb32bf.bmp")};
    const QStringList names = QDir(suite).entryList({QStringLiteral("*.bmp")});
    ASSERT_FALSE(names.isEmpty());
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = FileBytes(suite + name);
        const std::vector<std::uint8_t> file(bytes.begin(), bytes.end());
        TMemoryFileSource source(file), again(file);
        TBitmap straight, chosen;
        EXPECT_EQ(ReadBmpStraight(source, straight).has_value(), !readWhole.count(name));
        // The table of codecs sends the file to the straight reader.
        EXPECT_EQ(ReadPictureStraight(again, chosen).has_value(), !readWhole.count(name));
        TBitmap opened;
        ASSERT_NO_THROW(ReadPictureFile(suite + name, opened));
        EXPECT_TRUE(SameRowBytes(opened, *Decoded(file)));
    }
}

TEST(BmpStraight, OpeningFromDiskReadsEveryRowInItsPlaceOrEndsEarlyAsTheWholeFileDoes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("p.bmp"));
    // More rows than one read of the disk takes, either way up.
    for (int height : {2100, -2100}) {
        const std::vector<std::uint8_t> file = FormFile(StraightForms[5], 3, height, 0, 11);
        PutFile(path, QByteArray(reinterpret_cast<const char *>(file.data()), static_cast<qsizetype>(file.size())));
        TBitmap opened;
        ASSERT_NO_THROW(ReadPictureFile(path, opened));
        EXPECT_TRUE(SameRowBytes(opened, *Decoded(file))) << height;
    }
    // Cut within its rows: read whole, and shown as far as it goes.
    std::vector<std::uint8_t> file = FormFile(StraightForms[5], 3, 50, 0, 12);
    file.resize(file.size() - 12 * 10);
    PutFile(path, QByteArray(reinterpret_cast<const char *>(file.data()), static_cast<qsizetype>(file.size())));
    TBitmap opened;
    EXPECT_THROW(ReadPictureFile(path, opened), EPictureIncomplete);
    EXPECT_EQ(opened.GetHeight(), 50);
}

namespace {

void PutU32(std::vector<std::uint8_t> &file, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

TEST(BmpStraight, WhatTheFileCarriesIsKeptWhereverItsProfileLiesOrTheFileIsReadWhole)
{
    auto bitmap = MakeBitmap(37, 300, pf24bit);
    FillRandomBytes(*bitmap, 21);
    TPictureMetadata carried;
    carried.colourProfile = WideGamutProfile();
    carried.resolution = TResolution{3780, 2835, TResolutionUnit::Metre};
    bitmap->SetMetadata(carried);
    const QByteArray encoded = EncodeBmp(*bitmap);
    const std::vector<std::uint8_t> after(encoded.begin(), encoded.end());
    const std::size_t pixelsAt = bmp::GetU32(after.data() + bmp::PixelOffsetAt);
    const std::size_t profileAt = bmp::FileHeaderBytes + bmp::GetU32(after.data() + bmp::FileHeaderBytes + bmp::ProfileDataAt);
    const std::size_t profileSize = bmp::GetU32(after.data() + bmp::FileHeaderBytes + bmp::ProfileSizeAt);
    ASSERT_GE(profileAt, pixelsAt + 300 * 112) << "the writer puts the profile after the rows";

    // The same file with its profile between the headers and the rows.
    std::vector<std::uint8_t> before(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(pixelsAt));
    before.insert(before.end(), after.begin() + static_cast<std::ptrdiff_t>(profileAt), after.begin() + static_cast<std::ptrdiff_t>(profileAt + profileSize));
    before.insert(before.end(), after.begin() + static_cast<std::ptrdiff_t>(pixelsAt), after.begin() + static_cast<std::ptrdiff_t>(profileAt));
    PutU32(before, bmp::PixelOffsetAt, static_cast<std::uint32_t>(pixelsAt + profileSize));
    PutU32(before, bmp::FileHeaderBytes + bmp::ProfileDataAt, static_cast<std::uint32_t>(pixelsAt - bmp::FileHeaderBytes));

    for (const auto &[name, file] : {std::pair{"after the rows", after}, std::pair{"before the rows", before}}) {
        SCOPED_TRACE(name);
        ExpectReadStraightAsDecoded(file);
        TMemoryFileSource source(file);
        TBitmap straight;
        ASSERT_TRUE(ReadBmpStraight(source, straight).has_value());
        EXPECT_EQ(straight.GetMetadata().colourProfile, carried.colourProfile);
        EXPECT_EQ(straight.GetMetadata(), Decoded(file)->GetMetadata());
    }

    // A profile said to lie among the rows is left to the whole file's decoding.
    std::vector<std::uint8_t> among = after;
    PutU32(among, bmp::FileHeaderBytes + bmp::ProfileDataAt, static_cast<std::uint32_t>(pixelsAt + 1000 - bmp::FileHeaderBytes));
    TMemoryFileSource source(among);
    TBitmap straight;
    EXPECT_FALSE(ReadBmpStraight(source, straight).has_value());
    EXPECT_FALSE(source.readIntoPieces);
}

TEST(FileReading, PiecesTakeTheBytesAfterTheStartAndFinishGivesTheRest)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("f"));
    const std::vector<std::uint8_t> bytes = RandomBytes(20000, 3);
    PutFile(path, QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    TFileReading file(path);
    ASSERT_TRUE(file.Regular());
    EXPECT_EQ(file.Size(), 20000u);
    // At least what was asked, in one read of a few KiB.
    const std::span<const std::uint8_t> start = file.Start(100);
    ASSERT_GE(start.size(), 100u);
    ASSERT_LT(start.size(), 20000u - 3000u);
    EXPECT_TRUE(std::equal(start.begin(), start.end(), bytes.begin()));
    const std::size_t at = start.size();
    EXPECT_EQ(file.Start(at - 1).size(), at) << "what was read stays";
    // More pieces than one call of the system takes.
    std::vector<std::uint8_t> into(2 * 1500);
    std::vector<std::span<std::uint8_t>> pieces;
    for (std::size_t i = 0; i < 1500; ++i) pieces.emplace_back(into.data() + 2 * (1499 - i), 2);
    file.ReadInto(pieces);
    for (std::size_t i = 0; i < 1500; ++i) {
        ASSERT_EQ(into[2 * (1499 - i)], bytes[at + 2 * i]) << i;
        ASSERT_EQ(into[2 * (1499 - i) + 1], bytes[at + 1 + 2 * i]) << i;
    }
    const std::span<const std::uint8_t> rest = file.Finish();
    ASSERT_EQ(rest.size(), 20000u - at - 3000u);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 3000)));
}

// A reader that finds the file not one to read straight takes it whole
// after its start: the start's bytes, then the rest from where the start
// ended, over more than one call of the system.
TEST(FileReading, TheWholeFileAfterItsStartHoldsEveryByteOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("f"));
    const std::size_t size = (std::size_t(17) << 20) + 123;
    const std::vector<std::uint8_t> bytes = RandomBytes(size, 9);
    PutFile(path, QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    TFileReading file(path);
    ASSERT_LT(file.Start(10).size(), size);
    const TFileBytes whole = file.Whole();
    ASSERT_EQ(whole.Bytes().size(), size);
    EXPECT_TRUE(std::equal(whole.Bytes().begin(), whole.Bytes().end(), bytes.begin()));
}

TEST(FileReading, AFileThatGrowsOrShrinksWhileReadIntoPiecesIsRefusedAsChanged)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("f"));
    for (const qsizetype change : {qsizetype(10), qsizetype(-10)}) {
        // Larger than what the start reads.
        PutFile(path, QByteArray(10000, 'a'));
        TFileReading file(path);
        file.Start(10);
        QFile grown(path);
        ASSERT_TRUE(grown.open(QIODevice::ReadWrite));
        ASSERT_TRUE(grown.resize(10000 + change));
        grown.close();
        std::vector<std::uint8_t> into(500);
        const std::span<std::uint8_t> piece(into);
        QString refusal;
        try {
            file.ReadInto({&piece, 1});
            file.Finish();
        } catch (const Exception &error) {
            refusal = error.Message();
        }
        EXPECT_TRUE(refusal.contains(QStringLiteral("changed while it was being read"))) << refusal.toStdString();
    }
}

// A file large enough to be read in parts on every core: each part's bytes
// land in their pieces whatever the thread count, pieces cut between parts
// included, and what follows the pieces is read from where they ended.
TEST(FileReading, ALargeFileReadIntoPiecesOnAnyThreadCountGivesEachByteItsPlace)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("f"));
    const std::size_t size = std::size_t(3) << 20;
    const std::vector<std::uint8_t> bytes = RandomBytes(size, 5);
    PutFile(path, QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    // Rows of 1000 bytes stored last first, then one piece of 1 MiB, then
    // the rest of the file but its last 777 bytes.
    constexpr std::size_t rows = 1500, rowBytes = 1000, big = std::size_t(1) << 20;
    for (unsigned threads : {1u, 2u, 3u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        const TPiecesHeld held(threads);
        TFileReading file(path);
        const std::size_t at = file.Start(10).size();
        const std::size_t tail = size - at - rows * rowBytes - big - 777;
        std::vector<std::uint8_t> into(rows * rowBytes + big + tail, 0);
        std::vector<std::span<std::uint8_t>> pieces;
        for (std::size_t i = 0; i < rows; ++i) pieces.emplace_back(into.data() + (rows - 1 - i) * rowBytes, rowBytes);
        pieces.emplace_back(into.data() + rows * rowBytes, big);
        pieces.emplace_back(into.data() + rows * rowBytes + big, tail);
        file.ReadInto(pieces);
        for (std::size_t i = 0; i < rows; ++i)
            ASSERT_TRUE(std::equal(pieces[i].begin(), pieces[i].end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + i * rowBytes))) << "row " << i;
        EXPECT_TRUE(std::equal(into.begin() + rows * rowBytes, into.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + rows * rowBytes)));
        const std::span<const std::uint8_t> rest = file.Finish();
        ASSERT_EQ(rest.size(), 777u);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), bytes.end() - 777));
    }
}

TEST(FileReading, ALargeFileCutShortWhileReadInPartsIsRefusedAsChanged)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("f"));
    for (unsigned threads : {1u, 2u}) {
        const TPiecesHeld held(threads);
        PutFile(path, QByteArray(4 << 20, 'a'));
        TFileReading file(path);
        file.Start(10);
        // Cut in the first part: every later part finds the file ended.
        QFile cut(path);
        ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
        ASSERT_TRUE(cut.resize(100000));
        cut.close();
        std::vector<std::uint8_t> into((4 << 20) - 8192);
        const std::span<std::uint8_t> piece(into);
        QString refusal;
        try {
            file.ReadInto({&piece, 1});
        } catch (const Exception &error) {
            refusal = error.Message();
        }
        EXPECT_TRUE(refusal.contains(QStringLiteral("changed while it was being read"))) << threads << ": " << refusal.toStdString();
    }
}
