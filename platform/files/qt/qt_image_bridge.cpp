// The bridge between QImage and our bitmaps: decoded images into the
// smallest bitmap that holds them, bitmaps into images for Qt's writers.
#include "platform/files/qt/qt_image_bridge.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

TColor ColourOf(QRgb rgb) { return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb)); }
QRgb RgbOf(TColor colour) { return qRgb(GetRValue(colour), GetGValue(colour), GetBValue(colour)); }

// Calls row(y, line) for every row of the image in `format`, where `line`
// holds width pixels of that format and `row` returns false to stop. An
// image in another format is converted a band at a time, never whole.
template <class Row>
void ForEachRowAs(const QImage &image, QImage::Format format, Row row)
{
    const int height = image.height();
    if (image.format() == format) {
        for (int y = 0; y < height; ++y)
            if (!row(y, image.constScanLine(y))) return;
        return;
    }
    const qsizetype stride = image.bytesPerLine();
    const int bandRows = static_cast<int>(std::clamp<qsizetype>((qsizetype(16) << 20) / std::max<qsizetype>(stride, 1), 1, height));
    const QList<QRgb> colours = image.colorTable();
    for (int top = 0; top < height; top += bandRows) {
        const int rows = std::min(bandRows, height - top);
        QImage band(image.constScanLine(top), image.width(), rows, stride, image.format());
        if (!colours.isEmpty()) band.setColorTable(colours);
        const QImage converted = band.convertToFormat(format);
        if (converted.isNull()) throw Exception(NotEnoughMemoryTo(TMemoryUse::ConvertingThePicture));
        for (int y = 0; y < rows; ++y)
            if (!row(top + y, converted.constScanLine(y))) return;
    }
}

bool AnyPixelTranslucent(const QImage &image)
{
    if (!image.hasAlphaChannel()) return false;
    const int width = image.width();
    bool translucent = false;
    ForEachRowAs(image, QImage::Format_ARGB32, [&](int, const uchar *line) {
        for (int x = 0; x < width; ++x)
            if (line[4 * x + 3] != 255) {
                translucent = true;
                return false;
            }
        return true;
    });
    return translucent;
}

bool AllGrey(const QList<QRgb> &colours)
{
    return std::all_of(colours.begin(), colours.end(), [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); });
}

void FillMono(const QImage &image, TBitmap &bitmap)
{
    static constexpr std::array<std::uint8_t, 256> Reversed = [] {
        std::array<std::uint8_t, 256> table{};
        for (int v = 0; v < 256; ++v) {
            int r = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (v & (1 << bit)) r |= 0x80 >> bit;
            table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(r);
        }
        return table;
    }();
    const int width = bitmap.GetWidth();
    const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
    // Bits past the last pixel are cleared so that equal pictures have equal rows.
    const std::uint8_t lastMask = static_cast<std::uint8_t>(0xFF00 >> (width % 8 ? width % 8 : 8));
    const bool lsbFirst = image.format() == QImage::Format_MonoLSB;
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uchar *source = image.constScanLine(y);
        std::uint8_t *row = bitmap.Row(y);
        if (lsbFirst)
            for (std::size_t i = 0; i < bytes; ++i) row[i] = Reversed[source[i]];
        else
            std::memcpy(row, source, bytes);
        row[bytes - 1] &= lastMask;
    }
}

void FillIndexed(const QImage &image, TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        std::memcpy(bitmap.Row(y), image.constScanLine(y), static_cast<std::size_t>(width));
}

// Indices through a table of grey levels; indices past the table read black.
void FillGreyIndexed(const QImage &image, const QList<QRgb> &colours, TBitmap &bitmap)
{
    std::array<std::uint8_t, 256> grey{};
    for (qsizetype i = 0; i < std::min<qsizetype>(colours.size(), 256); ++i)
        grey[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(qRed(colours[i]));
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uchar *source = image.constScanLine(y);
        std::uint8_t *row = bitmap.Row(y);
        for (int x = 0; x < width; ++x) row[x] = grey[source[x]];
    }
}

void FillCopies(const QImage &image, QImage::Format format, TBitmap &bitmap)
{
    const std::size_t bytes = static_cast<std::size_t>(bitmap.GetWidth()) * BitsPerPixel(bitmap.GetPixelFormat()) / 8;
    ForEachRowAs(image, format, [&](int y, const uchar *line) {
        std::memcpy(bitmap.Row(y), line, bytes);
        return true;
    });
}

// 32-bit pixels, B, G, R, X in memory, to our B, G, R.
void FillFrom32(const QImage &image, TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uchar *source = image.constScanLine(y);
        std::uint8_t *row = bitmap.Row(y);
        for (int x = 0; x < width; ++x, source += 4, row += 3) {
            row[0] = source[0];
            row[1] = source[1];
            row[2] = source[2];
        }
    }
}

void SetColourTable(QImage &image, const TBitmap &bitmap, int entries)
{
    QList<QRgb> colours(entries);
    for (int i = 0; i < entries; ++i) colours[i] = RgbOf(bitmap.GetPalette()[static_cast<std::size_t>(i)]);
    image.setColorTable(colours);
}

} // namespace

QImage Indexed8CopyOf(const TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    QImage image(width, bitmap.GetHeight(), QImage::Format_Indexed8);
    if (image.isNull()) throw Exception(NotEnoughMemoryTo(TMemoryUse::ConvertingThePicture));
    const TPixelFormat format = bitmap.GetPixelFormat();
    for (int y = 0; y < bitmap.GetHeight(); ++y) pixel::UnpackIndices(format, bitmap.Row(y), width, image.scanLine(y));
    SetColourTable(image, bitmap, bitmap.PaletteSize());
    return image;
}

QImage WidenedCopyOf(const TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    QImage image(width, bitmap.GetHeight(), QImage::Format_BGR888);
    if (image.isNull()) throw Exception(NotEnoughMemoryTo(TMemoryUse::ConvertingThePicture));
    const bool six = bitmap.GetPixelFormat() == pf16bit;
    const TPalette &palette = bitmap.GetPalette();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const std::uint8_t *row = bitmap.Row(y);
        uchar *line = image.scanLine(y);
        for (int x = 0; x < width; ++x, line += 3) {
            const std::uint32_t rgb = six ? pixel::Read<pf16bit, pixel::TOrder::Rgb>(row, x, palette)
                                          : pixel::Read<pf15bit, pixel::TOrder::Rgb>(row, x, palette);
            line[0] = static_cast<uchar>(rgb);
            line[1] = static_cast<uchar>(rgb >> 8);
            line[2] = static_cast<uchar>(rgb >> 16);
        }
    }
    return image;
}

void BitmapFromQImage(const QImage &image, TBitmap &bitmap)
{
    if (image.isNull()) {
        TBitmap none;
        bitmap.TakeOver(none);
        return;
    }
    const int width = image.width(), height = image.height();
    const QImage::Format format = image.format();
    const QList<QRgb> colours = image.colorTable();
    const bool indexed = format == QImage::Format_Mono || format == QImage::Format_MonoLSB || format == QImage::Format_Indexed8;

    if (AnyPixelTranslucent(image)) {
        bitmap.Allocate(width, height, pf32bit);
        FillCopies(image, QImage::Format_ARGB32, bitmap);
    } else if (indexed) {
        const bool grey = format == QImage::Format_Indexed8 && AllGrey(colours);
        bitmap.Allocate(width, height, format == QImage::Format_Indexed8 ? pf8bit : pf1bit);
        if (grey) {
            bitmap.SetPalette(GreyLevels);
            FillGreyIndexed(image, colours, bitmap);
        } else {
            TPalette palette{};
            for (qsizetype i = 0; i < std::min<qsizetype>(colours.size(), bitmap.PaletteSize()); ++i)
                palette[static_cast<std::size_t>(i)] = ColourOf(colours[i]);
            bitmap.SetPalette(palette);
            if (format == QImage::Format_Indexed8)
                FillIndexed(image, bitmap);
            else
                FillMono(image, bitmap);
        }
    } else if (format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16) {
        bitmap.Allocate(width, height, pf8bit);
        bitmap.SetPalette(GreyLevels);
        FillCopies(image, QImage::Format_Grayscale8, bitmap);
    } else {
        bitmap.Allocate(width, height, pf24bit);
        // The readers' usual forms are copied directly; the rest through Qt's conversion.
        if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32)
            FillFrom32(image, bitmap);
        else
            FillCopies(image, QImage::Format_BGR888, bitmap);
    }
}

QImage QImageOverRows(const TBitmap &bitmap, QImage::Format format)
{
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const auto stride = static_cast<qsizetype>(bitmap.BytesPerRow());
    if (bitmap.GetRowOrder() == TRowOrder::TopDown) return QImage(bitmap.Row(0), width, height, stride, format);
    // A QImage's rows go down in memory: rows kept bottom up are copied.
    QImage image(width, height, format);
    if (image.isNull()) throw Exception(NotEnoughMemoryTo(TMemoryUse::ConvertingThePicture));
    const auto bytes = static_cast<std::size_t>(std::min(stride, image.bytesPerLine()));
    for (int y = 0; y < height; ++y) std::memcpy(image.scanLine(y), bitmap.Row(y), bytes);
    return image;
}

QImage QImageFromBitmap(const TBitmap &bitmap)
{
    if (bitmap.Empty()) return {};
    switch (bitmap.GetPixelFormat()) {
    case pf1bit: {
        QImage image = QImageOverRows(bitmap, QImage::Format_Mono);
        SetColourTable(image, bitmap, 2);
        return image;
    }
    case pf8bit: {
        QImage image = QImageOverRows(bitmap, QImage::Format_Indexed8);
        SetColourTable(image, bitmap, 256);
        return image;
    }
    case pf4bit: return Indexed8CopyOf(bitmap);
    case pf15bit: return QImageOverRows(bitmap, QImage::Format_RGB555);
    case pf16bit: return QImageOverRows(bitmap, QImage::Format_RGB16);
    case pf24bit: return QImageOverRows(bitmap, QImage::Format_BGR888);
    case pf32bit: return QImageOverRows(bitmap, QImage::Format_ARGB32);
    default: return {};
    }
}

bool MemoryRunsShort(QSize size, QImage::Format format)
{
    return QImage(size, format == QImage::Format_Invalid ? QImage::Format_ARGB32 : format).isNull();
}
