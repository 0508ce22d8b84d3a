#include "cli/CommandLine.h"
#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "platform/ProgramLibrary.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (WantsCommandLine(argc, argv))
        return RunCommandLineProgram(argc, argv);
#ifdef VELLICO_WINDOW_LIBRARY
    // The window's libraries (its toolkit's, and theirs) load only now, so a
    // command-line cut starts without them.
    using Window = int(int*, char**);
    Window* window = nullptr;
    try {
        window = ProgramFunction<Window>(VELLICO_WINDOW_LIBRARY, "RunOutputTestWindow");
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", ErrorReportText(e.Message()).c_str());
        return 1;
    }
    return window(&argc, argv);
#else
    std::fprintf(stderr, "%s\n",
                 ErrorReportText("This build of the program has no window; cut from the command line instead (see "
                                 "vellico-output-test --help)")
                     .c_str());
    return 1;
#endif
}
