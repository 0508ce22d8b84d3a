#pragma once

// The terminal a command line runs in, for a progress line that only a
// person watching should see.

#include <string_view>

// Whether standard error is a terminal (not a file, a pipe or nothing).
bool StandardErrorIsTerminal();

// Writes text to standard error at once, unbuffered, whatever else writes
// there.
void WriteStandardError(std::string_view text);
