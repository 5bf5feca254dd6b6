// Reading GIF pictures through giflib's decoder, a row at a time, into the
// bitmap's rows.
#include "platform/files/gif/gif_codec.h"

#include "platform/files/gif/gif_metadata.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/reader_metadata.h"
#include "platform/base/work_progress.h"

#include <gif_lib.h>

#include <QRgb>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The file in memory, as giflib's reading procedure sees it.
struct TMemoryFile {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
};

int ReadFile(GifFileType *gif, GifByteType *into, int size)
{
    auto *file = static_cast<TMemoryFile *>(gif->UserData);
    const std::size_t count = std::min(static_cast<std::size_t>(std::max(size, 0)), file->bytes.size() - file->at);
    std::memcpy(into, file->bytes.data() + file->at, count);
    file->at += count;
    return static_cast<int>(count);
}

struct GifClose {
    void operator()(GifFileType *gif) const { DGifCloseFile(gif, nullptr); }
};

// Giflib's failures: the data ending early, or damage.
bool EndedEarly(const GifFileType *gif) { return gif->Error == D_GIF_ERR_READ_FAILED || gif->Error == D_GIF_ERR_EOF_TOO_SOON; }

// What the first image shows: each index's colour as Qt's reader gives it
// (ARGB; transparent with alpha 0), the screen it lies on, and where.
struct TFirstImage {
    int screenWidth = 0, screenHeight = 0;
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    int transparent = -1;
    // The colour table it uses (its own, else the global one), as QRgb.
    std::vector<QRgb> table;
    // An index's colour: past the table's count white, without a table
    // black, the transparent index with alpha 0.
    std::array<QRgb, 256> colours{};
    // What the screen shows beside the image: an index, or none (black).
    int fill = -1;
};

// The colours Qt's reader gives the indices: with a table of n entries,
// index n and beyond read transparent white; without a table, it counts the
// global table's stated size, and reads black up to it.
void WorkOutColours(TFirstImage &image, bool tableStated, int tableCount)
{
    for (int i = 0; i < 256; ++i) {
        QRgb colour = 0x00FFFFFF;
        if (i < tableCount)
            colour = tableStated ? image.table[static_cast<std::size_t>(i)] : 0;
        else if (i == tableCount && !tableStated)
            colour = 0;
        image.colours[static_cast<std::size_t>(i)] = i == image.transparent ? colour & 0x00FFFFFF : colour;
    }
}

std::vector<QRgb> TableOf(const ColorMapObject *map)
{
    std::vector<QRgb> table;
    if (map)
        for (int i = 0; i < map->ColorCount; ++i) table.push_back(qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
    return table;
}

// The index's colour in the form chosen for the picture.
void Put(TPixelFormat format, QRgb colour, std::uint8_t *pixel)
{
    pixel[0] = static_cast<std::uint8_t>(qBlue(colour));
    pixel[1] = static_cast<std::uint8_t>(qGreen(colour));
    pixel[2] = static_cast<std::uint8_t>(qRed(colour));
    if (format == pf32bit) pixel[3] = static_cast<std::uint8_t>(qAlpha(colour));
}

// The indices decoded become the picture in the smallest form, in their
// place: its own table where every pixel is an opaque colour of it, else
// colours.
void ShowColours(TBitmap &indices, const TFirstImage &image, bool blackBeside)
{
    const int width = indices.GetWidth(), height = indices.GetHeight();
    std::array<bool, 256> used{};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *row = indices.Row(y);
        for (int x = 0; x < width; ++x) used[row[x]] = true;
    }
    bool opaqueTableColours = !blackBeside && !image.table.empty(), translucent = false;
    for (int i = 0; i < 256; ++i) {
        if (!used[static_cast<std::size_t>(i)]) continue;
        const QRgb colour = image.colours[static_cast<std::size_t>(i)];
        const bool opaque = image.transparent < 0 || qAlpha(colour) == 255;
        opaqueTableColours = opaqueTableColours && i < int(image.table.size()) && qAlpha(colour) == 255;
        translucent = translucent || !opaque;
    }
    if (opaqueTableColours) {
        // Each index its colour's first index in the table, or its grey
        // level where the table is all grey.
        const bool grey = std::all_of(image.table.begin(), image.table.end(), [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); });
        std::array<std::uint8_t, 256> becomes{};
        for (std::size_t i = 0; i < image.table.size(); ++i)
            becomes[i] = grey ? static_cast<std::uint8_t>(qRed(image.table[i]))
                              : static_cast<std::uint8_t>(std::find(image.table.begin(), image.table.end(), image.table[i]) - image.table.begin());
        TPalette palette{};
        for (std::size_t i = 0; i < image.table.size(); ++i) palette[i] = RGB(qRed(image.table[i]), qGreen(image.table[i]), qBlue(image.table[i]));
        for (int y = 0; y < height; ++y) {
            std::uint8_t *row = indices.Row(y);
            for (int x = 0; x < width; ++x) row[x] = becomes[row[x]];
        }
        indices.SetPalette(grey ? GreyLevels : palette);
        return;
    }
    // Colours beside the indices: three or four bytes a pixel besides one.
    const TPixelFormat format = translucent ? pf32bit : pf24bit;
    CheckPictureFits(width, height, format);
    TBitmap picture;
    AllocateDecoded(picture, width, height, format);
    picture.SetAlphaChannel(TAlphaChannel::Used);
    const std::size_t pixelBytes = format == pf32bit ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *in = indices.Row(y);
        std::uint8_t *out = picture.Row(y);
        const bool beside = y < image.top || y >= image.top + image.height;
        for (int x = 0; x < width; ++x) {
            const bool outside = beside || x < image.left || x >= image.left + image.width;
            Put(format, blackBeside && outside ? 0 : image.colours[in[x]], out + pixelBytes * std::size_t(x));
        }
        if ((y & 255) == 255) ReportProgress(std::uint64_t(y) + 1, std::uint64_t(height));
    }
    indices.TakeOver(picture);
}

// The rows of an interlaced image in the order they come: every 8th from
// 0, every 8th from 4, every 4th from 2, every 2nd from 1.
int InterlacedRow(int n, int height)
{
    static constexpr int Start[] = {0, 4, 2, 1}, Step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rows = height > Start[pass] ? (height - Start[pass] + Step[pass] - 1) / Step[pass] : 0;
        if (n < rows) return Start[pass] + n * Step[pass];
        n -= rows;
    }
    return height;
}

} // namespace

bool LooksLikeGif(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 6 && (std::memcmp(bytes.data(), "GIF87a", 6) == 0 || std::memcmp(bytes.data(), "GIF89a", 6) == 0);
}

TRowsMissing DecodeGif(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    TMemoryFile file{bytes};
    int error = 0;
    const std::unique_ptr<GifFileType, GifClose> owner(DGifOpen(&file, ReadFile, &error));
    if (!owner) throw Exception(error == D_GIF_ERR_NOT_ENOUGH_MEM ? NotEnoughMemoryTo(TMemoryUse::ReadingThePicture) : DamagedData());
    GifFileType *gif = owner.get();

    TFirstImage image;
    // Records up to the first image: extensions (of which the graphic
    // control one states the transparent index) and the image's descriptor.
    for (GifRecordType record = UNDEFINED_RECORD_TYPE; record != IMAGE_DESC_RECORD_TYPE;) {
        if (DGifGetRecordType(gif, &record) == GIF_ERROR || record == TERMINATE_RECORD_TYPE) throw Exception(DamagedData());
        if (record != EXTENSION_RECORD_TYPE) continue;
        int code = 0;
        GifByteType *extension = nullptr;
        if (DGifGetExtension(gif, &code, &extension) == GIF_ERROR) throw Exception(DamagedData());
        if (code == GRAPHICS_EXT_FUNC_CODE && extension && extension[0] >= 4) image.transparent = extension[1] & 1 ? extension[4] : -1;
        while (extension)
            if (DGifGetExtensionNext(gif, &extension) == GIF_ERROR) throw Exception(DamagedData());
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) throw Exception(DamagedData());
    image.left = gif->Image.Left;
    image.top = gif->Image.Top;
    image.width = gif->Image.Width;
    image.height = gif->Image.Height;
    image.interlaced = gif->Image.Interlace;
    // A screen far larger than the image is not believed.
    image.screenWidth = gif->SWidth / 10 > std::max(image.width, 16384) || gif->SWidth <= 0 ? image.left + image.width : gif->SWidth;
    image.screenHeight = gif->SHeight / 10 > std::max(image.height, 16384) || gif->SHeight <= 0 ? image.top + image.height : gif->SHeight;
    const ColorMapObject *map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
    image.table = TableOf(map);
    WorkOutColours(image, map != nullptr, map ? map->ColorCount : 2 << (bytes[10] & 7));
    const bool covers = image.left == 0 && image.top == 0 && image.width >= image.screenWidth && image.height >= image.screenHeight;
    if (!covers) image.fill = image.transparent >= 0 ? image.transparent : gif->SColorMap ? gif->SBackGroundColor : -1;
    const bool blackBeside = !covers && image.fill < 0;

    const int width = image.screenWidth, height = image.screenHeight;
    if (width <= 0 || height <= 0) throw Exception(DamagedData());
    // The picture holds the indices first, a byte a pixel; the colours,
    // where it needs them, take three or four more, within the allowance
    // of a picture of that form.
    TDecodedPicture decoded(into, TPictureFileFormat::Gif);
    TBitmap &picture = decoded.Start(width, height, pf8bit, bytes.size());
    if (image.fill > 0)
        for (int y = 0; y < height; ++y) std::memset(picture.Row(y), image.fill, static_cast<std::size_t>(width));

    // The image's rows, clipped to the screen.
    std::vector<GifPixelType> line(static_cast<std::size_t>(std::max(image.width, 1)));
    std::vector<bool> rowDone(static_cast<std::size_t>(std::max(image.height, 0)));
    const int visibleLeft = std::min(image.left, width), visibleRight = std::min(image.left + image.width, width);
    bool ended = false;
    for (int n = 0; n < image.height; ++n) {
        if (DGifGetLine(gif, line.data(), image.width) == GIF_ERROR) {
            if (!EndedEarly(gif)) throw Exception(DamagedData());
            ended = true;
            break;
        }
        const int row = image.interlaced ? InterlacedRow(n, image.height) : n;
        rowDone[static_cast<std::size_t>(row)] = true;
        const int y = image.top + row;
        if (y < height && visibleRight > visibleLeft)
            std::memcpy(picture.Row(y) + visibleLeft, line.data(), static_cast<std::size_t>(visibleRight - visibleLeft));
        if ((n & 255) == 255) ReportProgress(std::uint64_t(n) + 1, std::uint64_t(image.height));
    }
    // Rows are held from the top: those above the image, then its rows up
    // to the first the data did not reach.
    int held = height;
    if (ended) {
        const auto missingRow = std::find(rowDone.begin(), rowDone.end(), false) - rowDone.begin();
        held = std::min(height, image.top + static_cast<int>(missingRow));
    }

    ShowColours(picture, image, blackBeside);
    const TRowsMissing missing = RowsHeld(picture, held, height);
    KeepFoundMetadata(picture, GifMetadata(bytes));
    return decoded.HandOver(missing);
}
