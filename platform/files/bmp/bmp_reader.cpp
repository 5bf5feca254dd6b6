// Our BMP reader: every common variant, pixels kept exactly, every header field checked.
//
// What a file can rely on:
//  - The file-size and image-size fields are not trusted (writers often get
//    them wrong); the bytes at hand bound every read.
//  - The headers and the palette must be whole, else the file is refused. A
//    file that ends inside its pixels opens with what it has, and the rows
//    it lacks are counted for the caller to tell; the pixels it lacks are
//    zero bytes: index 0, or black (in 32-bit pictures transparent
//    black, so that nothing need be written for them).
//  - Run-length data: pixels it skips (delta, early end of line or of the
//    picture) are index 0; a run past the end of a row is cut there; data
//    past the last row is ignored.
//  - Bit-field channels of any width up to 32 bits are scaled to 8 bits
//    exactly: round(v * 255 / max), so a full 10-bit channel reads as 255.
//  - 32-bit pixels without an alpha mask are opaque: the 4th byte of such
//    files is unused, and often 0.
//  - 64-bit pixels are B, G, R, A as signed 16-bit fixed point with 13
//    fraction bits (8192 is 1.0) in linear light. Each is clamped to 0..1;
//    colours go through the sRGB curve, alpha straight, to 8 bits rounded.
//  - OS/2's Huffman code (1 bit a pixel): white runs are index 0, black
//    runs index 1, whatever colours the palette gives them. Bad codes and
//    runs past the end of a row make the file damaged.
//  - Palette entries beyond those the file gives are black, and entries
//    past 256 are ignored: no index can reach them.
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/bmp/bmp_format.h"
#include "platform/files/bmp/bmp_metadata.h"
#include "platform/files/bmp/fax_huffman.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/file_source.h"
#include "platform/files/jpeg/jpeg_codec.h"
#include "platform/files/opening_limits.h"
#include "platform/files/png/png_codec.h"
#include "platform/files/reader_metadata.h"
#include "platform/base/parallel_pieces.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace bmp;

namespace {

enum class TRowKind {
    Copy,         // the file's row bytes are ours
    CopyOpaque,   // 32-bit B, G, R, unused: the 4th byte becomes 255
    Copy15,       // 5-5-5 in 16 bits: the unused top bit is cleared
    Unpack,       // 2 or 4 bits an index become one byte an index
    Masks,        // bit fields: each channel scaled to 8 bits
    Fixed64,      // 64-bit linear fixed point: B, G, R, A to 8-bit sRGB
};

enum TChannelIndex { Red, Green, Blue, Alpha };

// Whether a newly allocated bitmap is cleared: not when every byte is written.
enum class TFill { Zeroes, None };
using TMasks = std::array<std::uint32_t, 4>;

constexpr TMasks Masks555 = {0x7C00, 0x03E0, 0x001F, 0};
constexpr TMasks Masks565 = {0xF800, 0x07E0, 0x001F, 0};
constexpr TMasks Masks888 = {0xFF0000, 0x00FF00, 0x0000FF, 0};
constexpr TMasks Masks8888 = {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000};

// Everything DecodeBmp needs, read and checked before any allocation.
struct TLayout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bits = 0;
    std::uint32_t compression = Rgb;
    TMasks masks{};
    std::size_t paletteAt = 0;
    std::size_t paletteEntries = 0;
    std::size_t paletteEntryBytes = 4;
    std::size_t pixelsAt = 0;
    TPixelFormat format = pf24bit;
    TRowKind kind = TRowKind::Copy;
    // OS/2's 24-bit run lengths (its compression 4): runs of B, G, R.
    bool rle24 = false;
    // OS/2's fax Huffman code (its compression 3) for 1-bit pictures.
    bool huffman = false;
};

[[noreturn]] void Refuse(const QString &reason) { throw Exception(reason); }

QString Hex(std::uint32_t value) { return QStringLiteral("0x") + QString::number(value, 16).toUpper(); }

const QString EndsInHeaders = QStringLiteral("the file ends before its headers do");

bool KnownHeaderSize(std::uint32_t size)
{
    switch (size) {
    case CoreHeaderBytes:
    case Os2ShortHeaderBytes:
    case InfoHeaderBytes:
    case V2HeaderBytes:
    case V3HeaderBytes:
    case Os2HeaderBytes:
    case V4HeaderBytes:
    case V5HeaderBytes: return true;
    default: return false;
    }
}

void CheckCompression(std::uint32_t compression, int bits, bool os2)
{
    // OS/2 2.x gives codes 3 and 4 meanings of its own.
    if (os2 && compression == BitFields) {
        if (bits != 1)
            Refuse(QStringLiteral("the BMP header gives Huffman compression to a picture of %1 bits a pixel").arg(bits));
        return;
    }
    if (bits == 64 && compression != Rgb)
        Refuse(QStringLiteral("the BMP header gives compression %1 to a picture of 64 bits a pixel").arg(compression));
    if (os2 && compression == Jpeg) {
        if (bits != 24)
            Refuse(QStringLiteral("the BMP header gives 24-bit run-length compression to a picture of %1 bits a pixel").arg(bits));
        return;
    }
    if (os2 && compression > Rle4) Refuse(QStringLiteral("BMP compression %1 is not supported").arg(compression));
    switch (compression) {
    case Rgb: return;
    case Rle8:
    case Rle4: {
        const int needs = compression == Rle8 ? 8 : 4;
        if (bits != needs)
            Refuse(QStringLiteral("the BMP header gives %1-bit run-length compression to a picture of %2 bits a pixel")
                       .arg(needs).arg(bits));
        return;
    }
    case BitFields:
    case AlphaBitFields:
        if (bits != 16 && bits != 32)
            Refuse(QStringLiteral("the BMP header gives bit-field masks to a picture of %1 bits a pixel").arg(bits));
        return;
    default: Refuse(QStringLiteral("BMP compression %1 is not supported").arg(compression));
    }
}

// Red, green and blue must each be one run of bits inside the pixel;
// alpha may be empty. No two may share a bit.
void CheckMasks(const TMasks &masks, int bits)
{
    static const char *const names[] = {"red", "green", "blue", "alpha"};
    const std::uint64_t pixelBits = bits == 16 ? 0xFFFF : 0xFFFFFFFF;
    std::uint32_t seen = 0;
    for (int i = Red; i <= Alpha; ++i) {
        const std::uint32_t mask = masks[static_cast<std::size_t>(i)];
        const QString name = QLatin1String(names[i]);
        if (mask == 0) {
            if (i != Alpha) Refuse(QStringLiteral("the BMP %1 mask is empty").arg(name));
            continue;
        }
        if (mask > pixelBits)
            Refuse(QStringLiteral("the BMP %1 mask %2 reaches beyond the %3 bits of a pixel").arg(name, Hex(mask)).arg(bits));
        const std::uint32_t run = mask >> std::countr_zero(mask);
        if ((run & (run + 1)) != 0)
            Refuse(QStringLiteral("the BMP %1 mask %2 is not one run of bits").arg(name, Hex(mask)));
        if (mask & seen) Refuse(QStringLiteral("the BMP %1 mask %2 overlaps another mask").arg(name, Hex(mask)));
        seen |= mask;
    }
}

void ChooseForm(TLayout &l)
{
    const bool bitFields = l.compression == BitFields || l.compression == AlphaBitFields;
    switch (l.bits) {
    case 1:
        l.format = pf1bit;
        l.kind = TRowKind::Copy;
        break;
    case 2:
    case 4:
        l.format = pf8bit;
        l.kind = TRowKind::Unpack;
        break;
    case 8:
        l.format = pf8bit;
        l.kind = TRowKind::Copy;
        break;
    case 16:
        if (!bitFields) l.masks = Masks555;
        if (l.masks == Masks555) {
            l.format = pf15bit;
            l.kind = TRowKind::Copy15;
        } else if (l.masks == Masks565) {
            l.format = pf16bit;
            l.kind = TRowKind::Copy;
        } else {
            l.format = l.masks[Alpha] ? pf32bit : pf24bit;
            l.kind = TRowKind::Masks;
        }
        break;
    case 24:
        l.format = pf24bit;
        l.kind = TRowKind::Copy;
        break;
    case 64:
        l.format = pf32bit;
        l.kind = TRowKind::Fixed64;
        break;
    default:
        if (!bitFields) l.masks = Masks888;
        l.format = pf32bit;
        l.kind = l.masks == Masks8888 ? TRowKind::Copy : l.masks == Masks888 ? TRowKind::CopyOpaque : TRowKind::Masks;
        break;
    }
}

TLayout ReadLayout(std::span<const std::uint8_t> bytes)
{
    const std::uint8_t *p = bytes.data();
    const std::size_t size = bytes.size();
    if (!LooksLikeBmp(bytes)) Refuse(QStringLiteral("the file does not start with the BMP signature \"BM\""));
    if (size < FileHeaderBytes + 4) Refuse(EndsInHeaders);
    const std::uint32_t headerSize = GetU32(p + FileHeaderBytes);
    if (!KnownHeaderSize(headerSize))
        Refuse(QStringLiteral("the BMP header size of %1 bytes is not one this program knows").arg(headerSize));
    if (size < FileHeaderBytes + headerSize) Refuse(EndsInHeaders);
    const std::uint8_t *h = p + FileHeaderBytes;
    const bool os2 = headerSize == CoreHeaderBytes || headerSize == Os2ShortHeaderBytes || headerSize == Os2HeaderBytes;

    TLayout l;
    std::int64_t width, height;
    unsigned planes;
    std::uint32_t coloursUsed = 0;
    if (headerSize == CoreHeaderBytes) {
        width = GetU16(h + 4);
        height = GetU16(h + 6);
        planes = GetU16(h + 8);
        l.bits = GetU16(h + 10);
        l.paletteEntryBytes = 3;
    } else {
        width = GetI32(h + WidthAt);
        height = GetI32(h + HeightAt);
        planes = GetU16(h + PlanesAt);
        l.bits = GetU16(h + BitCountAt);
        if (headerSize > CompressionAt) l.compression = GetU32(h + CompressionAt);
        if (headerSize > ColoursUsedAt) coloursUsed = GetU32(h + ColoursUsedAt);
    }
    if (width <= 0) Refuse(QStringLiteral("the BMP header gives a width of %1 pixels").arg(width));
    // A negative height means rows stored top row first.
    if (height == 0 || height == std::numeric_limits<std::int32_t>::min())
        Refuse(QStringLiteral("the BMP header gives a height of %1 pixels").arg(height));
    l.width = static_cast<int>(width);
    l.topDown = height < 0;
    l.height = static_cast<int>(height < 0 ? -height : height);
    if (planes != 1) Refuse(QStringLiteral("the BMP header gives %1 colour planes instead of 1").arg(planes));
    // A whole JPEG or PNG file as the pixels: it has its own header.
    if (!os2 && (l.compression == Jpeg || l.compression == Png)) {
        const std::uint32_t pixelsAt = GetU32(p + PixelOffsetAt);
        if (pixelsAt > size)
            Refuse(QStringLiteral("the file ends at byte %1, before the pixels its header places at byte %2").arg(size).arg(pixelsAt));
        l.pixelsAt = pixelsAt;
        return l;
    }
    switch (l.bits) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    // OS/2 headers predate pixels of 64 bits.
    case 64: if (!os2) break; [[fallthrough]];
    default: Refuse(QStringLiteral("BMP pictures of %1 bits a pixel are not supported").arg(l.bits));
    }
    CheckCompression(l.compression, l.bits, os2);
    l.rle24 = os2 && l.compression == Jpeg;
    l.huffman = os2 && l.compression == BitFields;

    std::size_t headersEnd = FileHeaderBytes + headerSize;
    if (!l.huffman && (l.compression == BitFields || l.compression == AlphaBitFields)) {
        if (headerSize == InfoHeaderBytes) {
            // The 40-byte header keeps its masks just after itself.
            const std::size_t count = l.compression == AlphaBitFields ? 4 : 3;
            if (size < headersEnd + 4 * count) Refuse(EndsInHeaders);
            for (std::size_t i = 0; i < count; ++i) l.masks[i] = GetU32(p + headersEnd + 4 * i);
            headersEnd += 4 * count;
        } else {
            for (std::size_t i = 0; i < 3; ++i) l.masks[i] = GetU32(h + MasksAt + 4 * i);
            if (headerSize >= V3HeaderBytes) l.masks[Alpha] = GetU32(h + MasksAt + 12);
        }
        CheckMasks(l.masks, l.bits);
    }

    const std::uint32_t pixelsAt = GetU32(p + PixelOffsetAt);
    if (pixelsAt > size)
        Refuse(QStringLiteral("the file ends at byte %1, before the pixels its header places at byte %2").arg(size).arg(pixelsAt));
    if (pixelsAt < headersEnd)
        Refuse(QStringLiteral("the BMP header places the pixels at byte %1, inside its own headers").arg(pixelsAt));
    l.pixelsAt = pixelsAt;
    l.paletteAt = headersEnd;
    if (l.bits <= 8) {
        const std::size_t room = (pixelsAt - headersEnd) / l.paletteEntryBytes;
        // Without a count the palette is full size, but writers that leave
        // out unused entries are common: take what lies before the pixels.
        if (coloursUsed == 0)
            l.paletteEntries = std::min<std::size_t>(std::size_t(1) << l.bits, room);
        else if (coloursUsed > room)
            Refuse(QStringLiteral("the BMP header lists %1 palette colours, but the file has room for %2")
                       .arg(coloursUsed).arg(room));
        else
            l.paletteEntries = coloursUsed;
        // Indices cannot go beyond 255, so later entries are never used.
        l.paletteEntries = std::min<std::size_t>(l.paletteEntries, 256);
    }
    ChooseForm(l);
    return l;
}

TPalette ReadPalette(const std::uint8_t *entries, const TLayout &l)
{
    TPalette palette{};
    for (std::size_t i = 0; i < l.paletteEntries; ++i) {
        const std::uint8_t *e = entries + i * l.paletteEntryBytes;
        palette[i] = RGB(e[2], e[1], e[0]);
    }
    return palette;
}

// One bit-field channel: where it sits in a pixel and how it scales to 8 bits.
class TChannel {
public:
    explicit TChannel(std::uint32_t mask) : mask_(mask)
    {
        if (!mask) return;
        shift_ = std::countr_zero(mask);
        max_ = mask >> shift_;
        if (max_ <= 0xFFFF) {
            table_.resize(std::size_t(max_) + 1);
            for (std::uint32_t v = 0; v <= max_; ++v) table_[v] = Scale(v);
        }
    }
    bool Empty() const { return mask_ == 0; }
    std::uint8_t operator()(std::uint32_t pixel) const
    {
        const std::uint32_t v = (pixel & mask_) >> shift_;
        return table_.empty() ? Scale(v) : table_[v];
    }

private:
    std::uint8_t Scale(std::uint32_t v) const
    {
        return static_cast<std::uint8_t>((std::uint64_t(v) * 255 + max_ / 2) / max_);
    }

    std::uint32_t mask_;
    int shift_ = 0;
    std::uint32_t max_ = 0;
    std::vector<std::uint8_t> table_;
};

// 64-bit pixels' 8-bit values for each fixed-point sample from 0 to 1.0:
// colour through the sRGB curve, alpha in proportion.
struct TFixedPoint {
    static constexpr int One = 8192;
    std::array<std::uint8_t, One + 1> colour, alpha;

    TFixedPoint()
    {
        for (int v = 0; v <= One; ++v) {
            const double linear = double(v) / One;
            const double srgb = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
            colour[std::size_t(v)] = static_cast<std::uint8_t>(std::lround(srgb * 255));
            alpha[std::size_t(v)] = static_cast<std::uint8_t>((v * 255 + One / 2) / One);
        }
    }
    // A little-endian signed sample, clamped to 0..1.0.
    static std::size_t Sample(const std::uint8_t *p)
    {
        return static_cast<std::size_t>(std::clamp<int>(static_cast<std::int16_t>(GetU16(p)), 0, One));
    }
};

const TFixedPoint &FixedPoint()
{
    static const TFixedPoint tables;
    return tables;
}

// Turns one row of the file into one of ours, for every row kind but RLE.
class TRowConverter {
public:
    explicit TRowConverter(const TLayout &l)
        : l_(l), red_(l.masks[Red]), green_(l.masks[Green]), blue_(l.masks[Blue]), alpha_(l.masks[Alpha])
    {
    }

    // Converts the first `width` pixels of a row.
    void operator()(const std::uint8_t *src, std::uint8_t *dst, int width) const
    {
        switch (l_.kind) {
        case TRowKind::Copy: {
            const std::size_t used = (static_cast<std::size_t>(width) * l_.bits + 7) / 8;
            // Bits of a last partial byte that belong to no pixel stay 0.
            const int spareBits = static_cast<int>(used * 8 - static_cast<std::size_t>(width) * l_.bits);
            CopyRow(dst, src, used - 1);
            dst[used - 1] = src[used - 1] & static_cast<std::uint8_t>(0xFF << spareBits);
            break;
        }
        case TRowKind::CopyOpaque:
            for (int x = 0; x < width; ++x, src += 4, dst += 4) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                dst[3] = 255;
            }
            break;
        case TRowKind::Copy15:
            for (int x = 0; x < width; ++x) {
                dst[2 * x] = src[2 * x];
                dst[2 * x + 1] = src[2 * x + 1] & 0x7F;
            }
            break;
        case TRowKind::Unpack:
            if (l_.bits == 4)
                pixel::UnpackIndices(pf4bit, src, width, dst);
            else
                for (int x = 0; x < width; ++x) dst[x] = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
            break;
        case TRowKind::Masks: {
            const int step = l_.bits / 8;
            const bool withAlpha = l_.format == pf32bit;
            for (int x = 0; x < width; ++x, src += step) {
                const std::uint32_t v = step == 2 ? GetU16(src) : GetU32(src);
                *dst++ = blue_(v);
                *dst++ = green_(v);
                *dst++ = red_(v);
                if (withAlpha) *dst++ = alpha_.Empty() ? 255 : alpha_(v);
            }
            break;
        }
        case TRowKind::Fixed64: {
            const TFixedPoint &fixed = FixedPoint();
            for (int x = 0; x < width; ++x, src += 8, dst += 4) {
                for (int c = 0; c < 3; ++c) dst[c] = fixed.colour[TFixedPoint::Sample(src + 2 * c)];
                dst[3] = fixed.alpha[TFixedPoint::Sample(src + 6)];
            }
            break;
        }
        }
    }

    // The row kinds whose file rows are our rows, byte for byte, but for
    // what this changes in place: the bits of a last partial byte that
    // belong to no pixel, an unused 4th byte, 5-5-5's unused top bit.
    static bool InPlace(const TLayout &l)
    {
        return l.kind == TRowKind::Copy || l.kind == TRowKind::CopyOpaque || l.kind == TRowKind::Copy15;
    }
    // Whether Fix changes any byte of a row `width` pixels wide.
    bool Fixes(int width) const
    {
        return l_.kind != TRowKind::Copy || (static_cast<std::size_t>(width) * static_cast<std::size_t>(l_.bits)) % 8 != 0;
    }
    void Fix(std::uint8_t *row, int width) const
    {
        switch (l_.kind) {
        case TRowKind::Copy: {
            const std::size_t used = (static_cast<std::size_t>(width) * l_.bits + 7) / 8;
            row[used - 1] &= static_cast<std::uint8_t>(0xFF << (used * 8 - static_cast<std::size_t>(width) * l_.bits));
            break;
        }
        case TRowKind::CopyOpaque:
            for (int x = 0; x < width; ++x) row[4 * x + 3] = 255;
            break;
        case TRowKind::Copy15:
            for (int x = 0; x < width; ++x) row[2 * x + 1] &= 0x7F;
            break;
        default: break;
        }
    }

private:
    const TLayout &l_;
    TChannel red_, green_, blue_, alpha_;
};

// The bytes of a file's pixel rows, padding included.
std::size_t FileRowBytes(const TLayout &l) { return (static_cast<std::size_t>(l.width) * l.bits + 31) / 32 * 4; }

// True when the file holds every row uncompressed: decoding then writes
// every byte of the bitmap, and it need not be cleared first.
bool WritesEveryByte(std::span<const std::uint8_t> pixels, const TLayout &l)
{
    return !l.huffman && (l.compression == Rgb || l.compression == BitFields || l.compression == AlphaBitFields)
        && pixels.size() / FileRowBytes(l) >= static_cast<std::size_t>(l.height);
}

// Rows the file lacks stay as allocated, all zero bytes, so a short file
// that claims a huge picture costs no work beyond the bytes it holds.
// Whole rows have their padding written as zeros. Gives the rows missing.
int DecodeRows(std::span<const std::uint8_t> pixels, const TLayout &l, TBitmap &picture)
{
    const std::size_t rowBytes = FileRowBytes(l);
    const std::size_t wholeRows = pixels.size() / rowBytes;
    const std::size_t written = (static_cast<std::size_t>(l.width) * BitsPerPixel(l.format) + 7) / 8;
    const std::size_t padding = picture.BytesPerRow() - written;
    const TRowConverter convert(l);
    const auto destination = [&](int fileRow) { return picture.Row(l.topDown ? fileRow : l.height - 1 - fileRow); };
    const int whole = static_cast<int>(std::min<std::size_t>(wholeRows, static_cast<std::size_t>(l.height)));
    // Bands of whole rows on every core.
    ForEachBand(whole, std::max(rowBytes, picture.BytesPerRow()), [&](const TBand &band, unsigned) {
        for (int fileRow = band.first; fileRow < band.end; ++fileRow) {
            std::uint8_t *dst = destination(fileRow);
            convert(pixels.data() + static_cast<std::size_t>(fileRow) * rowBytes, dst, l.width);
            if (padding > 0) std::memset(dst + written, 0, padding);
        }
    });
    if (whole == l.height) return 0;
    // The last, short row: its whole pixels; a pixel cut in two is missing.
    const std::size_t have = pixels.size() - wholeRows * rowBytes;
    const std::size_t pixelsHeld = have * 8 / static_cast<std::size_t>(l.bits);
    if (pixelsHeld > 0)
        convert(pixels.data() + wholeRows * rowBytes, destination(whole), static_cast<int>(std::min<std::size_t>(pixelsHeld, static_cast<std::size_t>(l.width))));
    return l.height - whole;
}

// Whether the file's rows are read straight into the bitmap's: every row
// uncompressed, in the form of ours (TRowConverter::InPlace), all there.
bool ReadsStraight(const TLayout &l, std::uint64_t fileBytes)
{
    const bool uncompressed = !l.huffman && !l.rle24 && (l.compression == Rgb || l.compression == BitFields || l.compression == AlphaBitFields);
    return uncompressed && TRowConverter::InPlace(l) && FileRowBytes(l) == TBitmap::RowBytes(l.width, l.format) &&
           l.pixelsAt + std::uint64_t(FileRowBytes(l)) * std::uint64_t(l.height) <= fileBytes;
}

// The bitmap's form of the file: its size, format, alpha and palette.
// Allocated by the bitmap itself, which refuses a size it cannot hold and
// tells a lack of memory with the picture's size: opening a BMP holds
// nothing besides the file and the picture to count.
void Prepare(const TLayout &l, std::span<const std::uint8_t> bytes, TFill fill, TBitmap &picture, TRowOrder order = TRowOrder::TopDown)
{
    // The palette first, while the picture has no pixels: its colour
    // lookups are then made once, with the pixels.
    if (HasPalette(l.format)) picture.SetPalette(ReadPalette(bytes.data() + l.paletteAt, l));
    if (fill == TFill::None)
        picture.AllocateForOverwrite(l.width, l.height, l.format, order);
    else
        picture.Allocate(l.width, l.height, l.format, order);
    // 32-bit pixels without an alpha mask are opaque whatever their 4th byte becomes.
    if (l.format == pf32bit && l.kind != TRowKind::Fixed64 && l.masks[Alpha] == 0) picture.SetAlphaChannel(TAlphaChannel::Unused);
}

// RLE8 and RLE4 as Windows has them, and OS/2's RLE24, whose runs and
// absolute pixels are 3 bytes, B, G, R, instead of one index.
// Gives the rows missing: those the data never reached because it ran out
// before its end-of-picture code (an early end code is no loss: it leaves
// the rest index 0 on purpose).
int DecodeRunLengths(std::span<const std::uint8_t> data, const TLayout &l, TBitmap &picture)
{
    const bool four = l.compression == Rle4;
    const std::size_t pixel = l.rle24 ? 3 : 1;
    const int width = l.width;
    const std::size_t size = data.size();
    std::size_t pos = 0;
    int x = 0, y = 0;
    const auto row = [&] { return picture.Row(l.topDown ? y : l.height - 1 - y); };
    // Each step reads a pair: a run of count pixels, or an escape code.
    while (y < l.height && pos + 2 <= size) {
        const int count = data[pos], code = data[pos + 1];
        if (count > 0 && l.rle24) {
            if (pos + 4 > size) break;
            const int n = std::min(count, width - x);
            std::uint8_t *dst = row() + 3 * static_cast<std::size_t>(x);
            for (int i = 0; i < n; ++i) std::memcpy(dst + 3 * i, data.data() + pos + 1, 3);
            x += n;
            pos += 4;
            continue;
        }
        pos += 2;
        if (count > 0) {
            const int n = std::min(count, width - x);
            std::uint8_t *dst = row() + x;
            if (!four)
                std::memset(dst, code, static_cast<std::size_t>(n));
            else
                for (int i = 0; i < n; ++i) dst[i] = static_cast<std::uint8_t>((i & 1) ? code & 15 : code >> 4);
            x += n;
        } else if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            return 0;
        } else if (code == 2) {
            if (pos + 2 > size) break;
            x = std::min(x + data[pos], width);
            y += data[pos + 1];
            pos += 2;
        } else {
            // Absolute mode: code pixels as they are, padded to a 2-byte boundary.
            const std::size_t bytes = four ? (code + 1) / 2 : pixel * code;
            const std::size_t have = std::min(bytes, size - pos);
            const int present = static_cast<int>(four ? std::min<std::size_t>(code, have * 2) : have / pixel);
            const int n = std::min(present, width - x);
            std::uint8_t *dst = row() + pixel * static_cast<std::size_t>(x);
            const std::uint8_t *src = data.data() + pos;
            if (!four)
                std::memcpy(dst, src, pixel * static_cast<std::size_t>(n));
            else
                pixel::UnpackIndices(pf4bit, src, n, dst);
            x += n;
            if (have < bytes) break;
            pos += bytes + (bytes & 1);
        }
    }
    return y < l.height ? l.height - y : 0;
}

} // namespace

bool LooksLikeBmp(std::span<const std::uint8_t> bytes) { return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M'; }

TRowsMissing DecodeBmp(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    const TLayout layout = ReadLayout(bytes);
    const std::span<const std::uint8_t> pixels = bytes.subspan(layout.pixelsAt);
    if ((layout.compression == Jpeg && !layout.rle24) || layout.compression == Png) {
        const TPictureFileFormat inside = layout.compression == Jpeg ? TPictureFileFormat::Jpeg : TPictureFileFormat::Png;
        if (inside == TPictureFileFormat::Jpeg ? !LooksLikeJpeg(pixels) : !LooksLikePng(pixels))
            Refuse(QStringLiteral("the BMP header announces a %1 picture, but its pixels are not one").arg(QLatin1String(PictureFileFormatInfo(inside).name)));
        return inside == TPictureFileFormat::Jpeg ? DecodeJpeg(pixels, into) : DecodePng(pixels, into);
    }
    TDecodedPicture decoded(into, TPictureFileFormat::Bmp);
    TBitmap &picture = decoded.Picture();
    Prepare(layout, bytes, WritesEveryByte(pixels, layout) ? TFill::None : TFill::Zeroes, picture);
    int missing = 0;
    if (layout.huffman) {
        const auto row = [&](int y) { return picture.Row(layout.topDown ? y : layout.height - 1 - y); };
        missing = layout.height - fax::DecodeRows(pixels, layout.width, layout.height, row);
    } else {
        const bool runs = layout.compression == Rle8 || layout.compression == Rle4 || layout.rle24;
        missing = runs ? DecodeRunLengths(pixels, layout, picture) : DecodeRows(pixels, layout, picture);
    }
    KeepFoundMetadata(picture, BmpMetadata(bytes));
    return decoded.HandOver({missing, layout.height});
}

std::optional<TRowsMissing> ReadBmpStraight(TFileSource &file, TBitmap &into)
{
    // The headers, their masks and the palette lie before the pixels; a
    // file that places its pixels farther on is read whole.
    constexpr std::size_t headers = FileHeaderBytes + V5HeaderBytes + 16;
    constexpr std::size_t farthestPixels = std::size_t(1) << 20;
    std::span<const std::uint8_t> start = file.Start(headers);
    if (start.size() < FileHeaderBytes || !LooksLikeBmp(start)) return std::nullopt;
    const std::uint32_t pixelsAt = GetU32(start.data() + PixelOffsetAt);
    if (pixelsAt > farthestPixels) return std::nullopt;
    // The checks see what they would in the whole file: all up to the pixels.
    start = file.Start(std::max<std::size_t>(headers, pixelsAt));
    const TLayout layout = ReadLayout(start);
    if (!ReadsStraight(layout, file.Size())) return std::nullopt;
    // An embedded profile is kept from the headers' bytes or from those
    // after the rows; one among the rows is left to the whole file's decoding.
    const std::optional<TBmpProfilePlace> profile = BmpProfilePlace(start);
    const std::uint64_t rowsEnd = layout.pixelsAt + std::uint64_t(FileRowBytes(layout)) * std::uint64_t(layout.height);
    const std::uint64_t restAt = std::max<std::uint64_t>(start.size(), rowsEnd);
    const bool profileInStart = profile && profile->at + profile->size <= layout.pixelsAt;
    const bool profileInRest = profile && profile->at >= restAt;
    if (profile && !profileInStart && !profileInRest && profile->at < file.Size()) return std::nullopt;
    // Every byte is read into the rows: the padding too, cleared below.
    // The bitmap keeps its rows in the file's order, so the file's pixel
    // block is the bitmap's, read in one piece: a bottom-up file's rows
    // would otherwise each be a piece of their own, and cost the system a
    // step each.
    TDecodedPicture decoded(into, TPictureFileFormat::Bmp);
    TBitmap &bitmap = decoded.Picture();
    Prepare(layout, start, TFill::None, bitmap, layout.topDown ? TRowOrder::TopDown : TRowOrder::BottomUp);
    const std::size_t stride = bitmap.BytesPerRow();
    const std::span<std::uint8_t> block(bitmap.RowsBlock(0, layout.height), bitmap.ImageBytes());
    // The block's first bytes may have come with the headers.
    const std::size_t held = std::min(start.size() - pixelsAt, block.size());
    if (held > 0) std::memcpy(block.data(), start.data() + pixelsAt, held);
    const std::span<std::uint8_t> unread = block.subspan(held);
    if (!unread.empty()) file.ReadInto({&unread, 1});
    const std::span<const std::uint8_t> rest = file.Finish();
    std::span<const std::uint8_t> profileBytes;
    if (profileInStart) profileBytes = start.subspan(profile->at, profile->size);
    if (profileInRest && profile->at - restAt <= rest.size() && profile->size <= rest.size() - (profile->at - restAt))
        profileBytes = rest.subspan(profile->at - restAt, profile->size);
    const TRowConverter fix(layout);
    const std::size_t written = (static_cast<std::size_t>(layout.width) * BitsPerPixel(layout.format) + 7) / 8;
    // Rows that are the file's byte for byte, unpadded, need no pass.
    if (fix.Fixes(layout.width) || written < stride)
        ForEachBand(layout.height, stride, [&](const TBand &band, unsigned) {
            for (int y = band.first; y < band.end; ++y) {
                fix.Fix(bitmap.Row(y), layout.width);
                std::memset(bitmap.Row(y) + written, 0, stride - written);
            }
        });
    KeepFoundMetadata(bitmap, BmpMetadata(start, profileBytes));
    return decoded.HandOver(WholePicture(bitmap));
}
