// Writing PNG pictures: rows filtered and compressed in strips on every
// core, joined into one zlib stream, one IDAT chunk a strip.
#include "platform/files/png/png_codec.h"

#include "platform/files/channel_order.h"
#include "platform/files/png/parallel_deflate.h"
#include "platform/files/png/png_chunks.h"
#include "platform/files/png/png_filters.h"
#include "platform/files/png/png_metadata.h"
#include "platform/metadata/file_metadata.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

namespace {

enum ColourType : std::uint8_t { Grey = 0, Rgb = 2, Indexed = 3, Rgba = 6 };

// About this many filtered bytes a strip: enough that a strip's own start
// costs nothing measurable, few enough that every core gets several.
constexpr std::size_t StripBytes = std::size_t(1) << 20;

// How the picture's rows become the file's.
struct Plan {
    ColourType colourType = Rgb;
    int depth = 8;
    // Bytes of a file row, and between a byte and the same channel of the
    // pixel before it.
    std::size_t rowBytes = 0;
    int step = 3;
    // Palette files keep their indices as they are: the filters do not pay.
    bool filtered = true;
};

bool GreyRamp(const TBitmap &bitmap) { return bitmap.GetPalette() == GreyLevels; }

Plan PlanFor(const TBitmap &bitmap)
{
    Plan plan;
    const std::size_t width = static_cast<std::size_t>(bitmap.GetWidth());
    switch (bitmap.GetPixelFormat()) {
    case pf1bit: plan = {Indexed, 1, (width + 7) / 8, 1, false}; break;
    case pf4bit: plan = {Indexed, 4, (width + 1) / 2, 1, false}; break;
    case pf8bit:
        plan = GreyRamp(bitmap) ? Plan{Grey, 8, width, 1, true} : Plan{Indexed, 8, width, 1, false};
        break;
    case pf32bit:
        if (AnyTranslucent(bitmap)) {
            plan = {Rgba, 8, 4 * width, 4, true};
            break;
        }
        [[fallthrough]];
    default: plan = {Rgb, 8, 3 * width, 3, true}; break;
    }
    return plan;
}

// Row y in the file's layout, into `out` (plan.rowBytes bytes).
void FileRow(const TBitmap &bitmap, const Plan &plan, int y, std::uint8_t *out)
{
    const std::uint8_t *row = bitmap.Row(y);
    const std::size_t width = static_cast<std::size_t>(bitmap.GetWidth());
    switch (bitmap.GetPixelFormat()) {
    case pf24bit: SwapRedBlue24(row, out, width); break;
    case pf32bit:
        if (plan.colourType == Rgba) {
            SwapRedBlue32(row, out, width);
        } else {
            for (std::size_t x = 0; x < width; ++x) {
                out[3 * x] = row[4 * x + 2];
                out[3 * x + 1] = row[4 * x + 1];
                out[3 * x + 2] = row[4 * x];
            }
        }
        break;
    case pf15bit:
    case pf16bit:
        for (std::size_t x = 0; x < width; ++x) {
            const TColor c = bitmap.GetPixel(static_cast<int>(x), y);
            out[3 * x] = GetRValue(c);
            out[3 * x + 1] = GetGValue(c);
            out[3 * x + 2] = GetBValue(c);
        }
        break;
    default: std::memcpy(out, row, plan.rowBytes); break;
    }
}

} // namespace

QByteArray EncodePng(const TBitmap &bitmap)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    const Plan plan = PlanFor(bitmap);
    const int height = bitmap.GetHeight();
    const std::size_t rowsPerStrip = std::max<std::size_t>(1, StripBytes / (plan.rowBytes + 1));
    const std::size_t strips = (static_cast<std::size_t>(height) + rowsPerStrip - 1) / rowsPerStrip;

    const std::size_t n = plan.rowBytes;
    const auto makeStrip = [&](std::size_t strip, std::uint8_t *data, std::uint8_t *scratch) {
        const int first = static_cast<int>(strip * rowsPerStrip);
        const int end = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(height), (strip + 1) * rowsPerStrip));
        for (int y = first; y < end; ++y) {
            std::uint8_t *out = data + static_cast<std::size_t>(y - first) * (n + 1);
            if (!plan.filtered) {
                out[0] = static_cast<std::uint8_t>(TPngFilter::None);
                FileRow(bitmap, plan, y, out + 1);
            }
        }
        if (plan.filtered) {
            // The row above the strip, in the file's layout, is where its filters start.
            std::uint8_t *prior = scratch, *current = prior + n, *candidates = current + n;
            if (first > 0)
                FileRow(bitmap, plan, first - 1, prior);
            else
                std::memset(prior, 0, n);
            for (int y = first; y < end; ++y) {
                FileRow(bitmap, plan, y, current);
                FilterPngRowAdaptively(current, prior, n, plan.step, data + static_cast<std::size_t>(y - first) * (n + 1), candidates);
                std::swap(prior, current);
            }
        }
        return static_cast<std::size_t>(end - first) * (n + 1);
    };
    const std::vector<std::vector<std::uint8_t>> parts =
        CompressPiecesInParallel(strips, rowsPerStrip * (n + 1), 6 * n, makeStrip);

    const QByteArray metadata = PngMetadataChunks(MetadataToSave(bitmap), plan.colourType == Grey ? TProfileSpace::Grey : TProfileSpace::Rgb);
    QByteArray png;
    std::size_t total = 8 + 25 + 12 + 3 * 256 + 12 + static_cast<std::size_t>(metadata.size());
    for (const auto &part : parts) total += part.size() + 12;
    png.reserve(static_cast<qsizetype>(total));
    png.append("\x89PNG\r\n\x1a\n", 8);
    std::uint8_t header[13] = {};
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(bitmap.GetWidth()) >> (24 - 8 * i));
        header[4 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(height) >> (24 - 8 * i));
    }
    header[8] = static_cast<std::uint8_t>(plan.depth);
    header[9] = plan.colourType;
    PutPngChunk(png, "IHDR", header, sizeof header);
    png.append(metadata);
    if (plan.colourType == Indexed) {
        const int entries = bitmap.PaletteSize();
        std::vector<std::uint8_t> palette(3 * static_cast<std::size_t>(entries));
        for (int i = 0; i < entries; ++i) {
            const TColor c = bitmap.GetPalette()[static_cast<std::size_t>(i)];
            palette[3 * i] = GetRValue(c);
            palette[3 * i + 1] = GetGValue(c);
            palette[3 * i + 2] = GetBValue(c);
        }
        PutPngChunk(png, "PLTE", palette.data(), palette.size());
    }
    for (const auto &part : parts) PutPngChunk(png, "IDAT", part.data(), part.size());
    PutPngChunk(png, "IEND", nullptr, 0);
    return png;
}
