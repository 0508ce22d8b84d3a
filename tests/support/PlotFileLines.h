#pragma once

// The decoded lines of a plot file, as ReadPlotFile sees them.

#include "platform/PlotFile.h"
#include "plot/PlotTextReader.h"
#include "tests/support/StdText.h"

inline QStringList ReadPlotFileLines(const QString& FileName)
{
    const std::string fullPath = PlotFileFullPath(FileBytes(FileName));
    return QStrings(PlotDataLines(LoadPlotFile(FileBytes(FileName), fullPath), fullPath));
}
