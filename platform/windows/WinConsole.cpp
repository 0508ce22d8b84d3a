// The console a command line runs in, on Windows.

#include "platform/Console.h"

#include "platform/windows/Win32.h"

bool StandardErrorIsTerminal()
{
    // A console answers GetConsoleMode; a file, a pipe or nothing does not.
    DWORD mode = 0;
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    return err != nullptr && err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode) != 0;
}

void WriteStandardError(std::string_view text)
{
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE)
        return;
    // A progress line that cannot be shown is no failure of the cut.
    for (size_t done = 0; done < text.size();) {
        DWORD n = 0;
        if (!WriteFile(err, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0)
            return;
        done += n;
    }
}
