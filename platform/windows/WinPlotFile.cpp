// Plot files on Windows: their full names, and their content read only from
// a file on disk. Names are UTF-8 here and UTF-16 to the system.

#include "platform/PlotFile.h"

#include "common/Exceptions.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"
#include "plot/PlotTextReader.h"

#include <new>

namespace {

struct Handle {
    HANDLE H;
    ~Handle()
    {
        if (H != INVALID_HANDLE_VALUE)
            CloseHandle(H);
    }
};

} // namespace

std::string PlotFileFullPath(const std::string& FileName)
{
    if (FileName.empty())
        return FileName;
    const std::wstring wide = Wide(FileName);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return FileName;
    std::wstring full(n, L'\0');
    const DWORD used = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (used == 0 || used >= n)
        return FileName;
    full.resize(used);
    return Utf8(full);
}

std::string LoadPlotFile(const std::string& FileName, const std::string& FullPath)
{
    const auto cannotOpen = [&](const std::string& reason) {
        return EFOpenError(Format("Cannot open file \"%1\". %2", FullPath, TrimSystemText(reason)));
    };
    const std::wstring wide = Wide(FileName);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw cannotOpen("It is a directory, not a file");
    // Only read: others may keep the file open, even to write.
    const Handle file{CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.H == INVALID_HANDLE_VALUE)
        throw cannotOpen(SystemErrorText(GetLastError()));
    // Pipes and devices (COM1, CON) could block for ever or never end.
    if (GetFileType(file.H) != FILE_TYPE_DISK)
        throw cannotOpen("It is not a regular file (a device, pipe or socket)");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.H, &size))
        throw cannotOpen(SystemErrorText(GetLastError()));
    const auto tooLarge = [&] {
        return EFileError(Format("The file \"%1\" is too large to be a plot file (the limit is %2 MiB)", FullPath,
                                 MaxPlotFileSize / (1024 * 1024)));
    };
    if (size.QuadPart > MaxPlotFileSize)
        throw tooLarge();
    try {
        // The file may still grow while it is read: read to its end, within
        // the limit.
        std::string content;
        content.reserve(static_cast<std::size_t>(size.QuadPart) + 1);
        char buffer[65536];
        for (DWORD got = 0;;) {
            if (!ReadFile(file.H, buffer, sizeof buffer, &got, nullptr))
                throw EFileError(
                    Format("Cannot read file \"%1\". %2", FullPath, TrimSystemText(SystemErrorText(GetLastError()))));
            if (got == 0)
                break;
            content.append(buffer, got);
            if (static_cast<std::int64_t>(content.size()) > MaxPlotFileSize)
                throw tooLarge();
        }
        return content;
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(Format("Out of memory while reading the file \"%1\"", FullPath));
    }
}
