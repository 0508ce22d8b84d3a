#pragma once

// The order a job's paths are cut in, in mm on the cutter's own axes.
//
// A path is closed when its last point is its first. Two rules decide the
// order:
//   - a closed path that lies inside another closed path is cut before it, at
//     any depth, so a piece is never cut free before the cuts inside it
//     (see Inside for shapes that cross);
//   - of the paths that may go next, the one nearest the knife goes next.
//     Movement along the feed axis moves the material itself, so it counts
//     FeedWeight times. Open paths may be cut either way round; a closed path
//     may start at any vertex, preferably a corner near the knife, where
//     overcut and blade offset work best.
//
// Inside: closed path A lies inside closed path B when A's bound lies within
// B's, A encloses less area than B, and A's first vertex that is not on B's
// outline lies inside B (non-zero winding). A shape that only shares edges
// with another is inside it when the rest of it is; two shapes that cross
// are judged by that one vertex; equal shapes are not inside each other.
// Because the enclosed area falls strictly at each step inward, the rule has
// no cycles, whatever the shapes.
//
// Each closed path waits only for the paths it is the nearest encloser of
// (the one of least area, then lowest index, that they lie inside), which
// wait in turn for theirs: for shapes that nest, that is every shape inside.
// A path inside two shapes that cross each other waits for the smaller and
// what encloses that, not for the other. Copies of one shape (same bound,
// vertex count and area) all wait for what lies inside any of them.
//
// The result depends on the input alone: ties go to the lower path index,
// then the lower vertex.

#include "cutter/ToolPath.h"

#include <cstddef>
#include <functional>
#include <vector>

enum class FeedAxis { X, Y };

struct CutOrderOptions {
    // The axis that moves the material. With the surface's default axes the
    // sheet's length, plotter y, runs through the cutter; a device with its
    // axes turned has it on x.
    FeedAxis Feed = FeedAxis::Y;
    double FeedWeight = 2;
    // Where the knife is before the first path.
    PointMm Start{0, 0};
    // A closed path starts at its sharpest corner (a turn of at least
    // CornerMinTurnDeg) no more than this much further than its nearest
    // vertex; with no such corner, at the nearest vertex.
    double CornerReachMm = 2;
    double CornerMinTurnDeg = 30;
    // Asked now and then while ordering: true stops it, incomplete.
    std::function<bool()> Stopped;
};

// One path in the new order: which one, and how it is cut.
struct CutStep {
    std::size_t Index = 0;
    // Open paths: cut from the last point to the first.
    bool Reversed = false;
    // Closed paths: the vertex the cut starts and ends at.
    std::size_t StartVertex = 0;
    friend bool operator==(const CutStep&, const CutStep&) = default;
};

struct CutOrder {
    std::vector<CutStep> Steps;
    // Pen-up travel in mm (plain distance, from Start, not back), in the
    // paths' own order and in the new one.
    double TravelBeforeMm = 0;
    double TravelAfterMm = 0;
    // Options.Stopped said to stop: Steps and TravelAfterMm are incomplete.
    bool Stopped = false;
};

using CutPaths = std::vector<std::vector<PointMm>>;

// The order to cut paths in. Empty paths keep no place in it.
CutOrder OrderCuts(const CutPaths& paths, const CutOrderOptions& options = {});

// The paths as the order cuts them: reversed and started where it says.
CutPaths ApplyCutOrder(const CutPaths& paths, const CutOrder& order);

// One path as step cuts it, in place.
void ApplyCutStep(std::vector<PointMm>& path, const CutStep& step);

// Both in one call: the job's paths in the order to cut them. *order, when
// given, receives the steps and the travel figures.
CutPaths OrderedCutPaths(const CutPaths& paths, const CutOrderOptions& options = {}, CutOrder* order = nullptr);

// Pen-up travel in mm cutting paths as they stand, from start.
double PenUpTravelMm(const CutPaths& paths, PointMm start = {0, 0});

// The weed box: the closed rectangle distanceMm outside the bound of every
// path's points, counter-clockwise from its lower-left corner; empty when
// there are no points or distanceMm is not above 0.
std::vector<PointMm> WeedBox(const CutPaths& paths, double distanceMm);
