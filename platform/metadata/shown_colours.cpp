// The picture control's view in the screen's colours.
#include "platform/metadata/shown_colours.h"

#include <QPainter>

QImage RenderShownView(const TBitmap &bitmap, QSize shown, QRect exposed, TScreenColours &screen)
{
    const TColourTransform *transform = screen.For(bitmap.GetMetadata().colourProfile);
    if (!transform) return RenderPictureView(bitmap, shown, exposed);
    // A palette's 256 entries hold every colour its picture shows.
    if (bitmap.PaletteSize() > 0) return RenderPictureView(bitmap, shown, exposed, transform->Converted(bitmap.GetPalette()));
    QImage view = RenderPictureView(bitmap, shown, exposed);
    if (view.isNull()) return view;
    // RGB32 rows take 4 bytes a pixel and no padding: one run over them all.
    transform->Convert(reinterpret_cast<std::uint32_t *>(view.bits()),
                       static_cast<std::size_t>(view.width()) * static_cast<std::size_t>(view.height()));
    return view;
}

void DrawShownView(QPainter &painter, const TBitmap &bitmap, QSize shown, QRect exposed, TScreenColours &screen)
{
    const QRect area = exposed & QRect(QPoint(0, 0), shown);
    const QImage view = RenderShownView(bitmap, shown, area, screen);
    if (!view.isNull()) painter.drawImage(area.topLeft(), view);
}
