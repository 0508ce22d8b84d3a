#pragma once

// Standard output and error of the Windows program, which is a windowed
// program: it has no console of its own, and writes to the one it was run
// from, if any.

#include <iosfwd>

// Attaches to the console of the program that started this one, keeping any
// standard handle it was given (a file, a pipe, the console). Run from
// Explorer there is none, and nothing changes.
void UseParentConsole();

// Streams of UTF-8 text onto standard output and error: shown as Unicode on
// a console, written as the same UTF-8 bytes to a file or a pipe.
std::ostream& StandardOutput();
std::ostream& StandardError();
