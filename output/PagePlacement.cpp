#include "output/PagePlacement.h"

namespace {

// Truncates toward zero (-7 -> -3), as C++ division does.
std::int64_t Half(std::int64_t a)
{
    return a / 2;
}

// Moves v by one toward dir (-1 down, +1 up, 0 the nearer whole plotter
// unit) when v / 2.5 lies 0.4 from the nearest whole number. Within 0.2 is
// near enough: the store's own rounding leaves each point within 0.2 of a
// whole unit, and 0.2 + 0.2 still rounds to it.
std::int64_t OnPlotterUnits(std::int64_t v, int dir)
{
    const std::int64_t r = ((v % 5) + 5) % 5;
    if (r == 1)
        return dir > 0 ? v + 1 : v - 1;
    if (r == 4)
        return dir < 0 ? v - 1 : v + 1;
    return v;
}

} // namespace

std::optional<TOrigin> PlacementOrigin(const TRect& Bound, std::int32_t W, std::int32_t H, int PositionIndex,
                                       bool PlotterUnits)
{
    const std::int64_t L = Bound.Left, T = Bound.Top, R = Bound.Right, B = Bound.Bottom;
    const std::int64_t left = L;
    const std::int64_t right = R - W;
    const std::int64_t middle = L - Half(W) + Half(R - L);
    const std::int64_t bottom = B;
    const std::int64_t top = T + H;
    const std::int64_t halfway = T + Half(H);

    // Which way each coordinate may move to reach whole plotter units: a
    // larger origin moves the plot left or down, so plots against a right or
    // top edge move inward with it, those against a left or bottom edge
    // against it.
    int dirX = 0, dirY = 0;
    TOrigin o;
    switch (PositionIndex) {
    case BottomLeft: o = {left, bottom}, dirX = -1, dirY = -1; break;
    case BottomRight: o = {right, bottom}, dirX = 1, dirY = -1; break;
    case TopLeft: o = {left, top}, dirX = -1, dirY = 1; break;
    case TopRight: o = {right, top}, dirX = 1, dirY = 1; break;
    case MiddleBottom: o = {middle, bottom}, dirY = -1; break;
    case MiddleTop: o = {middle, top}, dirY = 1; break;
    case MiddleLeft: o = {left, halfway}, dirX = -1; break;
    case MiddleRight: o = {right, halfway}, dirX = 1; break;
    // The bound's middle, as for the middle positions; for a plot whose left
    // edge is at 0 (the built-in sample) that is R div 2.
    case Centered: o = {middle, halfway}; break;
    default: return std::nullopt;
    }
    if (PlotterUnits)
        o = {OnPlotterUnits(o.X, dirX), OnPlotterUnits(o.Y, dirY)};
    return o;
}
