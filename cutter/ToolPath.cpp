#include "cutter/ToolPath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

PointMm operator+(PointMm a, PointMm b)
{
    return {a.X + b.X, a.Y + b.Y};
}
PointMm operator-(PointMm a, PointMm b)
{
    return {a.X - b.X, a.Y - b.Y};
}
PointMm operator*(PointMm a, double k)
{
    return {a.X * k, a.Y * k};
}
double Length(PointMm v)
{
    return std::sqrt(v.X * v.X + v.Y * v.Y);
}

// Shorter than any cutter's step: a move of no length.
constexpr double NoLengthMm = 1e-9;

} // namespace

BladeCompensation::BladeCompensation(ToolPathSink& sink, double widthMm, double heightMm, double strokeOffsetMm,
                                     double lean)
    : FSink(sink), FWidth(widthMm), FHeight(heightMm), FStrokeOffset(strokeOffsetMm), FLean(lean)
{}

void BladeCompensation::SetOffset(double mm)
{
    if (mm == FOffset)
        return;
    FOffset = mm;
    if (mm <= 0)
        return;
    // The chord of angle a lies r(1 - cos(a/2)) inside the arc at most.
    const double ratio = std::clamp(1 - ChordToleranceMm / mm, -1.0, 1.0);
    FMaxStep = std::max(2 * std::acos(ratio), 1e-3);
    FCosMaxStep = std::cos(FMaxStep);
}

void BladeCompensation::MoveTo(PointMm p) noexcept
{
    FTip = p;
    FUp = true;
}

void BladeCompensation::KeepClearOf(PointMm low, PointMm high) noexcept
{
    FClearLow = low;
    FClearHigh = high;
    FClearKnown = true;
}

void BladeCompensation::Align(PointMm start, PointMm u)
{
    FDirection = u;
    FAligned = true;
    // Anything cut there would spoil the drawing or the material it sits on.
    if (!FClearKnown) {
        FAlignLeftOut = true;
        return;
    }
    // Long enough for the dragged tip to fall in line from nearly any start
    // direction (the lag shrinks by e per offset travelled). The holder keeps
    // the gap plus the offset from the drawing's box, as the tip may trail
    // the holder by the offset in any direction while it falls in line.
    const double length = std::max(7 * FStrokeOffset, 1.0);
    const double gap = 2 + FStrokeOffset;
    const PointMm low = FClearLow - PointMm{gap, gap}, high = FClearHigh + PointMm{gap, gap};
    const PointMm n{-u.Y, u.X};
    const PointMm extent{std::abs(u.X) * length, std::abs(u.Y) * length};
    // The stroke's end when its box's lower-left corner is at c.
    const auto endFor = [&u, &extent](PointMm c) {
        return PointMm{u.X >= 0 ? c.X + extent.X : c.X, u.Y >= 0 ? c.Y + extent.Y : c.Y};
    };
    // Along one side of the box, as near the start as the sheet allows.
    const double x = std::clamp(start.X - extent.X / 2, 0.0, std::max(0.0, FWidth - extent.X));
    const double y = std::clamp(start.Y - extent.Y / 2, 0.0, std::max(0.0, FHeight - extent.Y));
    // Near the start first: behind it, beside it going back, then forward;
    // then beside the drawing: below, left, right, above. Any place where
    // the stroke fits clear of the box lies in one of those four strips.
    const PointMm ends[] = {start - u * gap,
                            start - n * gap,
                            start + n * gap,
                            start - n * gap + u * length,
                            start + n * gap + u * length,
                            endFor({x, low.Y - extent.Y}),
                            endFor({low.X - extent.X, y}),
                            endFor({high.X, y}),
                            endFor({x, high.Y})};
    const auto onSheet = [this](PointMm p) {
        const double side = p.X - FLean * p.Y;
        return p.X >= 0 && p.Y >= 0 && p.X <= FWidth && p.Y <= FHeight && side >= 0 && side <= FWidth;
    };
    // Touching the widened box still leaves the gap.
    constexpr double slack = 1e-6;
    const auto clear = [&low, &high](PointMm a, PointMm b) {
        return std::max(a.X, b.X) <= low.X + slack || std::min(a.X, b.X) >= high.X - slack
               || std::max(a.Y, b.Y) <= low.Y + slack || std::min(a.Y, b.Y) >= high.Y - slack;
    };
    for (const PointMm& end : ends) {
        const PointMm from = end - u * length;
        if (onSheet(end) && onSheet(from) && clear(from, end)) {
            FSink.ToolUp(from);
            FSink.Cut(end);
            return;
        }
    }
    FAlignLeftOut = true;
}

void BladeCompensation::Swivel(PointMm centre, PointMm from, PointMm to)
{
    const double cross = from.X * to.Y - from.Y * to.X;
    const double dot = from.X * to.X + from.Y * to.Y;
    // A turn this small is within the tolerance of the straight line on to
    // the next point: no arc (smooth curves would double their points).
    if (dot > 0 && std::abs(cross) * FOffset <= ChordToleranceMm)
        return;
    if (dot >= FCosMaxStep) { // one chord: the common case, without trigonometry
        FSink.Cut(centre + to * FOffset);
        return;
    }
    const double turn = std::atan2(cross, dot);
    const int steps = std::max(1, static_cast<int>(std::ceil(std::abs(turn) / FMaxStep)));
    const double start = std::atan2(from.Y, from.X);
    for (int i = 1; i < steps; ++i) {
        const double a = start + turn * i / steps;
        FSink.Cut(centre + PointMm{std::cos(a), std::sin(a)} * FOffset);
    }
    FSink.Cut(centre + to * FOffset);
}

void BladeCompensation::CutTo(PointMm p)
{
    const PointMm v = p - FTip;
    const double length = Length(v);
    if (length < NoLengthMm)
        return;
    const PointMm u = v * (1 / length);
    if (FOffset <= 0) {
        if (FUp)
            FSink.ToolUp(FTip);
        FSink.Cut(p);
    } else {
        if (!FAligned)
            Align(FTip, u);
        if (FUp)
            FSink.ToolUp(FTip + FDirection * FOffset);
        Swivel(FTip, FDirection, u);
        FSink.Cut(p + u * FOffset);
    }
    FDirection = u;
    FTip = p;
    FUp = false;
}

void AppendOvercut(std::vector<PointMm>& path, double lengthMm, double scaleX, double scaleY)
{
    const auto length = [scaleX, scaleY](PointMm v) { return Length({v.X / scaleX, v.Y / scaleY}); };
    const size_t n = path.size();
    if (n < 3 || !(lengthMm > 0) || !(path.front() == path.back()))
        return;
    double perimeter = 0;
    for (size_t i = 1; i < n; ++i)
        perimeter += length(path[i] - path[i - 1]);
    if (perimeter < NoLengthMm)
        return;
    // Once round at most: a shape shorter than the overcut is cut twice, not
    // round and round, which would ruin it and multiply the job.
    double left = std::min(lengthMm, perimeter);
    for (size_t i = 1; i < n && left > 0; ++i) {
        const PointMm a = path[i - 1], b = path[i];
        const double step = length(b - a);
        if (step >= left) {
            path.push_back(a + (b - a) * (left / step));
            break;
        }
        if (step > 0)
            path.push_back(b);
        left -= step;
    }
}
