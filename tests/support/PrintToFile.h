#pragma once

// A plot's job written to a file, as --output writes it: drawn for the given
// settings, with no device, replacing the file.

#include "output/PlotPrinting.h"
#include "tests/support/StdText.h"

inline PrintResult PrintToFile(const TPLT& plot, const DeviceSettings& settings, int position, const QString& path)
{
    return PrintPlot(plot, {{DeviceIdentity{}, settings, FileBytes(path), true}, position});
}
