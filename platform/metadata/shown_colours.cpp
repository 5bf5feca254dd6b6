// The picture control's view in the screen's colours.
#include "platform/metadata/shown_colours.h"

#include <QPainter>

QImage RenderShownView(const TBitmap &bitmap, QSize shown, QRect exposed, TScreenColours &screen)
{
    const TColourTransform *transform = screen.For(bitmap.GetMetadata().colourProfile);
    if (!transform) return RenderPictureView(bitmap, shown, exposed);
    // A palette's 256 entries hold every colour its picture shows.
    if (bitmap.PaletteSize() > 0) return RenderPictureView(bitmap, shown, exposed, transform->Converted(bitmap.GetPalette()));
    // Each row turned as soon as it is rendered, on the core that rendered
    // it, while its pixels are in that core's cache.
    return RenderPictureView(bitmap, shown, exposed, [transform](QRgb *pixels, std::size_t count) {
        transform->Convert(pixels, count);
    });
}

void DrawShownView(QPainter &painter, const TBitmap &bitmap, QSize shown, QRect exposed, TScreenColours &screen)
{
    const QRect area = exposed & QRect(QPoint(0, 0), shown);
    const QImage view = RenderShownView(bitmap, shown, area, screen);
    if (!view.isNull()) painter.drawImage(area.topLeft(), view);
}
