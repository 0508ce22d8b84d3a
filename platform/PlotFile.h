#pragma once

// Plot files on disk: the operating-system side of reading them. The text
// itself is read by plot/PlotTextReader.

#include "plot/UPLT.h"

#include <QByteArray>
#include <QString>

// Reads a plot file into Store (the file is only read, never written).
// Throws EFOpenError / EFileError for a file that cannot be opened, read or
// decoded, EOutOfMemory, and EConvertError as ReadPlotText does.
void ReadPlotFile(TPLT& Store, const QString& FileName);

// The whole content of a plot file. Directories, pipes, devices and files
// larger than MaxPlotFileSize are refused before anything is read. FullPath
// names the file in error messages.
QByteArray LoadPlotFile(const QString& FileName, const QString& FullPath);

// The absolute path that messages name a plot file by.
QString PlotFileFullPath(const QString& FileName);
