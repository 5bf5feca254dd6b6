// TBitmap: allocation, copying, palette and row access.
#include "platform/pictures/bitmap.h"

#include "platform/pictures/canvas.h"
#include "platform/pictures/huge_pages.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

// The palette lookups exist from the start, so PaletteIndexOf need not check.
TBitmap::TBitmap() { ForgetPaletteLookups(); }
TBitmap::~TBitmap() = default;

std::size_t TBitmap::RowBytes(int width, TPixelFormat format)
{
    const std::size_t bits = static_cast<std::size_t>(width) * static_cast<std::size_t>(BitsPerPixel(format));
    return (bits + 31) / 32 * 4;
}

void TBitmap::Allocate(int width, int height, TPixelFormat format) { AllocatePixels(width, height, format, TFill::Zeroes); }

void TBitmap::AllocateForOverwrite(int width, int height, TPixelFormat format)
{
    AllocatePixels(width, height, format, TFill::None);
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

void TBitmap::AllocatePixels(int width, int height, TPixelFormat format, TFill fill)
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
    std::unique_ptr<std::uint8_t[], FreeDeleter> pixels;
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
    ForgetPaletteLookups();
    Changed();
}

void TBitmap::Assign(const TBitmap *source)
{
    if (!source || source == this) return;
    std::unique_ptr<std::uint8_t[], FreeDeleter> pixels;
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
    palette_ = source->palette_;
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
    palette_ = source.palette_;
    ForgetPaletteLookups();
    source.ForgetPaletteLookups();
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

void TBitmap::ForgetPaletteLookups() const
{
    if (!paletteLookups_) paletteLookups_ = std::make_unique<PaletteLookups>();
    paletteLookups_->recent.fill({-1, 0});
    paletteLookups_->exactMade = false;
}

std::uint8_t TBitmap::NearestPaletteIndex(TColor colour) const
{
    const int entries = PaletteSize();
    PaletteLookups &lookups = *paletteLookups_;
    auto slotOf = [](TColor c) { return (static_cast<std::uint32_t>(c) * 2654435761u) >> 22; };
    if (!lookups.exactMade) {
        // The lowest index of each colour, as the search below gives it.
        lookups.exactColours.fill(-1);
        for (int i = 0; i < entries; ++i) {
            const TColor p = palette_[static_cast<std::size_t>(i)];
            std::uint32_t slot = slotOf(p);
            while (lookups.exactColours[slot] != -1 && lookups.exactColours[slot] != p) slot = (slot + 1) % ExactSlots;
            if (lookups.exactColours[slot] == p) continue;
            lookups.exactColours[slot] = p;
            lookups.exactIndices[slot] = static_cast<std::uint8_t>(i);
        }
        lookups.exactMade = true;
    }
    for (std::uint32_t slot = slotOf(colour); lookups.exactColours[slot] != -1; slot = (slot + 1) % ExactSlots)
        if (lookups.exactColours[slot] == colour) return lookups.exactIndices[slot];
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

TColor TBitmap::OtherFormatPixel(const std::uint8_t *row, int x) const
{
    switch (format_) {
    case pf1bit: return static_cast<TColor>(pixel::Read<pf1bit>(row, x, palette_));
    case pf4bit: return static_cast<TColor>(pixel::Read<pf4bit>(row, x, palette_));
    case pf15bit: return static_cast<TColor>(pixel::Read<pf15bit>(row, x, palette_));
    case pf16bit: return static_cast<TColor>(pixel::Read<pf16bit>(row, x, palette_));
    default: return clBlack;
    }
}

void TBitmap::SetOtherFormatPixel(std::uint8_t *row, int x, TColor colour)
{
    switch (format_) {
    case pf1bit: pixel::SetIndex<pf1bit>(row, x, PaletteIndexOf(colour)); break;
    case pf4bit: pixel::SetIndex<pf4bit>(row, x, PaletteIndexOf(colour)); break;
    case pf15bit: pixel::Write<pf15bit>(row, x, colour); break;
    case pf16bit: pixel::Write<pf16bit>(row, x, colour); break;
    default: break;
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
