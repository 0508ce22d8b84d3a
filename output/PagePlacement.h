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
// The arithmetic is that of 32-bit integers: every sum and difference wraps
// modulo 2^32 and halving truncates toward zero. Real pages and plots never
// come near the limits; the wrap only keeps the result defined (and equal to
// what 32-bit code computes) for extreme bounds such as an empty plot's.
std::optional<TPoint> PlacementOrigin(const TRect& Bound, std::int32_t W, std::int32_t H, int PositionIndex);
