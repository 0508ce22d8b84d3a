// Job files and the settings file on Windows, and the system's error words.

#include "WinTestSupport.h"

#include "common/Exceptions.h"
#include "platform/DeviceCapabilities.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/IniText.h"
#include "platform/JobFile.h"
#include "platform/SettingsFile.h"

#include <doctest/doctest.h>

#include <algorithm>

namespace {

enum class Before { Nothing, File, Folder };

// The error text of a job file write, empty when it succeeded.
std::string Failure(const std::string& path, bool replace, std::string_view bytes)
{
    try {
        WriteJobFile(path, replace, bytes);
        return {};
    } catch (const EFileError& e) {
        return e.Message();
    }
}

bool OnlyName(const TTempFolder& folder, const std::string& name)
{
    const auto names = folder.Names();
    return names.size() == 1 && names[0] == name;
}

} // namespace

TEST_CASE("a job file is written whole, and only where a file may be")
{
    struct Row {
        const char* Name;
        Before There;
        bool Replace;
        const char* Error; // empty: the job is the file afterwards
    };
    const Row rows[] = {
        {"new.plt", Before::Nothing, false, ""},
        {"new-replace.plt", Before::Nothing, true, ""},
        {"kept.plt", Before::File, false, "already exists; it is replaced only when you ask for that"},
        {"replaced.plt", Before::File, true, ""},
        {"folder.plt", Before::Folder, true, "It is a folder"},
        {"missing\\job.plt", Before::Nothing, true, "Its folder does not exist"},
        {"Schnitt \xC3\xBC \xE2\x9C\x82 \xF0\x9F\x93\x90.plt", Before::Nothing, false, ""},
    };
    // More than one chunk, with every byte value.
    const std::string job = PatternBytes(600 * 1024 + 7);
    for (const Row& row : rows) {
        CAPTURE(row.Name);
        TTempFolder folder;
        const std::string path = folder / row.Name;
        if (row.There == Before::File)
            WriteWholeFile(path, "old");
        if (row.There == Before::Folder)
            CreateDirectoryW(Wide(path).c_str(), nullptr);
        const std::string error = Failure(path, row.Replace, job);
        if (*row.Error == '\0') {
            CHECK(error.empty());
            CHECK(ReadWholeFile(path) == job);
        } else {
            CHECK(error.find(row.Error) != std::string::npos);
            if (row.There == Before::File)
                CHECK(ReadWholeFile(path) == "old");
        }
        // Never a temporary file left behind.
        if (row.There != Before::Nothing || error.empty())
            CHECK(folder.Names().size() == 1);
        else
            CHECK(folder.Names().empty());
    }
}

TEST_CASE("devices are never written as job files; NUL takes the job and keeps nothing")
{
    for (const char* device : {"COM1", "\\\\.\\PhysicalDrive0", "\\\\?\\GLOBALROOT\\Device\\Null"}) {
        CAPTURE(device);
        CHECK(Failure(device, true, "PU;").find("It is a device") != std::string::npos);
    }
    TTempFolder folder;
    for (const std::string& null :
         {std::string("NUL"), std::string("nul"), folder / "NUL", std::string("\\\\.\\NUL")}) {
        CAPTURE(null);
        for (const bool replace : {false, true})
            CHECK(Failure(null, replace, "PU;") == "");
    }
    CHECK(folder.Names().empty());
}

TEST_CASE("a file that appears while the job is written is replaced only when asked")
{
    for (const bool replace : {false, true}) {
        CAPTURE(replace);
        TTempFolder folder;
        const std::string path = folder / "raced.plt";
        SetJobFileCommitHook([&] { WriteWholeFile(path, "theirs"); });
        const std::string error = Failure(path, replace, "ours");
        SetJobFileCommitHook({});
        CHECK(ReadWholeFile(path) == (replace ? "ours" : "theirs"));
        CHECK(error.empty() == replace);
        CHECK(OnlyName(folder, "raced.plt"));
    }
}

TEST_CASE("the settings file is kept under the user's application data, whole")
{
    TTempFolder appData;
    SetEnvironmentVariableW(L"APPDATA", Wide(appData.Path()).c_str());
    const std::string path = SettingsFilePath();
    CHECK(path == appData / "Vellico\\vellico-output-test.ini");

    // Before anything is kept: empty, no problem.
    std::string problem;
    CHECK(ReadSettingsText(path, problem).empty());
    CHECK(problem.empty());

    IniEntries entries;
    entries["Devices/Schneider \xE2\x9C\x82/SendAs"] = IniText("hpgl");
    entries["Devices/Schneider \xE2\x9C\x82/PaperWidthMm"] = IniNumber(609.6);
    for (const char* text : {"first", "second, longer than the first"}) {
        entries["Devices/COM3/Port"] = IniText(text);
        RewriteSettingsText(
            path, [&](const std::string&) { return FormatIni(entries); }, 4096);
        CHECK(ParseIni(ReadSettingsText(path, problem)) == entries);
        CHECK(problem.empty());
    }
    // The lock file beside it, and no temporary file left.
    CHECK(TTempFolder::NamesOf(appData / "Vellico").size() == 2);

    // The store keeps one device's settings beside the others'.
    DeviceSettings cutter = DefaultSettings("COM3");
    cutter.Line.Baud = 19200;
    cutter.Corrections.OvercutMm = 1;
    SaveSettings("COM3", cutter);
    const auto kept = RememberedSettings("COM3", DefaultSettings("COM3"));
    REQUIRE(kept);
    CHECK(kept->Line.Baud == 19200);
    CHECK(kept->Corrections.OvercutMm == 1);
    CHECK(ParseIni(ReadSettingsText(path, problem)).count("Devices/Schneider \xE2\x9C\x82/SendAs") == 1);

    // A folder in the file's place is neither read nor written over.
    const std::string blocked = appData / "blocked.ini";
    CreateDirectoryW(Wide(blocked).c_str(), nullptr);
    CHECK(ReadSettingsText(blocked, problem).empty());
    CHECK(problem == "is not a regular file");
    CHECK_THROWS_WITH_AS(RewriteSettingsText(
                             blocked, [](const std::string&) { return "[Devices]\n"; }, 0),
                         doctest::Contains("is not a regular file"), EFileError);
    CHECK((GetFileAttributesW(Wide(blocked).c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
}

namespace {

// The settings text with one more device, as the store adds it.
std::string WithDevice(const std::string& old, const std::string& device)
{
    IniEntries entries = ParseIni(old);
    entries["Devices/" + device + "/SendAs"] = IniText("hpgl");
    return FormatIni(entries);
}

const char* const SecondSave = "the second of two saves at once";

} // namespace

// Run by the test below, in a process of its own.
TEST_CASE(SecondSave* doctest::skip())
{
    wchar_t name[128];
    const DWORD n = GetEnvironmentVariableW(L"VELLICO_SECOND_SAVE", name, 128);
    REQUIRE((n > 0 && n < 128));
    const std::wstring events(name, n);
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (events + L"-ready").c_str());
    const HANDLE inside = OpenEventW(EVENT_MODIFY_STATE, FALSE, (events + L"-inside").c_str());
    REQUIRE(ready);
    REQUIRE(inside);
    SetEvent(ready);
    RewriteSettingsText(
        SettingsFilePath(),
        [&](const std::string& old) {
            SetEvent(inside);
            return WithDevice(old, "COM4");
        },
        4096);
}

TEST_CASE("two saves at once, from two programs, each keep their device")
{
    TTempFolder appData;
    SetEnvironmentVariableW(L"APPDATA", Wide(appData.Path()).c_str());
    const std::wstring events = L"vellico-second-save-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (events + L"-ready").c_str());
    const HANDLE inside = CreateEventW(nullptr, TRUE, FALSE, (events + L"-inside").c_str());
    SetEnvironmentVariableW(L"VELLICO_SECOND_SAVE", events.c_str());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --no-skip --minimal \"--test-case=" + Wide(SecondSave) + L"\"";
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION second{};
    bool overlapped = false;
    // The second save starts while the first holds the file: it must wait
    // for the first to be written, however long that takes (here a second
    // and a half, plenty for it to get in if it could).
    RewriteSettingsText(
        SettingsFilePath(),
        [&](const std::string& old) {
            REQUIRE(
                CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &second));
            REQUIRE(WaitForSingleObject(ready, 60000) == WAIT_OBJECT_0);
            overlapped = WaitForSingleObject(inside, 1500) == WAIT_OBJECT_0;
            return WithDevice(old, "COM3");
        },
        4096);
    REQUIRE(WaitForSingleObject(second.hProcess, 60000) == WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(second.hProcess, &code);
    CloseHandle(second.hThread);
    CloseHandle(second.hProcess);
    CloseHandle(ready);
    CloseHandle(inside);
    SetEnvironmentVariableW(L"VELLICO_SECOND_SAVE", nullptr);
    CHECK(code == 0);
    CHECK_FALSE(overlapped);
    std::string problem;
    const IniEntries kept = ParseIni(ReadSettingsText(SettingsFilePath(), problem));
    CHECK(kept.count("Devices/COM3/SendAs") == 1);
    CHECK(kept.count("Devices/COM4/SendAs") == 1);
}

TEST_CASE("system errors read as on Linux, and text crosses the Win32 edge intact")
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    const EOSError e = LastOSError();
    CHECK(e.ErrorCode() == 2);
    CHECK(e.Message().rfind("System Error.  Code: 2.\r\n", 0) == 0);
    CHECK(e.Message().size() > 25);
    CHECK(e.Message().back() != '.');
    CHECK(e.Message().back() != '\n');
    for (const std::string text : {"", "plain", "\xC3\xBC\xE2\x9C\x82\xF0\x9F\x93\x90"}) {
        CHECK(Utf8(Wide(text)) == text);
    }
    CHECK(Wide("\xF0\x9F\x93\x90").size() == 2); // a surrogate pair
}
