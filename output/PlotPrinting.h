#pragma once

// Prints a plot on the active device as one job of one page, in hundredths
// of a millimetre, at one of the nine page positions.

#include "cutter/DeviceSettings.h"
#include "cutter/SheetClip.h"
#include "plot/HpglReader.h"
#include "plot/UPLT.h"

#include <string>

// Throws EPrinter for no device, a job already open or an unusable device;
// a failure while drawing still ends (and hands over) the job first. A plot
// with nothing on the sheet sends no job at all: EPrinter. Returns how much
// of the plot fell on the sheet.
SheetShare PrintPlot(const TPLT& IPLT, int PositionIndex);

// What the user is told of a plot that was cut only in part, or without the
// blade's aligning stroke; empty when nothing was left out.
std::string LeftOutNotice(const SheetShare& share);

// The part of the sheet a job draws on (the printable area, after
// orientation), which plot files may scale their plots to.
HpglSheet SheetOf(const DeviceSettings& settings);
