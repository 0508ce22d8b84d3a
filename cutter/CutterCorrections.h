#pragma once

// The corrections a device's cuts need, found by calibration: the cutter's
// scale error, the drag knife's blade offset and the overcut that closes a
// shape's starting nick. All off by default, and an uncorrected job is the
// same job as before corrections existed.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// As drawn, or inner shapes first with the least travel (CutOrder.h).
enum class CutOrderMode { Drawn, Optimised };

// The mode's word in settings files and on the command line ("drawn",
// "optimised"), and back (any case, "optimized" too; nullopt for none).
std::string_view CutOrderWord(CutOrderMode mode);
std::optional<CutOrderMode> CutOrderFromWord(std::string_view word);

// The knife's force and the cutting speed, in the device's language's own
// units (levels or grams, cm/s or levels; see ToolRanges in
// CutterLanguage.h). 0 leaves the cutter's own setting.
struct ToolSetting {
    double Force = 0;
    double Speed = 0;
    friend bool operator==(const ToolSetting&, const ToolSetting&) = default;
};

struct CutterCorrections {
    // Per axis of the sheet as the job sees it, in percent (0.01 % steps).
    double ScaleXPercent = 100;
    double ScaleYPercent = 100;
    // The knife tip's trail behind its swivel axis; 0 is off (cutters that
    // compensate in firmware must not get it twice).
    double BladeOffsetMm = 0;
    // How far a closed path is cut again past its start.
    double OvercutMm = 0;
    // One job only, never kept: a blade offset for each polyline in drawing
    // order (the offset ladder), in place of BladeOffsetMm.
    std::vector<double> PathOffsetsMm;
    // The order the paths are cut in, and the weed box's distance outside
    // the design (0 is none): how the cut is planned rather than corrected,
    // kept with the rest of what a device's cuts need.
    CutOrderMode Order = CutOrderMode::Drawn;
    double WeedBoxMm = 0;
    // How far the cutter's own y axis leans from square to its x axis, in
    // degrees (positive: the angle between them is wider than 90); the cut
    // is sheared back by as much. 0 is off.
    double SkewDeg = 0;
    // Force and speed sent at the start of every job; 0 sends nothing.
    double Force = 0;
    double Speed = 0;
    // One job only, never kept: force and speed for each polyline in
    // drawing order (the force x speed grid), in place of the two above.
    std::vector<ToolSetting> PathTools{};
    friend bool operator==(const CutterCorrections&, const CutterCorrections&) = default;
};

inline constexpr double MinScalePercent = 25; // a quarter: a step size of 0.1 mm read as 0.025 mm
inline constexpr double MaxScalePercent = 400;
inline constexpr double MaxBladeOffsetMm = 1.5;
inline constexpr double MaxOvercutMm = 5;
inline constexpr double MaxWeedBoxMm = 50;
inline constexpr double MaxSkewDeg = 2;
// Past any language's force or speed: the language's own range is checked
// where the language is known (ToolSettingProblem).
inline constexpr double MaxToolValue = 1000;

// Whether the job's path needs reworking (offset or overcut); scale alone
// changes only the numbers.
bool ReshapesPath(const CutterCorrections& c);

// The values rounded to their steps (0.01 %, 0.01 mm, whole force and speed); an empty text when
// all are in range, else what is wrong, for the user.
CutterCorrections RoundedCorrections(const CutterCorrections& c);
std::string CorrectionsProblem(const CutterCorrections& c);

// The scale that makes a line cut at `currentPercent` measure `nominalMm`
// when it measured `measuredMm`: the correction is composed with the current
// one, since the measured cut already had it. Throws EConvertError for a
// measurement more than 50 % off the nominal or a result out of range.
double ComposedScalePercent(double currentPercent, double nominalMm, double measuredMm);

// The corrections with the scale from measured lines composed in, x and y
// each as ComposedScalePercent gives it. Throws as it does.
CutterCorrections WithMeasuredScale(CutterCorrections c, double nominalMm, double measuredXMm, double measuredYMm);

// The corrections as they are kept: rounded to their steps, and checked.
// Throws EConvertError with what is wrong.
CutterCorrections CheckedCorrections(const CutterCorrections& c);

// A rectangle cut to calibrate the skew, as measured with a ruler: its
// sides along x and y, and its two diagonals: A from the corner marked with
// one tick (lower left as cut) to the other one-tick corner, B between the
// corners with two ticks.
struct SquareMeasurement {
    double WidthMm = 0;
    double HeightMm = 0;
    double DiagonalAMm = 0;
    double DiagonalBMm = 0;
};

// The skew angle on the sheet, in degrees, that the four lengths show (the
// angle at the lower left corner less 90). Throws EConvertError when they
// make no parallelogram.
double MeasuredSkewDeg(const SquareMeasurement& m);

// The corrections after a rectangle of nominalWidthMm x nominalHeightMm, cut
// with c, measured as m: the scales composed with c's, the skew added to
// c's. axesSign turns the sheet's angle into the cutter's own (+1 or -1, see
// SheetToCutterSkewSign). Rounded and checked: throws EConvertError for
// lengths that make no parallelogram, a result out of range, or a skew past
// MaxSkewDeg.
CutterCorrections WithMeasuredSquare(CutterCorrections c, double nominalWidthMm, double nominalHeightMm,
                                     const SquareMeasurement& m, int axesSign);

// Turning the axes a quarter or mirroring one of them turns an angle wider
// than 90 into a narrower one: the sign that takes the sheet's skew to the
// cutter's.
int SheetToCutterSkewSign(bool rotate90, bool mirrorX, bool mirrorY);
