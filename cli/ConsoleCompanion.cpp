// vellico-output-test.com, the console program beside the windowed .exe.
// cmd and PowerShell run a .com before an .exe of the same name, so a
// script that types vellico-output-test gets this one: it runs the .exe with
// the same arguments and standard handles, waits for it and ends with its
// exit code. A windowed program run straight from cmd is not waited for: the
// prompt comes back over its output and %ERRORLEVEL% never sees its code.
// (Visual Studio's devenv.com does the same.) Only Windows' own functions:
// the file stays small.

#include "platform/windows/Win32.h"

#include <string>

namespace {

// The command line after this program's own name, exactly as typed, read
// the way CommandLineToArgvW reads that name.
const wchar_t* ArgumentsOf(const wchar_t* line)
{
    if (*line == L'"') {
        for (++line; *line && *line != L'"'; ++line) {
        }
        if (*line)
            ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t')
            ++line;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

// The .exe of this program's name, in its folder.
std::wstring WindowedProgram()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t dot = path.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > path.find_last_of(L"\\/"))
        path.resize(dot);
    return path + L".exe";
}

// A standard handle the .exe can inherit, or null.
HANDLE Inheritable(DWORD which)
{
    const HANDLE h = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (h == nullptr || h == INVALID_HANDLE_VALUE
        || !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

void WriteError(const std::wstring& text)
{
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, n = 0;
    if (GetConsoleMode(err, &mode)) {
        WriteConsoleW(err, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
        return;
    }
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

// Ctrl+C and Ctrl+Break reach the .exe too, on the same console: it stops
// its job in order and ends, and this one waits for that. The console
// closing ends both.
BOOL WINAPI LeaveToProgram(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

} // namespace

int main()
{
    const std::wstring program = WindowedProgram();
    const wchar_t* arguments = ArgumentsOf(GetCommandLineW());
    std::wstring command = L"\"" + program + L"\"";
    if (*arguments)
        command += std::wstring(L" ") + arguments;

    // Without arguments it is the window: started, not waited for, as when
    // the .exe is typed.
    const bool commandLine = *arguments != L'\0';
    STARTUPINFOW start{};
    start.cb = sizeof start;
    if (commandLine) {
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = Inheritable(STD_INPUT_HANDLE);
        start.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
        start.hStdError = Inheritable(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, commandLine, 0, nullptr, nullptr, &start,
                        &process)) {
        const DWORD error = GetLastError();
        wchar_t* reason = nullptr;
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&reason), 0, nullptr);
        std::wstring text = L"Cannot start " + program + L": " + (reason ? reason : L"error " + std::to_wstring(error));
        LocalFree(reason);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
            text.pop_back();
        if (!text.empty() && text.back() != L'.')
            text += L'.';
        WriteError(text + L"\r\n");
        return 1;
    }
    CloseHandle(process.hThread);
    if (!commandLine)
        return 0;
    SetConsoleCtrlHandler(LeaveToProgram, TRUE);
    DWORD code = 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
