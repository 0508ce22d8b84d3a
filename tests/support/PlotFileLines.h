#pragma once

// The decoded lines of a plot file, as ReadPlotFile sees them.

#include "platform/PlotFile.h"
#include "plot/PlotTextReader.h"

inline QStringList ReadPlotFileLines(const QString& FileName)
{
    const QString fullPath = PlotFileFullPath(FileName);
    return PlotDataLines(LoadPlotFile(FileName, fullPath), fullPath);
}
