// Reading PNG pictures through libspng, row by row straight into the
// bitmap; the data of a well-formed file inflated at once by libdeflate.
#include "platform/files/png/png_codec.h"

#include "platform/base/huge_pages.h"
#include "platform/base/malloc_memory.h"
#include "platform/base/work_progress.h"
#include "platform/files/channel_order.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/png/png_metadata.h"
#include "platform/files/png/png_unfilter.h"
#include "platform/files/reader_metadata.h"

#include <QtEndian>

#include <libdeflate.h>
#include <spng.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr std::uint32_t MaxSide = 1000000;

// The chunks libspng keeps that are not read here (suggested palettes, and
// text, colour profiles and the other metadata of a file libspng is given
// whole: those are kept from it otherwise, TSpngStream): without a limit a
// file of a few megabytes could have it inflate gigabytes before the first
// row. libspng refuses a file whose such chunks would take more than this
// (or that has more than its 1000 of them).
constexpr std::size_t MaxMetadataBytes = 16 * MiBBytes;

// Why libspng refused the file.
QString Refusal(int error)
{
    if (error == SPNG_ECHUNK_LIMITS)
        return QStringLiteral("its suggested palettes take more than %1 MiB or 1000 chunks").arg(MaxMetadataBytes / MiBBytes);
    return DamagedData();
}

struct SpngFree {
    void operator()(spng_ctx *ctx) const { spng_ctx_free(ctx); }
};

enum ColourType { Grey = 0, Rgb = 2, Indexed = 3, GreyAlpha = 4, Rgba = 6 };

// round(v * 255 / 65535), as Qt's conversions give it.
inline std::uint8_t To8(std::uint16_t v) { return static_cast<std::uint8_t>((v * 255u + 32767u) / 65535u); }

// Everything about the file that decides how a row becomes bitmap bytes.
struct TLayout {
    int width = 0;
    int height = 0;
    int colourType = 0;
    int depth = 8;
    bool interlaced = false;
    bool hasTrns = false;
    spng_trns trns{};
    spng_plte plte{};
    // Palette files: the grey level of each index when every entry is grey.
    bool greyPalette = false;
    std::array<std::uint8_t, 256> levels{};
    std::array<std::uint8_t, 256> alpha{};
    TPixelFormat form = pf24bit;
    // Grey files with a transparent level, as Qt reads them: at 2, 4 and 8
    // bits that level is transparent black, and an opaque picture is grey;
    // at 1 and 16 bits it keeps its level, and at 16 an opaque picture is
    // pf24bit.
    bool blackUnderTrns = false;
    bool opaqueAsGrey = false;
};

// The sample at x of a row of 1-, 2-, 4- or 8-bit samples, most significant first.
inline unsigned PackedSample(const std::uint8_t *raw, int x, int depth)
{
    if (depth == 8) return raw[x];
    const int perByte = 8 / depth;
    const int shift = 8 - depth * (x % perByte + 1);
    return (raw[x / perByte] >> shift) & ((1u << depth) - 1);
}

// Converts one decoded row (the file's samples, 16-bit ones in host order)
// into the bitmap's row. Returns whether any pixel is translucent.
bool ConvertRow(const TLayout &f, const std::uint8_t *raw, std::uint8_t *row)
{
    const int w = f.width;
    const std::size_t n = static_cast<std::size_t>(w);
    const auto *raw16 = reinterpret_cast<const std::uint16_t *>(raw);
    bool translucent = false;
    switch (f.colourType) {
    case Grey:
        if (f.form == pf1bit) {
            // Stored inverted: index 0 is white.
            const std::size_t bytes = (n + 7) / 8;
            for (std::size_t i = 0; i < bytes; ++i) row[i] = static_cast<std::uint8_t>(~raw[i]);
            row[bytes - 1] &= static_cast<std::uint8_t>(0xFF00 >> (w % 8 ? w % 8 : 8));
        } else if (f.form == pf8bit) {
            if (f.depth == 16) {
                for (int x = 0; x < w; ++x) row[x] = To8(raw16[x]);
            } else if (f.depth == 8) {
                if (row != raw) std::memcpy(row, raw, n);
            } else {
                const unsigned scale = 255u / ((1u << f.depth) - 1);
                for (int x = 0; x < w; ++x) row[x] = static_cast<std::uint8_t>(PackedSample(raw, x, f.depth) * scale);
            }
        } else {
            // With a transparent grey level: the pixels of that level get alpha 0.
            const unsigned scale = f.depth == 16 ? 0 : 255u / ((1u << f.depth) - 1);
            for (int x = 0; x < w; ++x) {
                const unsigned sample = f.depth == 16 ? raw16[x] : PackedSample(raw, x, f.depth);
                const std::uint8_t level = f.depth == 16 ? To8(static_cast<std::uint16_t>(sample)) : static_cast<std::uint8_t>(sample * scale);
                const bool clear = sample == f.trns.gray;
                translucent |= clear;
                std::uint8_t *p = row + 4 * x;
                p[0] = p[1] = p[2] = clear && f.blackUnderTrns ? 0 : level;
                p[3] = clear ? 0 : 255;
            }
        }
        break;
    case Rgb:
        if (f.form == pf24bit) {
            if (f.depth == 8) {
                SwapRedBlue24(raw, row, n);
            } else {
                for (std::size_t x = 0; x < n; ++x) {
                    row[3 * x] = To8(raw16[3 * x + 2]);
                    row[3 * x + 1] = To8(raw16[3 * x + 1]);
                    row[3 * x + 2] = To8(raw16[3 * x]);
                }
            }
        } else {
            for (std::size_t x = 0; x < n; ++x) {
                unsigned r, g, b;
                std::uint8_t *p = row + 4 * x;
                if (f.depth == 8) {
                    r = raw[3 * x], g = raw[3 * x + 1], b = raw[3 * x + 2];
                    p[0] = static_cast<std::uint8_t>(b), p[1] = static_cast<std::uint8_t>(g), p[2] = static_cast<std::uint8_t>(r);
                } else {
                    r = raw16[3 * x], g = raw16[3 * x + 1], b = raw16[3 * x + 2];
                    p[0] = To8(static_cast<std::uint16_t>(b)), p[1] = To8(static_cast<std::uint16_t>(g)), p[2] = To8(static_cast<std::uint16_t>(r));
                }
                const bool clear = r == f.trns.red && g == f.trns.green && b == f.trns.blue;
                translucent |= clear;
                p[3] = clear ? 0 : 255;
            }
        }
        break;
    case Indexed:
        if (f.form == pf1bit) {
            const std::size_t bytes = (n + 7) / 8;
            if (row != raw) std::memcpy(row, raw, bytes);
            row[bytes - 1] &= static_cast<std::uint8_t>(0xFF00 >> (w % 8 ? w % 8 : 8));
            if (f.hasTrns)
                for (int x = 0; x < w; ++x) translucent |= f.alpha[pixel::Index<pf1bit>(row, x)] != 255;
        } else {
            if (f.depth == 8) {
                if (row != raw) std::memcpy(row, raw, n);
            } else {
                for (int x = 0; x < w; ++x) row[x] = static_cast<std::uint8_t>(PackedSample(raw, x, f.depth));
            }
            if (f.hasTrns)
                for (int x = 0; x < w; ++x) translucent |= f.alpha[row[x]] != 255;
            if (f.greyPalette)
                for (int x = 0; x < w; ++x) row[x] = f.levels[row[x]];
        }
        break;
    case GreyAlpha:
        for (std::size_t x = 0; x < n; ++x) {
            std::uint8_t *p = row + 4 * x;
            const std::uint8_t level = f.depth == 8 ? raw[2 * x] : To8(raw16[2 * x]);
            const std::uint8_t a = f.depth == 8 ? raw[2 * x + 1] : To8(raw16[2 * x + 1]);
            p[0] = p[1] = p[2] = level;
            p[3] = a;
            translucent |= a != 255;
        }
        break;
    case Rgba:
        if (f.depth == 8) {
            SwapRedBlue32(raw, row, n);
            for (std::size_t x = 0; x < n; ++x) translucent |= row[4 * x + 3] != 255;
        } else {
            for (std::size_t x = 0; x < n; ++x) {
                std::uint8_t *p = row + 4 * x;
                p[0] = To8(raw16[4 * x + 2]);
                p[1] = To8(raw16[4 * x + 1]);
                p[2] = To8(raw16[4 * x]);
                p[3] = To8(raw16[4 * x + 3]);
                translucent |= p[3] != 255;
            }
        }
        break;
    }
    return translucent;
}

// Whether the decoder can write a row of the file straight into the
// bitmap's row and convert it there.
bool DecodesInPlace(const TLayout &f)
{
    if (f.depth != 8) return false;
    if (f.colourType == Rgb) return f.form == pf24bit;
    if (f.colourType == Rgba) return true;
    return (f.colourType == Grey && f.form == pf8bit) || f.colourType == Indexed;
}

// A pf32bit row without a translucent pixel in its opaque form, `narrow`:
// grey levels in pf8bit for a grey picture, else B, G, R in pf24bit.
void NarrowRow(const std::uint8_t *in, std::uint8_t *out, std::size_t n, TPixelFormat narrow)
{
    if (narrow == pf8bit)
        for (std::size_t x = 0; x < n; ++x) out[x] = in[4 * x];
    else
        for (std::size_t x = 0; x < n; ++x) std::memcpy(out + 3 * x, in + 4 * x, 3);
}

// An opaque row in its `narrow` form back in pf32bit.
void WidenRow(const std::uint8_t *in, std::uint8_t *out, std::size_t n, TPixelFormat narrow)
{
    for (std::size_t x = 0; x < n; ++x, out += 4) {
        if (narrow == pf8bit)
            out[0] = out[1] = out[2] = in[x];
        else
            std::memcpy(out, in + 3 * x, 3);
        out[3] = 255;
    }
}

// A palette picture with a translucent pixel, in pf32bit; the rows missing
// below `held` stay zero.
void ExpandPalette(const TLayout &f, int held, TBitmap &bitmap)
{
    TBitmap expanded;
    expanded.Allocate(f.width, f.height, pf32bit);
    for (int y = 0; y < held; ++y) {
        const std::uint8_t *in = bitmap.Row(y);
        std::uint8_t *out = expanded.Row(y);
        for (int x = 0; x < f.width; ++x) {
            const unsigned index = f.form == pf1bit ? pixel::Index<pf1bit>(in, x) : in[x];
            std::uint8_t *p = out + 4 * x;
            if (index < f.plte.n_entries) {
                p[0] = f.plte.entries[index].blue;
                p[1] = f.plte.entries[index].green;
                p[2] = f.plte.entries[index].red;
            }
            p[3] = f.alpha[index];
        }
    }
    bitmap.TakeOver(expanded);
}

// The rows of an interlaced picture's seven passes together (a pass with
// no column has no rows).
std::uint64_t InterlacedPassRows(int width, int height)
{
    struct Pass {
        int x0, y0, dx, dy;
    };
    static constexpr Pass Passes[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::uint64_t rows = 0;
    for (const Pass &p : Passes)
        if (width > p.x0 && height > p.y0) rows += static_cast<std::uint64_t>((height - p.y0 + p.dy - 1) / p.dy);
    return rows;
}

TLayout ReadLayout(spng_ctx *ctx)
{
    TLayout f;
    spng_ihdr ihdr{};
    if (const int error = spng_get_ihdr(ctx, &ihdr); error != 0) throw Exception(Refusal(error));
    f.width = static_cast<int>(ihdr.width);
    f.height = static_cast<int>(ihdr.height);
    f.colourType = ihdr.color_type;
    f.depth = ihdr.bit_depth;
    f.interlaced = ihdr.interlace_method != 0;
    int error = spng_get_trns(ctx, &f.trns);
    if (error != 0 && error != SPNG_ECHUNKAVAIL) throw Exception(Refusal(error));
    f.hasTrns = error == 0;
    error = spng_get_plte(ctx, &f.plte);
    if (error != 0 && error != SPNG_ECHUNKAVAIL) throw Exception(Refusal(error));
    if (error != 0) f.plte.n_entries = 0;
    if (f.colourType == Indexed && f.plte.n_entries == 0) throw Exception(DamagedData());

    f.alpha.fill(255);
    if (f.colourType == Indexed && f.hasTrns)
        for (std::uint32_t i = 0; i < f.trns.n_type3_entries && i < 256; ++i) f.alpha[i] = f.trns.type3_alpha[i];
    if (f.colourType == Indexed) {
        f.greyPalette = true;
        for (std::uint32_t i = 0; i < f.plte.n_entries; ++i) {
            const spng_plte_entry &e = f.plte.entries[i];
            f.greyPalette &= e.red == e.green && e.green == e.blue;
            f.levels[i] = e.red;
        }
    }
    // A transparent level or colour the samples cannot take changes nothing.
    if (f.hasTrns && f.colourType == Grey && f.trns.gray >= (1u << f.depth)) f.hasTrns = false;
    if (f.hasTrns && f.colourType == Rgb && f.depth == 8 && (f.trns.red > 255 || f.trns.green > 255 || f.trns.blue > 255)) f.hasTrns = false;

    f.blackUnderTrns = f.colourType == Grey && f.depth != 1 && f.depth != 16;
    f.opaqueAsGrey = f.colourType == Grey && f.depth != 16;
    switch (f.colourType) {
    case Grey: f.form = f.hasTrns ? pf32bit : f.depth == 1 ? pf1bit : pf8bit; break;
    case Rgb: f.form = f.hasTrns ? pf32bit : pf24bit; break;
    case Indexed: f.form = f.depth == 1 ? pf1bit : pf8bit; break;
    default: f.form = pf32bit; break;
    }
    return f;
}

// Data inflated at once is read this way only up to this size, so that
// cancelling an opening never waits long for libdeflate, which cannot stop.
constexpr std::uint64_t MaxInflatedAtOnce = 256 * MiBBytes;

// Bytes that are all written before they are read: not cleared first.
using TBytes = TMallocPtr<std::uint8_t[]>;

// The zlib stream of the file's data chunks, when every chunk from the first
// data chunk to IEND is whole, the data chunks follow each other, and each
// critical chunk's checksum holds; joined into `joined` when the data comes
// in more than one chunk. Else nothing: libspng then reads the file, and
// gives its verdict on what is wrong.
std::optional<std::span<const std::uint8_t>> ImageData(std::span<const std::uint8_t> file, TBytes &joined)
{
    enum { BeforeData, InData, AfterData } where = BeforeData;
    std::vector<std::span<const std::uint8_t>> parts;
    std::size_t at = 8;
    for (;;) {
        if (file.size() - at < 12) return std::nullopt;
        const std::uint8_t *chunk = file.data() + at;
        const std::uint32_t length = qFromBigEndian<std::uint32_t>(chunk);
        if (length > 0x7FFFFFFFu || file.size() - at - 12 < length) return std::nullopt;
        const std::uint8_t *type = chunk + 4;
        const bool data = std::memcmp(type, "IDAT", 4) == 0;
        if (data && where == AfterData) return std::nullopt;
        if (data) where = InData;
        else if (where == InData) where = AfterData;
        const bool critical = (type[0] & 0x20) == 0;
        const bool end = std::memcmp(type, "IEND", 4) == 0;
        // The chunks before the data were checked as libspng read them.
        // After it, a critical chunk but IEND is libspng's to judge.
        if (where == AfterData && critical && !end) return std::nullopt;
        if (where != BeforeData && critical && libdeflate_crc32(0, type, length + 4) != qFromBigEndian<std::uint32_t>(type + 4 + length))
            return std::nullopt;
        if (data) parts.emplace_back(type + 4, length);
        at += 12 + std::size_t(length);
        if (end) break;
    }
    if (parts.empty()) return std::nullopt;
    if (parts.size() == 1) return parts.front();
    std::size_t total = 0;
    for (const auto &part : parts) total += part.size();
    joined.reset(static_cast<std::uint8_t *>(std::malloc(total)));
    if (!joined) return std::nullopt;
    std::size_t offset = 0;
    for (const auto &part : parts) {
        std::memcpy(joined.get() + offset, part.data(), part.size());
        offset += part.size();
    }
    return std::span<const std::uint8_t>(joined.get(), total);
}

// The filtered rows of a non-interlaced file, each its filter type and its
// bytes, inflated at once; nothing when the stream is not exactly that
// long, is damaged or names a filter PNG lacks.
TBytes InflateRows(std::span<const std::uint8_t> stream, std::size_t rows, std::size_t rowBytes)
{
    const std::size_t size = rows * (1 + rowBytes);
    TBytes inflated(static_cast<std::uint8_t *>(std::malloc(size)));
    if (!inflated) return nullptr;
    PreferHugePages(inflated.get(), size);
    libdeflate_decompressor *decompressor = libdeflate_alloc_decompressor();
    if (!decompressor) return nullptr;
    const libdeflate_result result = libdeflate_zlib_decompress(decompressor, stream.data(), stream.size(), inflated.get(), size, nullptr);
    libdeflate_free_decompressor(decompressor);
    if (result != LIBDEFLATE_SUCCESS) return nullptr;
    for (std::size_t y = 0; y < rows; ++y)
        if (inflated[y * (1 + rowBytes)] > 4) return nullptr;
    return inflated;
}

// Bytes a whole pixel takes, the distance the filters look left.
int FilterStep(const TLayout &f)
{
    const int channels = f.colourType == Rgb ? 3 : f.colourType == Rgba ? 4 : f.colourType == GreyAlpha ? 2 : 1;
    return std::max(1, channels * f.depth / 8);
}

// Bytes of the data chunks the file holds (of a chunk the file cuts off,
// those it holds): what the picture is compressed into.
std::uint64_t ImageDataBytes(std::span<const std::uint8_t> file)
{
    std::uint64_t bytes = 0;
    for (std::size_t at = 8; file.size() - at >= 8;) {
        const std::uint32_t length = qFromBigEndian<std::uint32_t>(file.data() + at);
        if (std::memcmp(file.data() + at + 4, "IDAT", 4) == 0) bytes += std::min<std::uint64_t>(length, file.size() - at - 8);
        if (length > file.size() - at - 8) break;
        at += 8 + std::size_t(length) + std::min<std::size_t>(4, file.size() - at - 8 - length);
    }
    return bytes;
}

// A deflate stream gives at most 258 bytes for 2 bits (a match of the
// longest length at distance 1, each code a single bit).
constexpr std::uint64_t MostInflatedPerByte = 1032;

// Whether libspng stopped for want of data: the compressed rows end before
// the picture does (a file cut off inside its data ends so too, as it is
// given to libspng).
bool EndsEarly(int error) { return error == SPNG_EIDAT_TOO_SHORT; }

// The end chunk, empty, with its checksum.
constexpr std::uint8_t EndChunk[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

// The file as libspng is given it where it cannot be given as it is:
//  - without the chunks whose pieces PngMetadata reads, which libspng
//    would otherwise keep, inflating the compressed ones, and refuse the
//    whole file over one it finds too large;
//  - cut off inside a chunk: the whole chunks before the cut, the cut data
//    chunk ending where the file ends (its checksum lost with the cut),
//    then the end chunk. libspng would refuse the file whole, before its
//    first row, and the rows before the cut are there.
class TSpngStream {
public:
    // None when the file can be given as it is: it reaches its end chunk
    // and has none of those chunks. None too when it is cut off and a
    // critical chunk before the cut has a damaged checksum (libspng's
    // verdict is kept then).
    static std::optional<TSpngStream> Of(std::span<const std::uint8_t> file)
    {
        TSpngStream stream;
        std::size_t at = 8, kept = 0;
        bool hidden = false;
        for (;;) {
            if (file.size() - at < 12) break;
            const std::uint32_t length = qFromBigEndian<std::uint32_t>(file.data() + at);
            if (length > file.size() - at - 12) break;
            const std::uint8_t *type = file.data() + at + 4;
            if (std::memcmp(type, "IEND", 4) == 0) {
                if (!hidden) return std::nullopt;
                stream.pieces_.push_back(file.subspan(kept));
                return stream;
            }
            // Once cut, no checksum of the cut chunk is there to check, so
            // libspng checks none: those of the whole chunks are checked
            // here instead.
            const bool critical = (type[0] & 0x20) == 0;
            if (critical && libdeflate_crc32(0, type, length + 4) != qFromBigEndian<std::uint32_t>(type + 4 + length)) stream.damaged_ = true;
            if (IsPngMetadataChunk(type)) {
                stream.pieces_.push_back(file.subspan(kept, at - kept));
                kept = at + 12 + std::size_t(length);
                hidden = true;
            }
            at += 12 + std::size_t(length);
        }
        if (stream.damaged_) return std::nullopt;
        stream.cut_ = true;
        stream.pieces_.push_back(file.subspan(kept, at - kept));
        stream.made_ = std::make_unique<std::uint8_t[]>(MadeBytes);
        std::uint8_t *header = stream.made_.get(), *crc = header + 8, *end = crc + 4;
        if (file.size() - at >= 8 && std::memcmp(file.data() + at + 4, "IDAT", 4) == 0) {
            const auto data = file.subspan(at + 8, std::min<std::size_t>(file.size() - at - 8, qFromBigEndian<std::uint32_t>(file.data() + at)));
            qToBigEndian<std::uint32_t>(static_cast<std::uint32_t>(data.size()), header);
            std::memcpy(header + 4, "IDAT", 4);
            stream.pieces_.insert(stream.pieces_.end(), {{header, 8}, data, {crc, 4}});
        }
        std::memcpy(end, EndChunk, sizeof EndChunk);
        stream.pieces_.emplace_back(end, sizeof EndChunk);
        return stream;
    }

    // Whether the file is cut off: the checksum of its critical chunks
    // is then checked here, not by libspng.
    bool Cut() const { return cut_; }

    // libspng's reader: the pieces one after another.
    static int Read(spng_ctx *, void *user, void *into, std::size_t length)
    {
        auto *stream = static_cast<TSpngStream *>(user);
        auto *out = static_cast<std::uint8_t *>(into);
        while (length > 0 && stream->piece_ < stream->pieces_.size()) {
            const std::span<const std::uint8_t> piece = stream->pieces_[stream->piece_];
            const std::size_t n = std::min(length, piece.size() - stream->at_);
            std::memcpy(out, piece.data() + stream->at_, n);
            out += n, length -= n, stream->at_ += n;
            if (stream->at_ == piece.size()) ++stream->piece_, stream->at_ = 0;
        }
        return length == 0 ? 0 : SPNG_IO_EOF;
    }

private:
    // The cut data chunk's header and checksum, and the end chunk.
    static constexpr std::size_t MadeBytes = 8 + 4 + sizeof EndChunk;
    std::vector<std::span<const std::uint8_t>> pieces_;
    std::unique_ptr<std::uint8_t[]> made_;
    bool cut_ = false, damaged_ = false;
    std::size_t piece_ = 0, at_ = 0;
};

// Of an interlaced picture whose data ends at `row` of pass `pass`
// (0 to 6), the rows from the top that every pass has reached.
int InterlacedRowsHeld(int width, int height, int pass, int row)
{
    struct Pass {
        int x0, y0;
    };
    static constexpr Pass Starts[] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
    int held = row;
    for (int later = pass + 1; later < 7; ++later)
        if (width > Starts[later].x0 && height > Starts[later].y0) held = std::min(held, Starts[later].y0);
    return held;
}

// Decodes one PNG file held in memory, a method a job: libspng's reading
// and limits, the header and the checks before anything is allocated, the
// data inflated at once, the picture and its palette, then the rows by one
// of three ways (interlaced, inflated at once, or row by row through
// libspng), the chunks after them, and the picture handed over.
class TPngDecoder {
public:
    TPngDecoder(std::span<const std::uint8_t> bytes, TBitmap &into)
        : bytes_(bytes), decoded_(into, TPictureFileFormat::Png), owner_(spng_ctx_new(0)), ctx_(owner_.get())
    {
    }

    TRowsMissing Decode()
    {
        Open();
        CheckClaims();
        InflateAtOnce();
        StartPicture();
        if (f_.interlaced)
            DecodeInterlaced();
        else if (inflatedAtOnce_)
            DecodeInflated();
        else
            DecodeRowByRow();
        DecodeChunksAfter();
        return Finish();
    }

private:
    // libspng given the file, as it is or as a stream (TSpngStream), with
    // its checks and limits.
    void Open()
    {
        if (!ctx_) throw std::bad_alloc();
        stream_ = TSpngStream::Of(bytes_);
        cut_ = stream_ && stream_->Cut();
        if (stream_) spng_set_png_stream(ctx_, TSpngStream::Read, &*stream_);
        if (cut_) {
            spng_set_crc_action(ctx_, SPNG_CRC_USE, SPNG_CRC_DISCARD);
        } else {
            if (!stream_) spng_set_png_buffer(ctx_, bytes_.data(), bytes_.size());
            // As libpng: a damaged critical chunk is an error, a damaged ancillary one is skipped.
            spng_set_crc_action(ctx_, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
        }
        // libpng's limit of a million pixels a side, which Qt's reader kept.
        spng_set_image_limits(ctx_, MaxSide, MaxSide);
        spng_set_chunk_limits(ctx_, MaxMetadataBytes, MaxMetadataBytes);
    }

    // The header, and what the file claims checked before anything is
    // allocated: the size, the memory and the data that must hold the rows.
    void CheckClaims()
    {
        f_ = ReadLayout(ctx_);
        held_ = f_.height;
        // The size check counts the form the pixels are decoded into.
        CheckPictureFits(f_.width, f_.height, f_.form);

        std::size_t imageSize = 0;
        if (spng_decoded_image_size(ctx_, SPNG_FMT_PNG, &imageSize) != 0) throw Exception(DamagedData());
        imageSize_ = imageSize;
        rawRowBytes_ = imageSize / static_cast<std::size_t>(f_.height);

        // Pixels that may carry alpha are kept in their opaque form until a
        // translucent one turns up, and widened to pf32bit then: an opaque
        // picture never takes both forms at once.
        narrowing_ = f_.form == pf32bit;
        kept_ = narrowing_ ? (f_.opaqueAsGrey ? pf8bit : pf24bit) : f_.form;
        keptBytes_ = PictureBytes(f_.width, f_.height, kept_);
        wideBytes_ = PictureBytes(f_.width, f_.height, pf32bit);
        // Interlaced passes revisit every row: the whole image is decoded first.
        const std::uint64_t rawBytes = f_.interlaced ? imageSize_ : 2 * rawRowBytes_;
        const QString &name = decoded_.FormatName();
        CheckOpeningMemory(f_.width, f_.height, name, bytes_.size() + rawBytes + keptBytes_, keptBytes_);
        if (narrowing_) CheckOpeningMemory(f_.width, f_.height, name, bytes_.size() + rawBytes + keptBytes_ + wideBytes_, wideBytes_);
        // Every row's samples come out of the compressed data, which cannot give
        // more than a fixed number of bytes for each of its own.
        const std::uint64_t leastBytes = rawRowBytes_ * std::uint64_t(f_.height) / MostInflatedPerByte;
        CheckDataCanHold(f_.width, f_.height, name, ImageDataBytes(bytes_), leastBytes);
    }

    // A well-formed file that is not interlaced has its data inflated at
    // once by libdeflate, which is faster than libspng's zlib a row at a
    // time, when the inflated rows fit beside the rest.
    void InflateAtOnce()
    {
        const std::uint64_t inflatedBytes = (1 + rawRowBytes_) * std::uint64_t(f_.height);
        if (cut_ || f_.interlaced || inflatedBytes > MaxInflatedAtOnce ||
            !OpeningFits(2 * bytes_.size() + inflatedBytes + keptBytes_ + (narrowing_ ? wideBytes_ : 0), keptBytes_))
            return;
        ReportProgress(0, 2 * static_cast<std::uint64_t>(f_.height));
        TBytes joined;
        if (const auto stream = ImageData(bytes_, joined)) inflated_ = InflateRows(*stream, static_cast<std::size_t>(f_.height), rawRowBytes_);
        inflatedAtOnce_ = inflated_ != nullptr;
    }

    // The picture in the form kept, and its palette. Its memory was counted
    // with the data's, above.
    void StartPicture()
    {
        picture_ = &decoded_.StartCounted(f_.width, f_.height, kept_);
        if (kept_ == pf1bit) {
            TPalette palette{};
            if (f_.colourType == Grey) {
                palette[0] = clWhite;
            } else {
                for (std::uint32_t i = 0; i < f_.plte.n_entries && i < 2; ++i)
                    palette[i] = RGB(f_.plte.entries[i].red, f_.plte.entries[i].green, f_.plte.entries[i].blue);
            }
            picture_->SetPalette(palette);
        } else if (kept_ == pf8bit) {
            if (f_.colourType == Grey || f_.greyPalette) {
                picture_->SetPalette(GreyLevels);
            } else {
                TPalette palette{};
                for (std::uint32_t i = 0; i < f_.plte.n_entries; ++i)
                    palette[i] = RGB(f_.plte.entries[i].red, f_.plte.entries[i].green, f_.plte.entries[i].blue);
                picture_->SetPalette(palette);
            }
        }
        if (narrowing_) wide_.resize(TBitmap::RowBytes(f_.width, pf32bit));
    }

    // Converts row y from the decoder's bytes into the picture; the first
    // translucent pixel widens the rows above it to pf32bit.
    void TakeRow(int y, std::uint8_t *decoded)
    {
        TBitmap &picture = *picture_;
        const std::size_t width = static_cast<std::size_t>(f_.width);
        if (!narrowing_ || translucent_) {
            translucent_ |= ConvertRow(f_, decoded, picture.Row(y));
        } else if (!ConvertRow(f_, decoded, wide_.data())) {
            NarrowRow(wide_.data(), picture.Row(y), width, kept_);
        } else {
            translucent_ = true;
            TBitmap widened;
            AllocateDecoded(widened, f_.width, f_.height, pf32bit);
            for (int above = 0; above < y; ++above) WidenRow(picture.Row(above), widened.Row(above), width, kept_);
            std::memcpy(widened.Row(y), wide_.data(), 4 * width);
            picture.TakeOver(widened);
        }
    }

    // Every pass's rows are put in their places in the whole image, which
    // is converted once the last pass is in.
    void DecodeInterlaced()
    {
        std::vector<std::uint8_t> raw(imageSize_);
        const std::uint64_t passRows = InterlacedPassRows(f_.width, f_.height), total = passRows + static_cast<std::uint64_t>(f_.height);
        if (spng_decode_image(ctx_, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE) != 0) throw Exception(DamagedData());
        for (std::uint64_t done = 1;; ++done) {
            // libspng tells the end either with the last row or after it.
            spng_row_info row{};
            const int next = spng_get_row_info(ctx_, &row);
            if (next == SPNG_EOI) break;
            if (next != 0 || row.row_num >= static_cast<std::uint32_t>(f_.height)) throw Exception(DamagedData());
            const int error = spng_decode_row(ctx_, raw.data() + rawRowBytes_ * row.row_num, rawRowBytes_);
            if (error == SPNG_EOI) break;
            if (error != 0 && !EndsEarly(error)) throw Exception(DamagedData());
            if (error != 0) {
                held_ = InterlacedRowsHeld(f_.width, f_.height, row.pass, static_cast<int>(row.row_num));
                break;
            }
            if ((done & 31) == 0) ReportProgress(done, total);
        }
        for (int y = 0; y < held_; ++y) {
            TakeRow(y, raw.data() + rawRowBytes_ * static_cast<std::size_t>(y));
            if ((y & 31) == 31) ReportProgress(passRows + static_cast<std::uint64_t>(y) + 1, total);
        }
    }

    // Each row unfiltered next to the one above it, then converted.
    void DecodeInflated()
    {
        std::vector<std::uint8_t> rows(2 * rawRowBytes_), samples(f_.depth == 16 ? rawRowBytes_ : 0);
        const int step = FilterStep(f_);
        for (int y = 0; y < f_.height; ++y) {
            const std::uint8_t *in = inflated_.get() + (1 + rawRowBytes_) * static_cast<std::size_t>(y);
            std::uint8_t *out = rows.data() + (y & 1) * rawRowBytes_;
            const std::uint8_t *prior = rows.data() + ((y & 1) ^ 1) * rawRowBytes_;
            UnfilterPngRow(in[0], in + 1, prior, rawRowBytes_, step, out);
            if (f_.depth == 16) {
                // The file's samples are big-endian; rows are converted from
                // host order, as libspng gives them. The row above keeps the
                // file's order for the next row's filter.
                std::uint8_t *host = samples.data();
                for (std::size_t i = 0; i + 1 < rawRowBytes_; i += 2) {
                    host[i] = out[i + 1];
                    host[i + 1] = out[i];
                }
                TakeRow(y, host);
            } else {
                TakeRow(y, out);
            }
            if ((y & 31) == 31) ReportProgress(static_cast<std::uint64_t>(f_.height) + y + 1, 2 * static_cast<std::uint64_t>(f_.height));
        }
        inflated_.reset();
    }

    // libspng inflates and unfilters a row at a time, into the picture's row
    // itself where the row's form allows.
    void DecodeRowByRow()
    {
        if (spng_decode_image(ctx_, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE) != 0) throw Exception(DamagedData());
        const bool inPlace = DecodesInPlace(f_);
        std::vector<std::uint8_t> raw(!inPlace || narrowing_ ? rawRowBytes_ : 0);
        for (int y = 0; y < f_.height; ++y) {
            std::uint8_t *target = inPlace && (!narrowing_ || translucent_) ? picture_->Row(y) : raw.data();
            const int error = spng_decode_row(ctx_, target, rawRowBytes_);
            if (error != 0 && !(error == SPNG_EOI && y == f_.height - 1)) {
                if (!EndsEarly(error)) throw Exception(DamagedData());
                // The row may hold part of what the decoder had.
                held_ = y, filled_ = y + 1;
                break;
            }
            TakeRow(y, target);
            if ((y & 31) == 31) ReportProgress(static_cast<std::uint64_t>(y) + 1, static_cast<std::uint64_t>(f_.height));
        }
    }

    // The rest of the file: the last data chunk's checksum and the chunks
    // after it (checked already when the data was inflated at once). Notes
    // beyond the limit there are let go: the picture is whole, and the quick
    // way never reads them.
    void DecodeChunksAfter()
    {
        if (inflatedAtOnce_ || held_ != f_.height) return;
        const int error = spng_decode_chunks(ctx_);
        if (error != 0 && error != SPNG_ECHUNK_LIMITS) throw Exception(DamagedData());
    }

    TRowsMissing Finish()
    {
        if (translucent_ && f_.colourType == Indexed) ExpandPalette(f_, held_, *picture_);
        const TRowsMissing missing = RowsHeld(*picture_, held_, filled_);
        KeepFoundMetadata(*picture_, PngMetadata(bytes_, f_.colourType == Grey || f_.colourType == GreyAlpha));
        return decoded_.HandOver(missing);
    }

    const std::span<const std::uint8_t> bytes_;
    TDecodedPicture decoded_;
    const std::unique_ptr<spng_ctx, SpngFree> owner_;
    spng_ctx *const ctx_;
    std::optional<TSpngStream> stream_;
    bool cut_ = false;
    TLayout f_;
    std::size_t imageSize_ = 0, rawRowBytes_ = 0;
    // The form the rows are kept in, and whether it is the opaque form of
    // pf32bit pixels (narrowing); their bytes and the wide form's.
    bool narrowing_ = false;
    TPixelFormat kept_ = pf24bit;
    std::uint64_t keptBytes_ = 0, wideBytes_ = 0;
    TBytes inflated_;
    bool inflatedAtOnce_ = false;
    TBitmap *picture_ = nullptr;
    std::vector<std::uint8_t> wide_;
    bool translucent_ = false;
    // The rows from the top the data reached, and those the decoder wrote.
    int held_ = 0, filled_ = 0;
};

} // namespace

bool LooksLikePng(std::span<const std::uint8_t> bytes)
{
    static constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), Signature, 8) == 0;
}

TRowsMissing DecodePng(std::span<const std::uint8_t> bytes, TBitmap &into) { return TPngDecoder(bytes, into).Decode(); }
