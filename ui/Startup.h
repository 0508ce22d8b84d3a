#pragma once

#include <functional>

class TFrmPrincipal;

// The program from start to end: application object, title, main window,
// message loop. `shown`, when given, runs once right after the window is
// shown (benchmarks use it; the program passes nothing).
int RunOutputTest(int& argc, char** argv, const std::function<void(TFrmPrincipal&)>& shown = {});

// The same for the program, which loads the window's library only to open the
// window (ProgramLibrary.h) and finds it by this name.
extern "C" int RunOutputTestWindow(int* argc, char** argv);
