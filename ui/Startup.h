#pragma once

#include <functional>

class TFrmPrincipal;

// The program from start to end: application object, title, main window,
// message loop. `shown`, when given, runs once right after the window is
// shown (benchmarks use it; the program passes nothing).
int RunOutputTest(int& argc, char** argv, const std::function<void(TFrmPrincipal&)>& shown = {});
