// What the picture fuzz target does with a picture that opens, shared with
// the test that runs the inputs the fuzzers kept.
#pragma once

#include "platform/pictures/bitmap.h"

#include <functional>

// Called with whether each promise was kept, and the promise in words.
using TPromiseCheck = std::function<void(bool kept, const char *promise)>;

// Puts the picture through every pixel operation, every pixel format, the
// view at four zooms and a save to BMP and PNG, checking what each
// promises: complement and mirror twice give the original, edge detection
// keeps size and format, capture gives pf8bit, conversion gives the format
// at the same size (every colour kept in 24 and 32 bits), the view shows
// the exposed part with every opaque colour exact at 100%, and BMP and PNG
// keep every pixel.
void ProcessOpenedPicture(const TBitmap &picture, const TPromiseCheck &check);
