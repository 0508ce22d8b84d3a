#include "common/Exceptions.h"
#include "platform/ProgramLibrary.h"
#include "ui/CommandLine.h"
#include "ui/ErrorText.h"
#include "ui/Startup.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (WantsCommandLine(argc, argv))
        return RunCommandLineProgram(argc, argv);
    // The window's libraries (Qt Widgets and Gui, and theirs) load only now,
    // so a command-line cut starts without them.
    decltype(RunOutputTestWindow)* window = nullptr;
    try {
        window = ProgramFunction<decltype(RunOutputTestWindow)>(VELLICO_WINDOW_LIBRARY, "RunOutputTestWindow");
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", qPrintable(ErrorReportText(QString::fromStdString(e.Message()))));
        return 1;
    }
    return window(&argc, argv);
}
