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
// the store keeps what was read before the failing line. Throws EOutOfMemory
// when memory runs out, leaving the store as it was before the call.
void ReadPlotText(TPLT& Store, const QStringList& Lines);

// Reads plot file content already in memory (byte-order mark, decoding and
// line ends as in a file). FileName only names the file in error messages;
// nothing is opened. Throws EFileError for content that cannot be decoded,
// and otherwise as ReadPlotText does.
void ReadPlotData(TPLT& Store, QByteArrayView Data, const QString& FileName);

// The decoded lines of file content already in memory, as ReadPlotData sees
// them.
QStringList PlotDataLines(QByteArrayView Data, const QString& FileName);

// True when file content is in the built-in sample's own layout, which only
// ReadPlotData reads right: at least one PU or PD line, the first a PU, and
// every such line "PU" or "PD" at its start, X, one space, Y and ";" (nothing
// but blanks after it). Lines without PU or PD do not count. Throws
// EFileError for content that cannot be decoded, as ReadPlotData does.
bool InSampleLayout(QByteArrayView Data, const QString& FileName);

// Offending text as error messages quote it: up to 64 characters, then an
// ellipsis, never cutting a surrogate pair.
QString ShortenedForMessage(QString Text);

// Largest plot file accepted; anything bigger is refused before reading. At
// worst every line is a one-point polyline ("PU0 0;" and a line end, 7 bytes)
// which the store keeps in 28 bytes, so reading needs up to 5 times the file:
// this keeps that, with the rest of the program, below 1 GiB.
inline constexpr qint64 MaxPlotFileSize = qint64(160) * 1024 * 1024;
