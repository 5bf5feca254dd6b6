// The per-row filters of PNG (Sub, Up, Average, Paeth) and the choice among
// them, for the writer; vector kernels beside plain ones.
#pragma once

#include <cstddef>
#include <cstdint>

// PNG's filter types.
enum class TPngFilter : std::uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// Filters `bytes` bytes of `row` against the row above, `prior` (all zero
// for the first row), with `step` bytes a pixel (1 for fewer than 8 bits a
// pixel), into out[0 .. bytes). Returns the sum of the filtered bytes' sizes
// taken as signed numbers (|b| for b < 128, 256 - b above), the measure by
// which the filter of a row is chosen. Every kernel gives the same bytes.
std::uint64_t FilterPngRow(TPngFilter filter, const std::uint8_t *row, const std::uint8_t *prior, std::size_t bytes, int step,
                           std::uint8_t *out);

// Writes the filter type byte and the filtered row (bytes + 1 bytes) to
// `out`, with the filter of the smallest sum. `scratch` holds 4 * bytes.
void FilterPngRowAdaptively(const std::uint8_t *row, const std::uint8_t *prior, std::size_t bytes, int step, std::uint8_t *out,
                            std::uint8_t *scratch);
