// What a second thread gives on this machine, for work that touches no
// picture: the ceiling beside which the rows of computation on every core
// are read. Each row runs as ours does, in pieces on every core and held to
// one thread, so their ratio is the machine's, measured in the same run.
//  - Chain: one chain of dependent multiplications a piece. Bound by the
//    multiplier's latency, it leaves most of a core idle, so it keeps its
//    pace even where the two threads share a physical core.
//  - Ports: eight independent chains a piece, which keep the multipliers
//    busy: a thread gets less of them when another shares its core.
//  - Table: colours counted into a table of 32768 cells of 16 bytes a
//    thread, as the conversion to 8 bits counts them, without a picture.
//  - Stream: 256 MiB read from memory and summed, the conversion's passes
//    over a large picture without their work.
#include "bench_registry.h"

#include "platform/base/huge_pages.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace bench {
namespace {

constexpr std::size_t Pieces = 64;
constexpr std::uint64_t Multiplier = 6364136223846793005ull;

std::uint64_t Chain(std::uint64_t seed, int steps)
{
    for (int i = 0; i < steps; ++i) seed = (seed * Multiplier + 1442695040888963407ull) ^ (seed >> 17);
    return seed;
}

std::uint64_t Ports(std::uint64_t seed, int steps)
{
    std::array<std::uint64_t, 8> chains{};
    for (std::size_t k = 0; k < chains.size(); ++k) chains[k] = seed + k;
    for (int i = 0; i < steps; ++i)
        for (std::size_t k = 0; k < chains.size(); ++k) chains[k] = chains[k] * Multiplier + k;
    std::uint64_t all = 0;
    for (std::uint64_t c : chains) all ^= c;
    return all;
}

struct alignas(64) TCells {
    struct Cell {
        std::uint32_t count, r, g, b;
    };
    std::vector<Cell> cells = std::vector<Cell>(std::size_t(1) << 15);
};

// Colours of a generator counted by their top five bits a channel.
std::uint64_t Table(TCells &table, std::uint64_t seed, int colours)
{
    for (int i = 0; i < colours; ++i) {
        seed = seed * Multiplier + 1;
        const auto c = static_cast<std::uint32_t>(seed >> 40);
        TCells::Cell &cell = table.cells[((c & 0xFF) >> 3) | (((c >> 11) & 31) << 5) | (((c >> 19) & 31) << 10)];
        ++cell.count;
        cell.r += c & 0xFF;
        cell.g += (c >> 8) & 0xFF;
        cell.b += (c >> 16) & 0xFF;
    }
    return table.cells[seed & 0x7FFF].count;
}

// The sum of a piece's bytes, eight at a time.
std::uint64_t Sum(const std::uint8_t *bytes, std::size_t count)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i + 8 <= count; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        sum += (word & 0x00FF00FF00FF00FFull) + ((word >> 8) & 0x00FF00FF00FF00FFull);
    }
    return sum;
}

// Every piece's work on every core, its results kept apart per worker.
void RunPieces(benchmark::State &state, const std::function<std::uint64_t(std::size_t piece, unsigned worker)> &piece)
{
    for (auto _ : state) {
        std::vector<std::uint64_t> results(Pieces);
        ForEachPiece(Pieces, WorkerThreads(), [&](std::size_t i, unsigned worker) { results[i] = piece(i, worker); },
                     TPieceProgress::Unreported);
        benchmark::DoNotOptimize(results.data());
    }
}

} // namespace

void RegisterScalingReferences()
{
    // About 40 ms of work each on one thread.
    RegisterOurs("Ceiling.Chain", 0, [](benchmark::State &state) {
        RunPieces(state, [](std::size_t i, unsigned) { return Chain(i, 300'000); });
    });
    RegisterOurs("Ceiling.Ports", 0, [](benchmark::State &state) {
        RunPieces(state, [](std::size_t i, unsigned) { return Ports(i, 150'000); });
    });
    RegisterOurs("Ceiling.Table", 0, [](benchmark::State &state) {
        std::vector<TCells> tables(WorkerThreads());
        RunPieces(state, [&](std::size_t i, unsigned worker) { return Table(tables[worker], i, 250'000); });
    });
    RegisterOurs("Ceiling.Stream", 0, [](benchmark::State &state) {
        constexpr std::size_t bytes = std::size_t(256) << 20, piece = bytes / Pieces;
        const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
        PreferHugePages(buffer.get(), bytes);
        for (std::size_t i = 0; i < bytes; ++i) buffer[i] = static_cast<std::uint8_t>(i * 7);
        RunPieces(state, [&](std::size_t i, unsigned) { return Sum(buffer.get() + i * piece, piece); });
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    });
}

} // namespace bench
