// TBitmap: allocation, copying, palette and row access.
#include "bitmap.h"

#include "canvas.h"

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

void TBitmap::Allocate(int width, int height, TPixelFormat format)
{
    if (format == pfDevice) format = pf32bit;
    if (format == pfCustom) throw Exception(QStringLiteral("A bitmap cannot take a custom pixel format"));
    if (width < 0 || height < 0)
        throw Exception(QStringLiteral("Invalid picture size %1 x %2").arg(width).arg(height));
    const std::size_t stride = RowBytes(width, format);
    if (height > 0 && stride > MaxPixelBytes / static_cast<std::size_t>(height))
        throw Exception(QStringLiteral("A picture of %1 x %2 pixels at %3 bits a pixel is too large: "
                                       "this program handles pictures of up to %4 MiB")
                            .arg(width).arg(height).arg(BitsPerPixel(format)).arg(MaxPixelBytes >> 20));
    const std::size_t bytes = stride * static_cast<std::size_t>(height);
    // calloc: large blocks come zeroed from the system without an extra pass.
    std::unique_ptr<std::uint8_t[], FreeDeleter> pixels;
    if (bytes > 0) {
        pixels.reset(static_cast<std::uint8_t *>(std::calloc(bytes, 1)));
        if (!pixels)
            throw Exception(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels (%3 MiB)")
                                .arg(width).arg(height).arg((bytes + (1 << 20) - 1) >> 20));
    }
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    format_ = format;
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
        pixels.reset(static_cast<std::uint8_t *>(std::malloc(bytes)));
        if (!pixels)
            throw Exception(QStringLiteral("Not enough memory to copy a picture of %1 x %2 pixels")
                                .arg(source->width_).arg(source->height_));
        std::memcpy(pixels.get(), source->pixels_.get(), bytes);
    }
    pixels_ = std::move(pixels);
    width_ = source->width_;
    height_ = source->height_;
    format_ = source->format_;
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
    stride_ = std::exchange(source.stride_, 0);
    palette_ = source.palette_;
    ForgetPaletteLookups();
    source.ForgetPaletteLookups();
    Changed();
}

std::uint8_t *TBitmap::GetScanline(int y)
{
    if (y < 0 || y >= height_)
        throw Exception(QStringLiteral("Scan line %1 is outside the picture of %2 rows").arg(y).arg(height_));
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
    if (!paletteLookups_) paletteLookups_ = std::make_unique<std::array<CacheEntry, CacheSize>>();
    paletteLookups_->fill({-1, 0});
}

std::uint8_t TBitmap::NearestPaletteIndex(TColor colour) const
{
    const int entries = PaletteSize();
    int best = 0;
    long bestDistance = std::numeric_limits<long>::max();
    for (int i = 0; i < entries; ++i) {
        const TColor p = palette_[i];
        if (p == colour) return static_cast<std::uint8_t>(i);
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

TCanvas *TBitmap::GetCanvas()
{
    if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
    return canvas_.get();
}

void TBitmap::Changed()
{
    if (onChange_) onChange_();
}
