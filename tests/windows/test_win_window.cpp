// The window on Win32 under Wine, against the private CUPS server: it shows
// the default printer, one Cut sends one job, and it is up about as soon as
// a bare window. Also the small pieces it reads the user's input with.
//
//   test_win_window                 the tests
//   test_win_window --window        the program's window alone
//   test_win_window --bare-window   a window that does nothing, to compare

#include "WinTestSupport.h"

#include "cutter/CutterLanguage.h"
#include "output/CalibrateModel.h"
#include "plot/SampleText.h"
#include "winui/CalibrateDialog.h"
#include "winui/ErrorBox.h"
#include "winui/MainWindow.h"
#include "winui/PrintSetup.h"
#include "winui/WindowPictures.h"

#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include <dlgs.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

constexpr const wchar_t* BareCaption = L"Bare window";

int RunBareWindow()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_DESTROY)
            PostQuitMessage(0);
        return DefWindowProcW(window, message, wParam, lParam);
    };
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"BareWindow";
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(0, L"BareWindow", BareCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 539, 305,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

// The top-level window with this caption once it is visible, or null.
HWND WaitForWindow(const wchar_t* caption, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (const HWND window = FindWindowW(nullptr, caption); window && IsWindowVisible(window))
            return window;
        Sleep(10);
    }
    return nullptr;
}

std::string ControlText(HWND window, int id, int most = 512)
{
    std::wstring text(static_cast<size_t>(most), L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(GetDlgItem(window, id), text.data(), most)));
    return Utf8(text);
}

// Seconds from starting a program to its window being shown; negative when
// it never was. The window is closed again. Without a program: this one, in
// a mode.
double SecondsToWindow(const char* mode, const wchar_t* caption, std::wstring program = {})
{
    if (program.empty()) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        program = self;
    }
    std::wstring command = L"\"" + program + L"\" " + Wide(mode);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const auto began = std::chrono::steady_clock::now();
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    const HWND window = WaitForWindow(caption, 30000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (window)
        PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return window ? seconds : -1;
}

} // namespace

TEST_CASE("a cutter setting is taken only as a whole number within its range")
{
    struct Row {
        const wchar_t* Text;
        double Low, High;
        std::optional<double> Value;
    };
    for (const Row& row : {
             Row{L"100", 25, 400, 100.0},
             Row{L" 99.5 ", 25, 400, 99.5},
             Row{L"0", 0, 1.5, 0.0},
             Row{L"1.51", 0, 1.5, std::nullopt},
             Row{L"-0.1", 0, 5, std::nullopt},
             Row{L"", 0, 5, std::nullopt},
             Row{L"12mm", 10, 5000, std::nullopt},
             Row{L"1e999", 10, 50000, std::nullopt},
             Row{L"nan", 10, 50000, std::nullopt},
         }) {
        CAPTURE(Utf8(row.Text));
        CHECK(winui::FieldNumber(row.Text, row.Low, row.High) == row.Value);
    }
}

TEST_CASE("the cutter's settings leave a driver's paper alone")
{
    DeviceSettings device;
    device.PaperName = "A4";
    device.PaperWidthMm = 210;
    device.PaperHeightMm = 297;
    device.MarginLeftMm = 4;
    DeviceSettings cutter;
    cutter.PaperName = "Custom.600x5000mm";
    cutter.PaperWidthMm = 600;
    cutter.PaperHeightMm = 5000;
    cutter.Rotate90 = true;
    cutter.Corrections.ScaleXPercent = 99.5;

    DeviceSettings driver = device;
    cutter.Language = SendAs::Driver;
    winui::TakeCutterSettings(driver, cutter);
    CHECK(driver.PaperName == "A4");
    CHECK(driver.MarginLeftMm == 4);
    CHECK_FALSE(driver.Rotate90);
    CHECK(driver.Corrections.ScaleXPercent == 99.5);

    DeviceSettings hpgl = device;
    cutter.Language = SendAs::HPGL;
    winui::TakeCutterSettings(hpgl, cutter);
    CHECK(hpgl.Language == SendAs::HPGL);
    CHECK(hpgl.PaperName == "Custom.600x5000mm");
    CHECK(hpgl.PaperHeightMm == 5000);
    CHECK(hpgl.MarginLeftMm == 0);
    CHECK(hpgl.Rotate90);
}

// Cutter Settings as the user works it: each language's controls, and what
// the force, the speed and the sheet become when the language changes.
TEST_CASE("Cutter Settings offers each language's controls and takes its sheet and force")
{
    const auto choose = [](HWND dialog, SendAs language) {
        const HWND list = GetDlgItem(dialog, winui::IdSendAs);
        const auto count = SendMessageW(list, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i)
            if (SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(i), 0) == static_cast<LRESULT>(language)) {
                SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
                SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(winui::IdSendAs, CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(list));
                return true;
            }
        return false;
    };
    const auto enabled = [](HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; };

    DeviceSettings settings;
    settings.PaperName = "A4";
    settings.PaperWidthMm = 210;
    settings.PaperHeightMm = 297;
    settings.MarginLeftMm = settings.MarginTopMm = 5;
    bool confirmed = false;
    std::thread shown([&] { confirmed = winui::ShowCutterSettings(nullptr, "RawCutter", settings); });
    const HWND dialog = WaitForWindow(L"Cutter Settings", 20000);
    REQUIRE(dialog != nullptr);
    CHECK(SendDlgItemMessageW(dialog, winui::IdSendAs, CB_GETCOUNT, 0, 0) == 5);
    struct Row {
        SendAs Language;
        const char *Force, *Speed; // typed, then what the next row finds
        bool Tools;
        std::string ForceShown, SpeedShown;
    };
    // From the driver: force off and the cutter's A4; then HPGL's grams stay
    // grams in DMPL, its cm/s are not DMPL's levels.
    for (const Row& row : {
             Row{SendAs::Driver, nullptr, nullptr, false, "0", "0"},
             Row{SendAs::HPGL, "80", "30", true, "0", "0"},
             Row{SendAs::DMPL, nullptr, nullptr, true, "80", "0"},
             Row{SendAs::CAMMGL, nullptr, nullptr, false, "0", "0"},
             Row{SendAs::GPGL, "12", nullptr, true, "0", "0"},
         }) {
        CAPTURE(LanguageName(row.Language));
        if (row.Language != SendAs::Driver)
            REQUIRE(choose(dialog, row.Language));
        const bool cutter = row.Language != SendAs::Driver;
        CHECK(enabled(dialog, winui::IdForce) == row.Tools);
        CHECK(enabled(dialog, winui::IdToolSpeed) == row.Tools);
        CHECK(enabled(dialog, winui::IdSheetWidth) == cutter);
        CHECK(enabled(dialog, winui::IdMirrorX) == cutter);
        CHECK(enabled(dialog, winui::IdBladeOffset) == cutter);
        CHECK_FALSE(enabled(dialog, winui::IdSpeed)); // a queue has no serial line
        CHECK(ControlText(dialog, winui::IdForce) == row.ForceShown);
        CHECK(ControlText(dialog, winui::IdToolSpeed) == row.SpeedShown);
        CHECK(ControlText(dialog, winui::IdSheetWidth) == "210");
        if (row.Force)
            SetDlgItemTextW(dialog, winui::IdForce, Wide(row.Force).c_str());
        if (row.Speed)
            SetDlgItemTextW(dialog, winui::IdToolSpeed, Wide(row.Speed).c_str());
    }
    // OK closes it; a field it refuses is said in a message box, which is
    // closed, and the dialog with it, so that a fault fails rather than waits.
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    std::string refused;
    for (int waited = 0; waited < 10000 && IsWindow(dialog); waited += 50, Sleep(50))
        if (const HWND box = FindWindowW(nullptr, L"Vellico Output Test"); box && IsWindowVisible(box)) {
            refused = ControlText(box, 0xFFFF);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            Sleep(200);
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    shown.join();
    CHECK(refused.empty());
    CHECK(confirmed);
    CHECK(settings.Language == SendAs::GPGL);
    CHECK(settings.PaperName == "A4");
    CHECK(settings.MarginLeftMm == 0);
    CHECK(settings.Corrections.Force == 12);

    // A COM port: no driver to choose, its line to set.
    settings = DeviceSettings{};
    std::thread port([&] { confirmed = winui::ShowCutterSettings(nullptr, "COM1", settings); });
    const HWND portDialog = WaitForWindow(L"Cutter Settings", 20000);
    REQUIRE(portDialog != nullptr);
    CHECK(SendDlgItemMessageW(portDialog, winui::IdSendAs, CB_GETCOUNT, 0, 0) == 4);
    CHECK(ControlText(portDialog, winui::IdSendAs) == "HPGL");
    CHECK(enabled(portDialog, winui::IdSpeed));
    CHECK(enabled(portDialog, winui::IdForce));
    // Check the line asks the cutter behind COM1 (fake-cutter.py) with the
    // flow control as the list shows it, and says the sentence in the dialog.
    const std::string answers = CutterFolder() + "\\answers";
    WriteWholeFile(answers, "answering 1024");
    const HWND flow = GetDlgItem(portDialog, winui::IdFlow);
    for (const auto& [choice, said] : {std::pair("None", "holds 1024 bytes"), std::pair("XON/XOFF", "is sound")}) {
        CAPTURE(std::string(choice));
        SendMessageW(flow, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(Wide(choice).c_str()));
        REQUIRE(enabled(portDialog, winui::IdCheckLine));
        SendMessageW(portDialog, WM_COMMAND, MAKEWPARAM(winui::IdCheckLine, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(portDialog, winui::IdCheckLine)));
        std::string text;
        for (int waited = 0; waited < 30000 && !enabled(portDialog, winui::IdCheckLine); waited += 50)
            Sleep(50);
        text = ControlText(portDialog, winui::IdCheckLineText);
        CHECK_MESSAGE(text.find(said) != std::string::npos, text);
        CHECK(text.find("\"COM1\"") != std::string::npos);
    }
    DeleteFileW(Wide(answers).c_str());
    ResetCutter();
    PostMessageW(portDialog, WM_COMMAND, IDCANCEL, 0);
    port.join();
    CHECK_FALSE(confirmed);
}

TEST_CASE("each preview puts the lettering where its position prints it")
{
    const winui::TSampleDots dots = winui::SampleDots();
    REQUIRE(dots.Centres.size() == 51);
    // Where the lettering's edges lie on the preview's sheet: 0 at the left
    // or top edge, 1 at the right or bottom, 0.5 centred; -1: anywhere.
    struct Row {
        int Index;
        double Left, Right, Top, Bottom;
    };
    // The sheet is A4, as high as the preview allows.
    const double h = winui::SheetHeight, w = h * 210 / 297;
    // The dots are the circles' centres: within 2 px of the sheet's edges.
    for (const Row& row :
         {Row{0, 0, -1, -1, 1}, Row{1, -1, 1, -1, 1}, Row{2, 0, -1, 0, -1}, Row{3, -1, 1, 0, -1}, Row{4, -1, -1, -1, 1},
          Row{5, -1, -1, 0, -1}, Row{6, 0, -1, 0.5, -1}, Row{7, -1, 1, 0.5, -1}, Row{8, -1, -1, 0.5, -1}}) {
        CAPTURE(row.Index);
        double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
        for (const auto& c : dots.Centres) {
            const auto p = winui::PreviewPoint(c, dots.Bound, row.Index);
            left = std::min(left, p.X);
            right = std::max(right, p.X);
            top = std::min(top, p.Y);
            bottom = std::max(bottom, p.Y);
        }
        CHECK(left >= 0);
        CHECK(right <= w);
        CHECK(top >= 0);
        CHECK(bottom <= h);
        if (row.Left >= 0)
            CHECK(std::abs(left - row.Left * w) < 2);
        if (row.Right >= 0)
            CHECK(std::abs(right - row.Right * w) < 2);
        if (row.Top >= 0)
            CHECK(std::abs(top - row.Top * h) < 2);
        if (row.Bottom >= 0)
            CHECK(std::abs(bottom - row.Bottom * h) < 2);
        // The middle positions centre the lettering across the sheet.
        if (row.Index == 4 || row.Index == 5 || row.Index == 8)
            CHECK(std::abs((left + right) / 2 - w / 2) < 2);
    }
}

TEST_CASE("Calibrate offers the six patterns, each with what to do")
{
    DeviceSettings settings;
    settings.PaperName = "A4";
    settings.PaperWidthMm = 210;
    settings.PaperHeightMm = 297;
    settings.Language = SendAs::HPGL;
    const DeviceIdentity identity{"Cutter", {}, {}};
    std::thread dialogThread([&] { winui::ShowCalibrate(nullptr, identity, settings, [](const CalibrationCut&) {}); });
    const HWND dialog = WaitForWindow(L"Calibrate", 20000);
    REQUIRE(dialog != nullptr);
    const HWND list = GetDlgItem(dialog, winui::IdCalibratePattern);
    CHECK(SendMessageW(list, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(CalibratePatterns().size()));
    TCalibrateModel model(identity, settings);
    for (int i = 0; i < static_cast<int>(CalibratePatterns().size()); ++i) {
        wchar_t caption[128] = {};
        SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(caption));
        CHECK(Utf8(caption) == CalibratePatterns()[static_cast<size_t>(i)].Caption);
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(winui::IdCalibratePattern, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
        model.Choose(i);
        CHECK(ControlText(dialog, winui::IdCalibrateOrder) == model.Order());
    }
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    dialogThread.join();
}

TEST_CASE("the window shows the default printer, and one Cut sends one job")
{
    std::mutex reportsLock;
    std::vector<std::string> reports;
    winui::SetErrorReportHook([&](const std::string&, const std::string& text) {
        const std::lock_guard<std::mutex> lock(reportsLock);
        reports.push_back(text);
    });
    const std::string jobs = HarnessFolder() + "\\jobs";
    const std::vector<std::string> before = TTempFolder::NamesOf(jobs);

    int code = -1;
    std::thread windowThread([&code] { code = RunOutputTestWindow(); });
    const HWND window = WaitForWindow(winui::WindowCaption, 20000);
    REQUIRE(window != nullptr);

    wchar_t defaultName[256];
    DWORD size = 256;
    REQUIRE(GetDefaultPrinterW(defaultName, &size));
    std::string shown;
    for (int waited = 0; waited < 10000 && shown.empty(); waited += 50, Sleep(50))
        shown = ControlText(window, winui::IdLImpresora);
    CHECK(shown == Utf8(defaultName));
    CHECK(ControlText(window, winui::IdCmbPosicion) == "Top left");
    // The hidden controls stay hidden, the sample still in the text control.
    CHECK_FALSE(IsWindowVisible(GetDlgItem(window, winui::IdMemo1)));
    CHECK_FALSE(IsWindowVisible(GetDlgItem(window, winui::IdButton1)));
    std::string sample;
    for (const std::string& line : BuiltInSampleLines())
        sample += (sample.empty() ? "" : "\r\n") + line;
    CHECK(ControlText(window, winui::IdMemo1, 65536) == sample);
    // The status answers within a few ticks, from the worker. Wine 8 fails
    // EnumJobsW: the failure is then reported, once, and nothing is shown.
    std::string status;
    for (int waited = 0; waited < 10000 && status.empty(); waited += 50, Sleep(50))
        status = ControlText(window, winui::IdLStatus);
    const bool wineStatus = UnderWine() && status.empty();
    if (wineStatus)
        WARN_MESSAGE(false, "Wine 8 fails EnumJobsW: no queue status");
    else
        CHECK((status == "No jobs in queue" || status == "Print"));

    PostMessageW(GetDlgItem(window, winui::IdBtnCut), BM_CLICK, 0, 0);
    const std::vector<std::string> fresh = NewNames(jobs, before, 60000);
    CHECK(fresh.size() == 1);
    // No second job follows.
    Sleep(2000);
    CHECK(NewNames(jobs, before, 0).size() == 1);

    // Select Printer/Cutter: another printer picked in the system's dialog
    // becomes the active device.
    PostMessageW(GetDlgItem(window, winui::IdBtnPropiedades), BM_CLICK, 0, 0);
    HWND setup = nullptr;
    for (int waited = 0; waited < 10000 && !setup; waited += 50, Sleep(50))
        if (const HWND found = GetForegroundWindow(); found && found != window && GetDlgItem(found, cmb1))
            setup = found;
    REQUIRE(setup != nullptr);
    const HWND printers = GetDlgItem(setup, cmb1);
    const auto raw =
        SendMessageW(printers, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"RawCutter"));
    REQUIRE(raw >= 0);
    SendMessageW(printers, CB_SETCURSEL, static_cast<WPARAM>(raw), 0);
    SendMessageW(setup, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELCHANGE), reinterpret_cast<LPARAM>(printers));
    // Its Cutter Settings show the printer's own sheet (Wine's driver gives
    // the raw queue an A4 at 300 dpi), not empty fields that OK refuses.
    PostMessageW(GetDlgItem(setup, 0x5001), BM_CLICK, 0, 0);
    const HWND cutter = WaitForWindow(L"Cutter Settings", 20000);
    REQUIRE(cutter != nullptr);
    for (const auto& [id, mm] : {std::pair(winui::IdSheetWidth, 210.0), std::pair(winui::IdSheetLength, 297.0)}) {
        const std::string text = ControlText(cutter, id);
        CAPTURE(text);
        CHECK(std::abs(std::atof(text.c_str()) - mm) < 0.2);
    }
    CHECK(ControlText(cutter, winui::IdSendAs) == "Printer driver");
    if (const char* hold = std::getenv("VELLICO_SCREENSHOT_HOLD_MS"))
        Sleep(static_cast<DWORD>(std::atoi(hold))); // time to take its picture
    PostMessageW(cutter, WM_COMMAND, IDOK, 0);
    for (int waited = 0; waited < 10000 && IsWindow(cutter); waited += 50)
        Sleep(50);
    CHECK_FALSE(IsWindow(cutter)); // OK took the fields as they were
    if (IsWindow(cutter)) {
        if (const HWND box = FindWindowW(nullptr, L"Vellico Output Test"))
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        Sleep(200);
        PostMessageW(cutter, WM_COMMAND, IDCANCEL, 0);
    }
    PostMessageW(setup, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(setup, IDOK)));
    for (int waited = 0; waited < 10000 && shown != "RawCutter"; waited += 50, Sleep(50))
        shown = ControlText(window, winui::IdLImpresora);
    CHECK(shown == "RawCutter");

    PostMessageW(window, WM_CLOSE, 0, 0);
    windowThread.join();
    CHECK(code == 0);
    winui::SetErrorReportHook({});
    if (wineStatus)
        for (const std::string& report : reports)
            CHECK(report == "A call to an OS function failed.");
    else
        CHECK(reports.empty());
    for (const std::string& report : reports)
        MESSAGE(report);
}

TEST_CASE("the window is up about as soon as a bare window")
{
    // Alternating runs, the median of each: the machine may be busy.
    std::vector<double> bare, program;
    for (int run = 0; run < 3; ++run) {
        bare.push_back(SecondsToWindow("--bare-window", BareCaption));
#ifdef VELLICO_PROGRAM
        // The program itself, with its manifest.
        program.push_back(SecondsToWindow("", winui::WindowCaption, Wide(UnixPath(VELLICO_PROGRAM))));
#else
        program.push_back(SecondsToWindow("--window", winui::WindowCaption));
#endif
    }
    std::sort(bare.begin(), bare.end());
    std::sort(program.begin(), program.end());
    MESSAGE("start to window shown (median of 3): bare window " << bare[1] << " s, the program " << program[1] << " s");
    REQUIRE(bare[0] > 0);
    REQUIRE(program[0] > 0);
    // Start-up never waits for the print server, whose queries may each take
    // seconds.
    CHECK(program[1] < bare[1] + 2.0);
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--window")
        return RunOutputTestWindow();
    if (argc > 1 && std::string(argv[1]) == "--bare-window")
        return RunBareWindow();
    return doctest::Context(argc, argv).run();
}
