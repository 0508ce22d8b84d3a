#pragma once

// The hidden Open: the system's open-file dialog for plot files, with the
// pens to cut chosen beside the file.

#include "platform/windows/Win32.h"

#include <optional>
#include <string>

namespace winui {

struct TPlotFileChoice {
    std::string FileName; // UTF-8
    std::string PensText; // as typed; empty for every pen
};

// Nothing when the user cancels. A typed name need not exist: the reader
// reports what cannot be opened.
std::optional<TPlotFileChoice> ShowOpenPlotDialog(HWND owner, const std::string& pensText);

} // namespace winui
