#pragma once

// Prints a plot on the active device as one job of one page, in hundredths
// of a millimetre, at one of the nine page positions.

#include "plot/UPLT.h"

// Throws EPrinter for no device, a job already open or an unusable device;
// a failure while drawing still ends (and hands over) the job first.
void PrintPlot(const TPLT& IPLT, int PositionIndex);
