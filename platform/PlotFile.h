#pragma once

// Plot files on disk: the operating-system side of reading them. The text
// itself is read by plot/PlotTextReader when it is in the built-in sample's
// own layout (its units are thousandths of an inch), and by plot/HpglReader
// otherwise (40 plotter units per mm).

#include "plot/HpglReader.h"
#include "plot/UPLT.h"

#include <span>
#include <string>
#include <vector>

// Reads a plot file into Store (the file is only read, never written). Pens
// chooses the pens whose lines are cut, every pen when empty; a file in the
// sample's layout is drawn with pen 1, as the sample is. Sheet is the sheet
// it is cut on (an HP-GL file may scale its plot to it). Returns what the
// user is to be told of the read (see ReadHpglData). Throws EFOpenError /
// EFileError for a file that cannot be opened, read or decoded, or that
// leaves nothing to cut with the chosen pens, EOutOfMemory, and
// EConvertError as the reader does. File names are the file system's own
// bytes.
std::vector<std::string> ReadPlotFile(TPLT& Store, const std::string& FileName, std::span<const int> Pens = {},
                                      const HpglSheet& Sheet = {});

// The message for a plot file that leaves nothing to cut (with these pens).
std::string NothingToCutMessage(const std::string& FileName, std::span<const int> Pens = {});

// The whole content of a plot file. Directories, pipes, devices and files
// larger than MaxPlotFileSize are refused before anything is read. FullPath
// names the file in error messages.
std::string LoadPlotFile(const std::string& FileName, const std::string& FullPath);

// The absolute path that messages name a plot file by: the current folder
// before a relative name, "." and ".." parts taken out, links kept.
std::string PlotFileFullPath(const std::string& FileName);
