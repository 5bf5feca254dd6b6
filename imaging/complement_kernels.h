// The ways Complement can run, for tests that compare each with the plain one.
#pragma once

#include "platform/base/vector_kernels.h"
#include "platform/pictures/bitmap.h"

namespace complement {
using Kernel = TVectorLevel;

// True when this processor and build can run the kernel.
bool Available(Kernel kernel);

// Complement with a chosen kernel; an unavailable one falls back to Plain.
void ComplementWith(TBitmap &bitmap, Kernel kernel);
} // namespace complement
