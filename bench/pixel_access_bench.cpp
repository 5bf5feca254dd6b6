// Pixel access through the canvas, beside QImage::pixel and QImage::setPixel.
#include "bench_registry.h"
#include "bench_support.h"

#include "platform/pictures/canvas.h"


namespace bench {
namespace {

// Sums of each channel: the same for both sides whatever order a pixel keeps them in.
struct ChannelSums {
    std::uint64_t r = 0, g = 0, b = 0;
    bool operator==(const ChannelSums &) const = default;
};

// Every pixel read, row after row, as the capture reads them. The loops
// count to a local copy of the size, which no pixel store can change.
void RegisterGet(TPixelFormat format, int size)
{
    const std::string op = std::string("GetPixel.") + FormatName(format);
    Register(op, "ours", size, [=](benchmark::State &state) {
        TBitmap work;
        CopyInto(Picture(Content::RandomBytes, format, size), work);
        TCanvas *canvas = work.GetCanvas();
        const int side = size;
        for (auto _ : state) {
            std::uint32_t sum = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) sum += static_cast<std::uint32_t>(canvas->GetPixel(x, y));
            benchmark::DoNotOptimize(sum);
        }
        CountBytes(state, work.ImageBytes());
    });
    Register(op, "qt", size, [=](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, format, size);
        const QImage image = ToQImage(source);
        if (FirstTime(op + std::to_string(size))) {
            ChannelSums ours, theirs;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const TColor c = source.GetPixel(x, y);
                    ours.r += GetRValue(c), ours.g += GetGValue(c), ours.b += GetBValue(c);
                    const QRgb q = image.pixel(x, y);
                    theirs.r += qRed(q), theirs.g += qGreen(q), theirs.b += qBlue(q);
                }
            if (!(ours == theirs)) return state.SkipWithError("QImage::pixel reads other colours");
        }
        const int side = size;
        for (auto _ : state) {
            std::uint32_t sum = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) sum += image.pixel(x, y);
            benchmark::DoNotOptimize(sum);
        }
        CountBytes(state, source.ImageBytes());
    });
}

// Every pixel written, row after row, with colours from a table of 256 (on
// pf8bit its palette, so each colour has its own entry; Qt's Indexed8 takes
// the entry's index, as it takes no colour).
void RegisterSet(TPixelFormat format, int size)
{
    const std::string op = std::string("SetPixel.") + FormatName(format);
    auto colours = [](const TBitmap &source) {
        TPalette table = source.GetPalette();
        if (source.GetPixelFormat() != pf8bit)
            for (int i = 0; i < 256; ++i) table[static_cast<std::size_t>(i)] = RGB(i, 255 - i, (i * 37) & 255);
        return table;
    };
    Register(op, "ours", size, [=](benchmark::State &state) {
        TBitmap work;
        CopyInto(Picture(Content::RandomBytes, format, size), work);
        const TPalette table = colours(work);
        TCanvas *canvas = work.GetCanvas();
        const int side = size;
        for (auto _ : state) {
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) canvas->SetPixel(x, y, table[static_cast<std::size_t>((x + y) & 255)]);
            benchmark::ClobberMemory();
        }
        CountBytes(state, work.ImageBytes());
    });
    Register(op, "qt", size, [=](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, format, size);
        QImage image = ToQImage(source);
        const TPalette table = colours(source);
        uint values[256];
        for (int i = 0; i < 256; ++i) {
            const TColor c = table[static_cast<std::size_t>(i)];
            values[i] = format == pf8bit ? static_cast<uint>(i) : qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
        }
        if (FirstTime(op + std::to_string(size))) {
            TBitmap ours;
            CopyInto(source, ours);
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    ours.SetPixel(x, y, table[static_cast<std::size_t>((x + y) & 255)]);
                    image.setPixel(x, y, values[(x + y) & 255]);
                }
            if (!SameAsQImage(ours, image)) return state.SkipWithError("QImage::setPixel writes other colours");
        }
        const int side = size;
        for (auto _ : state) {
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) image.setPixel(x, y, values[(x + y) & 255]);
            benchmark::ClobberMemory();
        }
        CountBytes(state, source.ImageBytes());
    });
}

} // namespace

void RegisterPixelAccess()
{
    for (int size : Sizes)
        for (TPixelFormat format : {pf8bit, pf24bit, pf32bit}) {
            RegisterGet(format, size);
            RegisterSet(format, size);
        }
}

} // namespace bench
