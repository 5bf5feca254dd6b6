// TColourQuantizer: an adaptive palette for a picture of many colours, and the mapping of colours onto it.
#include "platform/pictures/colour_quantizer.h"

#include "platform/base/parallel_pieces.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>

namespace {

// Colours are counted and mapped in cells of 5 bits a channel: the tables
// stay in cache, and finer cells gain little quality for much more time.
constexpr int CellBits = 5;
constexpr std::uint32_t CellCount = 1u << (3 * CellBits);
constexpr std::uint16_t ExactCheck = 0x100;
constexpr std::uint16_t Unknown = 0xFFFF;
constexpr std::uint32_t Black = 0x000000;
constexpr std::uint32_t White = 0xFFFFFF;
// A few passes settle the palette; later ones move it by fractions of a level.
constexpr int RefinementPasses = 2;
// Items a thread assigns to their centres at a time: a photograph has a
// few thousand, each search about 0.1 us, so a piece is some 25 us and the
// calling thread keeps taking them while a helper wakes.
constexpr std::size_t AssignedTogether = 256;

// The cell of a colour: its top CellBits bits of red, then green, then blue.
constexpr std::uint32_t CellOf(std::uint32_t c)
{
    constexpr int drop = 8 - CellBits;
    return ((c & 0xFF) >> drop) | ((((c >> 8) & 0xFF) >> drop) << CellBits) | ((((c >> 16) & 0xFF) >> drop) << (2 * CellBits));
}

struct Point {
    float r, g, b;
};

float Distance(const Point &p, const Point &q)
{
    const float dr = p.r - q.r, dg = p.g - q.g, db = p.b - q.b;
    return dr * dr + dg * dg + db * db;
}

Point PointOf(std::uint32_t colour)
{
    return {float(colour & 0xFF), float((colour >> 8) & 0xFF), float((colour >> 16) & 0xFF)};
}

// One non-empty cell: the exact mean of the colours counted in it.
struct Item {
    Point mean;
    float weight;
    std::uint32_t cell;
};

float Channel(const Point &p, int axis) { return axis == 0 ? p.r : axis == 1 ? p.g : p.b; }

// Weighted sums of a set of items, and their squared error about the mean.
struct Moments {
    double w = 0, s[3] = {0, 0, 0}, q[3] = {0, 0, 0};

    void Add(const Item &item)
    {
        w += item.weight;
        for (int a = 0; a < 3; ++a) {
            const double v = Channel(item.mean, a);
            s[a] += item.weight * v;
            q[a] += item.weight * v * v;
        }
    }
    double Variance(int a) const { return w > 0 ? q[a] - s[a] * s[a] / w : 0; }
    double Error() const { return Variance(0) + Variance(1) + Variance(2); }
    Moments Plus(const Moments &m) const
    {
        Moments d;
        d.w = w + m.w;
        for (int a = 0; a < 3; ++a) {
            d.s[a] = s[a] + m.s[a];
            d.q[a] = q[a] + m.q[a];
        }
        return d;
    }
    Moments Minus(const Moments &m) const
    {
        Moments d;
        d.w = w - m.w;
        for (int a = 0; a < 3; ++a) {
            d.s[a] = s[a] - m.s[a];
            d.q[a] = q[a] - m.q[a];
        }
        return d;
    }
};

struct Box {
    std::size_t begin, end;
    Moments moments;
    double error;
};

Box BoxOf(std::size_t begin, std::size_t end, const Moments &moments)
{
    return {begin, end, moments, end - begin > 1 ? std::max(moments.Error(), 0.0) : 0.0};
}

Box MakeBox(const std::vector<Item> &items, std::size_t begin, std::size_t end)
{
    Moments moments;
    for (std::size_t i = begin; i < end; ++i) moments.Add(items[i]);
    return BoxOf(begin, end, moments);
}

// Splits a box along its channel of largest variance, between the two
// levels of that channel where the halves' total squared error is least.
std::pair<Box, Box> Split(std::vector<Item> &items, const Box &box)
{
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (box.moments.Variance(a) > box.moments.Variance(axis)) axis = a;
    auto level = [axis](const Item &item) { return static_cast<int>(Channel(item.mean, axis)); };
    int low = 255, high = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        low = std::min(low, level(items[i]));
        high = std::max(high, level(items[i]));
    }
    std::array<Moments, 256> bins;
    std::fill(bins.begin() + low, bins.begin() + high + 1, Moments{});
    for (std::size_t i = box.begin; i < box.end; ++i) bins[static_cast<std::size_t>(level(items[i]))].Add(items[i]);
    Moments left, bestLeft;
    int best = -1;
    double bestError = std::numeric_limits<double>::max();
    for (int v = low; v < high; ++v) {
        if (bins[static_cast<std::size_t>(v)].w == 0) continue;
        left = left.Plus(bins[static_cast<std::size_t>(v)]);
        if (left.w >= box.moments.w) break;
        const double error = left.Error() + box.moments.Minus(left).Error();
        if (error < bestError) {
            bestError = error;
            best = v;
            bestLeft = left;
        }
    }
    auto first = items.begin() + static_cast<std::ptrdiff_t>(box.begin);
    auto last = items.begin() + static_cast<std::ptrdiff_t>(box.end);
    auto middle = best >= 0 ? std::partition(first, last, [&](const Item &item) { return level(item) <= best; }) : first;
    // All items within one level: split them in two by count instead.
    if (middle == first || middle == last) {
        std::sort(first, last, [axis](const Item &p, const Item &q) { return Channel(p.mean, axis) < Channel(q.mean, axis); });
        middle = first + (last - first) / 2;
        const std::size_t at = static_cast<std::size_t>(middle - items.begin());
        return {MakeBox(items, box.begin, at), MakeBox(items, at, box.end)};
    }
    const std::size_t at = static_cast<std::size_t>(middle - items.begin());
    return {BoxOf(box.begin, at, bestLeft), BoxOf(at, box.end, box.moments.Minus(bestLeft))};
}

} // namespace

// Nearest palette entry by a walk outward from the query's place along the
// entries' main axis of spread, stopped once the distance along that axis
// alone is too far: it bounds the whole distance from below. Entries are
// held sorted along the axis in blocks of eight, each block's distances
// computed together (the compiler vectorises them).
class TColourQuantizer::NearestSearch {
public:
    explicit NearestSearch(const std::vector<Point> &entries) : entries_(entries), axis_(MainAxis(entries))
    {
        std::vector<int> order(entries.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
        std::sort(order.begin(), order.end(), [&](int a, int b) { return Along(entries[a]) < Along(entries[b]); });
        blocks_.resize((order.size() + Block - 1) / Block);
        for (std::size_t i = 0; i < blocks_.size() * Block; ++i) {
            Entries &block = blocks_[i / Block];
            // Padding entries lie too far away to be chosen.
            const Point p = i < order.size() ? entries[static_cast<std::size_t>(order[i])] : Point{1e6f, 1e6f, 1e6f};
            block.r[i % Block] = p.r;
            block.g[i % Block] = p.g;
            block.b[i % Block] = p.b;
            block.id[i % Block] = i < order.size() ? order[i] : 0;
        }
        for (std::size_t k = 0; k < blocks_.size(); ++k) {
            blocks_[k].low = Along(entries[static_cast<std::size_t>(order[k * Block])]);
            blocks_[k].high = Along(entries[static_cast<std::size_t>(order[std::min(order.size(), (k + 1) * Block) - 1])]);
        }
    }

    // hint: an entry likely to be near, or -1.
    int Nearest(const Point &p, int hint) const
    {
        int best = hint >= 0 ? hint : 0;
        float bestDistance = Distance(p, entries_[static_cast<std::size_t>(best)]);
        auto consider = [&](const Entries &block) {
            float d[Block];
            for (std::size_t j = 0; j < Block; ++j) {
                const float dr = block.r[j] - p.r, dg = block.g[j] - p.g, db = block.b[j] - p.b;
                d[j] = dr * dr + dg * dg + db * db;
            }
            float least = d[0];
            for (std::size_t j = 1; j < Block; ++j) least = std::min(least, d[j]);
            if (least >= bestDistance) return;
            for (std::size_t j = 0; j < Block; ++j)
                if (d[j] == least) {
                    bestDistance = least;
                    best = block.id[j];
                    return;
                }
        };
        const float place = Along(p);
        std::size_t start = 0;
        while (start + 1 < blocks_.size() && blocks_[start].high < place) ++start;
        for (std::size_t k = start; k < blocks_.size(); ++k) {
            const float gap = blocks_[k].low - place;
            if (gap > 0 && gap * gap > bestDistance) break;
            consider(blocks_[k]);
        }
        for (std::size_t k = start; k-- > 0;) {
            const float gap = place - blocks_[k].high;
            if (gap > 0 && gap * gap > bestDistance) break;
            consider(blocks_[k]);
        }
        return best;
    }

private:
    static constexpr std::size_t Block = 8;
    struct Entries {
        float r[Block], g[Block], b[Block];
        int id[Block];
        float low, high;
    };

    // The unit direction of largest variance (power iteration), so that
    // few entries lie close to the query along it.
    static Point MainAxis(const std::vector<Point> &entries)
    {
        Point mean{0, 0, 0};
        for (const Point &e : entries) mean = {mean.r + e.r, mean.g + e.g, mean.b + e.b};
        const float n = static_cast<float>(std::max<std::size_t>(entries.size(), 1));
        mean = {mean.r / n, mean.g / n, mean.b / n};
        double c[3][3] = {};
        for (const Point &e : entries) {
            const double d[3] = {e.r - mean.r, e.g - mean.g, e.b - mean.b};
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) c[i][j] += d[i] * d[j];
        }
        double v[3] = {1, 1, 1};
        for (int step = 0; step < 16; ++step) {
            double w[3] = {0, 0, 0};
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) w[i] += c[i][j] * v[j];
            const double length = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
            if (length == 0) break;
            for (int i = 0; i < 3; ++i) v[i] = w[i] / length;
        }
        const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        return {float(v[0] / length), float(v[1] / length), float(v[2] / length)};
    }
    float Along(const Point &p) const { return p.r * axis_.r + p.g * axis_.g + p.b * axis_.b; }

    std::vector<Point> entries_;
    Point axis_;
    std::vector<Entries> blocks_;
};

TColourQuantizer::ColourCounts::ColourCounts() : cells_(CellCount) {}

inline void TColourQuantizer::ColourCounts::Count(Cell *cells, std::uint32_t colour, std::uint32_t times, std::uint64_t at)
{
    const std::uint32_t id = CellOf(colour);
    Cell &cell = cells[id];
    if (cell.count == 0) used_.emplace_back(at, id);
    cell.count += times;
    cell.r += (colour & 0xFF) * times;
    cell.g += ((colour >> 8) & 0xFF) * times;
    cell.b += ((colour >> 16) & 0xFF) * times;
}

// Black and white are looked for in locals, and the members set once a
// call: a store to them at every colour would be a store to memory.
void TColourQuantizer::ColourCounts::Add(const std::uint32_t *colours, std::size_t count, std::uint64_t at)
{
    if (at >= MaxCounted) return;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, MaxCounted - at));
    Cell *cells = cells_.data();
    bool black = false, white = false;
    // Runs of one colour are counted at once.
    for (std::size_t i = 0; i < count;) {
        const std::uint32_t colour = colours[i] & 0xFFFFFF;
        std::size_t j = i + 1;
        while (j < count && (colours[j] & 0xFFFFFF) == colour) ++j;
        Count(cells, colour, static_cast<std::uint32_t>(j - i), at + i);
        black |= colour == Black;
        white |= colour == White;
        i = j;
    }
    hasBlack_ |= black;
    hasWhite_ |= white;
}

void TColourQuantizer::ColourCounts::Notice(const std::uint32_t *colours, std::size_t count)
{
    bool black = false, white = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t colour = colours[i] & 0xFFFFFF;
        black |= colour == Black;
        white |= colour == White;
    }
    hasBlack_ |= black;
    hasWhite_ |= white;
}

TColourQuantizer::TColourQuantizer(int entries) : entries_(std::clamp(entries, 2, 256)) {}

TColourQuantizer::~TColourQuantizer() = default;

// The four steps of Build, each a method.
class TColourQuantizer::Steps {
public:
    struct Counted {
        std::vector<Item> items;
        bool hasBlack = false, hasWhite = false;
    };

    // Every thread's cells summed, in the order the picture first counted
    // them: each thread's list is in that order, so the lists merge as
    // sorted lists do, and the items come out as from one thread. The
    // threads' counts are freed.
    static Counted SumCounts(std::vector<ColourCounts> &counts)
    {
        auto itemOf = [](const Cell &cell, std::uint32_t c) {
            const float n = static_cast<float>(cell.count);
            return Item{{float(cell.r) / n, float(cell.g) / n, float(cell.b) / n}, n, c};
        };
        Counted counted;
        std::vector<std::size_t> next(counts.size(), 0);
        std::vector<bool> listed(CellCount, false);
        for (;;) {
            ColourCounts *earliest = nullptr;
            std::size_t *at = nullptr;
            for (std::size_t k = 0; k < counts.size(); ++k)
                if (next[k] < counts[k].used_.size() && (!earliest || counts[k].used_[next[k]].first < earliest->used_[*at].first)) {
                    earliest = &counts[k];
                    at = &next[k];
                }
            if (!earliest) break;
            const std::uint32_t id = earliest->used_[(*at)++].second;
            if (listed[id]) continue;
            listed[id] = true;
            Cell total{0, 0, 0, 0};
            for (const ColourCounts &c : counts) {
                const Cell &cell = c.cells_[id];
                total = {total.count + cell.count, total.r + cell.r, total.g + cell.g, total.b + cell.b};
            }
            counted.items.push_back(itemOf(total, id));
        }
        for (ColourCounts &c : counts) {
            counted.hasBlack |= c.hasBlack_;
            counted.hasWhite |= c.hasWhite_;
            std::vector<Cell>().swap(c.cells_);
            std::vector<std::pair<std::uint64_t, std::uint32_t>>().swap(c.used_);
        }
        return counted;
    }

    // The median cut: the centres of at most `wanted` boxes, each box split
    // in turn where it has the largest squared error. Reorders the items.
    static std::vector<Point> CutIntoBoxes(std::vector<Item> &items, std::size_t wanted)
    {
        std::vector<Box> boxes;
        if (!items.empty()) boxes.push_back(MakeBox(items, 0, items.size()));
        while (boxes.size() < wanted) {
            auto largest = std::max_element(boxes.begin(), boxes.end(), [](const Box &a, const Box &b) { return a.error < b.error; });
            if (largest == boxes.end() || largest->error <= 0) break;
            auto [left, right] = Split(items, *largest);
            *largest = left;
            boxes.push_back(right);
        }
        std::vector<Point> centres;
        for (const Box &box : boxes) {
            const double w = box.moments.w;
            centres.push_back({float(box.moments.s[0] / w), float(box.moments.s[1] / w), float(box.moments.s[2] / w)});
        }
        return centres;
    }

    // Lloyd passes: each item goes to its nearest centre, each of the first
    // `free` centres moves to the weighted mean of its items (the others
    // stay where they are). An item no farther from its centre than half
    // the gap to that centre's nearest neighbour keeps it without a search.
    // Gives each item's centre, -1 for none.
    static std::vector<int> Refine(const std::vector<Item> &items, std::vector<Point> &centres, std::size_t free)
    {
        std::vector<int> assigned(items.size(), -1);
        for (int pass = 0; pass < RefinementPasses && !items.empty(); ++pass) {
            const NearestSearch search(centres);
            std::vector<float> safe(centres.size(), std::numeric_limits<float>::max());
            for (std::size_t k = 0; k < centres.size(); ++k)
                for (std::size_t j = k + 1; j < centres.size(); ++j) {
                    const float quarter = Distance(centres[k], centres[j]) / 4;
                    safe[k] = std::min(safe[k], quarter);
                    safe[j] = std::min(safe[j], quarter);
                }
            struct Sum {
                double w = 0, r = 0, g = 0, b = 0;
            };
            // Each item's centre depends on the item alone, so the threads
            // share them out in pieces; the sums stay in the items' order
            // (floating-point sums in any other order could move an entry).
            const std::size_t pieces = (items.size() + AssignedTogether - 1) / AssignedTogether;
            ForEachPiece(
                pieces, pieces > 1 ? WorkerThreads() : 1,
                [&](std::size_t piece, unsigned) {
                    const std::size_t end = std::min(items.size(), (piece + 1) * AssignedTogether);
                    for (std::size_t i = piece * AssignedTogether; i < end; ++i) {
                        int &a = assigned[i];
                        if (a < 0 || Distance(items[i].mean, centres[static_cast<std::size_t>(a)]) > safe[static_cast<std::size_t>(a)])
                            a = search.Nearest(items[i].mean, a);
                    }
                },
                TPieceProgress::Unreported);
            std::vector<Sum> sums(centres.size());
            for (std::size_t i = 0; i < items.size(); ++i) {
                const Item &item = items[i];
                Sum &sum = sums[static_cast<std::size_t>(assigned[i])];
                sum.w += item.weight;
                sum.r += item.weight * item.mean.r;
                sum.g += item.weight * item.mean.g;
                sum.b += item.weight * item.mean.b;
            }
            for (std::size_t k = 0; k < free; ++k)
                if (sums[k].w > 0) centres[k] = {float(sums[k].r / sums[k].w), float(sums[k].g / sums[k].w), float(sums[k].b / sums[k].w)};
        }
        return assigned;
    }

    // The palette from the centres, whole colours with equal ones kept
    // once, and what Map looks entries up by: the entry each counted cell
    // went to, the nearest-entry search and the palette's exact colours.
    static void ChooseEntries(TColourQuantizer &q, const std::vector<Item> &items, const std::vector<Point> &centres,
                              const std::vector<int> &assigned)
    {
        q.palette_.clear();
        std::vector<int> entryOfCentre;
        for (const Point &c : centres) {
            auto level = [](float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 255.0f))); };
            const TColor colour = RGB(level(c.r), level(c.g), level(c.b));
            auto found = std::find(q.palette_.begin(), q.palette_.end(), colour);
            entryOfCentre.push_back(static_cast<int>(found - q.palette_.begin()));
            if (found == q.palette_.end()) q.palette_.push_back(colour);
        }
        // A cell's search starts from the entry its counted colours went to.
        q.countedEntries_.assign(CellCount, -1);
        for (std::size_t i = 0; i < items.size(); ++i)
            if (assigned[i] >= 0)
                q.countedEntries_[items[i].cell] = static_cast<std::int16_t>(entryOfCentre[static_cast<std::size_t>(assigned[i])]);
        if (q.palette_.empty()) q.palette_.push_back(clBlack);
        std::vector<Point> points;
        for (TColor colour : q.palette_) points.push_back(PointOf(static_cast<std::uint32_t>(colour)));
        q.search_ = std::make_unique<NearestSearch>(points);

        q.cellEntries_.assign(CellCount, Unknown);
        q.exactEntries_.Clear();
        for (std::size_t k = 0; k < q.palette_.size(); ++k) {
            const std::uint32_t colour = static_cast<std::uint32_t>(q.palette_[k]);
            const std::uint32_t cell = CellOf(colour);
            q.cellEntries_[cell] = static_cast<std::uint16_t>(q.MapCell(cell) | ExactCheck);
            q.exactEntries_.Add(colour, static_cast<std::uint8_t>(k));
        }
    }
};

void TColourQuantizer::Build(std::vector<ColourCounts> &counts)
{
    Steps::Counted counted = Steps::SumCounts(counts);
    // Black and white are kept as fixed entries; the cut makes the others.
    std::vector<Point> fixed;
    if (counted.hasBlack) fixed.push_back(PointOf(Black));
    if (counted.hasWhite) fixed.push_back(PointOf(White));
    std::vector<Point> centres = Steps::CutIntoBoxes(counted.items, static_cast<std::size_t>(entries_) - fixed.size());
    const std::size_t free = centres.size();
    centres.insert(centres.end(), fixed.begin(), fixed.end());
    const std::vector<int> assigned = Steps::Refine(counted.items, centres, free);
    Steps::ChooseEntries(*this, counted.items, centres, assigned);
}

// The entry of a cell: the nearest to its centre, found once. Threads that
// look for it at once find the same entry, and may each store it.
std::uint8_t TColourQuantizer::MapCell(std::uint32_t cell)
{
    std::atomic_ref<std::uint16_t> entry(cellEntries_[cell]);
    std::uint16_t found = entry.load(std::memory_order_relaxed);
    if (found == Unknown) {
        constexpr std::uint32_t mask = (1u << CellBits) - 1;
        constexpr int drop = 8 - CellBits;
        constexpr float half = ((1 << drop) - 1) / 2.0f;
        const Point centre{float((cell & mask) << drop) + half, float(((cell >> CellBits) & mask) << drop) + half,
                           float(((cell >> (2 * CellBits)) & mask) << drop) + half};
        found = static_cast<std::uint16_t>(search_->Nearest(centre, countedEntries_[cell]));
        entry.store(found, std::memory_order_relaxed);
    }
    return static_cast<std::uint8_t>(found & 0xFF);
}

void TColourQuantizer::Map(const std::uint32_t *colours, std::uint8_t *indices, std::size_t count)
{
    std::uint32_t previous = 0xFFFFFFFF;
    std::uint8_t index = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t colour = colours[i] & 0xFFFFFF;
        if (colour != previous) {
            previous = colour;
            const std::uint32_t cell = CellOf(colour);
            const std::uint16_t entry = std::atomic_ref<std::uint16_t>(cellEntries_[cell]).load(std::memory_order_relaxed);
            index = entry != Unknown ? static_cast<std::uint8_t>(entry) : MapCell(cell);
            if (entry != Unknown && (entry & ExactCheck)) {
                const int exact = exactEntries_.Find(colour);
                if (exact >= 0) index = static_cast<std::uint8_t>(exact);
            }
        }
        indices[i] = index;
    }
}
