// How soon the Windows program's window is up, stripped and not, against a
// bare Win32 window, all in the same run; and a --version through the .com
// and the .exe. Run under Wine by scripts/bench-windows.
//
//   bench_win_startup STRIPPED.exe UNSTRIPPED.exe COMPANION.com BARE.exe [RUNS]
//
// BARE.exe --bare-window is the window it compares with (test_win_window's).

#include "platform/windows/Win32.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct TFound {
    DWORD Process;
    HWND Window;
};

// A visible top-level window of the process, or null.
HWND WindowOf(DWORD process)
{
    TFound found{process, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& f = *reinterpret_cast<TFound*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != f.Process || !IsWindowVisible(window) || GetWindow(window, GW_OWNER))
                return TRUE;
            f.Window = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.Window;
}

// Seconds from starting the command to its window being shown, or to its
// end when it shows none; negative when it did not start or took over a
// minute. A window is closed again and its program waited for.
double SecondsFor(std::wstring command, bool window)
{
    // What a --version prints goes to NUL, not among the figures.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nul =
        CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = nul;
    start.hStdError = nul;
    PROCESS_INFORMATION process{};
    const auto began = std::chrono::steady_clock::now();
    const bool started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process);
    CloseHandle(nul);
    if (!started)
        return -1;
    HWND shown = nullptr;
    if (window) {
        for (int waited = 0; !shown && waited < 60000; waited += 2) {
            shown = WindowOf(process.dwProcessId);
            if (!shown)
                Sleep(2);
        }
    } else {
        WaitForSingleObject(process.hProcess, 60000);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (shown)
        PostMessageW(shown, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (window && !shown) ? -1 : seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::wstring Quoted(const char* path)
{
    std::wstring wide(MAX_PATH * 4, L'\0');
    wide.resize(
        static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), static_cast<int>(wide.size())) - 1));
    return L"\"" + wide + L"\"";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_win_startup STRIPPED.exe UNSTRIPPED.exe COMPANION.com BARE.exe [RUNS]\n");
        return 2;
    }
    const int runs = argc > 5 ? std::max(1, std::atoi(argv[5])) : 9;
    struct TCase {
        const char* Name;
        std::wstring Command;
        bool Window;
        std::vector<double> Seconds;
    };
    std::vector<TCase> cases = {
        {"bare Win32 window", Quoted(argv[4]) + L" --bare-window", true, {}},
        {"the program, stripped", Quoted(argv[1]), true, {}},
        {"the program, not stripped", Quoted(argv[2]), true, {}},
        {"--version, stripped .exe", Quoted(argv[1]) + L" --version", false, {}},
        {"--version, not stripped .exe", Quoted(argv[2]) + L" --version", false, {}},
        {"--version through the .com", Quoted(argv[3]) + L" --version", false, {}},
    };
    // Each case once a round, so a busy spell of the machine falls on all.
    for (TCase& c : cases)
        SecondsFor(c.Command, c.Window); // warms the file cache and Wine
    for (int run = 0; run < runs; ++run)
        for (TCase& c : cases)
            c.Seconds.push_back(SecondsFor(c.Command, c.Window));
    std::printf("start to window shown (then closed), or to the end of a --version; median of %d runs:\n", runs);
    for (const TCase& c : cases) {
        const bool failed = std::any_of(c.Seconds.begin(), c.Seconds.end(), [](double s) { return s < 0; });
        std::printf("  %-30s %7.3f s%s\n", c.Name, Median(c.Seconds), failed ? "  (some runs failed)" : "");
    }
    return 0;
}
