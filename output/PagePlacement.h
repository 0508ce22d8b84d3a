#pragma once

// Where a plot lands on the page: the window origin for one of the nine
// positions of the position list.

#include "common/Types.h"

#include <cstdint>
#include <optional>

// Position list indices, in list order.
enum PlacementPosition : int {
    BottomLeft = 0,
    BottomRight = 1,
    TopLeft = 2,
    TopRight = 3,
    MiddleBottom = 4,
    MiddleTop = 5,
    MiddleLeft = 6,
    MiddleRight = 7,
    Centered = 8,
};

// Bound is the plot's y-up bound; W the page width and H the page's bottom
// edge in logical units (H is negative under the metric mapping). Returns the
// window origin, or nothing when the index is not a position (the origin is
// then left as it is).
//
// The sums are done in 64 bits, so a plot near the 32-bit limits is placed
// as the arithmetic says instead of wrapping around; halving truncates
// toward zero.
//
// PlotterUnits is for a plot read in plotter units (TPLT::PlotterUnits):
// each coordinate of the origin then moves by at most one unit, toward the
// inside of the sheet, to lie within a fifth of a plotter unit of a whole
// one. The store holds such a plot's points as near to whole plotter units,
// so a cutter in plotter units rounds every point of it the same way and no
// segment gains or loses a unit, at any position.
std::optional<TOrigin> PlacementOrigin(const TRect& Bound, std::int32_t W, std::int32_t H, int PositionIndex,
                                       bool PlotterUnits = false);
