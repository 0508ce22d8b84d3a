// The settings file on Windows: under the user's roaming application data, as
// Windows programs keep theirs (%APPDATA%\Vellico\vellico-output-test.ini), in
// the same text as the Linux program's file, so a file copied across reads
// the same.

#include "platform/SettingsFile.h"

#include "common/Exceptions.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include <shlobj.h>

namespace {

struct Handle {
    HANDLE H = INVALID_HANDLE_VALUE;
    Handle() = default;
    explicit Handle(HANDLE h) : H(h) {}
    ~Handle()
    {
        if (H != INVALID_HANDLE_VALUE)
            CloseHandle(H);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

std::wstring RoamingAppData()
{
    wchar_t value[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"APPDATA", value, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        return std::wstring(value, n);
    std::wstring folder;
    wchar_t* known = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known) == S_OK)
        folder = known;
    CoTaskMemFree(known);
    return folder;
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

[[noreturn]] void NotSaved(const std::string& why)
{
    throw EFileError("The settings were not saved: " + why);
}

// Every missing folder on the way; 0 or the error.
DWORD MakeFolders(const std::wstring& folder)
{
    for (size_t slash = folder.find_first_of(L"\\/", 3);; slash = folder.find_first_of(L"\\/", slash + 1)) {
        const std::wstring part = folder.substr(0, slash);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return GetLastError();
        if (slash == std::wstring::npos)
            break;
    }
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_DIRECTORY;
}

// The whole file: 0, or the error that stopped the read. Only a file on disk
// is read: a pipe or a device in its place could hold the reader for ever.
DWORD ReadWhole(const std::wstring& path, std::string& text, bool& notAFile)
{
    text.clear();
    notAFile = false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? 0 : code;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        notAFile = true;
        return 0;
    }
    const Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.H == INVALID_HANDLE_VALUE)
        return GetLastError();
    if (GetFileType(file.H) != FILE_TYPE_DISK) {
        notAFile = true;
        return 0;
    }
    char buffer[16384];
    for (DWORD n = 0;;) {
        if (!ReadFile(file.H, buffer, sizeof buffer, &n, nullptr))
            return GetLastError();
        if (n == 0)
            return 0;
        text.append(buffer, n);
        if (text.size() > static_cast<size_t>(MaxSettingsFileBytes))
            return ERROR_FILE_TOO_LARGE;
    }
}

// What keeps the file from serving as the settings file, as the end of a
// sentence that begins with its name; empty when nothing does.
std::string Problem(const std::wstring& path, std::string& text)
{
    bool notAFile = false;
    const DWORD code = ReadWhole(path, text, notAFile);
    if (notAFile)
        return "is not a regular file";
    if (code == ERROR_FILE_TOO_LARGE)
        return "is too large to be a settings file";
    if (code != 0)
        return "cannot be read (" + SystemErrorText(code) + ")";
    return {};
}

// Held while the file is read and written again; a save running at the same
// time waits for it. A lock held far longer than a save takes is another
// program's, and waiting on it would hang the save.
class TSettingsLock {
public:
    explicit TSettingsLock(const std::wstring& folder)
    {
        const std::wstring name = folder + L"\\vellico-output-test.lock";
        FFile.H = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FFile.H == INVALID_HANDLE_VALUE)
            NotSaved(Format("the folder \"%1\" cannot be written: %2", Utf8(folder), SystemErrorText(GetLastError())));
        for (int waited = 0;; waited += 10) {
            OVERLAPPED at{};
            if (LockFileEx(FFile.H, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
                break;
            if (waited >= 5000)
                NotSaved(Format("another program keeps \"%1\" locked", Utf8(name)));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~TSettingsLock()
    {
        OVERLAPPED at{};
        UnlockFileEx(FFile.H, 0, 1, 0, &at);
    }
    TSettingsLock(const TSettingsLock&) = delete;
    TSettingsLock& operator=(const TSettingsLock&) = delete;

private:
    Handle FFile;
};

} // namespace

std::string SettingsFilePath()
{
    const std::wstring base = RoamingAppData();
    if (base.empty())
        return {};
    return Utf8(base) + (base.back() == L'\\' ? "" : "\\") + "Vellico\\vellico-output-test.ini";
}

std::string ReadSettingsText(const std::string& path, std::string& problem)
{
    std::string text;
    problem = Problem(Wide(path), text);
    return problem.empty() ? text : std::string();
}

void RewriteSettingsText(const std::string& path, const std::function<std::string(const std::string& old)>& change,
                         std::size_t room)
{
    const std::wstring wide = Wide(path);
    const std::wstring folder = FolderOf(wide);
    if (wide.empty())
        NotSaved("the user has no application data folder");
    if (const DWORD code = MakeFolders(folder))
        NotSaved(Format("the folder \"%1\" cannot be made: %2", Utf8(folder), SystemErrorText(code)));
    static std::mutex writing;
    std::lock_guard inProcess(writing);
    const TSettingsLock lock(folder);
    // Read under the lock, so the file written keeps every other entry.
    std::string old;
    if (const std::string problem = Problem(wide, old); !problem.empty())
        NotSaved(Format("the settings file \"%1\" %2", path, problem));
    const std::string text = change(old);
    const auto cannotWrite = [&](DWORD code) {
        NotSaved(Format("the settings file \"%1\" cannot be written: %2", path, TrimSystemText(SystemErrorText(code))));
    };
    // A file made read-only is not replaced behind its owner's back.
    if (const DWORD a = GetFileAttributesW(wide.c_str()); a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
        cannotWrite(ERROR_ACCESS_DENIED);

    static std::mt19937 random{std::random_device{}()};
    std::wstring temporary;
    Handle file;
    for (int tries = 0; file.H == INVALID_HANDLE_VALUE && tries < 100; ++tries) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L"%08x", static_cast<unsigned>(random()));
        temporary = folder + L"\\.vellico-output-test." + suffix;
        file.H = CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.H == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            cannotWrite(GetLastError());
    }
    if (file.H == INVALID_HANDLE_VALUE)
        cannotWrite(ERROR_FILE_EXISTS);
    struct Cleanup {
        const std::wstring& Name;
        bool Keep = false;
        ~Cleanup()
        {
            if (!Keep)
                DeleteFileW(Name.c_str());
        }
    } cleanup{temporary};
    // The contents, then room to spare: a disk that can just take the file
    // says so now, not on the next save.
    const std::string spare(room, '\n');
    for (const std::string* part : {&text, &spare}) {
        for (size_t done = 0; done < part->size();) {
            DWORD n = 0;
            const auto size = static_cast<DWORD>(std::min<size_t>(part->size() - done, 1 << 20));
            if (!WriteFile(file.H, part->data() + done, size, &n, nullptr) || n == 0)
                cannotWrite(GetLastError());
            done += n;
        }
    }
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(text.size());
    if (!FlushFileBuffers(file.H) || !SetFilePointerEx(file.H, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.H))
        cannotWrite(GetLastError());
    CloseHandle(file.H);
    file.H = INVALID_HANDLE_VALUE;
    // Read back: all of it, or the old file stays.
    std::string check;
    bool notAFile = false;
    if (const DWORD code = ReadWhole(temporary, check, notAFile); code != 0 || check != text)
        cannotWrite(code != 0 ? code : ERROR_WRITE_FAULT);
    if (!MoveFileExW(temporary.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        cannotWrite(GetLastError());
    cleanup.Keep = true;
}
