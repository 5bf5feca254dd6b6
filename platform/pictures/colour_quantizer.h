// TColourQuantizer: an adaptive palette for a picture of many colours, and the mapping of colours onto it.
#pragma once

#include "platform/pictures/colour.h"
#include "platform/pictures/colour_index_table.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Colours come and go as TColor values 0x00BBGGRR (the top byte is ignored).
//
// Use: count the colours of every row (or of a sample of rows, with Notice
// for the others) into ColourCounts, one for each thread that counts;
// Build once from all of them, then Map every row, from any thread.
//
// The palette is chosen over a histogram of 5-bit-per-channel cells that
// keeps each cell's exact mean colour: a median cut that always splits the
// box of largest squared error where the split lowers it most, then a few
// Lloyd (k-means) passes. Black and white, when the picture has them, are
// entries of their own. Map gives each colour the entry nearest (sum of
// squared channel differences) to the centre of its cell,
// and a colour that is itself in the palette always its own entry.
// The palette depends on the colours counted and their order alone, not on
// which thread counted which.
class TColourQuantizer {
public:
    // Colours beyond this many are not counted (the cell sums are 32-bit):
    // larger pictures give a sample of their rows.
    static constexpr std::size_t MaxCounted = std::size_t(1) << 24;

    struct Cell {
        std::uint32_t count, r, g, b;
    };

private:
    // Build's four steps (colour_quantizer.cpp).
    class Steps;

public:
    // The colours one thread counts. Each on cache lines of its own: the
    // threads' objects lie side by side in one vector, and a line that one
    // thread writes at every colour and another reads bounces between
    // their cores (two threads were slower than one).
    class alignas(64) ColourCounts {
    public:
        ColourCounts();

        // Counts colours[0..count), the first of them the at-th colour
        // counted in the whole picture (colours from MaxCounted on are
        // not). One object's calls come in increasing `at`.
        void Add(const std::uint32_t *colours, std::size_t count, std::uint64_t at);
        // Only looks for black and white, in rows left out of Add.
        void Notice(const std::uint32_t *colours, std::size_t count);

    private:
        friend class TColourQuantizer;
        friend class TColourQuantizer::Steps;
        void Count(Cell *cells, std::uint32_t colour, std::uint32_t times, std::uint64_t at);

        std::vector<Cell> cells_;
        // The cells counted at least once, in order of first count, with
        // where in the picture's counted colours that was.
        std::vector<std::pair<std::uint64_t, std::uint32_t>> used_;
        bool hasBlack_ = false;
        bool hasWhite_ = false;
    };

    // entries: the most palette entries wanted, 2 to 256.
    explicit TColourQuantizer(int entries);
    ~TColourQuantizer();
    TColourQuantizer(const TColourQuantizer &) = delete;
    TColourQuantizer &operator=(const TColourQuantizer &) = delete;

    // Chooses the palette from every thread's counts; at least one colour
    // must have been added.
    void Build(std::vector<ColourCounts> &counts);

    const std::vector<TColor> &Palette() const { return palette_; }

    // indices[i] := the palette entry for colours[i]. Threads may map at once.
    void Map(const std::uint32_t *colours, std::uint8_t *indices, std::size_t count);

private:
    class NearestSearch;

    std::uint8_t MapCell(std::uint32_t cell);

    int entries_;
    std::vector<TColor> palette_;
    // Per cell: the entry in the low byte, ExactCheck when a palette colour
    // lies in the cell, Unknown until the cell's entry is looked for; a
    // cell's entry is the same whichever thread looks for it first.
    std::vector<std::uint16_t> cellEntries_;
    // Per cell: the entry its counted colours went to, or -1.
    std::vector<std::int16_t> countedEntries_;
    // The palette's colours, for the exact matches.
    TColourIndexTable exactEntries_;
    std::unique_ptr<NearestSearch> search_;
};
