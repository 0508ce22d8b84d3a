#pragma once

// Cutting without the window, for scripts and for sessions with no display:
// vellico-output-test --cut [options] [PLOTFILE], --help, --version.

#include <iosfwd>
#include <string>
#include <vector>

// Whether the arguments ask for the command line rather than the window.
bool WantsCommandLine(int argc, char** argv);

// Runs one command line (args[0] is the program; file names as the system
// keeps them, text in UTF-8). Help and version go to out, failures to err as
// the window's error report words them. Returns 0 on success, 1 when the cut
// failed, 2 for arguments that make no sense.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The whole program for a command line: stop signals, run, exit code. The
// window toolkit's own options are passed over.
int RunCommandLineProgram(int argc, char** argv);
