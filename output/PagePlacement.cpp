#include "output/PagePlacement.h"

namespace {

// Two's-complement wrap, done in unsigned arithmetic so it is never UB.
std::int32_t Add(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t Sub(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// Truncates toward zero (-7 -> -3), as C++ division does.
std::int32_t Half(std::int32_t a)
{
    return a / 2;
}

} // namespace

std::optional<TPoint> PlacementOrigin(const TRect& Bound, std::int32_t W, std::int32_t H, int PositionIndex)
{
    const std::int32_t L = Bound.Left, T = Bound.Top, R = Bound.Right, B = Bound.Bottom;
    const std::int32_t left = L;
    const std::int32_t right = Sub(R, W);
    const std::int32_t middle = Add(Sub(L, Half(W)), Half(Sub(R, L)));
    const std::int32_t bottom = B;
    const std::int32_t top = Add(T, H);
    const std::int32_t halfway = Add(T, Half(H));

    switch (PositionIndex) {
    case BottomLeft: return TPoint{left, bottom};
    case BottomRight: return TPoint{right, bottom};
    case TopLeft: return TPoint{left, top};
    case TopRight: return TPoint{right, top};
    case MiddleBottom: return TPoint{middle, bottom};
    case MiddleTop: return TPoint{middle, top};
    case MiddleLeft: return TPoint{left, halfway};
    case MiddleRight: return TPoint{right, halfway};
    // Centres R div 2, which is the plot's middle only when L is 0 (as for
    // the built-in sample); kept so that other plots land as they always did.
    case Centered: return TPoint{Sub(Half(R), Half(W)), halfway};
    default: return std::nullopt;
    }
}
