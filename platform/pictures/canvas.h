// TCanvas: the pixel-colour view of a bitmap.
#pragma once

#include "platform/pictures/bitmap.h"

class TCanvas {
public:
    explicit TCanvas(TBitmap &bitmap) : bitmap_(bitmap) {}

    // The colour of pixel (x, y); clBlack outside the picture.
    TColor GetPixel(int x, int y) const { return bitmap_.GetPixel(x, y); }
    // Sets pixel (x, y); nothing happens outside the picture.
    void SetPixel(int x, int y, TColor colour) { bitmap_.SetPixel(x, y, colour); }

private:
    TBitmap &bitmap_;
};
