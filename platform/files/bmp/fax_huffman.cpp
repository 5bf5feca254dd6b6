// The fax standard's one-dimensional Modified Huffman code: its tables,
// written as the standard lists them, and a decoder of whole pictures.
#include "platform/files/bmp/fax_huffman.h"

#include "platform/base/strings_and_errors.h"
#include "platform/files/opening_limits.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace fax {

namespace {

// A code word as the standard prints it, first bit first, and its run.
struct TWord {
    const char *bits;
    std::uint16_t run;
};

constexpr TWord WhiteTerminating[] = {
    {"00110101", 0}, {"000111", 1}, {"0111", 2}, {"1000", 3}, {"1011", 4}, {"1100", 5}, {"1110", 6}, {"1111", 7},
    {"10011", 8}, {"10100", 9}, {"00111", 10}, {"01000", 11}, {"001000", 12}, {"000011", 13}, {"110100", 14},
    {"110101", 15}, {"101010", 16}, {"101011", 17}, {"0100111", 18}, {"0001100", 19}, {"0001000", 20},
    {"0010111", 21}, {"0000011", 22}, {"0000100", 23}, {"0101000", 24}, {"0101011", 25}, {"0010011", 26},
    {"0100100", 27}, {"0011000", 28}, {"00000010", 29}, {"00000011", 30}, {"00011010", 31}, {"00011011", 32},
    {"00010010", 33}, {"00010011", 34}, {"00010100", 35}, {"00010101", 36}, {"00010110", 37}, {"00010111", 38},
    {"00101000", 39}, {"00101001", 40}, {"00101010", 41}, {"00101011", 42}, {"00101100", 43}, {"00101101", 44},
    {"00000100", 45}, {"00000101", 46}, {"00001010", 47}, {"00001011", 48}, {"01010010", 49}, {"01010011", 50},
    {"01010100", 51}, {"01010101", 52}, {"00100100", 53}, {"00100101", 54}, {"01011000", 55}, {"01011001", 56},
    {"01011010", 57}, {"01011011", 58}, {"01001010", 59}, {"01001011", 60}, {"00110010", 61}, {"00110011", 62},
    {"00110100", 63}
};

constexpr TWord WhiteMakeUp[] = {
    {"11011", 64}, {"10010", 128}, {"010111", 192}, {"0110111", 256}, {"00110110", 320}, {"00110111", 384},
    {"01100100", 448}, {"01100101", 512}, {"01101000", 576}, {"01100111", 640}, {"011001100", 704},
    {"011001101", 768}, {"011010010", 832}, {"011010011", 896}, {"011010100", 960}, {"011010101", 1024},
    {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216}, {"011011001", 1280}, {"011011010", 1344},
    {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536}, {"010011010", 1600}, {"011000", 1664},
    {"010011011", 1728}
};

constexpr TWord BlackTerminating[] = {
    {"0000110111", 0}, {"010", 1}, {"11", 2}, {"10", 3}, {"011", 4}, {"0011", 5}, {"0010", 6}, {"00011", 7},
    {"000101", 8}, {"000100", 9}, {"0000100", 10}, {"0000101", 11}, {"0000111", 12}, {"00000100", 13},
    {"00000111", 14}, {"000011000", 15}, {"0000010111", 16}, {"0000011000", 17}, {"0000001000", 18},
    {"00001100111", 19}, {"00001101000", 20}, {"00001101100", 21}, {"00000110111", 22}, {"00000101000", 23},
    {"00000010111", 24}, {"00000011000", 25}, {"000011001010", 26}, {"000011001011", 27}, {"000011001100", 28},
    {"000011001101", 29}, {"000001101000", 30}, {"000001101001", 31}, {"000001101010", 32}, {"000001101011", 33},
    {"000011010010", 34}, {"000011010011", 35}, {"000011010100", 36}, {"000011010101", 37}, {"000011010110", 38},
    {"000011010111", 39}, {"000001101100", 40}, {"000001101101", 41}, {"000011011010", 42}, {"000011011011", 43},
    {"000001010100", 44}, {"000001010101", 45}, {"000001010110", 46}, {"000001010111", 47}, {"000001100100", 48},
    {"000001100101", 49}, {"000001010010", 50}, {"000001010011", 51}, {"000000100100", 52}, {"000000110111", 53},
    {"000000111000", 54}, {"000000100111", 55}, {"000000101000", 56}, {"000001011000", 57}, {"000001011001", 58},
    {"000000101011", 59}, {"000000101100", 60}, {"000001011010", 61}, {"000001100110", 62}, {"000001100111", 63}
};

constexpr TWord BlackMakeUp[] = {
    {"0000001111", 64}, {"000011001000", 128}, {"000011001001", 192}, {"000001011011", 256}, {"000000110011", 320},
    {"000000110100", 384}, {"000000110101", 448}, {"0000001101100", 512}, {"0000001101101", 576},
    {"0000001001010", 640}, {"0000001001011", 704}, {"0000001001100", 768}, {"0000001001101", 832},
    {"0000001110010", 896}, {"0000001110011", 960}, {"0000001110100", 1024}, {"0000001110101", 1088},
    {"0000001110110", 1152}, {"0000001110111", 1216}, {"0000001010010", 1280}, {"0000001010011", 1344},
    {"0000001010100", 1408}, {"0000001010101", 1472}, {"0000001011010", 1536}, {"0000001011011", 1600},
    {"0000001100100", 1664}, {"0000001100101", 1728}
};

constexpr TWord ExtendedMakeUp[] = {
    {"00000001000", 1792}, {"00000001100", 1856}, {"00000001101", 1920}, {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112}, {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560}
};

// The longest code word, in bits: the decoder looks this far ahead.
constexpr int Window = 13;

// Each ink's codes, and for every window of 13 bits the code it starts
// with, as length << 12 | run (0 where no code starts: 8 or more 0 bits).
struct TCodeBook {
    std::array<std::vector<TCode>, 2> codes;
    std::array<std::array<std::uint16_t, 1 << Window>, 2> lookup{};
};

TCodeBook MakeBook()
{
    TCodeBook book;
    const auto add = [&](TInk ink, std::span<const TWord> words) {
        const auto i = static_cast<std::size_t>(ink);
        for (const TWord &word : words) {
            const auto length = static_cast<int>(std::strlen(word.bits));
            std::uint16_t bits = 0;
            for (int b = 0; b < length; ++b) bits = static_cast<std::uint16_t>(bits << 1 | (word.bits[b] == '1'));
            book.codes[i].push_back({bits, static_cast<std::uint8_t>(length), word.run});
            const int first = bits << (Window - length);
            std::fill_n(book.lookup[i].begin() + first, 1 << (Window - length),
                        static_cast<std::uint16_t>(length << 12 | word.run));
        }
    };
    add(TInk::White, WhiteTerminating);
    add(TInk::White, WhiteMakeUp);
    add(TInk::White, ExtendedMakeUp);
    add(TInk::Black, BlackTerminating);
    add(TInk::Black, BlackMakeUp);
    add(TInk::Black, ExtendedMakeUp);
    return book;
}

const TCodeBook &Book()
{
    static const TCodeBook book = MakeBook();
    return book;
}

// The data as a stream of bits, the most significant of each byte first.
class TBits {
public:
    explicit TBits(std::span<const std::uint8_t> data) : data_(data), end_(data.size() * 8) {}

    std::size_t Left() const { return end_ - at_; }
    void Skip(std::size_t bits) { at_ = std::min(at_ + bits, end_); }
    // The bits up to the next byte: false when they are not all 0.
    bool ToByte()
    {
        const std::size_t fill = std::min<std::size_t>((8 - (at_ & 7)) & 7, Left());
        const bool zeros = Zeros() >= fill;
        Skip(fill);
        return zeros;
    }

    // The next Window bits; 0 bits past the end.
    unsigned Peek() const
    {
        const std::size_t byte = at_ >> 3;
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 3; ++i) v = v << 8 | (byte + i < data_.size() ? data_[byte + i] : 0u);
        return (v >> (24 - Window - (at_ & 7))) & ((1u << Window) - 1);
    }

    // How many 0 bits come next, up to the end.
    std::size_t Zeros() const
    {
        std::size_t at = at_;
        while (at < end_ && !(data_[at >> 3] & (0x80 >> (at & 7)))) ++at;
        return at - at_;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t end_;
    std::size_t at_ = 0;
};

// Sets the bits of pixels [from, to) of a row packed 8 to a byte.
void SetBits(std::uint8_t *row, int from, int to)
{
    for (; from < to && (from & 7); ++from) row[from >> 3] |= static_cast<std::uint8_t>(0x80 >> (from & 7));
    const int wholeTo = to & ~7;
    if (from < wholeTo) {
        std::memset(row + (from >> 3), 0xFF, static_cast<std::size_t>((wholeTo - from) >> 3));
        from = wholeTo;
    }
    for (; from < to; ++from) row[from >> 3] |= static_cast<std::uint8_t>(0x80 >> (from & 7));
}

enum class TEnd { Whole, DataEnds, Damaged };

struct TReading {
    int rows;
    TEnd end;
};

enum class TRowStart { AfterLastRow, OnAByte };

TReading Read(std::span<const std::uint8_t> data, int width, int height, const std::function<std::uint8_t *(int)> &row,
              TRowStart start)
{
    const TCodeBook &book = Book();
    TBits bits(data);
    for (int y = 0; y < height; ++y) {
        // Fill bits are 0: any other bit means rows do not start on bytes.
        if (start == TRowStart::OnAByte && !bits.ToByte()) return {y, TEnd::Damaged};
        // End-of-line codes and the fill before them.
        for (std::size_t zeros; (zeros = bits.Zeros()) >= EndOfLineZeros;) {
            if (zeros == bits.Left()) return {y, TEnd::DataEnds};
            bits.Skip(zeros + 1);
        }
        std::uint8_t *dst = row(y);
        std::memset(dst, 0, (static_cast<std::size_t>(width) + 7) / 8);
        TInk ink = TInk::White;
        for (int x = 0; x < width;) {
            // Make-up codes, then the terminating code that ends the run.
            int run = 0;
            for (bool terminated = false; !terminated;) {
                const unsigned entry = book.lookup[static_cast<std::size_t>(ink)][bits.Peek()];
                const unsigned length = entry >> 12;
                if (length == 0 || length > bits.Left()) {
                    // Bits that end the data, or 0 bits up to its end, are a cut code.
                    const bool cut = bits.Left() < Window || bits.Zeros() == bits.Left();
                    return {y, cut ? TEnd::DataEnds : TEnd::Damaged};
                }
                bits.Skip(length);
                const int part = static_cast<int>(entry & 0xFFF);
                terminated = part < 64;
                run += part;
                if (run > width - x) return {y, TEnd::Damaged};
            }
            if (ink == TInk::Black) SetBits(dst, x, x + run);
            x += run;
            ink = ink == TInk::White ? TInk::Black : TInk::White;
        }
    }
    return {height, TEnd::Whole};
}

} // namespace

std::span<const TCode> Codes(TInk ink) { return Book().codes[static_cast<std::size_t>(ink)]; }

int DecodeRows(std::span<const std::uint8_t> data, int width, int height, const std::function<std::uint8_t *(int)> &row)
{
    if (width <= 0 || height <= 0) return 0;
    // Each reading clears the rows it reaches; those it stops short of may
    // hold what an earlier one wrote.
    const auto read = [&](TRowStart start, const TReading &before) {
        for (int y = 0; y <= std::min(before.rows, height - 1); ++y)
            std::memset(row(y), 0, (static_cast<std::size_t>(width) + 7) / 8);
        return Read(data, width, height, row, start);
    };
    const TReading flowing = Read(data, width, height, row, TRowStart::AfterLastRow);
    if (flowing.end == TEnd::Whole) return flowing.rows;
    // Rows on bytes read wrongly as flowing ones soon meet a bad code or an
    // overlong run; data cut short may end before they do. Rows on bytes,
    // whose fill bits are all 0, are trusted when they reach as far.
    const TReading aligned = read(TRowStart::OnAByte, flowing);
    if (aligned.end != TEnd::Damaged && (flowing.end == TEnd::Damaged || aligned.rows >= flowing.rows)) return aligned.rows;
    if (flowing.end == TEnd::Damaged) throw Exception(DamagedData());
    return read(TRowStart::AfterLastRow, aligned).rows;
}

} // namespace fax
