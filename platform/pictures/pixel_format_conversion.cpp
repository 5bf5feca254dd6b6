// TBitmap::SetPixelFormat: the whole picture converted in place to another pixel format.
//
// To 15-, 16-, 24- and 32-bit pixels every pixel keeps its colour as GetPixel
// gives it, rounded to 5 or 6 bits a channel where the format has fewer;
// 32-bit pixels come out opaque. To a palette format the first rule that
// applies chooses the palette:
//  - pf8bit, every pixel grey: index i is grey i, each pixel its grey level,
//    so byte operations give grey-level results afterwards;
//  - at most 2, 16 or 256 distinct colours: exactly those colours, in order
//    of first appearance (top row first), each pixel its own colour;
//  - pf8bit and pf4bit, more colours: an adaptive palette (ColourQuantizer),
//    each pixel the entry nearest to it, without dithering; black, white and
//    every picture colour that is an entry keep their exact colour;
//  - pf1bit, more colours: black and white, each pixel the nearer of the two.
// Palette entries the picture does not use are black. The new pixels take a
// picture of their own size; the old ones are freed once it is complete.
#include "platform/pictures/bitmap.h"

#include "platform/pictures/colour_quantizer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PW_CONVERSION_X86 1
#endif

#include "platform/pictures/pixel_format_kernels.h"

#include <bit>

namespace {

using Colours = std::vector<std::uint32_t>;

// Row y's colours as 0x00BBGGRR, one per pixel.
void ReadColours(const TBitmap &bitmap, int y, std::uint32_t *out)
{
    pixel::ReadRow(bitmap.GetPixelFormat(), bitmap.Row(y), bitmap.GetWidth(), bitmap.GetPalette(), out);
}

// The distinct colours of a picture in order of first appearance, as long
// as there are no more than a palette holds.
class DistinctColours {
public:
    explicit DistinctColours(std::size_t capacity) : capacity_(capacity) { keys_.fill(Empty); }

    // The colour's index, the colour added if new; -1 once there are too many.
    int IndexOf(std::uint32_t colour)
    {
        std::uint32_t slot = (colour * 2654435761u) >> 22;
        for (; keys_[slot] != Empty; slot = (slot + 1) & (Slots - 1))
            if (keys_[slot] == colour) return values_[slot];
        if (colours_.size() == capacity_) return -1;
        keys_[slot] = colour;
        values_[slot] = static_cast<std::uint8_t>(colours_.size());
        colours_.push_back(colour);
        allGrey_ &= (colour & 0xFF) == ((colour >> 8) & 0xFF) && (colour & 0xFF) == (colour >> 16);
        return values_[slot];
    }
    const std::vector<std::uint32_t> &Colours() const { return colours_; }
    bool AllGrey() const { return allGrey_; }

private:
    static constexpr std::uint32_t Slots = 1024;
    static constexpr std::uint32_t Empty = 0xFFFFFFFF;
    std::size_t capacity_;
    std::array<std::uint32_t, Slots> keys_;
    std::array<std::uint8_t, Slots> values_{};
    std::vector<std::uint32_t> colours_;
    bool allGrey_ = true;
};

constexpr std::uint32_t SwapRedAndBlue(std::uint32_t c) { return ((c >> 16) & 0xFF) | (c & 0xFF00) | ((c & 0xFF) << 16); }

// Indices of one row's colours, key(x) giving pixel x's colour as a 24-bit
// key B | G << 8 | R << 16 (the byte order of 24- and 32-bit pixels, read
// without reordering). A run of one colour is looked up once. False as soon
// as there are too many colours.
template <typename Key>
bool IndexRow(int width, Key key, DistinctColours &distinct, std::uint8_t *out)
{
    std::uint32_t previous = 0xFFFFFFFF;
    int index = 0;
    for (int x = 0; x < width; ++x) {
        const std::uint32_t colour = key(x);
        if (colour != previous) {
            index = distinct.IndexOf(colour);
            if (index < 0) return false;
            previous = colour;
        }
        out[x] = static_cast<std::uint8_t>(index);
    }
    return true;
}

// IndexRow for 32-bit pixels, which skips eight at a time through runs of
// one colour.
bool IndexRow32(const std::uint8_t *row, int width, DistinctColours &distinct, std::uint8_t *out)
{
    auto key = [row](int x) {
        std::uint32_t v;
        std::memcpy(&v, row + 4 * x, 4);
        return v & 0xFFFFFF;
    };
    std::uint32_t previous = 0xFFFFFFFF;
    std::uint8_t index = 0;
    for (int x = 0; x < width;) {
#ifdef __SSE2__
        if (x + 8 <= width) {
            const __m128i same = _mm_set1_epi32(static_cast<int>(previous)), mask = _mm_set1_epi32(0xFFFFFF);
            const __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(row + 4 * x)), mask);
            const __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(row + 4 * x + 16)), mask);
            if (_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi32(a, same), _mm_cmpeq_epi32(b, same))) == 0xFFFF) {
                std::memset(out + x, index, 8);
                x += 8;
                continue;
            }
        }
#endif
        for (const int end = std::min(x + 8, width); x < end; ++x) {
            const std::uint32_t colour = key(x);
            if (colour != previous) {
                const int found = distinct.IndexOf(colour);
                if (found < 0) return false;
                index = static_cast<std::uint8_t>(found);
                previous = colour;
            }
            out[x] = index;
        }
    }
    return true;
}

#ifdef PW_CONVERSION_X86
// Byte lanes i..31 set, for i = 0..32: where a run that starts at lane i
// covers the rest of a block.
constexpr std::array<std::array<std::uint8_t, 32>, 33> LanesFrom = [] {
    std::array<std::array<std::uint8_t, 32>, 33> t{};
    for (std::size_t i = 0; i <= 32; ++i)
        for (std::size_t j = i; j < 32; ++j) t[i][j] = 0xFF;
    return t;
}();

// Pixels x..x+7 as 24-bit keys.
__attribute__((target("avx2"), always_inline)) inline __m256i EightKeys(const std::uint8_t *row, int x)
{
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + 4 * static_cast<std::size_t>(x)));
    return _mm256_and_si256(pixels, _mm256_set1_epi32(0xFFFFFF));
}

// IndexRow32 a block of 32 pixels at a time: a mask marks the pixels whose
// colour differs from their left neighbour's, and only those are looked
// up; the block's 32 indices are put together in a register and stored once.
__attribute__((target("avx2"))) bool IndexRow32Avx2(const std::uint8_t *row, int width, DistinctColours &distinct,
                                                    std::uint8_t *out)
{
    if (width <= 0) return true;
    auto key = [row](int x) {
        std::uint32_t v;
        std::memcpy(&v, row + 4 * static_cast<std::size_t>(x), 4);
        return v & 0xFFFFFF;
    };
    std::uint32_t previous = key(0);
    int found = distinct.IndexOf(previous);
    if (found < 0) return false;
    std::uint8_t index = static_cast<std::uint8_t>(found);
    out[0] = index;
    int x = 1;
    for (; x + 32 <= width; x += 32) {
        std::uint32_t changes = 0;
        for (int k = 0; k < 4; ++k) {
            const __m256i same = _mm256_cmpeq_epi32(EightKeys(row, x + 8 * k), EightKeys(row, x + 8 * k - 1));
            const unsigned bits = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(same)));
            changes |= (~bits & 0xFFu) << (8 * k);
        }
        __m256i indices = _mm256_set1_epi8(static_cast<char>(index));
        for (; changes != 0; changes &= changes - 1) {
            const int lane = std::countr_zero(changes);
            found = distinct.IndexOf(key(x + lane));
            if (found < 0) return false;
            index = static_cast<std::uint8_t>(found);
            const __m256i lanes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(LanesFrom[static_cast<std::size_t>(lane)].data()));
            indices = _mm256_blendv_epi8(indices, _mm256_set1_epi8(static_cast<char>(index)), lanes);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), indices);
    }
    previous = key(x - 1);
    for (; x < width; ++x) {
        const std::uint32_t colour = key(x);
        if (colour != previous) {
            found = distinct.IndexOf(colour);
            if (found < 0) return false;
            index = static_cast<std::uint8_t>(found);
            previous = colour;
        }
        out[x] = index;
    }
    return true;
}
#endif

constexpr TVectorKernels IndexKernels{TVectorLevel::Avx2};

pixel_format::IndexKernel &ChosenKernel()
{
    static pixel_format::IndexKernel kernel = IndexKernels.Fastest();
    return kernel;
}

bool IndexRow32With(const std::uint8_t *row, int width, DistinctColours &distinct, std::uint8_t *out)
{
#ifdef PW_CONVERSION_X86
    if (ChosenKernel() == pixel_format::IndexKernel::Avx2) return IndexRow32Avx2(row, width, distinct, out);
#endif
    return IndexRow32(row, width, distinct, out);
}

// First attempt for palette targets: every pixel its own colour's index.
// False, with the target partly written, when the picture has more colours
// than the palette holds.
bool ConvertExactly(const TBitmap &source, TBitmap &target, Colours &colours, std::vector<std::uint8_t> &indices)
{
    const int width = source.GetWidth(), height = source.GetHeight();
    const TPixelFormat format = target.GetPixelFormat();
    DistinctColours distinct(static_cast<std::size_t>(target.PaletteSize()));
    for (int y = 0; y < height; ++y) {
        std::uint8_t *out = format == pf8bit ? target.Row(y) : indices.data();
        const std::uint8_t *row = source.Row(y);
        bool fits;
        if (source.GetPixelFormat() == pf32bit) {
            fits = IndexRow32With(row, width, distinct, out);
        } else if (source.GetPixelFormat() == pf24bit) {
            fits = IndexRow(width, [row](int x) {
                const std::uint8_t *p = row + 3 * x;
                return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
            }, distinct, out);
        } else {
            ReadColours(source, y, colours.data());
            fits = IndexRow(width, [&colours](int x) { return SwapRedAndBlue(colours[static_cast<std::size_t>(x)]); },
                            distinct, out);
        }
        if (!fits) return false;
        if (format != pf8bit) pixel::PackIndices(format, indices.data(), target.Row(y), width);
    }

    TPalette palette{};
    const std::vector<std::uint32_t> &found = distinct.Colours();
    if (format == pf8bit && distinct.AllGrey()) {
        // Indices become grey levels: entry i is grey i.
        std::array<std::uint8_t, 256> level{};
        for (std::size_t i = 0; i < found.size(); ++i) level[i] = static_cast<std::uint8_t>(found[i] & 0xFF);
        for (int y = 0; y < height; ++y) {
            std::uint8_t *row = target.Row(y);
            for (int x = 0; x < width; ++x) row[x] = level[row[x]];
        }
        palette = GreyLevels;
    } else {
        for (std::size_t i = 0; i < found.size(); ++i) palette[i] = static_cast<TColor>(SwapRedAndBlue(found[i]));
    }
    target.SetPalette(palette);
    return true;
}

// Rows given to the quantizer: all of them unless the picture has more
// pixels than it counts, then an even sample.
int SampleStep(const TBitmap &bitmap)
{
    const std::size_t pixels = static_cast<std::size_t>(bitmap.GetWidth()) * static_cast<std::size_t>(bitmap.GetHeight());
    const std::size_t perRow = static_cast<std::size_t>(std::max(bitmap.GetWidth(), 1));
    const std::size_t rows = std::max<std::size_t>(ColourQuantizer::MaxCounted / perRow, 1);
    const std::size_t height = static_cast<std::size_t>(bitmap.GetHeight());
    return pixels <= ColourQuantizer::MaxCounted ? 1 : static_cast<int>((height + rows - 1) / rows);
}

void ConvertAdaptive(const TBitmap &source, TBitmap &target, Colours &colours, std::vector<std::uint8_t> &indices)
{
    const int width = source.GetWidth(), height = source.GetHeight();
    const TPixelFormat format = target.GetPixelFormat();
    ColourQuantizer quantizer(target.PaletteSize());
    const int step = SampleStep(source);
    for (int y = 0; y < height; ++y) {
        ReadColours(source, y, colours.data());
        if (y % step == 0)
            quantizer.Add(colours.data(), colours.size());
        else
            quantizer.Notice(colours.data(), colours.size());
    }
    quantizer.Build();
    TPalette palette{};
    std::copy(quantizer.Palette().begin(), quantizer.Palette().end(), palette.begin());
    target.SetPalette(palette);
    for (int y = 0; y < height; ++y) {
        ReadColours(source, y, colours.data());
        std::uint8_t *out = format == pf8bit ? target.Row(y) : indices.data();
        quantizer.Map(colours.data(), out, colours.size());
        if (format != pf8bit) pixel::PackIndices(format, indices.data(), target.Row(y), width);
    }
}

// Black or white, whichever is nearer (black on a tie, as PaletteIndexOf).
void ConvertBlackAndWhite(const TBitmap &source, TBitmap &target, Colours &colours, std::vector<std::uint8_t> &indices)
{
    const int width = source.GetWidth(), height = source.GetHeight();
    TPalette palette{};
    palette[1] = clWhite;
    target.SetPalette(palette);
    for (int y = 0; y < height; ++y) {
        ReadColours(source, y, colours.data());
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = colours[static_cast<std::size_t>(x)];
            const unsigned sum = (c & 0xFF) + ((c >> 8) & 0xFF) + ((c >> 16) & 0xFF);
            indices[static_cast<std::size_t>(x)] = sum * 2 > 3 * 255 ? 1 : 0;
        }
        pixel::PackIndices(pf1bit, indices.data(), target.Row(y), width);
    }
}

} // namespace

bool pixel_format::Available(IndexKernel kernel) { return IndexKernels.Available(kernel); }

void pixel_format::UseIndexKernel(IndexKernel kernel) { ChosenKernel() = IndexKernels.Usable(kernel); }

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == pfDevice) format = pf32bit;
    if (format == pfCustom) throw Exception(QStringLiteral("a bitmap cannot take a custom pixel format"));
    if (format == format_) return;

    // Every row's pixel bytes are written below, and its padding at the end.
    TBitmap target;
    target.AllocateForOverwrite(width_, height_, format);
    const std::size_t width = static_cast<std::size_t>(width_);
    Colours colours(width);
    if (!HasPalette(format)) {
        for (int y = 0; y < height_; ++y) {
            ReadColours(*this, y, colours.data());
            pixel::WriteRow(format, colours.data(), target.Row(y), width_);
        }
    } else {
        std::vector<std::uint8_t> indices(width);
        if (!ConvertExactly(*this, target, colours, indices)) {
            if (format == pf1bit)
                ConvertBlackAndWhite(*this, target, colours, indices);
            else
                ConvertAdaptive(*this, target, colours, indices);
        }
    }
    const std::size_t used = (width * static_cast<std::size_t>(BitsPerPixel(format)) + 7) / 8;
    const std::size_t padding = target.BytesPerRow() - used;
    if (padding > 0)
        for (int y = 0; y < height_; ++y) std::memset(target.Row(y) + used, 0, padding);
    // The same picture in another form: what its file carried stays, the
    // profile too, as the new colours were read in its space.
    target.metadata_ = metadata_;
    TakeOver(target);
}
