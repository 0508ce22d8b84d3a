#pragma once

// Reads plot text (HPGL, one instruction per line, only absolute PU/PD moves
// count) into a plot store, scaling thousandths of an inch to hundredths of a
// millimetre.

#include "plot/UPLT.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Resets Store, then reads Lines in order. Throws EConvertError for a
// coordinate that is not a valid integer (or whose scaled value does not fit);
// the store keeps what was read before the failing line.
void ReadPlotText(TPLT& Store, const QStringList& Lines);

// Reads a plot file into Store (the file is only read, never written).
// Throws EFOpenError / EFileError for a file that cannot be opened, read or
// decoded, and EConvertError as ReadPlotText does.
void ReadPlotFile(TPLT& Store, const QString& FileName);

// The decoded lines of a plot file, as ReadPlotFile sees them.
QStringList ReadPlotFileLines(const QString& FileName);

// The same as ReadPlotFile for file content already in memory. FileName only
// names the file in error messages; nothing is opened.
void ReadPlotData(TPLT& Store, QByteArrayView Data, const QString& FileName);

// The decoded lines of file content already in memory, as ReadPlotData sees
// them.
QStringList PlotDataLines(QByteArrayView Data, const QString& FileName);

// Largest plot file accepted; anything bigger is refused before reading.
inline constexpr qint64 MaxPlotFileSize = qint64(256) * 1024 * 1024;
