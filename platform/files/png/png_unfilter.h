// Undoing PNG's per-row filters when a file is read: each byte gets back
// the prediction its filter took away, from the byte a pixel to its left
// and the byte above it. Vector kernels for 3 and 4 bytes a pixel.
#pragma once

#include <cstddef>
#include <cstdint>

// Undoes filter type `filter` (0 None, 1 Sub, 2 Up, 3 Average, 4 Paeth) on
// `bytes` filtered bytes of a row, against the unfiltered row above,
// `prior` (all zero for the first row), with `step` bytes a pixel (1 for
// fewer than 8 bits a pixel), into out[0 .. bytes). False for a filter
// type PNG does not define. Every kernel gives the same bytes.
bool UnfilterPngRow(unsigned filter, const std::uint8_t *filtered, const std::uint8_t *prior, std::size_t bytes, int step,
                    std::uint8_t *out);
