// TGAs of every kind, plain and run-length coded, from every origin, open
// as ImageMagick reads them (turned as their origin says) (and as Qt does where its plugin reads the
// file); cut files give the rows they hold; files that lie are refused.
#include "platform/files/picture_codecs.h"
#include "platform/files/qt/qt_image_bridge.h"
#include "platform/files/tga/tga_codec.h"
#include "support/comparisons.h"
#include "support/decoding.h"
#include "support/encoders.h"
#include "support/failures.h"
#include "support/file_builders.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

TTgaRecipe Recipe(const std::function<void(TTgaRecipe &)> &change)
{
    TTgaRecipe r;
    change(r);
    return r;
}

} // namespace

TEST(TgaReader, EveryKindOpensAsImageMagickReadsIt)
{
    SKIP_WITHOUT_TOOL("convert");
    const struct {
        const char *what;
        TTgaRecipe recipe;
        TPixelFormat format;
    } cases[] = {
        {"24-bit, from the bottom", Recipe([](TTgaRecipe &) {}), pf24bit},
        {"24-bit, coded, from the top", Recipe([](TTgaRecipe &r) { r.coding = TTgaCoding::RunLengths, r.fromTop = true; }), pf24bit},
        {"24-bit, coded, from the right", Recipe([](TTgaRecipe &r) { r.coding = TTgaCoding::RunLengths, r.fromRight = true; }), pf24bit},
        {"24-bit, from the top right", Recipe([](TTgaRecipe &r) { r.fromTop = r.fromRight = true; }), pf24bit},
        {"32-bit with alpha, coded", Recipe([](TTgaRecipe &r) { r.bits = 32, r.alphaBits = 8, r.coding = TTgaCoding::RunLengths; }), pf32bit},
        {"16-bit", Recipe([](TTgaRecipe &r) { r.bits = 16; }), pf24bit},
        {"15-bit, coded", Recipe([](TTgaRecipe &r) { r.bits = 15, r.coding = TTgaCoding::RunLengths; }), pf24bit},
        {"colour-mapped", Recipe([](TTgaRecipe &r) { r.type = TTgaType::Mapped, r.bits = 8; }), pf8bit},
        {"colour-mapped, coded, with a name", Recipe([](TTgaRecipe &r) { r.type = TTgaType::Mapped, r.bits = 8, r.coding = TTgaCoding::RunLengths, r.idLength = 30; }), pf8bit},
        {"colour-mapped, the map's first entry standing for index 50", Recipe([](TTgaRecipe &r) { r.type = TTgaType::Mapped, r.bits = 8, r.mapFirst = 50; }), pf8bit},
        {"colour-mapped, coded, the map from index 1", Recipe([](TTgaRecipe &r) { r.type = TTgaType::Mapped, r.bits = 8, r.coding = TTgaCoding::RunLengths, r.mapFirst = 1; }), pf8bit},
        {"grey", Recipe([](TTgaRecipe &r) { r.type = TTgaType::Grey, r.bits = 8; }), pf8bit},
        {"grey, coded, from the top", Recipe([](TTgaRecipe &r) { r.type = TTgaType::Grey, r.bits = 8, r.coding = TTgaCoding::RunLengths, r.fromTop = true; }), pf8bit},
        {"wide, coded", Recipe([](TTgaRecipe &r) { r.width = 301, r.height = 3, r.coding = TTgaCoding::RunLengths; }), pf24bit},
    };
    std::uint32_t seed = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray file = TgaFile(c.recipe, seed++);
        const auto ours = DecodedBy(DecodeTga, file), magick = ReadByTool(QStringLiteral("convert"), file, QStringLiteral("in.tga"), {QStringLiteral("-auto-orient")});
        ASSERT_TRUE(ours);
        ASSERT_TRUE(magick);
        EXPECT_EQ(ours->GetPixelFormat(), c.format);
        // 5-bit channels are widened by rounding here, by repeating their
        // high bits there: a step apart at most.
        EXPECT_LE(LargestDifference(*ours, *magick), c.recipe.bits <= 16 && c.recipe.type == TTgaType::Colour ? 1 : 0);
    }
}

// Qt's plugin reads plain files with a version 2 footer (when told the
// format: it does not know one by its bytes): those open as it reads them,
// through the table of formats as through the reader.
TEST(TgaReader, FilesQtsPluginReadsOpenAsItReadsThem)
{
    for (const int bits : {24, 32}) {
        SCOPED_TRACE(bits);
        const QByteArray file = TgaFile(Recipe([&](TTgaRecipe &r) { r.bits = bits, r.alphaBits = bits == 32 ? 8 : 0, r.footer = TTgaFooter::Version2; }), 7);
        const QImage qt = QImage::fromData(file, "tga");
        ASSERT_FALSE(qt.isNull());
        TBitmap qtRead;
        BitmapFromQImage(qt, qtRead);
        for (const TDecoder decode : {DecodeTga, DecodePicture}) {
            const auto ours = DecodedBy(decode, file);
            ASSERT_TRUE(ours);
            EXPECT_EQ(LargestDifference(*ours, qtRead), 0);
        }
    }
}

// A cut file gives the rows it holds, the rest (and a row cut in two)
// blank; a run past the picture's end, or a name or colour map past the
// file's end, is refused as damage.
TEST(TgaReader, CutFilesGiveTheirRowsAndLiesAreRefused)
{
    for (const TTgaCoding coding : {TTgaCoding::Plain, TTgaCoding::RunLengths}) {
        SCOPED_TRACE(coding == TTgaCoding::Plain ? "plain" : "coded");
        // Stored from the top, so that the rows held are the picture's first.
        const QByteArray file = TgaFile(Recipe([&](TTgaRecipe &r) { r.coding = coding, r.fromTop = true, r.width = 40, r.height = 30; }), 3);
        const auto whole = DecodedBy(DecodeTga, file);
        ASSERT_TRUE(whole);
        int partial = 0;
        for (qsizetype size = 18; size < file.size(); size += 37) {
            TBitmap cut;
            TRowsMissing missing;
            ASSERT_EQ(MessageOf([&] { missing = DecodeTga(Bytes(file.left(size)), cut); }), NoException) << "cut at " << size;
            ASSERT_TRUE(HoldsTheFirstRowsOf(cut, *whole, missing)) << "cut at " << size;
            EXPECT_GT(missing.missing, 0) << "cut at " << size;
            partial += missing.missing < missing.rows;
        }
        EXPECT_GT(partial, 0);
    }
    const std::string damaged = "the picture data is damaged or incomplete";
    QByteArray runPastTheEnd = TgaFile(Recipe([](TTgaRecipe &r) { r.coding = TTgaCoding::RunLengths, r.width = 2, r.height = 2; }), 4);
    runPastTheEnd.truncate(18);
    runPastTheEnd += QByteArray("\x84\1\2\3", 4);
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeTga(Bytes(runPastTheEnd), b); }), damaged);
    QByteArray nameBeyond = TgaFile(Recipe([](TTgaRecipe &r) { r.width = r.height = 1; }), 5);
    nameBeyond[0] = char(200);
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeTga(Bytes(nameBeyond), b); }), damaged);
    QByteArray mapBeyond = TgaFile(Recipe([](TTgaRecipe &r) { r.type = TTgaType::Mapped, r.bits = 8; }), 6);
    mapBeyond[5] = char(0xFF), mapBeyond[6] = char(0xFF);
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeTga(Bytes(mapBeyond.left(100)), b); }), damaged);
}

// TGA has no signature: headers no TGA has are not taken for one.
TEST(TgaReader, OnlyHeadersATgaCanHaveAreTakenForOne)
{
    const QByteArray good = TgaFile(TTgaRecipe{}, 8);
    EXPECT_TRUE(LooksLikeTga(Bytes(good)));
    const struct {
        const char *what;
        int at;
        char value;
    } lies[] = {
        {"an unknown type", 2, 4}, {"a colour-map kind of 2", 1, 2}, {"a depth of 23", 16, 23},
        {"width 0", 12, 0},        {"reserved origin bits", 17, char(0xC0)},
    };
    for (const auto &lie : lies) {
        QByteArray bad = good;
        bad[lie.at] = lie.value;
        if (lie.at == 12) bad[13] = 0;
        EXPECT_FALSE(LooksLikeTga(Bytes(bad))) << lie.what;
    }
    EXPECT_FALSE(LooksLikeTga(Bytes(good.left(17))));
}
