// TBitmap: allocation, copying, palette and row access.
#include "platform/pictures/bitmap.h"

#include "platform/base/huge_pages.h"
#include "platform/pictures/canvas.h"

#include <bitset>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

std::size_t TBitmap::RowBytes(int width, TPixelFormat format)
{
    const std::size_t bits = static_cast<std::size_t>(width) * static_cast<std::size_t>(BitsPerPixel(format));
    return (bits + 31) / 32 * 4;
}

void TBitmap::Allocate(int width, int height, TPixelFormat format, TRowOrder order)
{
    AllocatePixels(width, height, format, TFill::Zeroes, order);
}

void TBitmap::AllocateForOverwrite(int width, int height, TPixelFormat format, TRowOrder order)
{
    AllocatePixels(width, height, format, TFill::None, order);
}

void TBitmap::LayRows(TRowOrder order)
{
    const auto stride = static_cast<std::ptrdiff_t>(stride_);
    const bool bottomUp = order == TRowOrder::BottomUp && height_ > 0;
    top_ = pixels_.get() + (bottomUp ? stride * (height_ - 1) : 0);
    step_ = bottomUp ? -stride : stride;
}

bool TBitmap::SizeFits(int width, int height, TPixelFormat format)
{
    if (width < 0 || height < 0) return false;
    // A picture of no rows still has a row size that others compute with.
    const std::size_t stride = RowBytes(width, format == pfDevice ? pf32bit : format);
    return stride < MaxPixelBytes && (height == 0 || stride <= (MaxPixelBytes - 1) / static_cast<std::size_t>(height));
}

QString TBitmap::TooLargeReason(int width, int height, TPixelFormat format)
{
    const double bytes = static_cast<double>(RowBytes(width, format == pfDevice ? pf32bit : format)) * height;
    return QStringLiteral("the picture is %1 x %2 pixels, which would take %3 MiB; this program handles pictures of less than %4 MiB")
        .arg(width).arg(height).arg(std::ceil(bytes / double(1 << 20)), 0, 'f', 0).arg(MaxPixelBytes >> 20);
}

void TBitmap::AllocatePixels(int width, int height, TPixelFormat format, TFill fill, TRowOrder order)
{
    if (format == pfDevice) format = pf32bit;
    if (format == pfCustom) throw Exception(QStringLiteral("a bitmap cannot take a custom pixel format"));
    if (width < 0 || height < 0)
        throw Exception(QStringLiteral("invalid picture size %1 x %2").arg(width).arg(height));
    if (!SizeFits(width, height, format)) throw Exception(TooLargeReason(width, height, format));
    const std::size_t stride = RowBytes(width, format);
    const std::size_t bytes = stride * static_cast<std::size_t>(height);
    // calloc: large blocks come zeroed from the system without an extra
    // pass. A block malloc recycles is not zero, which calloc must then
    // clear: a decoder that writes every byte spares that pass.
    TMallocPtr<std::uint8_t[]> pixels;
    if (bytes > 0) {
        if (fill == TFill::Zeroes) {
            pixels.reset(static_cast<std::uint8_t *>(std::calloc(bytes + Slack, 1)));
        } else {
            pixels.reset(static_cast<std::uint8_t *>(std::malloc(bytes + Slack)));
            if (pixels) std::memset(pixels.get() + bytes, 0, Slack);
        }
        if (!pixels)
            throw Exception(QStringLiteral("not enough memory for a picture of %1 x %2 pixels (%3 MiB)")
                                .arg(width).arg(height).arg((bytes + (1 << 20) - 1) >> 20));
        PreferHugePages(pixels.get(), bytes);
    }
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    format_ = format;
    alpha_ = TAlphaChannel::Used;
    stride_ = stride;
    LayRows(order);
    ForgetPaletteLookups();
    Changed();
}

void TBitmap::Assign(const TBitmap *source)
{
    if (!source || source == this) return;
    TMallocPtr<std::uint8_t[]> pixels;
    const std::size_t bytes = source->ImageBytes();
    if (bytes > 0) {
        pixels.reset(static_cast<std::uint8_t *>(std::malloc(bytes + Slack)));
        if (!pixels)
            throw Exception(QStringLiteral("not enough memory to copy a picture of %1 x %2 pixels")
                                .arg(source->width_).arg(source->height_));
        PreferHugePages(pixels.get(), bytes);
        std::memcpy(pixels.get(), source->pixels_.get(), bytes);
        std::memset(pixels.get() + bytes, 0, Slack);
    }
    pixels_ = std::move(pixels);
    width_ = source->width_;
    height_ = source->height_;
    format_ = source->format_;
    alpha_ = source->alpha_;
    stride_ = source->stride_;
    // The block is copied as it lies, so its rows keep their order.
    LayRows(source->GetRowOrder());
    palette_ = source->palette_;
    metadata_ = source->metadata_;
    ForgetPaletteLookups();
    Changed();
}

void TBitmap::TakeOver(TBitmap &source)
{
    if (&source == this) return;
    pixels_ = std::move(source.pixels_);
    width_ = std::exchange(source.width_, 0);
    height_ = std::exchange(source.height_, 0);
    format_ = source.format_;
    alpha_ = source.alpha_;
    stride_ = std::exchange(source.stride_, 0);
    top_ = std::exchange(source.top_, nullptr);
    step_ = std::exchange(source.step_, 0);
    palette_ = source.palette_;
    metadata_ = std::exchange(source.metadata_, {});
    // Made for the palette and format taken; the source, empty, needs none.
    paletteLookups_ = std::move(source.paletteLookups_);
    recentMultiplier_ = source.recentMultiplier_;
    Changed();
}

void TBitmap::SetMetadata(TPictureMetadata metadata)
{
    metadata_ = std::move(metadata);
    Changed();
}

std::uint8_t *TBitmap::GetScanline(int y)
{
    if (y < 0 || y >= height_)
        throw Exception(QStringLiteral("scan line %1 is outside the picture of %2 rows").arg(y).arg(height_));
    return Row(y);
}

const std::uint8_t *TBitmap::GetScanline(int y) const
{
    return const_cast<TBitmap *>(this)->GetScanline(y);
}

void TBitmap::SetPalette(const TPalette &palette)
{
    palette_ = palette;
    for (TColor &c : palette_) c &= 0xFFFFFF;
    ForgetPaletteLookups();
    Changed();
}

void TBitmap::SetPaletteEntry(int index, TColor colour)
{
    if (index < 0 || index >= 256) return;
    palette_[index] = colour & 0xFFFFFF;
    ForgetPaletteLookups();
    Changed();
}

int TBitmap::PaletteSize() const
{
    switch (format_) {
    case pf1bit: return 2;
    case pf4bit: return 16;
    case pf8bit: return 256;
    default: return 0;
    }
}

// Made again with every palette and format, so that the lookups of
// NearestPaletteIndex only read.
void TBitmap::ForgetPaletteLookups() const
{
    if (Empty() || PaletteSize() == 0) {
        paletteLookups_.reset();
        return;
    }
    // Every entry that is read is written below.
    if (!paletteLookups_) paletteLookups_ = std::make_unique_for_overwrite<PaletteLookups>();
    PaletteLookups &lookups = *paletteLookups_;
    // The palette's distinct colours, each with its lowest index, as the
    // search gives it.
    std::array<int, 256> distinct;
    int count = 0;
    lookups.exact.Clear();
    for (int i = 0; i < PaletteSize(); ++i) {
        const auto colour = static_cast<std::uint32_t>(palette_[static_cast<std::size_t>(i)]);
        if (lookups.exact.Add(colour, static_cast<std::uint8_t>(i)) != i) continue;
        distinct[static_cast<std::size_t>(count++)] = i;
    }
    // The first of a fixed sequence of multipliers under which those
    // colours take slots of their own, else the one with the fewest
    // shared (with 256 colours, one in seven multipliers shares none), so
    // that painting in the palette's colours never misses. The high bit
    // set gives colour 1 another slot than colour 0's, slot 0.
    constexpr int shift = 32 - RecentBits;
    std::uint32_t seed = 2654435761u, best = seed | 0x80000001u;
    int fewest = count + 1;
    for (int attempt = 0; attempt < 32 && fewest > 0; ++attempt) {
        const std::uint32_t multiplier = seed | 0x80000001u;
        seed = seed * 1664525u + 1013904223u;
        std::bitset<std::size_t(1) << RecentBits> taken;
        int shared = 0;
        for (int k = 0; k < count; ++k) {
            const auto colour = static_cast<std::uint32_t>(palette_[static_cast<std::size_t>(distinct[static_cast<std::size_t>(k)])]);
            const std::size_t slot = (colour * multiplier) >> shift;
            shared += taken[slot];
            taken[slot] = true;
        }
        if (shared < fewest) fewest = shared, best = multiplier;
    }
    recentMultiplier_ = best;
    // An empty slot holds a colour whose own slot is another (colour 0's
    // slot is 0, colour 1's is not), so no lookup ever finds it.
    lookups.recentColours.fill(RecentColour{0});
    lookups.recentColours[0] = RecentColour{1};
    for (int k = count - 1; k >= 0; --k) {
        const int index = distinct[static_cast<std::size_t>(k)];
        const auto colour = static_cast<std::uint32_t>(palette_[static_cast<std::size_t>(index)]);
        const std::size_t slot = (colour * best) >> shift;
        lookups.recentColours[slot] = RecentColour{colour};
        lookups.recentIndices[slot] = static_cast<char8_t>(index);
    }
}

std::uint32_t TBitmap::NearestPaletteEntry(std::uint32_t colour) const
{
    return colour << 8 | NearestPaletteIndex(static_cast<TColor>(colour));
}

std::uint8_t TBitmap::NearestPaletteIndex(TColor colour) const
{
    // The exact table, where there is one, finds what the search below would.
    if (const PaletteLookups *lookups = paletteLookups_.get()) {
        const int exact = lookups->exact.Find(static_cast<std::uint32_t>(colour));
        if (exact >= 0) return static_cast<std::uint8_t>(exact);
    }
    const int entries = PaletteSize();
    int best = 0;
    long bestDistance = std::numeric_limits<long>::max();
    for (int i = 0; i < entries; ++i) {
        const TColor p = palette_[i];
        const long dr = GetRValue(p) - GetRValue(colour);
        const long dg = GetGValue(p) - GetGValue(colour);
        const long db = GetBValue(p) - GetBValue(colour);
        const long distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return static_cast<std::uint8_t>(best);
}

std::uint64_t TBitmap::OtherFormatStore(const std::uint8_t *row, int x, TColor colour) const
{
    // Without the recent lookups, which this may not write: these palettes
    // hold at most 16 entries.
    // One byte is stored twice at its offset; two go one after the other.
    const auto once = [](int offset, unsigned byte) { return static_cast<std::uint64_t>(offset) << 17 | byte << 8 | byte; };
    const auto pair = [](int offset, unsigned bytes) { return static_cast<std::uint64_t>(offset) << 17 | 1u << 16 | bytes; };
    switch (format_) {
    case pf1bit: return once(pixel::IndexByteOffset<pf1bit>(x), pixel::WithIndex<pf1bit>(row, x, NearestPaletteIndex(colour & 0xFFFFFF)));
    case pf4bit: return once(pixel::IndexByteOffset<pf4bit>(x), pixel::WithIndex<pf4bit>(row, x, NearestPaletteIndex(colour & 0xFFFFFF)));
    case pf15bit: return pair(2 * x, pixel::Packed16<pf15bit>(colour));
    case pf16bit: return pair(2 * x, pixel::Packed16<pf16bit>(colour));
    default: return once(0, row[0]); // not reached: leaves the row as it was
    }
}

TCanvas *TBitmap::GetCanvas()
{
    if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
    return canvas_.get();
}

void TBitmap::Changed()
{
    if (onChange_) onChange_();
}

bool AnyTranslucent(const TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const std::uint8_t *row = bitmap.Row(y);
        for (int x = 0; x < width; ++x)
            if (row[4 * x + 3] != 255) return true;
    }
    return false;
}
