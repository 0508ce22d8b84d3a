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

BladeCompensation::BladeCompensation(ToolPathSink& sink, double widthMm, double heightMm, double strokeOffsetMm)
    : FSink(sink), FWidth(widthMm), FHeight(heightMm), FStrokeOffset(strokeOffsetMm)
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

void BladeCompensation::Align(PointMm start, PointMm u)
{
    // Long enough for the dragged tip to fall in line from nearly any start
    // direction (the lag shrinks by e per offset travelled), and a clear gap
    // from where the drawing starts. The first place that lies on the sheet,
    // trying behind the start, then beside it, going back, then forward.
    const double length = std::max(7 * FStrokeOffset, 1.0);
    const double gap = 2;
    const PointMm n{-u.Y, u.X};
    const PointMm ends[] = {start - u * gap, start - n * gap, start + n * gap, start - n * gap + u * length,
                            start + n * gap + u * length};
    const auto onSheet = [this](PointMm p) { return p.X >= 0 && p.Y >= 0 && p.X <= FWidth && p.Y <= FHeight; };
    PointMm end = ends[0];
    for (const PointMm& candidate : ends) {
        if (onSheet(candidate) && onSheet(candidate - u * length)) {
            end = candidate;
            break;
        }
    }
    FSink.ToolUp(end - u * length);
    FSink.Cut(end);
    FDirection = u;
    FAligned = true;
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

void AppendOvercut(std::vector<PointMm>& path, double lengthMm)
{
    const size_t n = path.size();
    if (n < 3 || !(lengthMm > 0) || !(path.front() == path.back()))
        return;
    double perimeter = 0;
    for (size_t i = 1; i < n; ++i)
        perimeter += Length(path[i] - path[i - 1]);
    if (perimeter < NoLengthMm)
        return;
    // Round and round for a shape shorter than the overcut.
    double left = lengthMm;
    for (size_t i = 1; left > 0; i = i % (n - 1) + 1) {
        const PointMm a = path[i - 1], b = path[i];
        const double step = Length(b - a);
        if (step >= left) {
            path.push_back(a + (b - a) * (left / step));
            break;
        }
        if (step > 0)
            path.push_back(b);
        left -= step;
    }
}
