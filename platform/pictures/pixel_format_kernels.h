// The ways SetPixelFormat can index 32-bit rows, for tests that compare each with the plain one.
#pragma once

#include "platform/base/vector_kernels.h"

namespace pixel_format {
using IndexKernel = TVectorLevel;

// True when this processor and build can run the kernel.
bool Available(IndexKernel kernel);

// The kernel later conversions use (the fastest available at start); an
// unavailable one falls back to Plain.
void UseIndexKernel(IndexKernel kernel);
} // namespace pixel_format
