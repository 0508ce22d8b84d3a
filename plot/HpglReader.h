#pragma once

// Reads HP-GL plot files as drawing programs write them (and as this
// program's own jobs are written) into a plot store: any number of
// instructions to a line, numbers separated by commas or blanks, 40 plotter
// units per mm scaled to hundredths of a millimetre.
//
// Read: IN, PU, PD, PA, PR, PE, SP, CI, AA, AR. Instructions that do not change
// what is cut (speed, force, line type, pen width, labels' settings, ...) are
// passed over. Anything else is refused, naming the instruction and where it
// stands: a plot cut at another scale or place than drawn is worse than none.

#include "plot/UPLT.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Resets Store and reads file content already in memory into it. Pens lists
// the pens whose lines are cut; empty means every pen. FileName only names
// the file in error messages. Throws EConvertError for malformed or
// unsupported content, EFileError for content that cannot be decoded or whose
// curves would need more memory than the file allows, EOutOfMemory; on any
// failure Store is left as it was.
void ReadHpglData(TPLT& Store, std::string_view Data, const std::string& FileName, std::span<const int> Pens = {});

// The most memory the store may take for a file of this size: curves can be
// far larger than the text that asks for them.
std::size_t HpglStoreBudget(std::int64_t FileSize);

// Pens as the user lists them: whole numbers separated by commas or blanks.
// Empty text, or "all", is every pen (an empty list); nullopt for text that
// is not such a list.
std::optional<std::vector<int>> PensFromText(std::string_view Text);
// The list back as text, "2" or "1, 3".
std::string PensText(std::span<const int> Pens);
