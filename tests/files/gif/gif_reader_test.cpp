// GIFs read through giflib give Qt's reading of the same file: the first
// image on its screen, its colours in the smallest form (the file's table,
// grey levels, colours, alpha); a cut file gives the rows it holds from the
// top; a large GIF opens within the opening memory where Qt's reading,
// which holds 32 bits a pixel, is refused.
#include "platform/files/gif/gif_codec.h"
#include "support/decoding.h"
#include "support/encoders.h"
#include "support/failures.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <gtest/gtest.h>

namespace {

// Indices of width x height, each (x * 3 + y * 5) % count.
std::vector<int> Indices(int width, int height, int count)
{
    std::vector<int> indices;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) indices.push_back((x * 3 + y * 5) % count);
    return indices;
}

const std::vector<QRgb> Colours = {qRgb(200, 10, 10), qRgb(10, 200, 10), qRgb(10, 10, 200), qRgb(250, 250, 0), qRgb(0, 0, 0), qRgb(255, 255, 255)};

TGifRecipe Recipe(const std::function<void(TGifRecipe &)> &change)
{
    TGifRecipe r;
    r.globalTable = Colours;
    r.indices = Indices(8, 6, 6);
    change(r);
    return r;
}

} // namespace

TEST(GifReader, FirstImagesOpenAsQtReadsThem)
{
    std::vector<QRgb> greys;
    for (int i = 0; i < 16; ++i) greys.push_back(qRgb(i * 17, i * 17, i * 17));
    std::vector<QRgb> twice = Colours;
    twice.insert(twice.end(), Colours.begin(), Colours.end());
    const struct {
        const char *what;
        TGifRecipe recipe;
        TPixelFormat format;
    } cases[] = {
        {"its table's colours", Recipe([](TGifRecipe &) {}), pf8bit},
        {"a grey table", Recipe([&](TGifRecipe &r) { r.globalTable = greys, r.indices = Indices(8, 6, 16); }), pf8bit},
        {"a colour twice in its table", Recipe([&](TGifRecipe &r) { r.globalTable = twice, r.indices = Indices(8, 6, 12); }), pf8bit},
        {"a transparent colour", Recipe([](TGifRecipe &r) { r.transparent = 2; }), pf32bit},
        {"a transparent colour unused", Recipe([](TGifRecipe &r) { r.transparent = 7; }), pf8bit},
        {"interlaced", Recipe([](TGifRecipe &r) { r.interlaced = true, r.height = r.screenHeight = 13, r.indices = Indices(8, 13, 6); }), pf8bit},
        {"its own table", Recipe([](TGifRecipe &r) { r.localTable = {qRgb(1, 2, 3), qRgb(4, 5, 6)}, r.indices = Indices(8, 6, 2); }), pf8bit},
        {"no table", Recipe([](TGifRecipe &r) { r.globalTable.clear(); }), pf24bit},
        {"indices past its table", Recipe([](TGifRecipe &r) { r.indices = Indices(8, 6, 11); }), pf24bit},
        {"indices past its table, transparent", Recipe([](TGifRecipe &r) { r.indices = Indices(8, 6, 11), r.transparent = 0; }), pf32bit},
        {"a small image on its background", Recipe([](TGifRecipe &r) { r.left = 2, r.top = 1, r.width = 3, r.height = 4, r.background = 3, r.indices = Indices(3, 4, 6); }), pf8bit},
        {"a small image, transparent around", Recipe([](TGifRecipe &r) { r.left = 2, r.top = 1, r.width = 3, r.height = 4, r.transparent = 5, r.indices = Indices(3, 4, 5); }), pf32bit},
        {"a small image, no table", Recipe([](TGifRecipe &r) { r.globalTable.clear(), r.localTable = Colours, r.left = 1, r.width = 7, r.indices = Indices(7, 6, 6); }), pf24bit},
        {"an image past its screen", Recipe([](TGifRecipe &r) { r.left = 4, r.top = 3, r.indices = Indices(8, 6, 6); }), pf8bit},
        {"an animation", Recipe([](TGifRecipe &r) { r.second = Indices(8, 6, 3); }), pf8bit},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray file = GifFile(c.recipe);
        ExpectReadsAsQtCodec(DecodeGif, file);
        EXPECT_EQ(DecodedBy(DecodeGif, file)->GetPixelFormat(), c.format);
    }
}

// Pictures ImageMagick writes, an animation among them, read as Qt reads them.
TEST(GifReader, PicturesImageMagickWritesOpenAsQtReadsThem)
{
    SKIP_WITHOUT_TOOL("convert");
    const QImage photo = PhotoLike(61, 37), translucent = PhotoLike(30, 20, QImage::Format_ARGB32);
    for (const auto &[what, file] : {std::pair{"photograph", MadeBy(QStringLiteral("convert"), {QStringLiteral("IN"), QStringLiteral("OUT")}, PngOf(photo), QStringLiteral("in.png"), QStringLiteral("out.gif"))},
                                     std::pair{"interlaced", MadeBy(QStringLiteral("convert"), {QStringLiteral("IN"), QStringLiteral("-interlace"), QStringLiteral("GIF"), QStringLiteral("OUT")}, PngOf(photo), QStringLiteral("in.png"), QStringLiteral("out.gif"))},
                                     std::pair{"transparent", MadeBy(QStringLiteral("convert"), {QStringLiteral("IN"), QStringLiteral("OUT")}, PngOf(translucent), QStringLiteral("in.png"), QStringLiteral("out.gif"))}}) {
        SCOPED_TRACE(what);
        ASSERT_FALSE(file.isEmpty());
        ExpectReadsAsQtCodec(DecodeGif, file);
    }
}

// A cut file gives the rows it holds from the top, the rest blank: an
// interlaced image's rows once every pass reached them (row 0 after the
// first pass, then more as the last pass goes by), never a row only some
// passes filled.
TEST(GifReader, ACutFileGivesTheRowsItHoldsFromTheTop)
{
    for (const bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "in order");
        const QByteArray file = GifFile(Recipe([&](TGifRecipe &r) { r.width = r.screenWidth = 64, r.height = r.screenHeight = 40, r.interlaced = interlaced, r.indices = Indices(64, 40, 6); }));
        const auto whole = DecodedBy(DecodeGif, file);
        ASSERT_TRUE(whole);
        int rowsShown = 0;
        for (qsizetype size = 13; size < file.size(); size += 7) {
            TBitmap cut;
            TRowsMissing missing{};
            const std::string reason = MessageOf([&] { missing = DecodeGif(Bytes(file.left(size)), cut); });
            if (reason != NoException) {
                EXPECT_EQ(reason, "the picture data is damaged or incomplete") << "cut at " << size;
                continue;
            }
            ASSERT_TRUE(HoldsTheFirstRowsOf(cut, *whole, missing)) << "cut at " << size << ", " << missing.missing << " rows missing";
            rowsShown += missing.missing > 0 && missing.missing < missing.rows;
        }
        EXPECT_GT(rowsShown, 0);
    }
}

// A 10000 x 10000 GIF: Qt decodes it in 32 bits a pixel besides ours; here
// its indices take a byte a pixel.
TEST(GifReader, AHundredMegapixelGifOpensWithinTheOpeningMemory)
{
    TGifRecipe r = Recipe([](TGifRecipe &r) { r.width = r.screenWidth = 10000, r.height = r.screenHeight = 10000; });
    r.indices.assign(std::size_t(10000) * 10000, 3);
    const auto read = DecodedWhereQtIsRefused(DecodeGif, GifFile(r));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetPixelFormat(), pf8bit);
    EXPECT_EQ(read->GetPixel(9999, 9999), RGB(250, 250, 0));
}

// What a GIF carries besides its pixels travels with the picture: here a
// comment extension before its image.
TEST(GifReader, ItsCommentTravelsWithThePicture)
{
    QByteArray file = GifFile(Recipe([](TGifRecipe &) {}));
    // After the header (13 bytes) and the table of 8 colours.
    ASSERT_EQ(file[13 + 24], ',');
    file.insert(13 + 24, QByteArray("\x21\xFE\x15" "A note on the picture" "\0", 25));
    const auto read = DecodedBy(DecodeGif, file);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->GetMetadata().comments.size(), 1);
    EXPECT_EQ(read->GetMetadata().comments[0].text, QStringLiteral("A note on the picture"));
}
