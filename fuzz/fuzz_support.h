// What the fuzz targets share: the input as a span, Qt without a window, and checks that abort.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <span>

// A core application, made once: Qt's image plugins load without one, but
// with it they are found as in the program, and no window system is needed.
void StartQtWithoutWindows();

// Ends the run with a report when a promise is broken: the fuzzer keeps
// the input that did it.
void Require(bool condition, const char *promise);

// Same size, format, palette entries in use and pixel bytes (padding and
// spare bits of a last byte excluded).
bool SamePixels(const TBitmap &a, const TBitmap &b);

// Every pixel shows the same colour (formats may differ).
bool SameColours(const TBitmap &a, const TBitmap &b);

// Every pixel has the same alpha: its 4th byte in pf32bit, else 255.
bool SameAlpha(const TBitmap &a, const TBitmap &b);
