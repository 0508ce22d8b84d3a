#pragma once

// Prints a plot as one job of one page, in hundredths of a millimetre, at one
// of the nine page positions.

#include "cutter/DeviceSettings.h"
#include "cutter/SheetClip.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"
#include "plot/HpglReader.h"
#include "plot/UPLT.h"

#include <string>

// One job as a value: where it goes, the device's settings with their
// corrections, and the place on the sheet.
struct PrintRequest {
    JobTarget Target;
    int Position = 0;
};

// What became of a job: how much of the plot fell on the sheet, and the job
// as the spooler took it (Id 0 for a file or a port).
struct PrintResult {
    SheetShare Share;
    HandedJob Job;
};

// Throws EPrinter for no device, a job already open or an unusable device;
// a failure while drawing still ends (and hands over) the job first. A plot
// with nothing on the sheet sends no job at all: EPrinter.
PrintResult PrintPlot(const TPLT& IPLT, const PrintRequest& request);
// The same through another printer object than the process's.
PrintResult PrintPlotOn(TPrinter& printer, const TPLT& IPLT, const PrintRequest& request);

// A request for the active device as it is now: its settings, no file. May
// ask the server: not for the window's thread.
PrintRequest ActiveDeviceRequest(int position);

// What the user is told of a plot that was cut only in part, or without the
// blade's aligning stroke; empty when nothing was left out.
std::string LeftOutNotice(const SheetShare& share);

// The part of the sheet a job draws on (the printable area, after
// orientation), which plot files may scale their plots to.
HpglSheet SheetOf(const DeviceSettings& settings);
