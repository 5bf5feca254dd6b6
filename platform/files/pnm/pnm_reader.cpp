// Reading PBM, PGM and PPM pictures, plain and binary, straight into the
// bitmap's rows.
#include "platform/files/pnm/pnm_codec.h"

#include "platform/base/work_progress.h"
#include "platform/files/channel_order.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/reader_metadata.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

namespace {

bool IsSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Skips white space and comments ("#" to the end of the line) from i.
void SkipSpace(std::span<const std::uint8_t> bytes, std::size_t &i)
{
    for (;;) {
        while (i < bytes.size() && IsSpace(bytes[i])) ++i;
        if (i >= bytes.size() || bytes[i] != '#') return;
        while (i < bytes.size() && bytes[i] != '\n' && bytes[i] != '\r') ++i;
    }
}

// A decimal number at i, held at most at `cap` (larger numbers read as cap);
// none when no digit is there.
std::optional<std::uint64_t> Number(std::span<const std::uint8_t> bytes, std::size_t &i, std::uint64_t cap)
{
    const std::size_t start = i;
    std::uint64_t value = 0;
    for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9'; ++i) value = std::min(cap, value * 10 + (bytes[i] - '0'));
    if (i == start) return std::nullopt;
    return value;
}

enum class TKind { Bits, Grey, Colour };

struct THeader {
    TKind kind = TKind::Grey;
    bool plain = false;
    int width = 0, height = 0;
    unsigned maxValue = 1;
    // Where the samples start: after the one white-space byte that ends the
    // header's last number.
    std::size_t dataAt = 0;
};

constexpr unsigned MaxValueLimit = 65535;

// The header's numbers, each after white space and comments and followed
// by white space: width, height, and but for PBM the maximum value.
std::optional<THeader> ReadHeader(std::span<const std::uint8_t> bytes)
{
    THeader h;
    const int type = bytes[1] - '0';
    h.plain = type <= 3;
    h.kind = type % 3 == 1 ? TKind::Bits : type % 3 == 2 ? TKind::Grey : TKind::Colour;
    std::size_t i = 2;
    const auto field = [&](std::uint64_t cap) -> std::optional<std::uint64_t> {
        SkipSpace(bytes, i);
        const auto value = Number(bytes, i, cap);
        if (!value || i >= bytes.size() || !IsSpace(bytes[i])) return std::nullopt;
        return value;
    };
    const auto width = field(std::uint64_t(INT_MAX) + 1), height = field(std::uint64_t(INT_MAX) + 1);
    if (!width || !height || *width == 0 || *height == 0 || *width > INT_MAX || *height > INT_MAX) return std::nullopt;
    h.width = static_cast<int>(*width), h.height = static_cast<int>(*height);
    if (h.kind != TKind::Bits) {
        const auto maxValue = field(MaxValueLimit + 1);
        if (!maxValue || *maxValue == 0 || *maxValue > MaxValueLimit) return std::nullopt;
        h.maxValue = static_cast<unsigned>(*maxValue);
    }
    h.dataAt = i + 1;
    return h;
}

// The comments of the header, each line a note without a key (the one
// space that usually follows the "#" left out).
TPictureMetadata HeaderComments(std::span<const std::uint8_t> header)
{
    TPictureMetadata found;
    TCommentRoom room;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] != '#') continue;
        std::size_t end = ++i;
        while (end < header.size() && header[end] != '\n' && header[end] != '\r') ++end;
        const std::size_t from = i < end && header[i] == ' ' ? i + 1 : i;
        room.Keep(found, QString(), NoteText(header.subspan(from, end - from)));
        i = end;
    }
    return found;
}

// Samples of 0..maxValue as 0..255, rounded to the nearest; above the
// maximum as the maximum.
class TScale {
public:
    explicit TScale(unsigned maxValue) : max_(maxValue), levels_(std::size_t(maxValue) + 1)
    {
        for (unsigned v = 0; v <= maxValue; ++v) levels_[v] = static_cast<std::uint8_t>((v * 255u + maxValue / 2) / maxValue);
    }
    std::uint8_t operator()(unsigned sample) const { return levels_[std::min(sample, max_)]; }

private:
    unsigned max_;
    std::vector<std::uint8_t> levels_;
};

// The samples of a plain file one after another, each after white space and
// comments: numbers, or for PBM single digits 0 and 1 that need nothing
// between them.
class TPlainSamples {
public:
    TPlainSamples(std::span<const std::uint8_t> bytes, std::size_t at, TKind kind) : bytes_(bytes), at_(at), bits_(kind == TKind::Bits) {}

    // The next sample, or none where the data ends. Anything else than a
    // sample is damage. A number the data ends in may be cut short: it
    // counts only as the picture's `last` sample.
    std::optional<unsigned> Next(bool last)
    {
        SkipSpace(bytes_, at_);
        if (at_ >= bytes_.size()) return std::nullopt;
        if (bits_) {
            const std::uint8_t c = bytes_[at_++];
            if (c != '0' && c != '1') throw Exception(DamagedData());
            return c - '0';
        }
        const auto value = Number(bytes_, at_, MaxValueLimit + 1);
        if (!value) throw Exception(DamagedData());
        if (at_ == bytes_.size() && !last) return std::nullopt;
        return static_cast<unsigned>(*value);
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_;
    bool bits_;
};

int Channels(TKind kind) { return kind == TKind::Colour ? 3 : 1; }

// A pixel's samples into its place in a bitmap row: a bit, a grey level, or
// B, G, R from the file's R, G, B.
void PutPixel(const THeader &h, const TScale &scale, const unsigned *samples, std::uint8_t *row, int x)
{
    switch (h.kind) {
    case TKind::Bits:
        if (samples[0]) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        break;
    case TKind::Grey: row[x] = scale(samples[0]); break;
    case TKind::Colour:
        for (int c = 0; c < 3; ++c) row[3 * std::size_t(x) + std::size_t(2 - c)] = scale(samples[c]);
        break;
    }
}

void ReportRows(int y, int height)
{
    if ((y & 63) == 63) ReportProgress(static_cast<std::uint64_t>(y) + 1, static_cast<std::uint64_t>(height));
}

// Plain samples into the bitmap: the rows held, a last partial row's whole
// pixels shown.
int DecodePlain(std::span<const std::uint8_t> bytes, const THeader &h, TBitmap &bitmap)
{
    const TScale scale(h.maxValue);
    TPlainSamples samples(bytes, h.dataAt, h.kind);
    const int channels = Channels(h.kind);
    unsigned pixel[3];
    for (int y = 0; y < h.height; ++y) {
        std::uint8_t *row = bitmap.Row(y);
        for (int x = 0; x < h.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const auto sample = samples.Next(y == h.height - 1 && x == h.width - 1 && c == channels - 1);
                if (!sample) return y;
                pixel[c] = *sample;
            }
            PutPixel(h, scale, pixel, row, x);
        }
        ReportRows(y, h.height);
    }
    return h.height;
}

// Binary rows into the bitmap: the rows held, a last partial row's whole
// pixels shown.
int DecodeBinary(std::span<const std::uint8_t> bytes, const THeader &h, TBitmap &bitmap)
{
    const std::span<const std::uint8_t> data = bytes.subspan(std::min(h.dataAt, bytes.size()));
    const std::size_t sampleBytes = h.maxValue > 255 ? 2 : 1;
    const std::size_t pixelBits = h.kind == TKind::Bits ? 1 : 8 * sampleBytes * std::size_t(Channels(h.kind));
    const std::size_t rowBytes = (std::size_t(h.width) * pixelBits + 7) / 8;
    const std::size_t wholeRows = data.size() / rowBytes;
    const int held = static_cast<int>(std::min<std::size_t>(wholeRows, std::size_t(h.height)));
    const TScale scale(h.maxValue);
    const bool asStored = h.kind == TKind::Bits || h.maxValue == 255;
    for (int y = 0; y < h.height && static_cast<std::size_t>(y) <= wholeRows; ++y) {
        const std::uint8_t *in = data.data() + rowBytes * std::size_t(y);
        std::uint8_t *out = bitmap.Row(y);
        const std::size_t have = std::min(rowBytes, data.size() - rowBytes * std::size_t(y));
        const int pixels = static_cast<int>(std::min<std::size_t>(have * 8 / pixelBits, std::size_t(h.width)));
        if (pixels == 0) break;
        if (h.kind == TKind::Bits) {
            // Whole bytes as they are; bits past the last pixel cleared.
            std::memcpy(out, in, (std::size_t(pixels) + 7) / 8);
            if (pixels % 8) out[pixels / 8] &= static_cast<std::uint8_t>(0xFF00 >> (pixels % 8));
        } else if (asStored && h.kind == TKind::Grey) {
            std::memcpy(out, in, std::size_t(pixels));
        } else if (asStored) {
            SwapRedBlue24(in, out, std::size_t(pixels));
        } else {
            unsigned pixel[3];
            const int channels = Channels(h.kind);
            for (int x = 0; x < pixels; ++x) {
                for (int c = 0; c < channels; ++c) {
                    const std::uint8_t *sample = in + (std::size_t(x) * std::size_t(channels) + std::size_t(c)) * sampleBytes;
                    pixel[c] = sampleBytes == 2 ? unsigned(sample[0]) << 8 | sample[1] : sample[0];
                }
                PutPixel(h, scale, pixel, out, x);
            }
        }
        ReportRows(y, h.height);
    }
    return held;
}

} // namespace

bool LooksLikePnm(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 3 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '6' && (IsSpace(bytes[2]) || bytes[2] == '#');
}

TRowsMissing DecodePnm(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    const std::optional<THeader> h = ReadHeader(bytes);
    if (!h) throw Exception(DamagedData());
    const TPixelFormat format = h->kind == TKind::Bits ? pf1bit : h->kind == TKind::Grey ? pf8bit : pf24bit;
    TDecodedPicture decoded(into, h->kind == TKind::Bits ? TPictureFileFormat::Pbm : h->kind == TKind::Grey ? TPictureFileFormat::Pgm : TPictureFileFormat::Ppm);
    TBitmap &bitmap = decoded.Start(h->width, h->height, format, bytes.size());
    if (format == pf8bit) bitmap.SetPalette(GreyLevels);
    if (format == pf1bit) {
        TPalette palette{};
        palette[0] = clWhite;
        palette[1] = clBlack;
        bitmap.SetPalette(palette);
    }
    const int held = h->plain ? DecodePlain(bytes, *h, bitmap) : DecodeBinary(bytes, *h, bitmap);
    const TRowsMissing missing = RowsHeld(bitmap, held);
    KeepFoundMetadata(bitmap, HeaderComments(bytes.first(std::min(h->dataAt, bytes.size()))));
    return decoded.HandOver(missing);
}
