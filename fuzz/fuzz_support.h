// What the fuzz targets share: the input as a span, Qt without a window, and checks that abort.
#pragma once

#include "platform/pictures/bitmap.h"
#include "support/comparisons.h"

#include <cstddef>
#include <cstdint>
#include <span>

// A core application, made once: Qt's image plugins load without one, but
// with it they are found as in the program, and no window system is needed.
void StartQtWithoutWindows();

// Ends the run with a report when a promise is broken: the fuzzer keeps
// the input that did it.
void Require(bool condition, const char *promise);
