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
//  - pf8bit and pf4bit, more colours: an adaptive palette (TColourQuantizer),
//    each pixel the entry nearest to it, without dithering; black, white and
//    every picture colour that is an entry keep their exact colour;
//  - pf1bit, more colours: black and white, each pixel the nearer of the two.
// Palette entries the picture does not use are black. The new pixels take a
// picture of their own size; the old ones are freed once it is complete.
#include "platform/pictures/bitmap.h"

#include "platform/pictures/colour_index_table.h"
#include "platform/pictures/colour_quantizer.h"
#include "platform/base/parallel_pieces.h"
#include "platform/base/vector_kernels.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PW_CONVERSION_X86 1
#endif

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
    explicit DistinctColours(std::size_t capacity) : capacity_(capacity) {}

    // The colour's index, the colour added if new; -1 once there are too many.
    int IndexOf(std::uint32_t colour)
    {
        const int found = indices_.Find(colour);
        if (found >= 0) return found;
        if (colours_.size() == capacity_) return -1;
        const int index = indices_.Add(colour, static_cast<std::uint8_t>(colours_.size()));
        colours_.push_back(colour);
        bands_.push_back(band_);
        allGrey_ &= (colour & 0xFF) == ((colour >> 8) & 0xFF) && (colour & 0xFF) == (colour >> 16);
        return index;
    }
    const std::vector<std::uint32_t> &Colours() const { return colours_; }
    bool AllGrey() const { return allGrey_; }

    // The band of rows the colours added from now on come from, and that of
    // each colour: a thread's colours, tagged so, merge with other threads'
    // into the whole picture's order.
    void StartBand(int band) { band_ = band; }
    const std::vector<int> &Bands() const { return bands_; }

private:
    std::size_t capacity_;
    TColourIndexTable indices_;
    std::vector<std::uint32_t> colours_;
    std::vector<int> bands_;
    int band_ = 0;
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

bool IndexRow32With(TVectorLevel kernel, const std::uint8_t *row, int width, DistinctColours &distinct, std::uint8_t *out)
{
#ifdef PW_CONVERSION_X86
    if (kernel == TVectorLevel::Avx2) return IndexRow32Avx2(row, width, distinct, out);
#endif
    return IndexRow32(row, width, distinct, out);
}

// Per thread: a row of colours read, and a row of indices.
struct TRowBuffers {
    Colours colours;
    std::vector<std::uint8_t> indices;
};

std::vector<TRowBuffers> RowBuffersForEveryThread(int width)
{
    std::vector<TRowBuffers> buffers(WorkerThreads());
    for (TRowBuffers &b : buffers) {
        b.colours.resize(static_cast<std::size_t>(width));
        b.indices.resize(static_cast<std::size_t>(width));
    }
    return buffers;
}

// Indices of a palette target's row y: written into the row itself for
// pf8bit, else into the thread's buffer and packed into the row.
class TIndexedRows {
public:
    explicit TIndexedRows(TBitmap &target) : target_(target), format_(target.GetPixelFormat()) {}
    std::uint8_t *Indices(int y, TRowBuffers &buffers) const { return format_ == pf8bit ? target_.Row(y) : buffers.indices.data(); }
    void Done(int y, const TRowBuffers &buffers) const
    {
        if (format_ != pf8bit) pixel::PackIndices(format_, buffers.indices.data(), target_.Row(y), target_.GetWidth());
    }

private:
    TBitmap &target_;
    TPixelFormat format_;
};

// Row y of the source indexed by `distinct` into `out`: false as soon as
// there are too many colours.
bool IndexSourceRow(TVectorLevel kernel, const TBitmap &source, int y, DistinctColours &distinct, TRowBuffers &buffer, std::uint8_t *out)
{
    const int width = source.GetWidth();
    const std::uint8_t *row = source.Row(y);
    if (source.GetPixelFormat() == pf32bit) return IndexRow32With(kernel, row, width, distinct, out);
    if (source.GetPixelFormat() == pf24bit)
        return IndexRow(width, [row](int x) {
            const std::uint8_t *p = row + 3 * x;
            return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
        }, distinct, out);
    ReadColours(source, y, buffer.colours.data());
    return IndexRow(width, [&buffer](int x) { return SwapRedAndBlue(buffer.colours[static_cast<std::size_t>(x)]); }, distinct, out);
}

// First attempt for palette targets: every pixel its own colour's index.
// False, with the target partly written, when the picture has more colours
// than the palette holds.
//
// Each thread indexes its bands by the colours it met itself, in its own
// order; their lists then merge into the picture's order of first
// appearance, and the bands of a thread whose order differs from the
// picture's are indexed again. Every thread starts from the colours of the
// top rows, indexed first on one thread, which come first in the
// picture's order too: where they are all of its colours, as in most
// pictures of few colours, every thread numbers them as the picture does
// and no band is indexed twice.
bool ConvertExactly(const TBitmap &source, TBitmap &target, std::vector<TRowBuffers> &buffers)
{
    const int width = source.GetWidth(), height = source.GetHeight();
    const TPixelFormat format = target.GetPixelFormat();
    const std::size_t capacity = static_cast<std::size_t>(target.PaletteSize());
    const TIndexedRows rows(target);
    const TVectorLevel kernel = IndexKernels.Chosen();
    // Top rows until one brings no new colour (most pictures of few colours
    // show them all within a few rows), within the first band and a 16th of
    // the picture, so that the work done on one thread stays small.
    DistinctColours top(capacity);
    const int topEnd = height > 0 ? std::min(Band(0, height, source.BytesPerRow()).end, std::max(1, height / 16)) : 0;
    int topRows = 0;
    while (topRows < topEnd) {
        const std::size_t before = top.Colours().size();
        if (!IndexSourceRow(kernel, source, topRows, top, buffers[0], rows.Indices(topRows, buffers[0]))) return false;
        rows.Done(topRows++, buffers[0]);
        if (top.Colours().size() == before) break;
    }
    std::vector<DistinctColours> distinct(buffers.size(), top);
    std::vector<unsigned> bandThread(static_cast<std::size_t>(BandCount(height, source.BytesPerRow())));
    std::atomic<bool> tooMany{false};
    ForEachBand(height, source.BytesPerRow(), [&](const TBand &band, unsigned worker) {
        DistinctColours &mine = distinct[worker];
        mine.StartBand(band.index);
        bandThread[static_cast<std::size_t>(band.index)] = worker;
        TRowBuffers &buffer = buffers[worker];
        for (int y = std::max(band.first, topRows); y < band.end && !tooMany.load(std::memory_order_relaxed); ++y) {
            std::uint8_t *out = rows.Indices(y, buffer);
            if (!IndexSourceRow(kernel, source, y, mine, buffer, out)) tooMany = true;
            else rows.Done(y, buffer);
        }
    });
    if (tooMany) return false;

    // The threads' colours in the picture's order: by band, as no two
    // threads did one band (the top rows' colours, in every thread's list,
    // count as band 0's); each thread's index of a colour becomes the
    // picture's.
    DistinctColours picture(capacity);
    std::vector<std::array<std::uint8_t, 256>> toPicture(distinct.size());
    std::vector<std::size_t> next(distinct.size(), 0);
    for (;;) {
        std::size_t earliest = distinct.size();
        for (std::size_t k = 0; k < distinct.size(); ++k)
            if (next[k] < distinct[k].Colours().size() &&
                (earliest == distinct.size() || distinct[k].Bands()[next[k]] < distinct[earliest].Bands()[next[earliest]]))
                earliest = k;
        if (earliest == distinct.size()) break;
        const std::size_t local = next[earliest]++;
        const int index = picture.IndexOf(distinct[earliest].Colours()[local]);
        if (index < 0) return false;
        toPicture[earliest][local] = static_cast<std::uint8_t>(index);
    }

    TPalette palette{};
    const std::vector<std::uint32_t> &found = picture.Colours();
    // Grey pictures' indices become grey levels: entry i is grey i.
    const bool grey = format == pf8bit && picture.AllGrey();
    std::array<std::uint8_t, 256> level{};
    for (std::size_t i = 0; i < found.size(); ++i) {
        level[i] = grey ? static_cast<std::uint8_t>(found[i] & 0xFF) : static_cast<std::uint8_t>(i);
        if (!grey) palette[i] = static_cast<TColor>(SwapRedAndBlue(found[i]));
    }
    if (grey) palette = GreyLevels;
    // A thread whose indices are already the picture's leaves its bands alone.
    std::vector<bool> unchanged(distinct.size(), true);
    for (std::size_t k = 0; k < distinct.size(); ++k)
        for (std::size_t i = 0; i < distinct[k].Colours().size(); ++i) {
            toPicture[k][i] = level[toPicture[k][i]];
            if (toPicture[k][i] != i) unchanged[k] = false;
        }
    ForEachBand(height, source.BytesPerRow(), [&](const TBand &band, unsigned worker) {
        const unsigned thread = bandThread[static_cast<std::size_t>(band.index)];
        if (unchanged[thread]) return;
        const std::array<std::uint8_t, 256> &map = toPicture[thread];
        TRowBuffers &buffer = buffers[worker];
        for (int y = band.first; y < band.end; ++y) {
            std::uint8_t *indices = format == pf8bit ? target.Row(y) : buffer.indices.data();
            if (format != pf8bit) pixel::UnpackIndices(format, target.Row(y), width, indices);
            for (int x = 0; x < width; ++x) indices[x] = map[indices[x]];
            rows.Done(y, buffer);
        }
    });
    target.SetPalette(palette);
    return true;
}

// Rows given to the quantizer: all of them unless the picture has more
// pixels than it counts, then an even sample.
int SampleStep(const TBitmap &bitmap)
{
    const std::size_t pixels = static_cast<std::size_t>(bitmap.GetWidth()) * static_cast<std::size_t>(bitmap.GetHeight());
    const std::size_t perRow = static_cast<std::size_t>(std::max(bitmap.GetWidth(), 1));
    const std::size_t rows = std::max<std::size_t>(TColourQuantizer::MaxCounted / perRow, 1);
    const std::size_t height = static_cast<std::size_t>(bitmap.GetHeight());
    return pixels <= TColourQuantizer::MaxCounted ? 1 : static_cast<int>((height + rows - 1) / rows);
}

void ConvertAdaptive(const TBitmap &source, TBitmap &target, std::vector<TRowBuffers> &buffers)
{
    const int width = source.GetWidth(), height = source.GetHeight();
    TColourQuantizer quantizer(target.PaletteSize());
    const int step = SampleStep(source);
    std::vector<TColourQuantizer::ColourCounts> counts(buffers.size());
    ForEachBand(height, source.BytesPerRow(), [&](const TBand &band, unsigned worker) {
        std::uint32_t *colours = buffers[worker].colours.data();
        for (int y = band.first; y < band.end; ++y) {
            ReadColours(source, y, colours);
            if (y % step == 0)
                counts[worker].Add(colours, static_cast<std::size_t>(width), std::uint64_t(y / step) * static_cast<std::uint64_t>(width));
            else
                counts[worker].Notice(colours, static_cast<std::size_t>(width));
        }
    });
    quantizer.Build(counts);
    TPalette palette{};
    std::copy(quantizer.Palette().begin(), quantizer.Palette().end(), palette.begin());
    target.SetPalette(palette);
    const TIndexedRows rows(target);
    ForEachBand(height, source.BytesPerRow(), [&](const TBand &band, unsigned worker) {
        TRowBuffers &buffer = buffers[worker];
        for (int y = band.first; y < band.end; ++y) {
            ReadColours(source, y, buffer.colours.data());
            quantizer.Map(buffer.colours.data(), rows.Indices(y, buffer), static_cast<std::size_t>(width));
            rows.Done(y, buffer);
        }
    });
}

// Black or white, whichever is nearer (black on a tie, as PaletteIndexOf).
void ConvertBlackAndWhite(const TBitmap &source, TBitmap &target, std::vector<TRowBuffers> &buffers)
{
    const int width = source.GetWidth(), height = source.GetHeight();
    TPalette palette{};
    palette[1] = clWhite;
    target.SetPalette(palette);
    ForEachBand(height, source.BytesPerRow(), [&](const TBand &band, unsigned worker) {
        TRowBuffers &buffer = buffers[worker];
        for (int y = band.first; y < band.end; ++y) {
            ReadColours(source, y, buffer.colours.data());
            for (int x = 0; x < width; ++x) {
                const std::uint32_t c = buffer.colours[static_cast<std::size_t>(x)];
                const unsigned sum = (c & 0xFF) + ((c >> 8) & 0xFF) + ((c >> 16) & 0xFF);
                buffer.indices[static_cast<std::size_t>(x)] = sum * 2 > 3 * 255 ? 1 : 0;
            }
            pixel::PackIndices(pf1bit, buffer.indices.data(), target.Row(y), width);
        }
    });
}

} // namespace

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == pfDevice) format = pf32bit;
    if (format == pfCustom) throw Exception(QStringLiteral("a bitmap cannot take a custom pixel format"));
    if (format == format_) return;

    // Every row's pixel bytes are written below, and its padding at the end.
    TBitmap target;
    target.AllocateForOverwrite(width_, height_, format);
    std::vector<TRowBuffers> buffers = RowBuffersForEveryThread(width_);
    if (!HasPalette(format)) {
        ForEachBand(height_, stride_, [&](const TBand &band, unsigned worker) {
            std::uint32_t *colours = buffers[worker].colours.data();
            for (int y = band.first; y < band.end; ++y) {
                ReadColours(*this, y, colours);
                pixel::WriteRow(format, colours, target.Row(y), width_);
            }
        });
    } else if (!ConvertExactly(*this, target, buffers)) {
        if (format == pf1bit)
            ConvertBlackAndWhite(*this, target, buffers);
        else
            ConvertAdaptive(*this, target, buffers);
    }
    const std::size_t used = (static_cast<std::size_t>(width_) * static_cast<std::size_t>(BitsPerPixel(format)) + 7) / 8;
    const std::size_t padding = target.BytesPerRow() - used;
    if (padding > 0)
        for (int y = 0; y < height_; ++y) std::memset(target.Row(y) + used, 0, padding);
    // The same picture in another form: what its file carried stays, the
    // profile too, as the new colours were read in its space.
    target.metadata_ = metadata_;
    TakeOver(target);
}
