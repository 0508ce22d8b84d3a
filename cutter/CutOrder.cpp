#include "cutter/CutOrder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

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

// A square grid of cells over a box, at least one cell.
struct GridShape {
    Box Bound;
    std::size_t N = 1;
    double Cell = 1;

    GridShape(const Box& bound, std::size_t wanted) : Bound(bound)
    {
        N = std::max<std::size_t>(1, wanted);
        const double span = std::max(bound.X1 - bound.X0, bound.Y1 - bound.Y0);
        Cell = span > 0 ? span / static_cast<double>(N) : 1;
    }
    std::size_t Column(double x) const { return Index(x - Bound.X0); }
    std::size_t Row(double y) const { return Index(y - Bound.Y0); }

private:
    std::size_t Index(double offset) const
    {
        if (!(offset > 0))
            return 0;
        return std::min(N - 1, static_cast<std::size_t>(offset / Cell));
    }
};

std::size_t GridSide(std::size_t items, std::size_t cap)
{
    return std::min(cap, static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(items) / 2))));
}

// For each path, the closed paths it lies inside (none for open ones), found
// through a grid of the closed paths' bounds: an encloser's bound covers any
// point of what it encloses, so only the cell of one point is looked at.
std::vector<std::vector<std::uint32_t>> Enclosers(const CutPaths& paths, const std::vector<char>& closed,
                                                  const std::vector<Box>& bounds, const std::vector<double>& areas)
{
    std::vector<std::vector<std::uint32_t>> result(paths.size());
    Box all;
    std::size_t count = 0;
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (closed[i]) {
            all.Add({bounds[i].X0, bounds[i].Y0});
            all.Add({bounds[i].X1, bounds[i].Y1});
            ++count;
        }
    if (count < 2)
        return result;
    const GridShape grid(all, GridSide(count, 256));
    std::vector<std::vector<std::uint32_t>> cells(grid.N * grid.N);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!closed[i] || !(areas[i] > 0))
            continue;
        const std::size_t c0 = grid.Column(bounds[i].X0), c1 = grid.Column(bounds[i].X1);
        const std::size_t r0 = grid.Row(bounds[i].Y0), r1 = grid.Row(bounds[i].Y1);
        for (std::size_t r = r0; r <= r1; ++r)
            for (std::size_t c = c0; c <= c1; ++c)
                cells[r * grid.N + c].push_back(static_cast<std::uint32_t>(i));
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!closed[i])
            continue;
        const PointMm p = paths[i].front();
        for (const std::uint32_t outer : cells[grid.Row(p.Y) * grid.N + grid.Column(p.X)])
            if (outer != i && areas[outer] > areas[i] && bounds[outer].Holds(bounds[i])
                && LiesInside(paths[i], paths[outer]))
                result[i].push_back(outer);
    }
    return result;
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

// The entries of the paths not yet cut, in a grid rebuilt smaller as they
// are used up, so a search stays local to the knife.
class TEntryGrid {
public:
    TEntryGrid(const std::vector<Entry>& entries, const std::vector<char>& done, const std::vector<char>& blocked)
        : FEntries(entries), FDone(done), FBlocked(blocked)
    {
        Rebuild();
    }

    // Called once a path is cut, with its entry count.
    void Used(std::size_t entries)
    {
        FLive -= std::min(FLive, entries);
        if (FLive * 4 < FHeld && FHeld > 256)
            Rebuild();
    }

    // The nearest entry of a path that is neither cut nor blocked; valid
    // until the next call. Entries of cut paths met on the way are dropped
    // from their cells, so later searches do not step over them again.
    const Entry* Nearest(double x, double y)
    {
        bool found = false;
        double bestD2 = 0;
        const std::size_t n = FShape.N;
        const std::size_t cx = FShape.Column(x), cy = FShape.Row(y);
        for (std::size_t k = 0;; ++k) {
            const std::size_t c0 = cx >= k ? cx - k : 0, c1 = std::min(n - 1, cx + k);
            const std::size_t r0 = cy >= k ? cy - k : 0, r1 = std::min(n - 1, cy + k);
            const auto look = [&](std::size_t r, std::size_t c) {
                const std::size_t cell = r * n + c;
                std::uint32_t end = FStart[cell] + FCount[cell];
                for (std::uint32_t i = FStart[cell]; i < end;) {
                    const Entry& e = FEntries[FItems[i]];
                    if (FDone[e.Path]) { // ties are settled by path and vertex, so the order in a cell is free
                        FItems[i] = FItems[--end];
                        --FCount[cell];
                        continue;
                    }
                    ++i;
                    if (FBlocked[e.Path])
                        continue;
                    const double ex = e.X - x, ey = e.Y - y, d2 = ex * ex + ey * ey;
                    if (!found || d2 < bestD2
                        || (d2 == bestD2
                            && (e.Path < FFound.Path || (e.Path == FFound.Path && e.Vertex < FFound.Vertex)))) {
                        FFound = e;
                        bestD2 = d2;
                        found = true;
                    }
                }
            };
            // Ring k: whole rows at its top and bottom, its two side columns between.
            for (std::size_t r = r0; r <= r1; ++r) {
                if (r + k == cy || r == cy + k) {
                    for (std::size_t c = c0; c <= c1; ++c)
                        look(r, c);
                } else {
                    if (cx >= k)
                        look(r, cx - k);
                    if (k > 0 && cx + k < n)
                        look(r, cx + k);
                }
            }
            // How far any cell not yet looked at is from (x, y).
            double lo = std::numeric_limits<double>::infinity();
            if (cx > k)
                lo = std::min(lo, x - (FShape.Bound.X0 + static_cast<double>(cx - k) * FShape.Cell));
            if (cx + k < n - 1)
                lo = std::min(lo, FShape.Bound.X0 + static_cast<double>(cx + k + 1) * FShape.Cell - x);
            if (cy > k)
                lo = std::min(lo, y - (FShape.Bound.Y0 + static_cast<double>(cy - k) * FShape.Cell));
            if (cy + k < n - 1)
                lo = std::min(lo, FShape.Bound.Y0 + static_cast<double>(cy + k + 1) * FShape.Cell - y);
            if (std::isinf(lo) || (found && bestD2 < lo * lo))
                return found ? &FFound : nullptr;
        }
    }

private:
    void Rebuild()
    {
        Box bound;
        std::vector<std::uint32_t> live;
        live.reserve(FLive > 0 ? FLive : FEntries.size());
        for (std::size_t i = 0; i < FEntries.size(); ++i)
            if (!FDone[FEntries[i].Path]) {
                live.push_back(static_cast<std::uint32_t>(i));
                bound.Add({FEntries[i].X, FEntries[i].Y});
            }
        if (bound.Empty())
            bound.Add({0, 0});
        FShape = GridShape(bound, GridSide(live.size(), 1024));
        const std::size_t n = FShape.N;
        FStart.assign(n * n + 1, 0);
        for (const std::uint32_t i : live)
            ++FStart[CellOf(FEntries[i]) + 1];
        for (std::size_t c = 0; c < n * n; ++c)
            FStart[c + 1] += FStart[c];
        FItems.resize(live.size());
        FCount.assign(n * n, 0);
        for (const std::uint32_t i : live) {
            const std::size_t cell = CellOf(FEntries[i]);
            FItems[FStart[cell] + FCount[cell]++] = i;
        }
        FLive = FHeld = live.size();
    }
    std::size_t CellOf(const Entry& e) const { return FShape.Row(e.Y) * FShape.N + FShape.Column(e.X); }

    const std::vector<Entry>& FEntries;
    const std::vector<char>& FDone;
    const std::vector<char>& FBlocked;
    GridShape FShape{Box{}, 1};
    // Each cell's entries, live ones first: FCount of them.
    std::vector<std::uint32_t> FStart;
    std::vector<std::uint32_t> FCount;
    std::vector<std::uint32_t> FItems;
    Entry FFound{};
    std::size_t FLive = 0;
    std::size_t FHeld = 0;
};

} // namespace

CutOrder OrderCuts(const CutPaths& paths, const CutOrderOptions& options)
{
    CutOrder order;
    order.TravelBeforeMm = PenUpTravelMm(paths, options.Start);
    const std::size_t n = paths.size();
    std::vector<char> closed(n);
    std::vector<Box> bounds(n);
    std::vector<double> areas(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        closed[i] = IsClosed(paths[i]);
        for (const PointMm p : paths[i])
            bounds[i].Add(p);
        if (closed[i])
            areas[i] = Area(paths[i]);
    }
    const auto enclosers = Enclosers(paths, closed, bounds, areas);
    std::vector<std::uint32_t> insideCount(n, 0);
    for (const auto& outers : enclosers)
        for (const std::uint32_t o : outers)
            ++insideCount[o];

    const double wx = options.Feed == FeedAxis::X ? options.FeedWeight : 1;
    const double wy = options.Feed == FeedAxis::Y ? options.FeedWeight : 1;
    std::vector<Entry> entries;
    // Room for the most there can be, taken once: address space costs
    // nothing until used, where growing would touch the entries twice.
    std::size_t mostEntries = 0;
    for (std::size_t i = 0; i < n; ++i)
        mostEntries += closed[i] ? paths[i].size() : 2;
    entries.reserve(mostEntries);
    std::vector<std::size_t> entryCount(n, 0);
    std::vector<char> done(n, 0), blocked(n, 0);
    std::size_t toCut = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto& p = paths[i];
        const auto path = static_cast<std::uint32_t>(i);
        if (p.empty()) {
            done[i] = 1;
            continue;
        }
        ++toCut;
        blocked[i] = insideCount[i] > 0;
        const std::size_t before = entries.size();
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
        entryCount[i] = entries.size() - before;
    }

    TEntryGrid grid(entries, done, blocked);
    PointMm knife = options.Start;
    order.Steps.reserve(toCut);
    for (std::size_t step = 0; step < toCut; ++step) {
        const Entry* e = grid.Nearest(knife.X * wx, knife.Y * wy);
        if (!e)
            break; // cannot happen: the strictly falling area leaves a path free
        const std::size_t i = e->Path;
        const auto& p = paths[i];
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
        done[i] = 1;
        for (const std::uint32_t o : enclosers[i])
            if (--insideCount[o] == 0)
                blocked[o] = 0;
        grid.Used(entryCount[i]);
    }
    PointMm at = options.Start;
    for (const CutStep& step : order.Steps) {
        const auto& p = paths[step.Index];
        const PointMm from = closed[step.Index] ? p[step.StartVertex] : step.Reversed ? p.back() : p.front();
        order.TravelAfterMm += Distance(at, from);
        at = closed[step.Index] ? from : step.Reversed ? p.front() : p.back();
    }
    return order;
}

CutPaths ApplyCutOrder(const CutPaths& paths, const CutOrder& order)
{
    CutPaths result;
    result.reserve(order.Steps.size());
    for (const CutStep& s : order.Steps) {
        const auto& p = paths[s.Index];
        std::vector<PointMm> out;
        out.reserve(p.size());
        if (IsClosed(p)) {
            const std::size_t m = p.size() - 1;
            for (std::size_t k = 0; k <= m; ++k)
                out.push_back(p[(s.StartVertex + k) % m]);
        } else if (s.Reversed) {
            out.assign(p.rbegin(), p.rend());
        } else {
            out = p;
        }
        result.push_back(std::move(out));
    }
    return result;
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
