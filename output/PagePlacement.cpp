#include "output/PagePlacement.h"

namespace {

// Truncates toward zero (-7 -> -3), as C++ division does.
std::int64_t Half(std::int64_t a)
{
    return a / 2;
}

} // namespace

std::optional<TOrigin> PlacementOrigin(const TRect& Bound, std::int32_t W, std::int32_t H, int PositionIndex)
{
    const std::int64_t L = Bound.Left, T = Bound.Top, R = Bound.Right, B = Bound.Bottom;
    const std::int64_t left = L;
    const std::int64_t right = R - W;
    const std::int64_t middle = L - Half(W) + Half(R - L);
    const std::int64_t bottom = B;
    const std::int64_t top = T + H;
    const std::int64_t halfway = T + Half(H);

    switch (PositionIndex) {
    case BottomLeft: return TOrigin{left, bottom};
    case BottomRight: return TOrigin{right, bottom};
    case TopLeft: return TOrigin{left, top};
    case TopRight: return TOrigin{right, top};
    case MiddleBottom: return TOrigin{middle, bottom};
    case MiddleTop: return TOrigin{middle, top};
    case MiddleLeft: return TOrigin{left, halfway};
    case MiddleRight: return TOrigin{right, halfway};
    // Centres R div 2, which is the plot's middle only when L is 0 (as for
    // the built-in sample); kept so that other plots land as they always did.
    case Centered: return TOrigin{Half(R) - Half(W), halfway};
    default: return std::nullopt;
    }
}
