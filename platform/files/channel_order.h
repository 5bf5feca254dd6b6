// Turning rows of R, G, B (, A) pixels into B, G, R (, A) and back: the same
// swap both ways, for the codecs whose files store R, G, B (PNG both ways,
// the TIFF and PBM/PGM/PPM readers).
#pragma once

#include <cstddef>
#include <cstdint>

// Swaps the first and third byte of each 3-byte pixel from `in` to `out`,
// which may be the same row (and must not overlap it otherwise). Reads and
// writes only the pixels' bytes. Chooses a vector kernel where the processor
// has one (platform/base/vector_kernels.h).
void SwapRedBlue24(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels);
// The same for 4-byte pixels; the fourth byte is copied.
void SwapRedBlue32(const std::uint8_t *in, std::uint8_t *out, std::size_t pixels);
