// The Windows program: with arguments it is the command line, without any it
// opens the window. Arguments arrive as UTF-16 and go on as UTF-8, so file
// and printer names in any script reach the core intact.
//
// It is a windowed program, so that no console opens beside the window. A
// console or a script runs it through vellico-output-test.com beside it
// (ConsoleCompanion.cpp), which cmd and PowerShell prefer for the bare name:
// that one waits for it and hands on its exit code, and this one writes to
// their console.

#include "cli/CommandLine.h"
#include "common/ErrorText.h"
#include "platform/StopSignals.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinConsole.h"
#include "platform/windows/WinText.h"

#ifdef VELLICO_WINDOW
#include "winui/OutputTestWindow.h"
#endif

#include <ostream>
#include <shellapi.h>

namespace {

std::vector<std::string> Utf8Arguments()
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; wide && i < count; ++i)
        args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    if (args.empty())
        args.emplace_back("vellico-output-test");
    return args;
}

} // namespace

int main()
{
    const std::vector<std::string> args = Utf8Arguments();
    if (args.size() > 1) {
        UseParentConsole();
        // Interrupted (Ctrl+C, the console closed), a job ends as Stop ends
        // it, and leaves no temporary file.
        CatchStopSignals();
        const int code = RunCommandLine(args, StandardOutput(), StandardError());
        StandardOutput().flush();
        StandardError().flush();
        return code;
    }
#ifdef VELLICO_WINDOW
    return RunOutputTestWindow();
#else
    UseParentConsole();
    StandardError() << ErrorReportText(
        "This build of the program has no window; cut from the command line instead (see "
        "vellico-output-test --help)")
                    << std::endl;
    return 1;
#endif
}
