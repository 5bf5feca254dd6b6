// The picture control's view in the screen's colours: the rendered view
// turned from the picture's colour profile into the screen's.
#pragma once

#include "platform/metadata/colour_profiles.h"
#include "platform/pictures/picture_view.h"

// RenderPictureView's image with its colours turned by the screen's
// transform for the picture's profile (TScreenColours::For): a palette
// picture's palette once, before rendering; any other picture's shown
// pixels after scaling, over the exposed area alone. The checkerboard
// under clear pixels is turned with them (its greys stay grey). Where no
// transform is needed, or the profile is refused, the image is exactly
// RenderPictureView's. The bitmap is only read.
QImage RenderShownView(const TBitmap &bitmap, QSize shown, QRect exposed, TScreenColours &screen);

void DrawShownView(QPainter &painter, const TBitmap &bitmap, QSize shown, QRect exposed, TScreenColours &screen);
