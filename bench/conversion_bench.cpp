// Conversion to pf8bit and the pixel capture, beside Qt's conversion to Indexed8.
#include "bench_registry.h"
#include "bench_support.h"

#include "imaging/pixel_capture.h"


namespace bench {
namespace {

const char *ContentName(Content content) { return content == Content::FewColours ? "FewColours" : "Photograph"; }

// Each run converts a fresh copy of the source; the copy is not timed. A
// photograph's conversion takes 0.1 to 0.6 s on one thread, so its rows
// measure a few runs a repetition rather than one.
void RegisterConversion(Content content, TPixelFormat from, int size)
{
    const std::string op = std::string("ToPf8bit.") + ContentName(content) + (from == pf24bit ? ".pf24bit" : ".pf32bit");
    const double minSeconds = content == Content::Photograph && size >= 4096 ? 1.5 : 0;
    RegisterOurs(op, size, [=](benchmark::State &state) {
        const TBitmap &source = Picture(content, from, size);
        TBitmap work;
        for (auto _ : state) {
            state.PauseTiming();
            CopyInto(source, work);
            state.ResumeTiming();
            work.SetPixelFormat(pf8bit);
        }
        CountBytes(state, source.ImageBytes());
    }, minSeconds);
    if (from != pf32bit) return;
    // Qt from RGB32 with its default flags; its error is the bar for ours.
    Register(op, "qt", size, [=](benchmark::State &state) {
        const TBitmap &source = Picture(content, from, size);
        const QImage image = ToQImage(source);
        if (FirstTime(op + std::to_string(size))) {
            TBitmap ours;
            CopyInto(source, ours);
            ours.SetPixelFormat(pf8bit);
            const QImage theirs = image.convertToFormat(QImage::Format_Indexed8);
            const double ourError = MeanAbsoluteError(ours, source);
            const double qtError = MeanAbsoluteError(source, theirs);
            if (ourError > qtError + 1e-9)
                return state.SkipWithError(("our error " + std::to_string(ourError) + " exceeds Qt's "
                                            + std::to_string(qtError)).c_str());
        }
        for (auto _ : state) {
            QImage converted = image.convertToFormat(QImage::Format_Indexed8);
            benchmark::DoNotOptimize(converted.constBits());
        }
        CountBytes(state, source.ImageBytes());
    });
}

// The public photographs at their own size: our error and Qt's, per channel.
void RegisterPhotographError(const char *name)
{
    const std::string op = std::string("PhotoError.") + name;
    auto load = [name](TBitmap &bitmap) {
        const std::optional<QString> dir = PhotosDir();
        if (!dir) return false;
        const QImage photo = QImage(*dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"))
                                 .convertToFormat(QImage::Format_RGB32);
        if (photo.isNull()) return false;
        bitmap.Allocate(photo.width(), photo.height(), pf32bit);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x) {
                const QRgb c = photo.pixel(x, y);
                bitmap.SetPixel(x, y, RGB(qRed(c), qGreen(c), qBlue(c)));
            }
        return true;
    };
    Register(op, "ours", 0, [=](benchmark::State &state) {
        TBitmap source, work;
        if (!load(source)) return state.SkipWithError("the shared photographs are absent");
        CopyInto(source, work);
        work.SetPixelFormat(pf8bit);
        state.counters["mae"] = MeanAbsoluteError(work, source);
        for (auto _ : state) {
            state.PauseTiming();
            CopyInto(source, work);
            state.ResumeTiming();
            work.SetPixelFormat(pf8bit);
        }
    });
    Register(op, "qt", 0, [=](benchmark::State &state) {
        TBitmap source;
        if (!load(source)) return state.SkipWithError("the shared photographs are absent");
        const QImage image = ToQImage(source);
        state.counters["mae"] = MeanAbsoluteError(source, image.convertToFormat(QImage::Format_Indexed8));
        for (auto _ : state) {
            QImage converted = image.convertToFormat(QImage::Format_Indexed8);
            benchmark::DoNotOptimize(converted.constBits());
        }
    });
}

void RegisterCapture(int size)
{
    RegisterOurs("Capture.pf8bit", size, [size](benchmark::State &state) {
        TBitmap work;
        CopyInto(Picture(Content::RandomBytes, pf8bit, size), work);
        for (auto _ : state) CapturePixels(work);
        CountBytes(state, 512 * 512 * sizeof(int));
    });
    RegisterOurs("Capture.FewColours.pf32bit", size, [size](benchmark::State &state) {
        const TBitmap &source = Picture(Content::FewColours, pf32bit, size);
        TBitmap work;
        for (auto _ : state) {
            state.PauseTiming();
            CopyInto(source, work);
            state.ResumeTiming();
            CapturePixels(work);
        }
        CountBytes(state, source.ImageBytes());
    });
}

} // namespace

void RegisterConversions()
{
    for (int size : Sizes) {
        for (Content content : {Content::FewColours, Content::Photograph})
            for (TPixelFormat from : {pf32bit, pf24bit}) RegisterConversion(content, from, size);
        RegisterCapture(size);
    }
    RegisterPhotographError("astronaut");
    RegisterPhotographError("coffee");
}

} // namespace bench
