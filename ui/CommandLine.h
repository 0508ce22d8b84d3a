#pragma once

// Cutting without the window, for scripts and for sessions with no display:
// vellico-output-test --cut [options] [PLOTFILE], --help, --version.

#include <QStringList>
#include <QTextStream>

// Whether the arguments ask for the command line rather than the window.
bool WantsCommandLine(int argc, char** argv);

// Runs one command line (args[0] is the program). Help and version go to
// out, failures to err as the window's error report words them. Returns 0 on
// success, 1 when the cut failed, 2 for arguments that make no sense.
// Needs a QCoreApplication; never a display.
int RunCommandLine(const QStringList& args, QTextStream& out, QTextStream& err);

// The whole program for a command line: application object, run, exit code.
int RunCommandLineProgram(int& argc, char** argv);
