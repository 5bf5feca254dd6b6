// The fax standard's one-dimensional Modified Huffman code for 1-bit rows:
// its code tables and a decoder of whole pictures.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace fax {

enum class TInk { White, Black };

// One code word: its bits (the first sent in the highest place), how many
// there are, and the run of pixels it stands for.
struct TCode {
    std::uint16_t bits;
    std::uint8_t length;
    std::uint16_t run;
};

// The codes of one colour: terminating codes (runs 0 to 63), make-up codes
// (64 to 1728) and the extended make-up codes (1792 to 2560) both colours
// share. A run of n pixels is the make-up codes summing to n rounded down
// to a multiple of 64, then the terminating code of the rest.
std::span<const TCode> Codes(TInk ink);

// End of line: eleven 0 bits then a 1. Any number of 0 fill bits may come
// before it, so that rows can start on a byte.
constexpr int EndOfLineZeros = 11;

// Decodes `height` rows of `width` pixels, reading each byte's bits from
// the most significant down. Every row starts with a white run; runs
// alternate colours and fill the row exactly. White pixels become bit 0,
// black ones bit 1, packed 8 to a byte, the first pixel in the top bit,
// into the (width + 7) / 8 bytes at row(y), which the decoder clears first.
// An end-of-line code may come before any row. Rows may follow one another
// bit by bit or each start on a new byte after 0 fill bits: both are
// understood. Data after the last row is ignored.
// Gives the rows decoded whole: fewer than height when the data ends early
// (the rows it lacks, and the rest of a row it cuts, stay white).
// Throws Exception when the bits match no code, or a run passes the end of
// its row, however the rows are aligned.
int DecodeRows(std::span<const std::uint8_t> data, int width, int height, const std::function<std::uint8_t *(int)> &row);

} // namespace fax
