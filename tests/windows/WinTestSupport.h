#pragma once

// Helpers shared by the Windows tests: a private folder, whole-file reads
// and writes by UTF-8 name, and the private CUPS server's folder as Wine
// sees it.

#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A fresh folder under the temporary folder, removed with what it holds.
class TTempFolder {
public:
    TTempFolder()
    {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        FPath =
            Utf8(base) + "vellico-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(Counter()++);
        CreateDirectoryW(Wide(FPath).c_str(), nullptr);
    }
    ~TTempFolder() { Remove(Wide(FPath)); }
    std::string operator/(std::string_view name) const { return FPath + "\\" + std::string(name); }
    const std::string& Path() const { return FPath; }

    // The names in the folder, hidden ones included.
    std::vector<std::string> Names() const { return NamesOf(FPath); }
    static std::vector<std::string> NamesOf(const std::string& folder)
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAW d;
        const HANDLE h = FindFirstFileW((Wide(folder) + L"\\*").c_str(), &d);
        if (h == INVALID_HANDLE_VALUE)
            return names;
        do {
            const std::wstring n = d.cFileName;
            if (n != L"." && n != L"..")
                names.push_back(Utf8(n));
        } while (FindNextFileW(h, &d));
        FindClose(h);
        return names;
    }

private:
    static int& Counter()
    {
        static int n = 0;
        return n;
    }
    static void Remove(const std::wstring& path)
    {
        WIN32_FIND_DATAW d;
        const HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring n = d.cFileName;
                if (n == L"." || n == L"..")
                    continue;
                if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(path + L"\\" + n);
                else
                    DeleteFileW((path + L"\\" + n).c_str());
            } while (FindNextFileW(h, &d));
            FindClose(h);
        }
        RemoveDirectoryW(path.c_str());
    }
    std::string FPath;
};

inline std::optional<std::string> ReadWholeFile(const std::string& path)
{
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string text;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    CloseHandle(h);
    return text;
}

inline void WriteWholeFile(const std::string& path, std::string_view bytes)
{
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    CloseHandle(h);
}

// The test job's bytes: every byte value, line ends and NULs included.
inline std::string PatternBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// A Unix path as Wine sees it, on its Z: drive.
inline std::string UnixPath(std::string path)
{
    path = "Z:" + path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}
inline std::string UnixFolder(const char* variable)
{
    const char* dir = std::getenv(variable);
    return dir ? UnixPath(dir) : std::string();
}
// The private CUPS server's folder (scripts/test-windows): its jobs/ keeps
// every job a queue received.
inline std::string HarnessFolder()
{
    return UnixFolder("VELLICO_HARNESS_DIR");
}

// The folder where the cutter behind COM1 (tests/windows/fake-cutter.py)
// keeps the jobs it received.
inline std::string CutterFolder()
{
    return UnixFolder("VELLICO_CUTTER_DIR");
}

// Has the cutter end the job it was receiving (kept under its tag, with what
// was still on its way) and take the next one afresh, the line let go
// whatever the last test left it doing. False when it did not answer.
inline bool ResetCutter()
{
    const std::string request = CutterFolder() + "\\reset";
    WriteWholeFile(request, "");
    for (int waited = 0; waited < 30000; waited += 20) {
        if (GetFileAttributesW(Wide(request).c_str()) == INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(20);
    }
    return false;
}

// The names in a folder that are not among before, waiting up to timeoutMs
// for at least one.
inline std::vector<std::string> NewNames(const std::string& folder, const std::vector<std::string>& before,
                                         int timeoutMs)
{
    std::vector<std::string> fresh;
    for (int waited = 0;; waited += 50) {
        fresh.clear();
        for (const std::string& name : TTempFolder::NamesOf(folder))
            if (name[0] != '.' && std::find(before.begin(), before.end(), name) == before.end())
                fresh.push_back(name);
        if (!fresh.empty() || waited >= timeoutMs)
            return fresh;
        Sleep(50);
    }
}

// Wine, where it does otherwise than Windows: checks that Windows would pass
// are told as warnings there, and the rest is still tested.
inline bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
