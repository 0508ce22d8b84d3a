// The Windows program itself: cuts from its command line reach a raw queue,
// a cutter on COM1 and a driver's queue, against the private server and the
// cutter of scripts/test-windows. Its console companion speaks for it in a
// console, and its installer puts it in place and takes it away again.

#include "PdfPaths.h"
#include "WinTestSupport.h"

#include "platform/windows/WinConsole.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"

#include <doctest/doctest.h>

#include <shlobj.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const std::string Program = UnixPath(VELLICO_PROGRAM);
const std::string ConsoleProgram = UnixPath(VELLICO_CONSOLE_PROGRAM);
const std::string Dist = UnixPath(VELLICO_DIST);

// Runs program with these arguments, in folder when one is given, its
// standard output and error kept in output when asked; its exit code, -1
// when it did not start or end within a minute.
int RunProgramFile(const std::string& program, const std::string& arguments, std::string* output = nullptr,
                   const std::string& folder = {})
{
    std::wstring command = L"\"" + Wide(program) + L"\" " + Wide(arguments);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    TTempFolder kept;
    const std::string keptName = kept / "output.txt";
    HANDLE file = INVALID_HANDLE_VALUE;
    if (output) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        file = CreateFileW(Wide(keptName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return -1;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        start.hStdOutput = file;
        start.hStdError = file;
    }
    const std::wstring directory = Wide(folder);
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                                        folder.empty() ? nullptr : directory.c_str(), &start, &process);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!started)
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (output)
        *output = ReadWholeFile(keptName).value_or("");
    return static_cast<int>(code);
}

int RunProgram(const std::string& arguments, std::string* output = nullptr, const std::string& folder = {})
{
    return RunProgramFile(Program, arguments, output, folder);
}

// The subsystem a program's PE header names (2 windowed, 3 console), or -1.
int Subsystem(const std::string& path)
{
    const std::string bytes = ReadWholeFile(path).value_or("");
    const auto number = [&](size_t at, int size) {
        std::uint32_t n = 0;
        for (int i = size - 1; i >= 0; --i)
            n = n << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
        return n;
    };
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0)
        return -1;
    // The optional header follows "PE\0\0" and the 20-byte file header.
    const size_t pe = number(0x3C, 4);
    if (pe + 24 + 70 > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return -1;
    return static_cast<int>(number(pe + 24 + 68, 2));
}

// Runs a command line and waits for it and every process it starts, as one
// job: NSIS's uninstaller runs a copy of itself from the temporary folder
// and ends at once. The first process's exit code, -1 when it did not start
// or its processes did not end within two minutes.
int RunAndWaitForAll(const std::string& commandLine)
{
    std::wstring command = Wide(commandLine);
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    if (!job
        || !CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &start,
                           &process))
        return -1;
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, 120000);
    for (int waited = 0; waited < 120000; waited += 50) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)
            || info.ActiveProcesses == 0)
            break;
        Sleep(50);
    }
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return code == STILL_ACTIVE ? -1 : static_cast<int>(code);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string KnownFolder(REFKNOWNFOLDERID id)
{
    wchar_t* path = nullptr;
    std::string folder;
    if (SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK)
        folder = Utf8(path);
    CoTaskMemFree(path);
    return folder;
}

// A string or a number of the registry, as text; nullopt when missing.
std::optional<std::string> RegistryValue(HKEY root, const wchar_t* key, const wchar_t* name)
{
    wchar_t text[1024];
    DWORD size = sizeof text;
    DWORD type = 0;
    if (RegGetValueW(root, key, name, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type, text, &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, text, sizeof number);
        return std::to_string(number);
    }
    return Utf8(text);
}

// The one job (a .bin file) that has come into folder since before, whole
// (the folder's writer renames it in place).
std::string NewJob(const std::string& folder, const std::vector<std::string>& before)
{
    std::vector<std::string> jobs;
    for (int waited = 0; jobs.empty() && waited < 15000; waited += 50) {
        jobs = NewNames(folder, before, 0);
        std::erase_if(jobs, [](const std::string& name) { return !name.ends_with(".bin"); });
        Sleep(50);
    }
    REQUIRE(jobs.size() >= 1);
    CHECK(jobs.size() == 1);
    return ReadWholeFile(folder + "\\" + jobs.front()).value_or("");
}

} // namespace

TEST_CASE("a cut from the program reaches a raw queue and a port byte for byte as its file would have it")
{
    struct Row {
        const char* Device;
        std::string Folder; // where what the device received is kept
        const char* Options;
    };
    const Row rows[] = {
        {"RawCutter", HarnessFolder() + "\\jobs", "--send-as hpgl --position 8"},
        {"RawCutter", HarnessFolder() + "\\jobs", "--send-as camm --sheet 600x1000 --scale 100.7,99.5 --overcut 1"},
        {"COM1", CutterFolder(), "--send-as gpgl --position 3"},
        {"\\\\.\\COM1", CutterFolder(), "--send-as dmpl --position 1"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.Device);
        CAPTURE(row.Options);
        TTempFolder folder;
        const std::string file = folder / "job.plt";
        REQUIRE(RunProgram(std::string("--cut ") + row.Options + " --output \"" + file + "\"") == 0);
        // The cutter keeps a job once asked, whatever an earlier test left it doing.
        const bool cutter = row.Folder == CutterFolder();
        if (cutter)
            REQUIRE(ResetCutter());
        const auto before = TTempFolder::NamesOf(row.Folder);
        REQUIRE(RunProgram(std::string("--cut ") + row.Options + " --device " + row.Device) == 0);
        if (cutter)
            REQUIRE(ResetCutter());
        const std::string received = NewJob(row.Folder, before);
        CHECK(received.size() == ReadWholeFile(file).value_or("").size());
        CHECK(received == ReadWholeFile(file));
    }
}

TEST_CASE("the program speaks Windows: COM ports and NUL, never a /dev/ path")
{
    // Each through the .exe and through its console companion, which hands
    // on the same text and the same exit code.
    struct Row {
        const char* Arguments;
        int Exit;
        const char* Says; // in what the program printed
    };
    const Row rows[] = {
        {"--help", 0, "COM3"},
        {"--help", 0, "NUL discards"},
        {"--version", 0, "Vellico Output Test " VELLICO_VERSION_TEXT},
        {"--cut --device RawCutter --port-settings 9600,8,N,1,xonxoff", 2, "such as --device COM1"},
        // A name the spooler does not have, as UTF-8 however it is read back.
        {"--cut --device \"Plotter\xE2\x80\xA6 \xC3\xA9\"", 1, "\"Plotter\xE2\x80\xA6 \xC3\xA9\""},
        // NUL takes the job and keeps nothing, in any spelling and folder.
        {"--cut --send-as hpgl --output NUL", 0, ""},
        {"--cut --send-as gpgl --output nul", 0, ""},
        {"--cut --send-as dmpl --output .\\NUL --replace", 0, ""},
    };
    for (const std::string& program : {Program, ConsoleProgram}) {
        CAPTURE(program);
        for (const Row& row : rows) {
            const std::string arguments = row.Arguments;
            CAPTURE(arguments);
            TTempFolder folder;
            std::string output;
            const int exit = RunProgramFile(program, arguments, &output, folder.Path());
            CAPTURE(output);
            CHECK(exit == row.Exit);
            CHECK(output.find(row.Says) != std::string::npos);
            CHECK(output.find("/dev/") == std::string::npos);
            CHECK(folder.Names().empty());
        }
    }
}

TEST_CASE("a job to standard output is the job file's bytes, through the companion too")
{
    struct Row {
        const std::string& Program;
        const char* Options;
    };
    const Row rows[] = {
        {ConsoleProgram, "--send-as hpgl --position 8"},
        {ConsoleProgram, "--send-as camm --sheet 600x1000 --scale 100.7,99.5 --overcut 1"},
        {Program, "--send-as gpgl --position 3"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.Program);
        CAPTURE(row.Options);
        TTempFolder folder;
        const std::string file = folder / "job.plt";
        REQUIRE(RunProgram(std::string("--cut ") + row.Options + " --output \"" + file + "\"") == 0);
        std::string output;
        REQUIRE(RunProgramFile(row.Program, std::string("--cut ") + row.Options + " --output -", &output) == 0);
        CHECK(output.size() == ReadWholeFile(file).value_or("").size());
        CHECK(output == ReadWholeFile(file));
    }
}

TEST_CASE("the program is a windowed one, and its console companion a console one")
{
    struct Row {
        std::string Path;
        int Subsystem;
    };
    const Row rows[] = {
        {Program, IMAGE_SUBSYSTEM_WINDOWS_GUI},
        {ConsoleProgram, IMAGE_SUBSYSTEM_WINDOWS_CUI},
        // What a user gets: stripped, the same two.
        {Dist + "\\vellico-output-test.exe", IMAGE_SUBSYSTEM_WINDOWS_GUI},
        {Dist + "\\vellico-output-test.com", IMAGE_SUBSYSTEM_WINDOWS_CUI},
    };
    for (const Row& row : rows) {
        CAPTURE(row.Path);
        CHECK(Subsystem(row.Path) == row.Subsystem);
    }
    // Stripped, though built from the same program.
    CHECK(ReadWholeFile(rows[2].Path).value_or("").size() < ReadWholeFile(Program).value_or("").size() / 4);
}

TEST_CASE("on a console the program's text is Unicode, whatever the console's code page")
{
    // A console of this test's own that the companion and the program write
    // to, kept as a cmd window is for the programs after; the handles doctest
    // reports on stay as they are.
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE kept[3];
    for (int i = 0; i < 3; ++i)
        kept[i] = GetStdHandle(which[i]);
    FreeConsole();
    REQUIRE(AllocConsole());
    // A code page without "…": UTF-8 bytes written as they are show as
    // three other characters.
    SetConsoleOutputCP(437);
    // The last lines the console shows.
    const auto shownLast = [] {
        const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        CONSOLE_SCREEN_BUFFER_INFO info{};
        GetConsoleScreenBufferInfo(screen, &info);
        const SHORT from = static_cast<SHORT>(std::max(0, info.dwCursorPosition.Y - 2));
        std::wstring shown(static_cast<size_t>(info.dwSize.X) * 3, L' ');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, shown.data(), static_cast<DWORD>(shown.size()), COORD{0, from}, &read);
        CloseHandle(screen);
        return shown;
    };

    std::wstring command = L"\"" + Wide(ConsoleProgram) + L"\" --cut --device \"Plotter\u2026 \u00e9\"";
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    DWORD code = static_cast<DWORD>(-1);
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::wstring shown = shownLast();
    CAPTURE(Utf8(shown));
    CHECK(code == 1);
    CHECK(shown.find(L"\"Plotter\u2026 \u00e9\"") != std::wstring::npos);

    // The program's stream itself, "…" astride the end of its 4096 bytes.
    StandardError() << std::string(4095, 'x') << "\xE2\x80\xA6 \xC3\xA9\n" << std::flush;
    shown = shownLast();
    CHECK(shown.find(L"xx\u2026 \u00e9") != std::wstring::npos);
    for (int i = 0; i < 3; ++i)
        SetStdHandle(which[i], kept[i]);
}

TEST_CASE("the installer puts the program in place and takes away all it put there, the user's settings aside")
{
    const std::wstring uninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VellicoOutputTest";
    const std::string installer = UnixPath(VELLICO_INSTALLER);
    // The settings the program keeps: there before, there after.
    const std::string settingsFolder = KnownFolder(FOLDERID_RoamingAppData) + "\\Vellico";
    const std::string settings = settingsFolder + "\\vellico-output-test.ini";
    const std::optional<std::string> settingsBefore = ReadWholeFile(settings);
    if (!settingsBefore) {
        CreateDirectoryW(Wide(settingsFolder).c_str(), nullptr);
        WriteWholeFile(settings, "[RawCutter]\nSendAs=HPGL\n");
    }
    const std::string settingsText = ReadWholeFile(settings).value_or("");
    REQUIRE_FALSE(settingsText.empty());

    struct Row {
        const char* Switch;
        HKEY Root; // of the Apps & features entry
        const KNOWNFOLDERID* StartMenu;
    };
    const Row rows[] = {
        {"/CURRENTUSER", HKEY_CURRENT_USER, &FOLDERID_Programs},
        // Wine's user has the rights.
        {"/ALLUSERS", HKEY_LOCAL_MACHINE, &FOLDERID_CommonPrograms},
    };
    for (const Row& row : rows) {
        const std::string mode = row.Switch;
        CAPTURE(mode);
        TTempFolder place;
        const std::string folder = place / "Vellico Output Test";
        const std::string shortcut = KnownFolder(*row.StartMenu) + "\\Vellico Output Test.lnk";
        REQUIRE(RunAndWaitForAll("\"" + installer + "\" /S " + row.Switch + " /D=" + folder) == 0);

        CHECK(Subsystem(folder + "\\vellico-output-test.exe") == IMAGE_SUBSYSTEM_WINDOWS_GUI);
        CHECK(Subsystem(folder + "\\vellico-output-test.com") == IMAGE_SUBSYSTEM_WINDOWS_CUI);
        std::string output;
        CHECK(RunProgramFile(folder + "\\vellico-output-test.com", "--version", &output) == 0);
        CAPTURE(output);
        CHECK(output.find("Vellico Output Test " VELLICO_VERSION_TEXT) != std::string::npos);
        CHECK(Exists(shortcut));
        const auto value = [&](const wchar_t* name) {
            return RegistryValue(row.Root, uninstallKey.c_str(), name).value_or("");
        };
        CHECK(value(L"DisplayName") == "Vellico Output Test");
        CHECK(value(L"DisplayVersion") == VELLICO_VERSION_TEXT);
        CHECK(value(L"Publisher") == "Vellico");
        CHECK(value(L"InstallLocation") == folder);
        CHECK(value(L"UninstallString") == "\"" + folder + "\\uninstall.exe\"");
        // In KiB: at least the program itself.
        const size_t programKiB = ReadWholeFile(folder + "\\vellico-output-test.exe").value_or("").size() / 1024;
        CHECK(std::stoul("0" + value(L"EstimatedSize")) >= programKiB);
        CHECK(programKiB > 0);

        // Removed the way Apps & features removes it when asked to be quiet.
        const std::string quiet = value(L"QuietUninstallString");
        REQUIRE(quiet == "\"" + folder + "\\uninstall.exe\" /S");
        REQUIRE(RunAndWaitForAll(quiet) == 0);
        CHECK_FALSE(Exists(folder));
        CHECK_FALSE(Exists(shortcut));
        HKEY key = nullptr;
        CHECK(RegOpenKeyExW(row.Root, uninstallKey.c_str(), 0, KEY_READ, &key) == ERROR_FILE_NOT_FOUND);
        if (key)
            RegCloseKey(key);
        CHECK(ReadWholeFile(settings) == settingsText);
    }
    if (!settingsBefore)
        DeleteFileW(Wide(settings).c_str());
}

TEST_CASE("a cut through the printer's driver puts the sample's circles where they belong")
{
    TPLT sample;
    ReadPlotText(sample, BuiltInSampleLines());
    const TRect bound = sample.Bound();
    const std::string jobs = HarnessFolder() + "\\jobs";
    const auto before = TTempFolder::NamesOf(jobs);
    REQUIRE(RunProgram("--cut --device PdfCutter600 --send-as driver --position \"Bottom left\"") == 0);
    std::vector<PdfStroke> strokes;
    for (int waited = 0; strokes.empty() && waited < 30000; waited += 100) {
        for (const std::string& name : NewNames(jobs, before, 0))
            if (const auto pdf = ReadWholeFile(jobs + "\\" + name))
                strokes = ReadPdfStrokesMm(*pdf);
        Sleep(100);
    }
    REQUIRE(strokes.size() == static_cast<size_t>(sample.NPolygons()));
    // The queue's A4 printable area starts 5.00 mm from the sheet's left and
    // 7.50 mm from its bottom (tests/support/cups-harness).
    double worst = 0;
    TPolygon polygon;
    for (std::int32_t i = 0; i < sample.NPolygons(); ++i) {
        sample.ReadPolygon(i, polygon);
        REQUIRE(strokes[static_cast<size_t>(i)].size() == polygon.Points.size());
        for (size_t p = 0; p < polygon.Points.size(); ++p) {
            const double x = 5 + (polygon.Points[p].X - bound.Left) / 100.0;
            const double y = 7.5 + (polygon.Points[p].Y - bound.Bottom) / 100.0;
            worst = std::max(
                worst, std::hypot(strokes[static_cast<size_t>(i)][p].X - x, strokes[static_cast<size_t>(i)][p].Y - y));
        }
    }
    CHECK(worst < 0.05);
    MESSAGE("worst placement error " << worst << " mm");
}
