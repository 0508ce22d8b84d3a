#include "cutter/CutterCorrections.h"

#include "common/Exceptions.h"
#include "common/Text.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace {

// To the nearest of `perUnit` steps a unit: the double nearest the decimal
// (9457 / 100 is 94.57, where 9457 * 0.01 is 94.57000000000001), so a kept
// value reads as the user gave it.
double RoundTo(double v, double perUnit)
{
    return std::round(v * perUnit) / perUnit;
}

bool Within(double v, double low, double high)
{
    return std::isfinite(v) && v >= low && v <= high;
}

// Within half the nominal length: anything further is a misreading.
bool NearNominal(double measuredMm, double nominalMm)
{
    return std::isfinite(measuredMm) && nominalMm > 0 && std::abs(measuredMm - nominalMm) <= 0.5 * nominalMm;
}

} // namespace

std::string_view CutOrderWord(CutOrderMode mode)
{
    return mode == CutOrderMode::Optimised ? "optimised" : "drawn";
}

std::optional<CutOrderMode> CutOrderFromWord(std::string_view word)
{
    if (SameWord(word, "drawn"))
        return CutOrderMode::Drawn;
    if (SameWord(word, "optimised") || SameWord(word, "optimized"))
        return CutOrderMode::Optimised;
    return std::nullopt;
}

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
    r.ScaleXPercent = RoundTo(c.ScaleXPercent, 100);
    r.ScaleYPercent = RoundTo(c.ScaleYPercent, 100);
    r.BladeOffsetMm = RoundTo(c.BladeOffsetMm, 100);
    r.OvercutMm = RoundTo(c.OvercutMm, 100);
    r.WeedBoxMm = RoundTo(c.WeedBoxMm, 100);
    r.SkewDeg = RoundTo(c.SkewDeg, 1000);
    r.Force = std::round(c.Force);
    r.Speed = std::round(c.Speed);
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
    if (!Within(c.WeedBoxMm, 0, MaxWeedBoxMm))
        return Format("The weed box must be from 0 to %1 mm outside the design (0 is none)", MaxWeedBoxMm);
    if (!Within(c.SkewDeg, -MaxSkewDeg, MaxSkewDeg))
        return Format("The skew must be from -%1 to %1 degrees", MaxSkewDeg);
    if (!Within(c.Force, 0, MaxToolValue) || !Within(c.Speed, 0, MaxToolValue))
        return Format("The force and the speed must be from 0 (the cutter's own) to %1", MaxToolValue);
    return {};
}

double ComposedScalePercent(double currentPercent, double nominalMm, double measuredMm)
{
    if (!NearNominal(measuredMm, nominalMm))
        throw EConvertError(Format("A measured length of %1 mm is more than 50 % off the line's %2 mm; "
                                   "measure between the ticks at the line's ends",
                                   measuredMm, nominalMm));
    const double composed = RoundTo(currentPercent * nominalMm / measuredMm, 100);
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

double MeasuredSkewDeg(const SquareMeasurement& m)
{
    const double a = m.WidthMm, b = m.HeightMm;
    // Each diagonal closes a triangle with the two sides.
    const auto closes = [a, b](double d) { return std::isfinite(d) && d > std::abs(a - b) && d < a + b; };
    if (!(std::isfinite(a) && std::isfinite(b) && a > 0 && b > 0) || !closes(m.DiagonalAMm) || !closes(m.DiagonalBMm))
        throw EConvertError(Format("Sides of %1 and %2 mm and diagonals of %3 and %4 mm make no parallelogram; "
                                   "measure each side and each diagonal between the corners' marks",
                                   a, b, m.DiagonalAMm, m.DiagonalBMm));
    // A parallelogram whose lower left angle is 90 + e degrees:
    // B^2 - A^2 = 4ab sin e.
    const double sine = (m.DiagonalBMm * m.DiagonalBMm - m.DiagonalAMm * m.DiagonalAMm) / (4 * a * b);
    // Lengths too large to square are no parallelogram either.
    if (!(std::abs(sine) < 1))
        throw EConvertError(Format("Diagonals of %1 and %2 mm make no parallelogram with sides of %3 and %4 mm",
                                   m.DiagonalAMm, m.DiagonalBMm, a, b));
    return std::asin(sine) * 180 / std::numbers::pi;
}

CutterCorrections WithMeasuredSquare(CutterCorrections c, double nominalWidthMm, double nominalHeightMm,
                                     const SquareMeasurement& m, int axesSign)
{
    // A side far off is a misreading, told as the rectangle's, before its
    // numbers go into the skew.
    for (const auto& [measured, nominal] :
         {std::pair(m.WidthMm, nominalWidthMm), std::pair(m.HeightMm, nominalHeightMm)})
        if (!NearNominal(measured, nominal))
            throw EConvertError(Format("A side measured as %1 mm is more than 50 % off the rectangle's %2 mm; "
                                       "measure each side between the corners' marks",
                                       measured, nominal));
    const double skew = MeasuredSkewDeg(m);
    if (std::abs(skew) > MaxSkewDeg)
        throw EConvertError(Format("The rectangle is %1 degrees out of square, more than the %2 a cutter can be "
                                   "corrected by; check the measurements, and that the material did not slip",
                                   FixedNumber(skew, 2), MaxSkewDeg));
    // Once the lean is taken out, each side's length is its own axis' scale
    // error.
    c.ScaleXPercent = ComposedScalePercent(c.ScaleXPercent, nominalWidthMm, m.WidthMm);
    c.ScaleYPercent = ComposedScalePercent(c.ScaleYPercent, nominalHeightMm, m.HeightMm);
    c.SkewDeg += axesSign * skew;
    return CheckedCorrections(c);
}

int SheetToCutterSkewSign(bool rotate90, bool mirrorX, bool mirrorY)
{
    return (rotate90 != mirrorX) != mirrorY ? -1 : 1;
}
