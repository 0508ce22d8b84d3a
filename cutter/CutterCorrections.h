#pragma once

// The corrections a device's cuts need, found by calibration: the cutter's
// scale error, the drag knife's blade offset and the overcut that closes a
// shape's starting nick. All off by default, and an uncorrected job is the
// same job as before corrections existed.

#include <string>
#include <vector>

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
    friend bool operator==(const CutterCorrections&, const CutterCorrections&) = default;
};

inline constexpr double MinScalePercent = 25; // a quarter: a step size of 0.1 mm read as 0.025 mm
inline constexpr double MaxScalePercent = 400;
inline constexpr double MaxBladeOffsetMm = 1.5;
inline constexpr double MaxOvercutMm = 5;

// Whether the job's path needs reworking (offset or overcut); scale alone
// changes only the numbers.
bool ReshapesPath(const CutterCorrections& c);

// The values rounded to their steps (0.01 % and 0.01 mm); an empty text when
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
