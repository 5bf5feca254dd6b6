// Bad metadata never costs the picture: directories that loop or point
// past the end, fields that name the same bytes over and over, megabytes
// of nonsense, XMP that is not XML and profiles no one can use are left
// out, in bounded memory, and what can be read of the rest is kept.
#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/exif_xmp.h"
#include "platform/metadata/file_metadata.h"
#include "support/failures.h"
#include "support/profiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

enum class TByteOrder { Little, Big };

// A TIFF structure written field by field.
class TTiffPiece {
public:
    explicit TTiffPiece(TByteOrder order = TByteOrder::Little) : big_(order == TByteOrder::Big)
    {
        bytes_ = big_ ? QByteArray("MM\0*\0\0\0\x08", 8) : QByteArray("II*\0\x08\0\0\0", 8);
    }
    QByteArray &Bytes() { return bytes_; }
    void Put16(int at, int value) { Put(at, std::uint32_t(value), 2); }
    void Put32(int at, std::uint32_t value) { Put(at, value, 4); }
    void PutText(int at, const char *text)
    {
        Fit(at + int(std::strlen(text)) + 1);
        bytes_.replace(at, int(std::strlen(text)), text);
    }
    // A directory of `count` fields at `at`; the next directory's offset after them.
    void Directory(int at, int count, std::uint32_t next)
    {
        Put16(at, count);
        Put32(at + 2 + 12 * count, next);
    }
    void Field(int directory, int index, int tag, int type, std::uint32_t count, std::uint32_t value)
    {
        const int at = directory + 2 + 12 * index;
        Put16(at, tag), Put16(at + 2, type), Put32(at + 4, count), Put32(at + 8, value);
    }

private:
    void Put(int at, std::uint32_t value, int bytes)
    {
        Fit(at + bytes);
        for (int i = 0; i < bytes; ++i) bytes_[at + (big_ ? bytes - 1 - i : i)] = char(value >> (8 * i));
    }
    void Fit(int size)
    {
        if (bytes_.size() < size) bytes_.resize(size, '\0');
    }
    bool big_;
    QByteArray bytes_;
};

QByteArray RandomBytes(qsizetype size, std::uint32_t seed, const QByteArray &start = {})
{
    std::mt19937 random(seed);
    QByteArray bytes(size, '\0');
    for (char &b : bytes) b = char(random());
    bytes.replace(0, start.size(), start);
    return bytes;
}

// A piece whose five directories (IFD0, Exif, GPS, interoperability and
// the thumbnail's) each hold 250 fields naming the same 60 KiB: read as
// it says, some 75 MB.
QByteArray FieldsNamingTheSameBytes(TByteOrder order)
{
    TTiffPiece piece(order);
    constexpr int fields = 250, size = 2 + 12 * fields + 4, values = 8 + 5 * size;
    const auto directory = [&](int n) { return 8 + n * size; };
    for (int n = 0; n < 5; ++n) {
        piece.Directory(directory(n), fields, n == 0 ? directory(3) : 0);
        for (int i = 0; i < fields; ++i) piece.Field(directory(n), i, 0xC000 + i, 7, 60 << 10, values);
    }
    piece.Field(directory(0), 0, 0x8769, 4, 1, directory(1));
    piece.Field(directory(0), 1, 0x8825, 4, 1, directory(2));
    piece.Field(directory(1), 0, 0xA005, 4, 1, directory(4));
    piece.Bytes().resize(values + (60 << 10), '\x11');
    return piece.Bytes();
}

} // namespace

TEST(HostileExif, DirectoriesThatLoopAreReadOnceAndWrittenWithoutTheLoop)
{
    TTiffPiece piece;
    // IFD0 names itself as the next directory and as its Exif directory.
    piece.Directory(8, 2, 8);
    piece.Field(8, 0, 0x010F, 2, 8, 64);
    piece.Field(8, 1, 0x8769, 4, 1, 8);
    piece.PutText(64, "LoopCam");
    ASSERT_TRUE(ExifReadable(piece.Bytes()));
    const QByteArray saved = ExifForSaving(piece.Bytes(), {10, 10, std::nullopt});
    ASSERT_FALSE(saved.isEmpty());
    EXPECT_TRUE(saved.contains("LoopCam"));
    EXPECT_TRUE(ExifReadable(saved));
    EXPECT_LT(saved.size(), 512);
}

TEST(HostileExif, WhatPointsPastTheEndIsLeftOutAndTheRestKept)
{
    TTiffPiece piece;
    piece.Directory(8, 3, 0x7FFFFFF0);
    piece.Field(8, 0, 0x010F, 2, 6000, 64);      // Make: runs past the end
    piece.Field(8, 1, 0x0110, 2, 8, 0xFFFFFF00); // Model: starts past it
    piece.Field(8, 2, 0x0131, 2, 8, 64);         // Software
    piece.PutText(64, "KeptSw!");
    const QByteArray saved = ExifForSaving(piece.Bytes(), {10, 10, std::nullopt});
    EXPECT_TRUE(saved.contains("KeptSw!"));
    EXPECT_TRUE(ExifReadable(saved));

    TTiffPiece nowhere;
    nowhere.Put32(4, 0x7FFFFFF0);
    EXPECT_FALSE(ExifReadable(nowhere.Bytes()));
    EXPECT_TRUE(ExifForSaving(nowhere.Bytes(), {10, 10, std::nullopt}).isEmpty());
}

TEST(HostileExif, FieldsThatNameTheSameBytesOverAndOverAreRefusedWithinBoundedMemory)
{
    for (const TByteOrder order : {TByteOrder::Little, TByteOrder::Big}) {
        const QByteArray piece = FieldsNamingTheSameBytes(order);
        ASSERT_LT(piece.size(), MaxExifBytes);
        EXPECT_EXIT(
            {
                TPictureMetadata metadata{.exif = piece};
                if (!LimitAddressSpace(std::size_t(32) << 20)) std::_Exit(2);
                DropUnusablePieces(metadata);
                const TOrientation orientation = StatedOrientation({.exif = piece});
                std::_Exit(metadata.exif.isEmpty() && orientation == TOrientation::Upright ? 0 : 1);
            },
            testing::ExitedWithCode(0), "")
            << (order == TByteOrder::Big ? "big-endian" : "little-endian");
    }
}

TEST(HostileMetadata, NonsenseOfSixteenMebibytesIsDroppedAndTheRestKept)
{
    constexpr qsizetype Sixteen = qsizetype(16) << 20;
    TPictureMetadata metadata;
    metadata.exif = RandomBytes(Sixteen, 1, QByteArray("II*\0\x08\0\0\0", 8));
    metadata.xmp = RandomBytes(Sixteen, 2, "<?xpacket begin=");
    metadata.colourProfile = RandomBytes(Sixteen, 3);
    metadata.resolution = TResolution{300, 300, TResolutionUnit::Inch};
    metadata.comments = {{"Title", "Kept"}};
    DropUnusablePieces(metadata);
    EXPECT_EQ(metadata, (TPictureMetadata{.resolution = TResolution{300, 300, TResolutionUnit::Inch}, .comments = {{"Title", "Kept"}}}));
}

TEST(HostileMetadata, NonsenseOfEverySizeUpToTheLimitsIsLeftOut)
{
    // Under the limits, so that it is Exiv2 and Little CMS that refuse it.
    for (const qsizetype size : {qsizetype(1), qsizetype(7), qsizetype(8), qsizetype(300), qsizetype(64) << 10, MaxExifBytes}) {
        SCOPED_TRACE(size);
        TPictureMetadata metadata;
        metadata.exif = RandomBytes(size, 4, size >= 8 ? QByteArray("MM\0*\0\0\0\x08", 8) : QByteArray());
        metadata.xmp = RandomBytes(size, 5);
        metadata.colourProfile = RandomBytes(size, 6);
        DropUnusablePieces(metadata);
        EXPECT_TRUE(metadata.Empty());
    }
}

TEST(HostileXmp, WhatIsNotXmpIsDroppedAndNotWrittenBack)
{
    const QByteArray pieces[] = {
        "not xml at all <<<",
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF",
        // Entities that would grow to gigabytes.
        "<?xml version='1.0'?><!DOCTYPE l [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
        "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>"
        "<!ENTITY e '&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;'><!ENTITY f '&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;'>]>"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/' dc:format='&f;&f;&f;'/>"
        "</rdf:RDF></x:xmpmeta>",
        QByteArray(MaxXmpBytes + 1, ' '),
    };
    for (const QByteArray &xmp : pieces) {
        SCOPED_TRACE(xmp.left(40).toStdString());
        EXPECT_FALSE(XmpReadable(xmp));
        EXPECT_EQ(XmpOrientation(xmp), std::nullopt);
        TBitmap picture;
        picture.Allocate(4, 4, pf24bit);
        picture.SetMetadata({.xmp = xmp});
        EXPECT_TRUE(MetadataToSave(picture).xmp.isEmpty());
    }
}

TEST(HostileProfiles, ProfilesNoPictureCanUseAreDroppedAndNotWrittenBack)
{
    QByteArray oversized = WideGamutProfile();
    oversized.resize(MaxProfileBytes + 1, '\0');
    const QByteArray wide = WideGamutProfile();
    const QByteArray pieces[] = {GarbageProfile(), LabProfile(), wide.left(wide.size() / 2), oversized};
    for (const QByteArray &profile : pieces) {
        TBitmap picture;
        picture.Allocate(4, 4, pf24bit);
        picture.SetMetadata({.colourProfile = profile, .resolution = TResolution{0, 72, TResolutionUnit::Inch}});
        EXPECT_TRUE(MetadataToSave(picture).Empty());
        TPictureMetadata read = picture.GetMetadata();
        DropUnusablePieces(read);
        EXPECT_TRUE(read.Empty());
    }
}
