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
#include "output/Positions.h"
#include "platform/JobProgress.h"
#include "platform/PrinterObject.h"
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

std::wstring TextOf(HWND control)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// What a window shows cut off: a caption that needs more room than its
// control has, or two controls over each other (a group box holds others).
// Only the controls with these identifiers, when any are given.
std::vector<std::string> Clipped(HWND window, const std::vector<int>& only = {})
{
    std::vector<std::string> faults;
    struct Placed {
        std::string Name;
        RECT Place;
    };
    std::vector<Placed> placed;
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c))
            continue;
        wchar_t kind[32] = {};
        GetClassNameW(c, kind, 32);
        const auto style = static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE));
        const bool label = _wcsicmp(kind, L"Static") == 0, button = _wcsicmp(kind, L"Button") == 0;
        const bool group = button && (style & BS_TYPEMASK) == BS_GROUPBOX;
        const bool wraps = label && (style & SS_TYPEMASK) <= SS_RIGHT;
        const std::wstring text = TextOf(c);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        const std::string name = text.empty() ? "control " + std::to_string(GetDlgCtrlID(c)) : Utf8(text);
        const bool checked = only.empty() || std::find(only.begin(), only.end(), GetDlgCtrlID(c)) != only.end();
        if (!group && checked)
            placed.push_back({name, r});
        if (!checked || text.empty() || !(wraps || (label && (style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP) || button))
            continue;
        const HDC dc = GetDC(c);
        const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)));
        const UINT prefix = label && (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
        const int width = r.right - r.left, height = r.bottom - r.top;
        RECT need{0, 0, wraps ? width : 0, 0};
        DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | prefix | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
        SelectObject(dc, old);
        ReleaseDC(c, dc);
        // A button's frame, or a check box's box, beside its caption.
        int besides = 0;
        if (button) {
            const DWORD type = style & BS_TYPEMASK;
            besides = type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON
                          ? 4 * GetSystemMetrics(SM_CXEDGE)
                          : (group ? 2 * GetSystemMetrics(SM_CXEDGE) + 8 : GetSystemMetrics(SM_CXMENUCHECK) + 4);
        }
        if (need.right + besides > width || (wraps && need.bottom > height) || (!wraps && need.bottom > height + 2))
            faults.push_back("\"" + name + "\" needs " + std::to_string(need.right + besides) + " x "
                             + std::to_string(need.bottom) + ", has " + std::to_string(width) + " x "
                             + std::to_string(height));
    }
    for (size_t i = 0; i < placed.size(); ++i)
        for (size_t j = i + 1; j < placed.size(); ++j) {
            RECT both;
            if (IntersectRect(&both, &placed[i].Place, &placed[j].Place))
                faults.push_back("\"" + placed[i].Name + "\" and \"" + placed[j].Name + "\" overlap");
        }
    return faults;
}

// With VELLICO_SCREENSHOTS naming a folder: the window as the screen shows
// it, kept there as NAME-DPI.bmp.
void Screenshot(HWND window, const std::string& name)
{
    const std::string folder = UnixFolder("VELLICO_SCREENSHOTS");
    if (folder.empty())
        return;
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(500); // a picture only: the window's thread paints in its own time
    // The inside: Wine under a bare X server draws no frames.
    RECT r;
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    std::string pixels(stride * static_cast<size_t>(height), '\0');
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    WriteWholeFile(folder + "\\" + name + "-" + std::to_string(dpi) + ".bmp", bytes + pixels);
}

// The control that has the keyboard in a window of another thread.
HWND FocusOf(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// The system's printer setup dialog once it is in front of the window.
HWND WaitForSetup(HWND window)
{
    for (int waited = 0; waited < 10000; waited += 50, Sleep(50))
        if (const HWND found = GetForegroundWindow(); found && found != window && GetDlgItem(found, cmb1))
            return found;
    return nullptr;
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

// The program's window on a thread of its own, the error reports it raises
// collected; Close() ends it and gives its exit code.
class TRunningWindow {
public:
    TRunningWindow()
    {
        winui::SetErrorReportHook([this](const std::string&, const std::string& text) {
            const std::lock_guard<std::mutex> lock(FLock);
            FReports.push_back(text);
        });
        FThread = std::thread([this] { FCode = RunOutputTestWindow(); });
        Window = WaitForWindow(winui::WindowCaption, 20000);
    }
    TRunningWindow(const TRunningWindow&) = delete;
    TRunningWindow& operator=(const TRunningWindow&) = delete;
    // A test that stopped half way still closes the window it opened.
    ~TRunningWindow()
    {
        if (FThread.joinable() && Window)
            Close();
    }
    int Close()
    {
        PostMessageW(Window, WM_CLOSE, 0, 0);
        FThread.join();
        winui::SetErrorReportHook({});
        return FCode;
    }
    std::vector<std::string> Reports()
    {
        const std::lock_guard<std::mutex> lock(FLock);
        return FReports;
    }
    HWND Window = nullptr;

private:
    std::mutex FLock;
    std::vector<std::string> FReports;
    int FCode = -1;
    std::thread FThread;
};

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
        for (const std::string& fault : Clipped(dialog))
            FAIL_CHECK(fault);
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

TEST_CASE("Calibrate offers the six patterns, each with what to do, none of it cut off")
{
    // Through the printer driver the orders are longest.
    for (const SendAs language : {SendAs::HPGL, SendAs::Driver}) {
        CAPTURE(LanguageName(language));
        DeviceSettings settings;
        settings.PaperName = "A4";
        settings.PaperWidthMm = 210;
        settings.PaperHeightMm = 297;
        settings.Language = language;
        const DeviceIdentity identity{"Cutter", {}, {}};
        std::thread dialogThread(
            [&] { winui::ShowCalibrate(nullptr, identity, settings, [](const CalibrationCut&) {}); });
        const HWND dialog = WaitForWindow(L"Calibrate", 20000);
        REQUIRE(dialog != nullptr);
        const HWND list = GetDlgItem(dialog, winui::IdCalibratePattern);
        CHECK(SendMessageW(list, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(CalibratePatterns().size()));
        TCalibrateModel model(identity, settings);
        for (int i = 0; i < static_cast<int>(CalibratePatterns().size()); ++i) {
            wchar_t caption[128] = {};
            SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(caption));
            CAPTURE(Utf8(caption));
            CHECK(Utf8(caption) == CalibratePatterns()[static_cast<size_t>(i)].Caption);
            SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(winui::IdCalibratePattern, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(list));
            model.Choose(i);
            CHECK(ControlText(dialog, winui::IdCalibrateOrder) == model.Order());
            for (const std::string& fault : Clipped(dialog))
                FAIL_CHECK(fault);
            if (language == SendAs::HPGL && i == 1)
                Screenshot(dialog, "calibrate-ladder-wine");
        }
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        dialogThread.join();
    }
}

TEST_CASE("a Calibrate cut that fails is reported over the Calibrate dialog, not behind it")
{
    // A sheet no scale lines fit: the first cut fails.
    DeviceSettings settings;
    settings.PaperName = "Custom";
    settings.PaperWidthMm = 40;
    settings.PaperHeightMm = 30;
    settings.Language = SendAs::HPGL;
    int cuts = 0;
    std::thread dialogThread([&] {
        winui::ShowCalibrate(nullptr, {"Cutter", {}, {}}, settings, [&cuts](const CalibrationCut&) { ++cuts; });
    });
    const HWND dialog = WaitForWindow(L"Calibrate", 20000);
    REQUIRE(dialog != nullptr);
    PostMessageW(GetDlgItem(dialog, winui::IdCalibrateCut), BM_CLICK, 0, 0);
    HWND box = nullptr;
    for (int waited = 0; waited < 20000 && !box; waited += 50, Sleep(50))
        if (const HWND found = GetForegroundWindow(); found && found != dialog && GetDlgItem(found, 0xFFFF))
            box = found;
    REQUIRE(box != nullptr);
    CHECK(TextOf(box) == Wide(ApplicationTitle));
    CHECK(GetWindow(box, GW_OWNER) == dialog);
    CHECK(ControlText(box, 0xFFFF).find("too small for scale lines") != std::string::npos);
    Screenshot(dialog, "calibrate-error-wine"); // the box in front of it
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int waited = 0; waited < 10000 && IsWindow(box); waited += 50)
        Sleep(50);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    dialogThread.join();
    CHECK(cuts == 0);
    CHECK(winui::ErrorReportOwner() == nullptr);
}

TEST_CASE("the window shows the default printer, and one Cut sends one job")
{
    const std::string jobs = HarnessFolder() + "\\jobs";
    const std::vector<std::string> before = TTempFolder::NamesOf(jobs);

    TRunningWindow running;
    const HWND window = running.Window;
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

    CHECK(running.Close() == 0);
    const std::vector<std::string> reports = running.Reports();
    if (wineStatus)
        for (const std::string& report : reports)
            CHECK(report == "A call to an OS function failed.");
    else
        CHECK(reports.empty());
    for (const std::string& report : reports)
        MESSAGE(report);
}

TEST_CASE("the window starts with the keyboard on its first control, and shows every position whole")
{
    TRunningWindow running;
    const HWND window = running.Window;
    REQUIRE(window != nullptr);
    const HWND setupButton = GetDlgItem(window, winui::IdBtnPropiedades);
    // The window takes the keyboard first, and hands it on to a control.
    HWND focus = nullptr;
    for (int waited = 0; waited < 10000 && (!focus || focus == window); waited += 50, Sleep(50))
        focus = FocusOf(window);
    CHECK(focus == setupButton);
    // Space and Enter press it at once: the printer setup opens.
    for (const WPARAM key : {VK_SPACE, VK_RETURN}) {
        CAPTURE(key);
        PostMessageW(setupButton, WM_KEYDOWN, key, 1);
        PostMessageW(setupButton, WM_KEYUP, key, 0xC0000001);
        const HWND setup = WaitForSetup(window);
        REQUIRE(setup != nullptr);
        PostMessageW(setup, WM_COMMAND, IDCANCEL, 0);
        for (int waited = 0; waited < 10000 && IsWindow(setup); waited += 50)
            Sleep(50);
        Sleep(200);
    }

    // The position's field shows each item from its first letter.
    const HWND combo = GetDlgItem(window, winui::IdCmbPosicion);
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    REQUIRE(GetComboBoxInfo(combo, &parts));
    for (int index = 0; index < static_cast<int>(PositionTexts.size()); ++index) {
        const std::string text(PositionTexts[static_cast<size_t>(index)]);
        CAPTURE(text);
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(winui::IdCmbPosicion, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        CHECK(ControlText(window, winui::IdCmbPosicion) == text);
        // Chosen from the list, the item is selected whole, the caret after
        // it: a field too narrow scrolls its start out of sight.
        SendMessageW(parts.hwndItem, EM_SETSEL, 0, -1);
        CHECK(SendMessageW(parts.hwndItem, EM_GETFIRSTVISIBLELINE, 0, 0) == 0);
        if (text == "Middle Bottom")
            Screenshot(window, "windows-window-middle-bottom");
    }
    for (const std::string& fault : Clipped(window))
        FAIL_CHECK(fault);
    CHECK(running.Close() == 0);
    const std::vector<std::string> reports = running.Reports();
    for (const std::string& report : reports)
        if (report != "A call to an OS function failed.")
            FAIL_CHECK(report);
}

TEST_CASE("Print Setup offers the COM ports; one picked takes its line settings, and Cut reaches it")
{
    TRunningWindow running;
    const HWND window = running.Window;
    REQUIRE(window != nullptr);
    PostMessageW(GetDlgItem(window, winui::IdBtnPropiedades), BM_CLICK, 0, 0);
    const HWND setup = WaitForSetup(window);
    REQUIRE(setup != nullptr);
    const HWND ports = GetDlgItem(setup, winui::IdSetupPortList);
    REQUIRE(ports != nullptr);
    // First "none", the printers' own choice; then each port the system maps
    // (scripts/test-windows maps COM1, COM5 and COM6).
    CHECK(SendMessageW(ports, CB_GETCURSEL, 0, 0) == 0);
    for (const wchar_t* port : {L"COM1", L"COM5", L"COM6"}) {
        CAPTURE(Utf8(port));
        CHECK(SendMessageW(ports, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(port)) > 0);
    }
    const HWND cutterButton = FindWindowExW(setup, nullptr, L"Button", L"C&utter Settings...");
    REQUIRE(cutterButton != nullptr);
    for (const std::string& fault : Clipped(setup, {winui::IdSetupPortList, GetDlgCtrlID(cutterButton)}))
        FAIL_CHECK(fault);
    const auto com1 =
        SendMessageW(ports, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"COM1"));
    SendMessageW(ports, CB_SETCURSEL, static_cast<WPARAM>(com1), 0);
    SendMessageW(setup, WM_COMMAND, MAKEWPARAM(winui::IdSetupPortList, CBN_SELCHANGE), reinterpret_cast<LPARAM>(ports));
    // The printers wait while a port is picked.
    CHECK_FALSE(IsWindowEnabled(GetDlgItem(setup, cmb1)));
    Screenshot(setup, "print-setup-com-port-wine");

    // Its line, set in Cutter Settings: the Serial line group is in use.
    PostMessageW(cutterButton, BM_CLICK, 0, 0);
    HWND cutter = nullptr;
    for (int waited = 0; waited < 10000 && !cutter; waited += 50, Sleep(50))
        if (const HWND found = FindWindowW(nullptr, L"Cutter Settings"); found && IsWindowVisible(found))
            cutter = found;
    REQUIRE(cutter != nullptr);
    for (const int id : {winui::IdSpeed, winui::IdBits, winui::IdParity, winui::IdStopBits, winui::IdFlow}) {
        CAPTURE(id);
        CHECK(IsWindowEnabled(GetDlgItem(cutter, id)));
    }
    CHECK(SendDlgItemMessageW(cutter, winui::IdSendAs, CB_GETCOUNT, 0, 0) == 4);
    SendDlgItemMessageW(cutter, winui::IdSpeed, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(L"19200"));
    for (const std::string& fault : Clipped(cutter))
        FAIL_CHECK(fault);
    Screenshot(cutter, "cutter-settings-com-port-wine");
    PostMessageW(cutter, WM_COMMAND, IDOK, 0);
    for (int waited = 0; waited < 10000 && IsWindow(cutter); waited += 50)
        Sleep(50);
    CHECK_FALSE(IsWindow(cutter));
    PostMessageW(setup, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(setup, IDOK)));
    std::string shown;
    for (int waited = 0; waited < 10000 && shown != "COM1"; waited += 50, Sleep(50))
        shown = ControlText(window, winui::IdLImpresora);
    CHECK(shown == "COM1");
    DeviceIdentity identity;
    DeviceSettings settings;
    REQUIRE(Printer().KnownPrinter(identity, settings));
    CHECK(identity.Device == "COM1");
    CHECK(settings.Line.Baud == 19200);
    CHECK(settings.Language == SendAs::HPGL);

    // Cut: the whole job reaches the cutter behind COM1.
    REQUIRE(ResetCutter());
    const std::vector<std::string> before = TTempFolder::NamesOf(CutterFolder());
    BeginJobProgress(0);
    EndJobProgress();
    PostMessageW(GetDlgItem(window, winui::IdBtnCut), BM_CLICK, 0, 0);
    JobProgress sent;
    for (int waited = 0; waited < 60000; waited += 50, Sleep(50))
        if (sent = CurrentJobProgress(); sent.Total > 0 && !sent.Sending)
            break;
    CHECK(sent.Sent == sent.Total);
    REQUIRE(ResetCutter());
    const std::vector<std::string> fresh = NewNames(CutterFolder(), before, 10000);
    std::string job;
    for (const std::string& name : fresh)
        if (name.ends_with(".bin"))
            job = ReadWholeFile(CutterFolder() + "\\" + name).value_or("");
    CHECK(job.starts_with("IN;"));
    CHECK(static_cast<std::int64_t>(job.size()) == sent.Total);

    CHECK(running.Close() == 0);
    const std::vector<std::string> reports = running.Reports();
    for (const std::string& report : reports)
        if (report != "A call to an OS function failed.")
            FAIL_CHECK(report);
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
