// Drawing part of a bitmap scaled to a shown size, without converting or
// scaling the whole picture: only the exposed rectangle is computed.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstddef>
#include <functional>

class QPainter;

// Renders the part `exposed` (in control coordinates) of the bitmap shown at
// `shown` size: nearest neighbour when enlarged, the average of the covered
// pixels when reduced. Pixels outside the shown picture are left out.
// Pixels with an alpha below 255 are drawn over a checkerboard of
// CheckerSide-pixel squares fixed to the control, CheckerLight where
// (x / CheckerSide + y / CheckerSide) is even, else CheckerDark; alpha 0
// shows the board alone, whatever colour the pixel stores.
QImage RenderPictureView(const TBitmap &bitmap, QSize shown, QRect exposed);
// The same, with a palette picture's colours shown as shownPalette's
// entries at the same indices (its own palette turned into the screen's
// colours); other pictures are rendered as above.
QImage RenderPictureView(const TBitmap &bitmap, QSize shown, QRect exposed, const TPalette &shownPalette);

// A change made to each rendered row's pixels (RGB32, count of them) in
// place, on the thread that rendered the row while the row is still in its
// cache: a step over each pixel alone, such as a colour transform, called
// from several threads at once.
using TRenderedRowStep = std::function<void(QRgb *pixels, std::size_t count)>;
// The same as RenderPictureView, each row then changed by eachRow.
QImage RenderPictureView(const TBitmap &bitmap, QSize shown, QRect exposed, const TRenderedRowStep &eachRow);

constexpr int CheckerSide = 8;
constexpr unsigned CheckerLight = 0xCC;
constexpr unsigned CheckerDark = 0x99;

void DrawPictureView(QPainter &painter, const TBitmap &bitmap, QSize shown, QRect exposed);
