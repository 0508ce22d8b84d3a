#pragma once

// Cutting a calibration pattern on the active device, the way Cut cuts the
// sample: same job path, same positions, every kind of destination.

#include "cutter/CalibrationPatterns.h"
#include "output/PlotPrinting.h"
#include "platform/PrinterObject.h"
#include "plot/UPLT.h"

#include <vector>

struct CalibrationCut {
    CalibrationPattern Pattern = CalibrationPattern::Sample;
    double LengthMm = DefaultScaleLengthMm; // the scale lines
    LadderSteps Offsets;                    // the ladder's squares
};

// The pattern's plot for a device with these settings; pathOffsets (ladder
// only) gets each polyline's blade offset. Throws EConvertError for a length
// or ladder that does not fit the sheet, or offsets out of range.
TPLT PatternPlot(const CalibrationCut& cut, const DeviceSettings& settings, std::vector<double>& pathOffsets);

// Cuts the pattern as asked, with the request's corrections; the ladder cuts
// each square with its own offset in place of the device's. Throws as
// PatternPlot and PrintPlot do.
PrintResult PrintPattern(const CalibrationCut& cut, PrintRequest request);
