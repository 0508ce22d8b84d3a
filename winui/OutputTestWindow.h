#pragma once

// The program's window on Windows (winui/): runs it until
// it is closed and returns the program's exit code. The program calls it
// when started without arguments.
int RunOutputTestWindow();
