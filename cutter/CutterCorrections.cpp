#include "cutter/CutterCorrections.h"

#include "common/Exceptions.h"

#include <cmath>

namespace {

double RoundTo(double v, double step)
{
    return std::round(v / step) * step;
}

bool Within(double v, double low, double high)
{
    return std::isfinite(v) && v >= low && v <= high;
}

} // namespace

bool ReshapesPath(const CutterCorrections& c)
{
    if (c.BladeOffsetMm > 0 || c.OvercutMm > 0)
        return true;
    for (double offset : c.PathOffsetsMm)
        if (offset > 0)
            return true;
    return false;
}

CutterCorrections RoundedCorrections(const CutterCorrections& c)
{
    CutterCorrections r = c;
    r.ScaleXPercent = RoundTo(c.ScaleXPercent, 0.01);
    r.ScaleYPercent = RoundTo(c.ScaleYPercent, 0.01);
    r.BladeOffsetMm = RoundTo(c.BladeOffsetMm, 0.01);
    r.OvercutMm = RoundTo(c.OvercutMm, 0.01);
    return r;
}

std::string CorrectionsProblem(const CutterCorrections& c)
{
    if (!Within(c.ScaleXPercent, MinScalePercent, MaxScalePercent)
        || !Within(c.ScaleYPercent, MinScalePercent, MaxScalePercent))
        return Format("The scale must be from %1 % to %2 %", MinScalePercent, MaxScalePercent);
    if (!Within(c.BladeOffsetMm, 0, MaxBladeOffsetMm))
        return Format("The blade offset must be from 0 to %1 mm (0 is off)", MaxBladeOffsetMm);
    for (double offset : c.PathOffsetsMm)
        if (!Within(offset, 0, MaxBladeOffsetMm))
            return Format("The blade offset must be from 0 to %1 mm (0 is off)", MaxBladeOffsetMm);
    if (!Within(c.OvercutMm, 0, MaxOvercutMm))
        return Format("The overcut must be from 0 to %1 mm", MaxOvercutMm);
    return {};
}

double ComposedScalePercent(double currentPercent, double nominalMm, double measuredMm)
{
    if (!std::isfinite(measuredMm) || !(nominalMm > 0) || std::abs(measuredMm - nominalMm) > 0.5 * nominalMm)
        throw EConvertError(Format("A measured length of %1 mm is more than 50 % off the line's %2 mm; "
                                   "measure between the ticks at the line's ends",
                                   measuredMm, nominalMm));
    const double composed = RoundTo(currentPercent * nominalMm / measuredMm, 0.01);
    if (!Within(composed, MinScalePercent, MaxScalePercent))
        throw EConvertError(Format("The corrected scale would be %1 %, outside %2 % to %3 %", composed, MinScalePercent,
                                   MaxScalePercent));
    return composed;
}

CutterCorrections WithMeasuredScale(CutterCorrections c, double nominalMm, double measuredXMm, double measuredYMm)
{
    c.ScaleXPercent = ComposedScalePercent(c.ScaleXPercent, nominalMm, measuredXMm);
    c.ScaleYPercent = ComposedScalePercent(c.ScaleYPercent, nominalMm, measuredYMm);
    return c;
}

CutterCorrections CheckedCorrections(const CutterCorrections& c)
{
    const CutterCorrections rounded = RoundedCorrections(c);
    if (std::string problem = CorrectionsProblem(rounded); !problem.empty())
        throw EConvertError(std::move(problem));
    return rounded;
}
