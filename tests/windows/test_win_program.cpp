// The Windows program itself: cuts from its command line reach a raw queue,
// a cutter on COM1 and a driver's queue, against the private server and the
// cutter of scripts/test-windows.

#include "PdfPaths.h"
#include "WinTestSupport.h"

#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"

#include <doctest/doctest.h>

#include <cmath>

namespace {

// Runs the program with these arguments, in folder when one is given, its
// standard output and error kept in output when asked; its exit code, -1
// when it did not start or end within a minute.
int RunProgram(const std::string& arguments, std::string* output = nullptr, const std::string& folder = {})
{
    std::wstring command = L"\"" + Wide(UnixPath(VELLICO_PROGRAM)) + L"\" " + Wide(arguments);
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
    struct Row {
        const char* Arguments;
        int Exit;
        const char* Says; // in what the program printed
    };
    const Row rows[] = {
        {"--help", 0, "COM3"},
        {"--help", 0, "NUL discards"},
        {"--cut --device RawCutter --port-settings 9600,8,N,1,xonxoff", 2, "such as --device COM1"},
        // NUL takes the job and keeps nothing, in any spelling and folder.
        {"--cut --send-as hpgl --output NUL", 0, ""},
        {"--cut --send-as gpgl --output nul", 0, ""},
        {"--cut --send-as dmpl --output .\\NUL --replace", 0, ""},
    };
    for (const Row& row : rows) {
        const std::string arguments = row.Arguments;
        CAPTURE(arguments);
        TTempFolder folder;
        std::string output;
        const int exit = RunProgram(arguments, &output, folder.Path());
        CAPTURE(output);
        CHECK(exit == row.Exit);
        CHECK(output.find(row.Says) != std::string::npos);
        CHECK(output.find("/dev/") == std::string::npos);
        CHECK(folder.Names().empty());
    }
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
