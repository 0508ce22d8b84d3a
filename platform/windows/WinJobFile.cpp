// A finished job written to a file on Windows. The bytes go to a temporary
// file beside the target that takes its name at the end (MoveFileExW), so a
// failure or a stop leaves nothing behind; an existing file is replaced only
// with replace set, also one that appeared while the job was written. NUL
// discards the job, as /dev/null does on Linux. A folder or another device
// (COM1, \\.\...) is refused: a job reaches a device only as a job.

#include "platform/JobFile.h"

#include "common/Exceptions.h"
#include "platform/JobProgress.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>

namespace {

// Little enough that a stop is taken soon, large enough to cost nothing.
constexpr std::int64_t Chunk = 256 * 1024;

// The temporary file being written, where the console's stop handler (a
// thread of its own, while the job runs) can find it.
wchar_t TemporaryName[32768];
std::atomic<bool> TemporaryNamed{false};

std::function<void()>& BeforeCommit()
{
    static std::function<void()> hook;
    return hook;
}

[[noreturn]] void AlreadyExists(const std::string& path)
{
    throw EFileError("The file \"" + Quoted(path) + "\" already exists; it is replaced only when you ask for that");
}

[[noreturn]] void CannotWrite(const std::string& path, std::string_view why)
{
    throw EFileError("Cannot write file \"" + Quoted(path) + "\". " + TrimSystemText(why));
}

[[noreturn]] void CannotWrite(const std::string& path, DWORD code)
{
    CannotWrite(path, SystemErrorText(code));
}

// The full path the system would open; a reserved name (COM1, NUL, CON)
// comes back in the device namespace.
std::wstring FullPath(const std::string& path)
{
    const std::wstring wide = Wide(path);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        CannotWrite(path, GetLastError());
    std::wstring full(n, L'\0');
    const DWORD used = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (used == 0 || used >= n)
        CannotWrite(path, GetLastError());
    full.resize(used);
    return full;
}

// NUL in any spelling: "nul", "C:\\jobs\\NUL", "\\.\\NUL".
bool IsNullDevice(const std::wstring& full)
{
    return full.size() == 7 && full.compare(0, 4, LR"(\\.\)") == 0 && (full[4] == L'N' || full[4] == L'n')
           && (full[5] == L'U' || full[5] == L'u') && (full[6] == L'L' || full[6] == L'l');
}

bool IsDevicePath(const std::wstring& full)
{
    if (full.rfind(LR"(\\.\)", 0) == 0)
        return true;
    if (full.rfind(LR"(\\?\)", 0) != 0)
        return false;
    // \\?\C:\... and \\?\UNC\... are files; anything else there is a device.
    const std::wstring rest = full.substr(4);
    const bool drive = rest.size() >= 2 && rest[1] == L':';
    return !drive && rest.rfind(L"UNC\\", 0) != 0;
}

// The folder part of a full path, without its final separator (but "C:\").
std::wstring FolderOf(const std::wstring& full)
{
    const size_t slash = full.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return L".";
    if (slash == 2 && full[1] == L':')
        return full.substr(0, 3);
    return full.substr(0, slash);
}

std::wstring NameOf(const std::wstring& full)
{
    const size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

// Throws for what a job is never written to; true when a file is there.
bool LookUp(const std::string& path, const std::wstring& full)
{
    if (IsNullDevice(full))
        return false;
    if (IsDevicePath(full))
        CannotWrite(path, "It is a device, not a file: a job reaches a device only as a job");
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_PATH_NOT_FOUND)
            CannotWrite(path, "Its folder does not exist");
        if (code != ERROR_FILE_NOT_FOUND)
            CannotWrite(path, code);
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        CannotWrite(path, "It is a folder");
    return true;
}

struct Handle {
    HANDLE H = INVALID_HANDLE_VALUE;
    ~Handle()
    {
        if (H != INVALID_HANDLE_VALUE)
            CloseHandle(H);
    }
};

void WriteAll(HANDLE h, const std::string& path, std::string_view bytes, const TStopMark& stop)
{
    for (size_t done = 0; done < bytes.size();) {
        if (stop.Stopped())
            ThrowJobStopped(static_cast<std::int64_t>(done), static_cast<std::int64_t>(bytes.size()));
        const auto n = static_cast<DWORD>(std::min<size_t>(Chunk, bytes.size() - done));
        DWORD written = 0;
        if (!WriteFile(h, bytes.data() + done, n, &written, nullptr) || written == 0)
            CannotWrite(path, GetLastError());
        done += written;
        AddJobProgress(written);
    }
}

void WriteRegularFile(const std::string& path, bool replace, std::string_view bytes, const TStopMark& stop)
{
    const std::wstring full = FullPath(path);
    const std::wstring folder = FolderOf(full);
    std::random_device random;
    std::wstring temporary;
    Handle file;
    for (int attempt = 0; file.H == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L".%08x", static_cast<unsigned>(random()));
        temporary = folder + (folder.back() == L'\\' ? L"." : L"\\.") + NameOf(full) + suffix;
        file.H = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.H == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            CannotWrite(path, GetLastError());
    }
    if (file.H == INVALID_HANDLE_VALUE)
        CannotWrite(path, ERROR_FILE_EXISTS);
    if (temporary.size() < std::size(TemporaryName)) {
        std::copy(temporary.c_str(), temporary.c_str() + temporary.size() + 1, TemporaryName);
        TemporaryNamed = true;
    }
    struct Cleanup {
        const std::wstring& Name;
        bool Keep = false;
        ~Cleanup()
        {
            TemporaryNamed = false;
            if (!Keep)
                DeleteFileW(Name.c_str());
        }
    } cleanup{temporary};
    WriteAll(file.H, path, bytes, stop);
    if (!FlushFileBuffers(file.H))
        CannotWrite(path, GetLastError());
    CloseHandle(file.H);
    file.H = INVALID_HANDLE_VALUE;
    if (BeforeCommit())
        BeforeCommit()();
    // Without replace the rename itself refuses a file that appeared since
    // the check: nothing is ever overwritten unasked.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(temporary.c_str(), full.c_str(), flags)) {
        const DWORD code = GetLastError();
        if (!replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS))
            AlreadyExists(path);
        // A folder or a device that took the file's place says what it is.
        LookUp(path, full);
        CannotWrite(path, code);
    }
    cleanup.Keep = true;
}

void WriteStandardOutput(std::string_view bytes, const TStopMark& stop)
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        CannotWrite("standard output", GetLastError());
    WriteAll(out, "standard output", bytes, stop);
}

} // namespace

void RemoveJobTemporaryFile() noexcept
{
    if (TemporaryNamed.exchange(false))
        DeleteFileW(TemporaryName);
}

void SetJobFileCommitHook(std::function<void()> hook)
{
    BeforeCommit() = std::move(hook);
}

void CheckJobFile(const std::string& path, bool replace)
{
    if (path == "-")
        return;
    const std::wstring full = FullPath(path);
    if (IsNullDevice(full))
        return;
    if (LookUp(path, full) && !replace)
        AlreadyExists(path);
    const DWORD folder = GetFileAttributesW(FolderOf(full).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY))
        CannotWrite(path, "Its folder does not exist");
}

void WriteJobFile(const std::string& path, bool replace, std::string_view bytes)
{
    CheckJobFile(path, replace);
    const TStopMark stop;
    BeginJobProgress(static_cast<std::int64_t>(bytes.size()));
    struct ProgressEnd {
        ~ProgressEnd() { EndJobProgress(); }
    } progressEnd;
    if (path == "-")
        WriteStandardOutput(bytes, stop);
    else if (IsNullDevice(FullPath(path)))
        AddJobProgress(static_cast<std::int64_t>(bytes.size()));
    else
        WriteRegularFile(path, replace, bytes, stop);
}
