// The picture control's repaint: a 688 x 424 view of a 10000 x 10000 picture at every zoom.
#include "bench_registry.h"
#include "bench_support.h"

#include "platform/metadata/shown_colours.h"
#include "platform/pictures/picture_view.h"
#include "support/profiles.h"

#include <QPainter>

namespace bench {
namespace {

constexpr int Side = 10000;
constexpr QSize ViewSize(688, 424);

// The zoom box's divisors, named by the entry that gives them.
struct Zoom {
    const char *name;
    float divisor;
};
constexpr Zoom Zooms[] = {{"25%", 4.0f}, {"50%", 2.0f}, {"75%", 1.25f}, {"100%", 1.0f}, {"150%", 0.75f}, {"200%", 0.5f}};

// The shown size as the form computes it, and the view in its middle.
QSize Shown(float divisor)
{
    const int side = static_cast<int>(Side / divisor);
    return {side, side};
}

QRect Exposed(QSize shown)
{
    return QRect(QPoint((shown.width() - ViewSize.width()) / 2, (shown.height() - ViewSize.height()) / 2), ViewSize);
}

void RegisterRender(TPixelFormat format, const Zoom &zoom)
{
    const std::string op = std::string("RenderPictureView.") + (format == pf8bit ? "pf8bit." : "pf24bit.") + zoom.name;
    const float divisor = zoom.divisor;
    RegisterOurs(op, Side, [=](benchmark::State &state) {
        const TBitmap &bitmap = ViewedPicture(format);
        const QSize shown = Shown(divisor);
        for (auto _ : state) {
            QImage view = RenderPictureView(bitmap, shown, Exposed(shown));
            benchmark::DoNotOptimize(view.constBits());
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * ViewSize.width() * ViewSize.height());
        CountBytes(state, std::size_t(4) * ViewSize.width() * ViewSize.height());
    });
    // The same view of a picture whose colours are in a wide gamut, turned
    // into the screen's (sRGB) as the picture control does.
    const std::string shownOp = std::string("RenderShownView.") + (format == pf8bit ? "pf8bit" : "pf24bit") + ".wide-gamut." + zoom.name;
    RegisterOurs(shownOp, Side, [=](benchmark::State &state) {
        const TBitmap &bitmap = ViewedPicture(format, WideGamutProfile());
        TScreenColours screen;
        const QSize shown = Shown(divisor);
        for (auto _ : state) {
            QImage view = RenderShownView(bitmap, shown, Exposed(shown), screen);
            benchmark::DoNotOptimize(view.constBits());
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * ViewSize.width() * ViewSize.height());
        CountBytes(state, std::size_t(4) * ViewSize.width() * ViewSize.height());
    });
    if (format != pf8bit) return;
    const std::string draw = std::string("DrawPictureView.pf8bit.") + zoom.name;
    RegisterOurs(draw, Side, [=](benchmark::State &state) {
        const TBitmap &bitmap = ViewedPicture(format);
        const QSize shown = Shown(divisor);
        const QRect exposed = Exposed(shown);
        QImage target(ViewSize, QImage::Format_RGB32);
        for (auto _ : state) {
            QPainter painter(&target);
            painter.translate(-exposed.topLeft());
            DrawPictureView(painter, bitmap, shown, exposed);
        }
        CountBytes(state, std::size_t(4) * ViewSize.width() * ViewSize.height());
    });
}

} // namespace

void RegisterView()
{
    for (TPixelFormat format : {pf8bit, pf24bit})
        for (const Zoom &zoom : Zooms) RegisterRender(format, zoom);
}

} // namespace bench
