// Drawing part of a bitmap scaled to a shown size, without converting or
// scaling the whole picture: only the exposed rectangle is computed.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QImage>
#include <QRect>
#include <QSize>

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

constexpr int CheckerSide = 8;
constexpr unsigned CheckerLight = 0xCC;
constexpr unsigned CheckerDark = 0x99;

void DrawPictureView(QPainter &painter, const TBitmap &bitmap, QSize shown, QRect exposed);
