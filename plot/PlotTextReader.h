#pragma once

// Reads plot text (HPGL, one instruction per line, only absolute PU/PD moves
// count) into a plot store, scaling thousandths of an inch to hundredths of a
// millimetre.

#include "plot/UPLT.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Resets Store, then reads Lines in order. Throws EConvertError for a
// coordinate that is not a valid integer (or whose scaled value does not fit);
// the store keeps what was read before the failing line. Throws EOutOfMemory
// when memory runs out, leaving the store as it was before the call.
void ReadPlotText(TPLT& Store, const std::vector<std::string>& Lines);

// Reads plot file content already in memory (byte-order mark, decoding and
// line ends as in a file). FileName only names the file in error messages;
// nothing is opened. Throws EFileError for content that cannot be decoded,
// and otherwise as ReadPlotText does.
void ReadPlotData(TPLT& Store, std::string_view Data, const std::string& FileName);

// The decoded lines of file content already in memory, as ReadPlotData sees
// them (UTF-8).
std::vector<std::string> PlotDataLines(std::string_view Data, const std::string& FileName);

// True when file content is in the built-in sample's own layout, which only
// ReadPlotData reads right: at least one PU or PD line, the first a PU, and
// every such line "PU" or "PD" at its start, X, one space, Y and ";" (nothing
// but blanks after it). Lines without PU or PD do not count. Throws
// EFileError for content that cannot be decoded, as ReadPlotData does.
bool InSampleLayout(std::string_view Data, const std::string& FileName);

// Offending text as error messages quote it: up to 64 characters, then an
// ellipsis (see Quoted).
std::string ShortenedForMessage(std::string_view Text);

// Largest plot file accepted; anything bigger is refused before reading. At
// worst every line is a one-point polyline ("PU0 0;" and a line end, 7 bytes)
// which the store keeps in 28 bytes, so reading needs up to 5 times the file:
// this keeps that, with the rest of the program, below 1 GiB.
inline constexpr std::int64_t MaxPlotFileSize = std::int64_t(160) * 1024 * 1024;
