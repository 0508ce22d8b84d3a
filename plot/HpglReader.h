#pragma once

// Reads HP-GL and HP-GL/2 plot files as drawing programs write them (and as
// this program's own jobs are written) into a plot store: any number of
// instructions to a line, numbers separated by commas or blanks, 40 plotter
// units per mm scaled to hundredths of a millimetre.
//
// Read: IN, DF, PU, PD, PA, PR, PE, SP, CI, AA, AR, BZ, BR; polygons (PM,
// EP) and edged rectangles and wedges (EA, ER, EW); scaling (IP, IR, SC),
// rotation (RO) and the input window (IW), which clips.
// Passed over, counted for a notice: fills (FP, RA, RR, WG), which a knife
// cannot make, labels (LB, PB, symbols of SM; the pen still moves past them
// as a plotter's would), and PCL and PJL commands around an HP-GL/2 body.
// Instructions that do not change what is cut (speed, force, line type, pen
// width, label settings, ...) are passed over silently. Anything else is
// refused, naming the instruction and where it stands: a plot cut at another
// scale or place than drawn is worse than none.

#include "plot/UPLT.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The sheet a plot file is read for, in mm as the job sees it. A plotter's
// scaling points lie at the corners of its own limits until a file sets
// them; for a cutter those limits are the sheet.
struct HpglSheet {
    double WidthMm = 210;
    double HeightMm = 297;
};

// Why a plot file that draws only points, with the pen down or up, has
// nothing to cut.
inline constexpr std::string_view NoLengthReason = "it draws only points, no line, circle or arc of any length";

// Resets Store and reads file content already in memory into it. Pens lists
// the pens whose lines are cut; empty means every pen. FileName only names
// the file in error messages. Returns what the user is to be told: content
// passed over, counted, and scaling points taken from Sheet. Throws
// EConvertError for malformed or unsupported content, EFileError for content
// that cannot be decoded, whose curves would need more memory than the file
// allows, or that draws only what is passed over or only points;
// EOutOfMemory. On any failure Store is left as it was.
std::vector<std::string> ReadHpglData(TPLT& Store, std::string_view Data, const std::string& FileName,
                                      std::span<const int> Pens = {}, const HpglSheet& Sheet = {});

// True when the text goes on after a NUL (not only more NULs to its end):
// such a file is not plain text, and none of it is to be dropped unsaid.
bool TextGoesOnAfterNul(std::string_view Data);

// How much of a plot's length was left out, as notices tell it:
// "30.8 % of its length (47.0 of 152.4 mm)". Never "0.0 %" for a plot that
// lost something, nor "100.0 %" for one that kept something.
std::string LeftOutAmountText(double TotalMm, double LeftOutMm);

// The most memory the store may take for a file of this size: curves can be
// far larger than the text that asks for them.
std::size_t HpglStoreBudget(std::int64_t FileSize);

// Pens as the user lists them: whole numbers separated by commas or blanks.
// Empty text, or "all", is every pen (an empty list); nullopt for text that
// is not such a list.
std::optional<std::vector<int>> PensFromText(std::string_view Text);
// The list back as text, "2" or "1, 3".
std::string PensText(std::span<const int> Pens);
