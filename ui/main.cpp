#include "ui/CommandLine.h"
#include "ui/Startup.h"

int main(int argc, char** argv)
{
    if (WantsCommandLine(argc, argv))
        return RunCommandLineProgram(argc, argv);
    return RunOutputTest(argc, argv);
}
