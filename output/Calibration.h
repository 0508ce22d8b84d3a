#pragma once

// Cutting a calibration pattern on the active device, the way Cut cuts the
// sample: same job path, same positions, every kind of destination.

#include "cutter/CalibrationPatterns.h"
#include "output/PlotPrinting.h"
#include "platform/PrinterObject.h"
#include "plot/UPLT.h"

#include <utility>
#include <vector>

struct CalibrationCut {
    CalibrationPattern Pattern = CalibrationPattern::Sample;
    double LengthMm = DefaultScaleLengthMm; // the scale lines
    LadderSteps Offsets;                    // the ladder's squares
    ToolSteps Forces;                       // the grid's rows
    ToolSteps Speeds;                       // the grid's columns
};

// The grid's cells, row after row (each row a force, each column a speed),
// in the device's language's units; an axis not given takes the device's
// own value. Throws EConvertError for a language without the commands,
// values out of its range, neither axis given, or more than 25 cells.
std::vector<ToolSetting> GridCells(const CalibrationCut& cut, const DeviceSettings& settings, int& columns);

// The pattern's plot for a device with these settings; pathOffsets (ladder
// only) gets each polyline's blade offset. Throws EConvertError for a length
// or ladder that does not fit the sheet, or offsets out of range.
TPLT PatternPlot(const CalibrationCut& cut, const DeviceSettings& settings, std::vector<double>& pathOffsets);
// The same, with each polyline's force and speed (grid only) in pathTools.
TPLT PatternPlot(const CalibrationCut& cut, const DeviceSettings& settings, std::vector<double>& pathOffsets,
                 std::vector<ToolSetting>& pathTools);

// The square pattern's rectangle on a sheet of these settings: 200 x 150 mm,
// or as large as the sheet takes. Throws EConvertError for a sheet too small
// for 50 x 50 mm.
std::pair<double, double> SquarePatternSizeMm(const DeviceSettings& settings);

// Cuts the pattern as asked, with the request's corrections; the ladder cuts
// each square with its own offset in place of the device's, the grid each
// cell with its own force and speed. Throws as
// PatternPlot and PrintPlot do.
PrintResult PrintPattern(const CalibrationCut& cut, PrintRequest request);
