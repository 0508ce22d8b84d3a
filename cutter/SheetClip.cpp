#include "cutter/SheetClip.h"

#include <algorithm>
#include <cmath>

SheetClip::Kept SheetClip::Clip(PointMm& a, PointMm& b) noexcept
{
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double sheetX = FMeasure.XX * dx + FMeasure.XY * dy, sheetY = FMeasure.YY * dy;
    const double length = std::sqrt(sheetX * sheetX + sheetY * sheetY);
    FShare.TotalMm += length;
    if (OnSheet(a) && OnSheet(b)) { // the usual case: nothing to clip
        FShare.KeptMm += length;
        return Kept::Whole;
    }
    double t0 = 0, t1 = 1;
    auto edge = [&](double p, double q) {
        if (p == 0)
            return q >= 0;
        const double r = q / p;
        if (p < 0) {
            if (r > t1)
                return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0)
                return false;
            t1 = std::min(t1, r);
        }
        return true;
    };
    if (!edge(-dx, a.X) || !edge(dx, FWidth - a.X) || !edge(-dy, a.Y) || !edge(dy, FHeight - a.Y))
        return Kept::None;
    const double side = a.X - FLean * a.Y, sideStep = dx - FLean * dy;
    if (FLean != 0 && (!edge(-sideStep, side) || !edge(sideStep, FWidth - side)))
        return Kept::None;
    if (t0 >= t1)
        return Kept::None;
    const PointMm start = a;
    if (t1 < 1)
        b = {start.X + t1 * dx, start.Y + t1 * dy};
    if (t0 > 0)
        a = {start.X + t0 * dx, start.Y + t0 * dy};
    FShare.KeptMm += length * (t1 - t0);
    return Kept::Part;
}
