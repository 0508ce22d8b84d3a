#include "cutter/CutOrder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <tuple>

namespace {

// Points this close count as on a line: shared edges come from the same
// plotter units, so they meet exactly or not at all.
constexpr double OnLineMm = 1e-6;

struct Box {
    double X0 = std::numeric_limits<double>::infinity();
    double Y0 = std::numeric_limits<double>::infinity();
    double X1 = -std::numeric_limits<double>::infinity();
    double Y1 = -std::numeric_limits<double>::infinity();

    void Add(PointMm p)
    {
        X0 = std::min(X0, p.X);
        Y0 = std::min(Y0, p.Y);
        X1 = std::max(X1, p.X);
        Y1 = std::max(Y1, p.Y);
    }
    bool Empty() const { return X0 > X1; }
    bool Holds(const Box& b) const
    {
        return b.X0 >= X0 - OnLineMm && b.X1 <= X1 + OnLineMm && b.Y0 >= Y0 - OnLineMm && b.Y1 <= Y1 + OnLineMm;
    }
};

bool IsClosed(const std::vector<PointMm>& p)
{
    return p.size() >= 4 && p.front() == p.back();
}

double Area(const std::vector<PointMm>& p)
{
    double a = 0;
    for (std::size_t i = 1; i < p.size(); ++i)
        a += p[i - 1].X * p[i].Y - p[i].X * p[i - 1].Y;
    return std::abs(a) / 2;
}

// Plain sqrt: hypot's care for overflow costs more than the ordering's
// whole search, and mm on a sheet never come near it.
double Distance(PointMm a, PointMm b)
{
    const double dx = a.X - b.X, dy = a.Y - b.Y;
    return std::sqrt(dx * dx + dy * dy);
}

bool OnSegment(PointMm p, PointMm a, PointMm b)
{
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.X - a.X) * dx + (p.Y - a.Y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return Distance(p, {a.X + t * dx, a.Y + t * dy}) <= OnLineMm;
}

enum class Where { Outside, Inside, OnOutline };

// Where p lies against a closed path, by its winding number: a region a
// path goes round twice is still enclosed by cuts.
Where Locate(PointMm p, const std::vector<PointMm>& poly)
{
    int winding = 0;
    for (std::size_t i = 1; i < poly.size(); ++i) {
        const PointMm a = poly[i - 1], b = poly[i];
        if (OnSegment(p, a, b))
            return Where::OnOutline;
        const double side = (b.X - a.X) * (p.Y - a.Y) - (p.X - a.X) * (b.Y - a.Y);
        if (a.Y <= p.Y) {
            if (b.Y > p.Y && side > 0)
                ++winding;
        } else if (b.Y <= p.Y && side < 0) {
            --winding;
        }
    }
    return winding != 0 ? Where::Inside : Where::Outside;
}

// Whether inner lies inside outer, judged by its first vertex (then edge
// midpoint, for a shape whose corners all sit on the other's outline) off
// outer's outline. Bounds and areas are checked by the caller.
bool LiesInside(const std::vector<PointMm>& inner, const std::vector<PointMm>& outer)
{
    for (std::size_t i = 0; i + 1 < inner.size(); ++i)
        if (const Where w = Locate(inner[i], outer); w != Where::OnOutline)
            return w == Where::Inside;
    for (std::size_t i = 1; i < inner.size(); ++i) {
        const PointMm mid{(inner[i - 1].X + inner[i].X) / 2, (inner[i - 1].Y + inner[i].Y) / 2};
        if (const Where w = Locate(mid, outer); w != Where::OnOutline)
            return w == Where::Inside;
    }
    return false;
}

// Asks whether to stop at once, then after every so much work (about a
// millisecond's: a vertex weighed, a comparison in a sort, a step's
// search), and unwinds the ordering by throwing Stop.
class TStopCheck {
public:
    struct Stop {};
    explicit TStopCheck(const std::function<bool()>& stopped) : FStopped(stopped) {}
    void operator()(std::size_t work)
    {
        FWork += work;
        if (FWork < Every)
            return;
        FWork = 0;
        if (FStopped && FStopped())
            throw Stop{};
    }

private:
    static constexpr std::size_t Every = 1 << 16;
    const std::function<bool()>& FStopped;
    std::size_t FWork = Every;
};

constexpr std::uint32_t NoPath = std::numeric_limits<std::uint32_t>::max();

// The closed paths that may enclose others, filed by size and place: each
// in the level whose cells are just larger than its bound, in the cell of
// its lower-left corner. A bound that holds another is at least as large and
// starts at most one cell left of and below it, so the paths that may hold a
// given one are in a few cells of each level above it, however deep the
// nesting; within a cell, by area, so those too small are passed over at
// once (copies of one shape included).
class TShapeIndex {
public:
    TShapeIndex(const std::vector<Box>& bounds, const std::vector<double>& areas,
                const std::vector<std::uint32_t>& shapes, TStopCheck& check)
        : FBounds(bounds), FAreas(areas)
    {
        if (shapes.empty())
            return;
        Box all;
        for (const std::uint32_t i : shapes) {
            all.Add({bounds[i].X0, bounds[i].Y0});
            all.Add({bounds[i].X1, bounds[i].Y1});
        }
        FOriginX = all.X0;
        FOriginY = all.Y0;
        const double span = std::max(all.X1 - all.X0, all.Y1 - all.Y0);
        const double cell0 = std::ldexp(std::max(span, 1.0), -CellBits + 1);
        for (int level = 0; level <= MaxLevel; ++level)
            FCells[level] = std::ldexp(cell0, level);
        FItems.reserve(shapes.size());
        for (const std::uint32_t i : shapes) {
            const Box& b = bounds[i];
            const int level = Level(std::max(b.X1 - b.X0, b.Y1 - b.Y0) + 3 * OnLineMm);
            FLevels |= std::uint64_t{1} << level;
            FItems.push_back(
                {Key(level, Index(b.X0 - FOriginX, level), Index(b.Y0 - FOriginY, level)), areas[i], i, b});
        }
        std::sort(FItems.begin(), FItems.end(), [&check](const Item& a, const Item& b) {
            check(1);
            return a.Key != b.Key ? a.Key < b.Key : a.Area != b.Area ? a.Area < b.Area : a.Path < b.Path;
        });
        std::size_t cells = 0;
        for (std::size_t i = 0; i < FItems.size(); ++i)
            cells += i == 0 || FItems[i].Key != FItems[i - 1].Key;
        std::size_t size = 4;
        while (size < 2 * cells)
            size *= 2;
        FSlots.assign(size, Slot{});
        // Fibonacci hashing: the product's top bits pick the slot.
        while (std::size_t{1} << (64 - FShift) < size)
            --FShift;
        for (std::size_t i = 0; i < FItems.size();) {
            std::size_t end = i + 1;
            while (end < FItems.size() && FItems[end].Key == FItems[i].Key)
                ++end;
            Slot& s = FSlots[Find(FItems[i].Key)];
            s = {FItems[i].Key, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(end)};
            i = end;
        }
    }

    // The closed path of least area (then lowest index) that path i lies
    // inside; NoPath for none.
    std::uint32_t NearestEncloser(std::uint32_t i, const CutPaths& paths, TStopCheck& check) const
    {
        if (FItems.empty())
            return NoPath;
        const Box& b = FBounds[i];
        const double area = FAreas[i];
        std::uint32_t best = NoPath;
        double bestArea = 0;
        for (int level = Level(std::max(b.X1 - b.X0, b.Y1 - b.Y0)); level <= MaxLevel; ++level) {
            if (!((FLevels >> level) & 1))
                continue;
            const double cell = FCells[level];
            const std::uint64_t c0 = Index(b.X1 - cell - 4 * OnLineMm - FOriginX, level);
            const std::uint64_t c1 = Index(b.X0 + OnLineMm - FOriginX, level);
            const std::uint64_t r0 = Index(b.Y1 - cell - 4 * OnLineMm - FOriginY, level);
            const std::uint64_t r1 = Index(b.Y0 + OnLineMm - FOriginY, level);
            for (std::uint64_t r = r0; r <= r1; ++r)
                for (std::uint64_t c = c0; c <= c1; ++c) {
                    const Slot& s = FSlots[Find(Key(level, c, r))];
                    if (s.Key == EmptyKey)
                        continue;
                    const auto first = std::upper_bound(FItems.begin() + s.Begin, FItems.begin() + s.End, area,
                                                        [](double a, const Item& item) { return a < item.Area; });
                    for (auto it = first; it != FItems.begin() + s.End; ++it) {
                        if (best != NoPath && (it->Area > bestArea || (it->Area == bestArea && it->Path > best)))
                            break;
                        check(1);
                        if (!it->Bound.Holds(b))
                            continue;
                        check(paths[it->Path].size());
                        if (LiesInside(paths[i], paths[it->Path])) {
                            best = it->Path;
                            bestArea = it->Area;
                            break;
                        }
                    }
                }
        }
        return best;
    }

private:
    // Cells of level 0 split the plot's span 2^(CellBits - 1) ways.
    static constexpr int CellBits = 24;
    static constexpr int MaxLevel = CellBits;
    static constexpr std::uint64_t EmptyKey = std::numeric_limits<std::uint64_t>::max();

    // The bound kept beside the rest: a cell's items are read in a row.
    struct Item {
        std::uint64_t Key;
        double Area;
        std::uint32_t Path;
        Box Bound;
    };
    struct Slot {
        std::uint64_t Key = EmptyKey;
        std::uint32_t Begin = 0;
        std::uint32_t End = 0;
    };

    // The least level whose cells are at least size across.
    int Level(double size) const
    {
        int level = 0;
        while (level < MaxLevel && FCells[level] < size)
            ++level;
        return level;
    }
    std::uint64_t Index(double offset, int level) const
    {
        // Offsets lie within the span (but for OnLineMm): the bound only
        // keeps the key's fields apart.
        const double i = std::floor(offset / FCells[level]);
        return i > 0 ? static_cast<std::uint64_t>(std::min(i, double(1 << (CellBits + 1)))) : 0;
    }
    static std::uint64_t Key(int level, std::uint64_t column, std::uint64_t row)
    {
        return std::uint64_t(level) << 52 | column << 26 | row;
    }
    // The slot of key, or the empty one where it would go.
    std::size_t Find(std::uint64_t key) const
    {
        const std::size_t mask = FSlots.size() - 1;
        std::size_t at = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> FShift);
        while (FSlots[at].Key != EmptyKey && FSlots[at].Key != key)
            at = (at + 1) & mask;
        return at;
    }

    const std::vector<Box>& FBounds;
    const std::vector<double>& FAreas;
    double FOriginX = 0;
    double FOriginY = 0;
    double FCells[MaxLevel + 1] = {}; // each level's cell size
    std::uint64_t FLevels = 0;
    std::vector<Item> FItems;
    std::vector<Slot> FSlots;
    int FShift = 64;
};

// Copies of one closed shape (the same bound, vertex count and area): none
// lies inside another, yet each encloses what the others do. For each path,
// the copy that stands for all of them (the first by bound, area and index);
// the path itself when it has none.
std::vector<std::uint32_t> FirstCopies(const std::vector<Box>& bounds, const std::vector<double>& areas,
                                       const CutPaths& paths, const std::vector<std::uint32_t>& shapes,
                                       TStopCheck& check)
{
    std::vector<std::uint32_t> first(paths.size());
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<std::uint32_t>(i);
    struct Shape {
        Box Bound;
        std::size_t Points;
        double Area;
        std::uint32_t Path;
        bool Like(const Shape& o) const
        {
            return Bound.X0 == o.Bound.X0 && Bound.Y0 == o.Bound.Y0 && Bound.X1 == o.Bound.X1 && Bound.Y1 == o.Bound.Y1
                   && Points == o.Points;
        }
    };
    std::vector<Shape> sorted;
    sorted.reserve(shapes.size());
    for (const std::uint32_t i : shapes)
        sorted.push_back({bounds[i], paths[i].size(), areas[i], i});
    std::sort(sorted.begin(), sorted.end(), [&check](const Shape& a, const Shape& b) {
        check(1);
        return std::tie(a.Bound.X0, a.Bound.Y0, a.Bound.X1, a.Bound.Y1, a.Points, a.Area, a.Path)
               < std::tie(b.Bound.X0, b.Bound.Y0, b.Bound.X1, b.Bound.Y1, b.Points, b.Area, b.Path);
    });
    // Started elsewhere or run the other way, a copy's area may differ in
    // its last bits.
    constexpr double SameArea = 1e-9;
    for (std::size_t k = 1; k < sorted.size(); ++k) {
        const Shape &a = sorted[k - 1], &b = sorted[k];
        if (a.Like(b) && b.Area - areas[first[a.Path]] <= SameArea * b.Area)
            first[b.Path] = first[a.Path];
    }
    return first;
}

// The turn a closed path takes at vertex j, as the dot product of the edges
// in and out and the product of their squared lengths: its cosine is
// Dot / sqrt(Lengths2), 1 where it runs straight on, -1 where it turns back.
struct Turn {
    double Dot = 1;
    double Lengths2 = 1;

    double Cos() const { return Lengths2 > 0 ? Dot / std::sqrt(Lengths2) : 1; }
    // Surely Cos() > c, without the root: a shape's many gentle turns (a
    // circle's chords) are passed over at the cost of a few products. Near
    // c it answers no, and Cos() decides, so the choice is the same as with
    // the root everywhere.
    bool Above(double c) const
    {
        return c >= 0 && Lengths2 > 0 && Dot > 0 && Dot * Dot > c * c * Lengths2 * (1 + 1e-9);
    }
};

Turn TurnAt(const std::vector<PointMm>& p, std::size_t j)
{
    const std::size_t m = p.size() - 1;
    const PointMm at = p[j];
    PointMm prev = at, next = at;
    // Repeated points are stepped over to the next distinct one each way.
    for (std::size_t k = 1, i = j; k < m && prev == at; ++k) {
        i = i == 0 ? m - 1 : i - 1;
        prev = p[i];
    }
    for (std::size_t k = 1, i = j; k < m && next == at; ++k) {
        i = i + 1 == m ? 0 : i + 1;
        next = p[i];
    }
    const double ax = at.X - prev.X, ay = at.Y - prev.Y, bx = next.X - at.X, by = next.Y - at.Y;
    return {ax * bx + ay * by, (ax * ax + ay * ay) * (bx * bx + by * by)};
}

// A place a path may be started from, in the weighted space where plain
// distance is the travel's cost.
struct Entry {
    // Single precision halves the memory the search walks, which on a large
    // file costs more in first touches than the search itself; a metre
    // still resolves to a tenth of a micrometre.
    float X;
    float Y;
    std::uint32_t Path;
    std::uint32_t Vertex; // open paths: 0 from the first point, 1 from the last
};

float Weighed(double mm, double weight)
{
    return static_cast<float>(mm * weight);
}

// The entries of the paths not yet cut, in a k-d tree whose every node
// holds the least (path, vertex) of the free entries below it: a search
// passes over what is cut or held back without looking into it, and copies
// heaped on one point answer as fast as one entry.
class TEntryTree {
public:
    // free(path): whether the path may go next.
    template <class Free>
    TEntryTree(std::vector<Entry> entries, std::size_t paths, const Free& free, TStopCheck& check)
        : FNodes(std::move(entries))
    {
        Build(0, FNodes.size(), true, check);
        // Each path's nodes, to set them free or cut together.
        FPathStart.assign(paths + 1, 0);
        for (const Entry& e : FNodes)
            ++FPathStart[e.Path + 1];
        for (std::size_t p = 0; p < paths; ++p)
            FPathStart[p + 1] += FPathStart[p];
        FPathNodes.resize(FNodes.size());
        std::vector<std::uint32_t> filled(FPathStart.begin(), FPathStart.end() - 1);
        FFree.resize(FNodes.size());
        for (std::size_t t = 0; t < FNodes.size(); ++t) {
            FPathNodes[filled[FNodes[t].Path]++] = static_cast<std::uint32_t>(t);
            FFree[t] = free(FNodes[t].Path);
        }
        FLeast.resize(FNodes.size());
        RefreshAll(0, FNodes.size());
    }

    // Path's entries are free or not from now on.
    void Set(std::size_t path, bool free)
    {
        const std::uint32_t* first = FPathNodes.data() + FPathStart[path];
        const std::uint32_t* last = FPathNodes.data() + FPathStart[path + 1];
        for (const std::uint32_t* t = first; t != last; ++t)
            FFree[*t] = free;
        Refresh(0, FNodes.size(), first, last);
    }

    // The nearest free entry, ties to the lower path and vertex; null when
    // none is free. Valid until the next call.
    const Entry* Nearest(double x, double y)
    {
        FX = x;
        FY = y;
        FFound = false;
        const double inf = std::numeric_limits<double>::infinity();
        Search(0, FNodes.size(), true, -inf, -inf, inf, inf);
        return FFound ? &FNodes[FBest] : nullptr;
    }

private:
    static constexpr std::uint64_t None = std::numeric_limits<std::uint64_t>::max();

    static std::uint64_t KeyOf(const Entry& e) { return std::uint64_t{e.Path} << 32 | e.Vertex; }
    static std::size_t Mid(std::size_t lo, std::size_t hi) { return lo + (hi - lo) / 2; }
    static double Gap(double v, double lo, double hi) { return v < lo ? lo - v : v > hi ? v - hi : 0; }

    // [lo, hi) holds a subtree: a leaf of a few entries, or its root in
    // the middle, split on x or y by turns, the lesser half before it. A
    // subtree's least key is kept at its middle.
    static constexpr std::size_t Leaf = 16;
    void Build(std::size_t lo, std::size_t hi, bool onX, TStopCheck& check)
    {
        while (hi - lo > Leaf) {
            check(hi - lo);
            const std::size_t mid = Mid(lo, hi);
            const auto at = [&](std::size_t i) { return FNodes.begin() + static_cast<std::ptrdiff_t>(i); };
            std::nth_element(at(lo), at(mid), at(hi),
                             [onX](const Entry& a, const Entry& b) { return onX ? a.X < b.X : a.Y < b.Y; });
            Build(lo, mid, !onX, check);
            lo = mid + 1;
            onX = !onX;
        }
    }

    std::uint64_t Least(std::size_t lo, std::size_t hi) const { return lo < hi ? FLeast[Mid(lo, hi)] : None; }
    void Update(std::size_t lo, std::size_t hi)
    {
        const std::size_t mid = Mid(lo, hi);
        std::uint64_t least = None;
        if (hi - lo <= Leaf) {
            for (std::size_t t = lo; t < hi; ++t)
                if (FFree[t])
                    least = std::min(least, KeyOf(FNodes[t]));
        } else {
            least = std::min({FFree[mid] ? KeyOf(FNodes[mid]) : None, Least(lo, mid), Least(mid + 1, hi)});
        }
        FLeast[mid] = least;
    }
    void RefreshAll(std::size_t lo, std::size_t hi)
    {
        if (lo >= hi)
            return;
        if (hi - lo > Leaf) {
            RefreshAll(lo, Mid(lo, hi));
            RefreshAll(Mid(lo, hi) + 1, hi);
        }
        Update(lo, hi);
    }
    // The least keys again on the way to the nodes [first, last) (in order).
    void Refresh(std::size_t lo, std::size_t hi, const std::uint32_t* first, const std::uint32_t* last)
    {
        if (first == last)
            return;
        if (hi - lo > Leaf) {
            const std::size_t mid = Mid(lo, hi);
            const std::uint32_t* below = std::lower_bound(first, last, mid);
            Refresh(lo, mid, first, below);
            Refresh(mid + 1, hi, std::upper_bound(below, last, mid), last);
        }
        Update(lo, hi);
    }

    void Consider(std::size_t t)
    {
        const Entry& e = FNodes[t];
        const double ex = e.X - FX, ey = e.Y - FY, d2 = ex * ex + ey * ey;
        if (const std::uint64_t key = KeyOf(e); !FFound || d2 < FBestD2 || (d2 == FBestD2 && key < FBestKey)) {
            FFound = true;
            FBestD2 = d2;
            FBestKey = key;
            FBest = t;
        }
    }

    void Search(std::size_t lo, std::size_t hi, bool onX, double x0, double y0, double x1, double y1)
    {
        if (lo >= hi)
            return;
        const std::size_t mid = Mid(lo, hi);
        const std::uint64_t least = FLeast[mid];
        if (least == None)
            return;
        // Nothing below can be nearer, nor as near and first.
        const double gx = Gap(FX, x0, x1), gy = Gap(FY, y0, y1), bound = gx * gx + gy * gy;
        if (FFound && (bound > FBestD2 || (bound == FBestD2 && least >= FBestKey)))
            return;
        if (hi - lo <= Leaf) {
            for (std::size_t t = lo; t < hi; ++t)
                if (FFree[t])
                    Consider(t);
            return;
        }
        const Entry& e = FNodes[mid];
        if (FFree[mid])
            Consider(mid);
        const double split = onX ? e.X : e.Y, at = onX ? FX : FY;
        // The side the knife is on first; on the split itself, the side
        // with the least key, so copies on one point take one descent.
        bool lowFirst = at < split;
        if (at == split)
            lowFirst = (lo < mid ? FLeast[Mid(lo, mid)] : None) <= (mid + 1 < hi ? FLeast[Mid(mid + 1, hi)] : None);
        for (const bool low : {lowFirst, !lowFirst}) {
            if (low)
                Search(lo, mid, !onX, x0, y0, onX ? split : x1, onX ? y1 : split);
            else
                Search(mid + 1, hi, !onX, onX ? split : x0, onX ? y0 : split, x1, y1);
        }
    }

    std::vector<Entry> FNodes;
    std::vector<std::uint32_t> FPathStart;
    std::vector<std::uint32_t> FPathNodes;
    std::vector<char> FFree;
    std::vector<std::uint64_t> FLeast;
    double FX = 0;
    double FY = 0;
    bool FFound = false;
    double FBestD2 = 0;
    std::uint64_t FBestKey = 0;
    std::size_t FBest = 0;
};

} // namespace

namespace {

void Order(const CutPaths& paths, const CutOrderOptions& options, CutOrder& order)
{
    TStopCheck check(options.Stopped);
    const std::size_t n = paths.size();
    std::vector<char> closed(n);
    std::vector<Box> bounds(n);
    std::vector<double> areas(n, 0);
    std::vector<std::uint32_t> shapes; // closed, with an inside
    for (std::size_t i = 0; i < n; ++i) {
        closed[i] = IsClosed(paths[i]);
        for (const PointMm p : paths[i])
            bounds[i].Add(p);
        if (closed[i]) {
            areas[i] = Area(paths[i]);
            if (areas[i] > 0)
                shapes.push_back(static_cast<std::uint32_t>(i));
        }
        check(paths[i].size() + 1);
    }
    // Each closed path waits for what lies nearest inside it, and that for
    // what lies inside it in turn: the nearest encloser is enough to cut
    // inside first at any depth. Copies of a shape wait together.
    const std::vector<std::uint32_t> copyOf = FirstCopies(bounds, areas, paths, shapes, check);
    std::vector<std::uint32_t> encloser(n, NoPath);
    std::vector<std::uint32_t> waiting(n, 0);
    {
        const TShapeIndex index(bounds, areas, shapes, check);
        for (std::size_t i = 0; i < n; ++i) {
            if (!closed[i])
                continue;
            if (const std::uint32_t o = index.NearestEncloser(static_cast<std::uint32_t>(i), paths, check);
                o != NoPath) {
                encloser[i] = copyOf[o];
                ++waiting[copyOf[o]];
            }
            check(paths[i].size());
        }
    }
    // The copies of each shape, by their first.
    std::vector<std::uint32_t> copiesStart(n + 1, 0), copies(n);
    for (std::size_t i = 0; i < n; ++i)
        ++copiesStart[copyOf[i] + 1];
    for (std::size_t i = 0; i < n; ++i)
        copiesStart[i + 1] += copiesStart[i];
    {
        std::vector<std::uint32_t> filled(copiesStart.begin(), copiesStart.end() - 1);
        for (std::size_t i = 0; i < n; ++i)
            copies[filled[copyOf[i]]++] = static_cast<std::uint32_t>(i);
    }

    const double wx = options.Feed == FeedAxis::X ? options.FeedWeight : 1;
    const double wy = options.Feed == FeedAxis::Y ? options.FeedWeight : 1;
    std::vector<Entry> entries;
    // Room for the most there can be, taken once: address space costs
    // nothing until used, where growing would touch the entries twice.
    std::size_t mostEntries = 0;
    for (std::size_t i = 0; i < n; ++i)
        mostEntries += closed[i] ? paths[i].size() : 2;
    entries.reserve(mostEntries);
    std::size_t toCut = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto& p = paths[i];
        const auto path = static_cast<std::uint32_t>(i);
        if (p.empty())
            continue;
        ++toCut;
        if (closed[i]) {
            // Vertices closer than this to the last one indexed add little but
            // work (a circle's chords); the path's own vertices are all weighed
            // once it is chosen.
            constexpr double IndexSpacingMm = 1;
            PointMm last = p.front();
            for (std::size_t j = 0; j + 1 < p.size(); ++j)
                if (const double dx = p[j].X - last.X, dy = p[j].Y - last.Y;
                    j == 0 || dx * dx + dy * dy >= IndexSpacingMm * IndexSpacingMm) {
                    entries.push_back({Weighed(p[j].X, wx), Weighed(p[j].Y, wy), path, static_cast<std::uint32_t>(j)});
                    last = p[j];
                }
        } else {
            entries.push_back({Weighed(p.front().X, wx), Weighed(p.front().Y, wy), path, 0});
            if (p.size() > 1 && !(p.back() == p.front()))
                entries.push_back({Weighed(p.back().X, wx), Weighed(p.back().Y, wy), path, 1});
        }
    }
    check(entries.size());

    TEntryTree tree(
        std::move(entries), n, [&](std::size_t i) { return waiting[copyOf[i]] == 0; }, check);
    PointMm knife = options.Start;
    order.Steps.reserve(toCut);
    for (std::size_t step = 0; step < toCut; ++step) {
        const Entry* e = tree.Nearest(knife.X * wx, knife.Y * wy);
        if (!e)
            break; // cannot happen: the strictly falling area leaves a path free
        const std::size_t i = e->Path;
        const auto& p = paths[i];
        check(p.size() + 64);
        CutStep cut{i, false, 0};

        if (closed[i]) {
            // Squared, as all that counts is which is nearer.
            const auto cost = [&](PointMm v) {
                const double dx = (v.X - knife.X) * wx, dy = (v.Y - knife.Y) * wy;
                return dx * dx + dy * dy;
            };
            std::size_t nearest = 0;
            double nearestCost = cost(p[0]);
            for (std::size_t j = 1; j + 1 < p.size(); ++j)
                if (const double c = cost(p[j]); c < nearestCost) {
                    nearest = j;
                    nearestCost = c;
                }
            const double reach = std::pow(std::sqrt(nearestCost) + options.CornerReachMm, 2);
            // Turns that differ by less than this are alike (a circle's chords): the nearer wins.
            constexpr double Alike = 0.01;
            double bestCos = std::cos(options.CornerMinTurnDeg * std::numbers::pi / 180), bestCost = 0;
            std::size_t start = nearest;
            bool corner = false;
            for (std::size_t j = 0; j + 1 < p.size(); ++j) {
                const double c = cost(p[j]);
                if (c > reach)
                    continue;
                const Turn t = TurnAt(p, j);
                if (t.Above(corner ? bestCos + Alike : bestCos))
                    continue;
                const double turn = t.Cos();
                if (!corner ? turn <= bestCos : turn < bestCos - Alike || (turn <= bestCos + Alike && c < bestCost)) {
                    bestCos = corner ? std::min(bestCos, turn) : turn;
                    bestCost = c;
                    start = j;
                    corner = true;
                }
            }
            cut.StartVertex = start;
            knife = p[start];
        } else {
            cut.Reversed = e->Vertex == 1;
            knife = cut.Reversed ? p.front() : p.back();
        }
        order.Steps.push_back(cut);
        tree.Set(i, false);
        // The last path inside its encloser sets it and its copies free.
        if (const std::uint32_t o = encloser[i]; o != NoPath && --waiting[o] == 0)
            for (std::uint32_t c = copiesStart[o]; c < copiesStart[o + 1]; ++c)
                tree.Set(copies[c], true);
    }

    PointMm at = options.Start;
    for (const CutStep& step : order.Steps) {
        const auto& p = paths[step.Index];
        const PointMm from = closed[step.Index] ? p[step.StartVertex] : step.Reversed ? p.back() : p.front();
        order.TravelAfterMm += Distance(at, from);
        at = closed[step.Index] ? from : step.Reversed ? p.front() : p.back();
    }
}

} // namespace

CutOrder OrderCuts(const CutPaths& paths, const CutOrderOptions& options)
{
    CutOrder order;
    order.TravelBeforeMm = PenUpTravelMm(paths, options.Start);
    try {
        Order(paths, options, order);
    } catch (const TStopCheck::Stop&) {
        order.Stopped = true;
    }
    return order;
}

CutPaths ApplyCutOrder(const CutPaths& paths, const CutOrder& order)
{
    CutPaths result;
    result.reserve(order.Steps.size());
    for (const CutStep& s : order.Steps) {
        result.push_back(paths[s.Index]);
        ApplyCutStep(result.back(), s);
    }
    return result;
}

void ApplyCutStep(std::vector<PointMm>& path, const CutStep& step)
{
    if (IsClosed(path)) {
        // The closing point moves with the start.
        const std::size_t m = path.size() - 1;
        std::rotate(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(step.StartVertex % m), path.end() - 1);
        path.back() = path.front();
    } else if (step.Reversed) {
        std::reverse(path.begin(), path.end());
    }
}

CutPaths OrderedCutPaths(const CutPaths& paths, const CutOrderOptions& options, CutOrder* order)
{
    CutOrder o = OrderCuts(paths, options);
    CutPaths result = ApplyCutOrder(paths, o);
    if (order)
        *order = std::move(o);
    return result;
}

double PenUpTravelMm(const CutPaths& paths, PointMm start)
{
    double travel = 0;
    PointMm at = start;
    for (const auto& p : paths) {
        if (p.empty())
            continue;
        travel += Distance(at, p.front());
        at = p.back();
    }
    return travel;
}

std::vector<PointMm> WeedBox(const CutPaths& paths, double distanceMm)
{
    Box b;
    for (const auto& p : paths)
        for (const PointMm q : p)
            b.Add(q);
    if (b.Empty() || !(distanceMm > 0))
        return {};
    const double x0 = b.X0 - distanceMm, y0 = b.Y0 - distanceMm, x1 = b.X1 + distanceMm, y1 = b.Y1 + distanceMm;
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
}
