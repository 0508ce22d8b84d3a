#include "platform/windows/WinSettingsFile.h"

#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

#include <shlobj.h>

namespace {

struct Handle {
    HANDLE H = INVALID_HANDLE_VALUE;
    ~Handle()
    {
        if (H != INVALID_HANDLE_VALUE)
            CloseHandle(H);
    }
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

// Every missing folder on the way to the file.
bool MakeFolders(const std::wstring& file)
{
    for (size_t slash = file.find(L'\\', 3); slash != std::wstring::npos; slash = file.find(L'\\', slash + 1)) {
        const std::wstring folder = file.substr(0, slash);
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

} // namespace

std::string SettingsFilePath()
{
    const std::wstring base = RoamingAppData();
    if (base.empty())
        return {};
    return Utf8(base) + (base.back() == L'\\' ? "" : "\\") + "Vellico\\vellico-output-test.ini";
}

std::optional<std::string> ReadSettingsFile(const std::string& path, std::string* note)
{
    const std::wstring wide = Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return std::string();
    Handle file;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        file.H = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // A pipe or a device in its place would hold the reader for ever.
    if (file.H == INVALID_HANDLE_VALUE || GetFileType(file.H) != FILE_TYPE_DISK) {
        if (note)
            *note = "The settings file \"" + path
                    + "\" is not a regular file: the settings kept for each device are not used";
        return std::nullopt;
    }
    std::string text;
    char buffer[16384];
    DWORD n = 0;
    while (ReadFile(file.H, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    return text;
}

bool WriteSettingsFile(const std::string& path, std::string_view text)
{
    const std::wstring wide = Wide(path);
    if (wide.empty() || !MakeFolders(wide))
        return false;
    const std::wstring temporary = wide + L".new";
    {
        Handle file;
        file.H =
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.H == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const bool whole = WriteFile(file.H, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)
                           && written == text.size() && FlushFileBuffers(file.H);
        if (!whole) {
            CloseHandle(file.H);
            file.H = INVALID_HANDLE_VALUE;
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    if (MoveFileExW(temporary.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.c_str());
    return false;
}
