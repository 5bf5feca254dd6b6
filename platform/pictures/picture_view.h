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
QImage RenderPictureView(const TBitmap &bitmap, QSize shown, QRect exposed);

void DrawPictureView(QPainter &painter, const TBitmap &bitmap, QSize shown, QRect exposed);
