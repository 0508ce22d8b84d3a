#include "winui/MainWindow.h"

#include "common/Exceptions.h"
#include "common/Text.h"
#include "output/Calibration.h"
#include "output/PlotPrinting.h"
#include "output/Positions.h"
#include "output/PrinterStatus.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobProgress.h"
#include "platform/PlotFile.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"
#include "winui/CalibrateDialog.h"
#include "winui/ErrorBox.h"
#include "winui/OpenPlotDialog.h"
#include "winui/PrintSetup.h"
#include "winui/WindowCalls.h"
#include "winui/WindowPictures.h"

#include <commctrl.h>

#include <memory>
#include <optional>
#include <vector>

namespace winui {

namespace {

constexpr UINT_PTR TimerEstado = 1;
// A note about kept settings, from whichever thread read them.
constexpr UINT SettingsNoteMessage = WM_APP + 18;
constexpr int TopLeftPreview = 2;
// Calibrate lives in the window's system menu, with Ctrl+K, so the designed
// controls stay as they are. A system command's low four bits are the system's.
constexpr UINT IdCalibrate = 0x7010;
constexpr const wchar_t* WindowClass = L"VellicoOutputTestWindow";

// The controls in tab order, at 96 dpi in window coordinates (the group
// boxes' contents are placed over them, not inside them, so every control
// reports to the window).
struct TControlSpec {
    int Id;
    const wchar_t* Class;
    const wchar_t* Text;
    DWORD Style;
    int Left, Top, Width, Height;
};

constexpr DWORD Label = SS_LEFT | SS_NOPREFIX;
constexpr DWORD Button = BS_PUSHBUTTON | WS_TABSTOP;

const TControlSpec Controls[] = {
    {IdGrpListaDeImpresoras, L"BUTTON", L" Cutter ", BS_GROUPBOX, 16, 8, 505, 73},
    {IdLabel1, L"STATIC", L"Active Device:", SS_RIGHT | SS_NOPREFIX, 19, 32, 85, 13},
    {IdLImpresora, L"STATIC", L"", Label | SS_ENDELLIPSIS, 108, 32, 0, 13},
    {IdLabel2, L"STATIC", L"Status:", SS_RIGHT | SS_NOPREFIX, 53, 51, 51, 13},
    {IdLStatus, L"STATIC", L"", Label, 108, 51, 0, 13},
    {IdBtnPropiedades, L"BUTTON", L"&Select Printer/Cutter...", Button, 380, 35, 123, 25},
    {IdMemo1, L"EDIT", L"", ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_DISABLED | WS_TABSTOP, 207, 48, 90, 89},
    {IdButton1, L"BUTTON", L"Abrir", Button, 243, 35, 123, 25},
    {IdGrpImagen, L"BUTTON", L" Sample Cut ", BS_GROUPBOX, 16, 87, 265, 202},
    {IdLabel4, L"STATIC", L"Size", Label, 32, 124, 40, 13},
    {IdImagenMedidas, L"STATIC", L"", SS_OWNERDRAW, 31, 143, 119, 55},
    {IdLabel3, L"STATIC", L"Position", Label, 31, 219, 60, 13},
    {IdCmbPosicion, L"COMBOBOX", L"", CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 31, 238, 102, 200},
    {IdImagenHoja, L"STATIC", L"", SS_OWNERDRAW, 153, 104, 121, 170},
    {IdLTexto1, L"STATIC", L"Use Select Printer/Cutter to select and setup the device you want to test", Label, 287, 97,
     234, 26},
    {IdLtexto2, L"STATIC", L"Press Cut and check the output. You should get a pattern like the one shown at the left.",
     Label, 287, 143, 232, 26},
    // Shown only while a job is being sent, beside Cut.
    {IdBtnStop, L"BUTTON", L"S&top", Button, 287, 264, 56, 25},
    {IdBtnCut, L"BUTTON", L"&Cut", Button, 351, 264, 75, 25},
    {IdBtnCancel, L"BUTTON", L"Close", Button, 446, 264, 75, 25},
};

constexpr int ClientWidth = 539;
constexpr int ClientHeight = 305;

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The amount a stopped job got to: "4.5 of 9.9 KiB" out of
// "45 %: 4.5 of 9.9 KiB, 0:05 left".
std::string StoppedAmount(const std::string& progress)
{
    std::string amount = progress;
    if (const size_t colon = amount.rfind(": "); colon != std::string::npos)
        amount.erase(0, colon + 2);
    if (const size_t comma = amount.find(", "); comma != std::string::npos)
        amount.erase(comma);
    return amount;
}

class TFrmPrincipal {
public:
    TFrmPrincipal() = default;
    TFrmPrincipal(const TFrmPrincipal&) = delete;
    TFrmPrincipal& operator=(const TFrmPrincipal&) = delete;

    // Creates and shows the window; false when the system refused.
    bool Create(HINSTANCE instance, int show);
    HWND Window() const noexcept { return FWindow; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void FitCaptions();
    HWND Control(int id) const { return GetDlgItem(FWindow, id); }
    int Px(int v) const { return MulDiv(v, FDpi, 96); }
    double Scale() const { return FDpi / 96.0; }

    void FormCreate();
    void FormClose();
    void BtnCancelClick();
    void BtnPropiedadesClick();
    void CmbPosicionSelect();
    void BtnCutClick();
    void Button1Click();
    void TimerEstadoTimer();
    void BtnStopClick();
    void CalibrateClick();
    void StartPattern(const CalibrationCut& cut);
    void Command(int id, int code);
    void DrawPicture(const DRAWITEMSTRUCT& item);

    int PositionIndex() const;
    void ShowPreview(int index);
    void AskDeviceName();
    void SetCaption(int id, const std::string& text);
    void StartPrint(const std::string& plotFile = {}, const std::vector<int>& pens = {});
    void StartJob(std::function<std::string(HandedJob&)> job);
    void ShowStatus();
    std::string JobFollowed(const std::string& status, const std::optional<HandedJob>& asked,
                            const std::optional<TJobOutcome>& outcome);

    HWND FWindow = nullptr;
    int FDpi = 96;
    HFONT FFont = nullptr;
    TSampleDots FDots;
    int FPreview = -1; // the preview ImagenHoja shows; -1 for none

    // Shared with a job still being handed over when the window closes.
    std::shared_ptr<TPLT> IPLT;
    TWindowCalls FCalls;
    // The status ticks and the name query share one reporter, so a missing
    // device is reported once, not again on every tick.
    TRepeatedFailureReporter FStatusReports;
    // Until LImpresora shows a name, every tick asks again, so a printer set
    // up after start-up appears.
    bool FNameKnown = false;
    // Answers about an earlier device are dropped once another is chosen.
    int FDeviceGeneration = 0;
    struct FollowedJob {
        HandedJob Job;
        int DeviceGeneration = 0;
        bool Reported = false;
    };
    std::optional<FollowedJob> FFollowed;
    std::string FServerStatus;
    std::string FStopNote;
    // The pens last typed for Open, offered again with the next file.
    std::string FPensText;
};

bool TFrmPrincipal::Create(HINSTANCE instance, int show)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, L"IDI_ICON1");
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(
        instance, L"IDI_ICON1", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WindowClass;
    RegisterClassExW(&windowClass);

    const HDC screen = GetDC(nullptr);
    FDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (FDpi <= 0)
        FDpi = 96;

    // Fixed size, system menu and close box only.
    // Not WS_CLIPCHILDREN: the group boxes leave their inside to the window.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT frame{0, 0, Px(ClientWidth), Px(ClientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    if (!CreateWindowExW(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, WindowClass, WindowCaption, style, x, y, width, height,
                         nullptr, nullptr, instance, this))
        return false;
    ShowWindow(FWindow, show);
    UpdateWindow(FWindow);
    return true;
}

LRESULT CALLBACK TFrmPrincipal::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TFrmPrincipal*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->FWindow = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TFrmPrincipal*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT TFrmPrincipal::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TWindowCalls::AnswerMessage) {
        // The answer's handler runs even when reporting fails.
        RunGuarded([&] { FCalls.Answered(reinterpret_cast<void*>(lParam)); });
        return 0;
    }
    switch (message) {
    case SettingsNoteMessage: {
        const std::unique_ptr<std::string> note(reinterpret_cast<std::string*>(lParam));
        RunGuarded([&] { ShowErrorReport(*note); });
        return 0;
    }
    case WM_CREATE: {
        SetErrorReportOwner(FWindow);
        FCalls.SetWindow(FWindow);
        // Kept settings that cannot be used are read on workers; each is
        // said once, in the error report, and the window carries on.
        const HWND window = FWindow;
        SetSettingsNoteHook([window](const std::string& text) {
            auto note = std::make_unique<std::string>(text);
            if (PostMessageW(window, SettingsNoteMessage, 0, reinterpret_cast<LPARAM>(note.get())))
                note.release();
        });
        CreateControls();
        // A failure here is reported; the window is still created and shown.
        RunGuarded([this] { FormCreate(); });
        return 0;
    }
    case WM_COMMAND: Command(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IdCalibrate) {
            RunGuarded([this] { CalibrateClick(); });
            return 0;
        }
        return DefWindowProcW(FWindow, message, wParam, lParam);
    case WM_TIMER:
        if (wParam == TimerEstado)
            RunGuarded([this] { TimerEstadoTimer(); });
        return 0;
    case WM_CTLCOLORSTATIC: {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: DrawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
    case WM_CLOSE:
        RunGuarded([this] { FormClose(); });
        DestroyWindow(FWindow);
        return 0;
    case WM_DESTROY:
        KillTimer(FWindow, TimerEstado);
        // A job being sent ends after its current chunk rather than keep the
        // program alive to the end of the cut.
        StopJobs();
        SetSettingsNoteHook({});
        FCalls.Close();
        for (MSG note; PeekMessageW(&note, FWindow, SettingsNoteMessage, SettingsNoteMessage, PM_REMOVE);)
            delete reinterpret_cast<std::string*>(note.lParam);
        SetErrorReportOwner(nullptr);
        if (FFont)
            DeleteObject(FFont);
        FFont = nullptr;
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
        FWindow = nullptr;
        return 0;
    default: return DefWindowProcW(FWindow, message, wParam, lParam);
    }
}

void TFrmPrincipal::CreateControls()
{
    FFont = CreateFontW(-Px(11), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(FWindow, GWLP_HINSTANCE));
    for (const TControlSpec& c : Controls) {
        DWORD style = WS_CHILD | c.Style;
        if (c.Id != IdMemo1 && c.Id != IdButton1 && c.Id != IdBtnStop)
            style |= WS_VISIBLE;
        const HWND control =
            CreateWindowExW(0, c.Class, c.Text, style, Px(c.Left), Px(c.Top), Px(c.Width), Px(c.Height), FWindow,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    }
    const HWND combo = Control(IdCmbPosicion);
    for (std::string_view text : PositionTexts)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
    SendMessageW(combo, CB_SETCURSEL, TopLeftPreview, 0);
    // The sample's lines as the text control holds them: CR LF between.
    const HWND memo = Control(IdMemo1);
    SendMessageW(memo, EM_SETLIMITTEXT, 0, 0);
    std::string text;
    for (const std::string& line : BuiltInSampleLines()) {
        if (!text.empty())
            text += "\r\n";
        text += line;
    }
    SetWindowTextW(memo, Wide(text).c_str());
    FDots = SampleDots();
    FitCaptions();
    if (const HMENU menu = GetSystemMenu(FWindow, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IdCalibrate, L"Ca&librate...\tCtrl+K");
    }
}

void TFrmPrincipal::FitCaptions()
{
    // A substitute for Tahoma may be wider than the design: captions grow
    // rather than be cut off. Captions before a value and buttons keep their
    // right edge, the others grow right, and the wrapped texts grow down.
    const HDC dc = GetDC(FWindow);
    const HGDIOBJ old = SelectObject(dc, FFont);
    for (int id :
         {IdLabel1, IdLabel2, IdLabel3, IdLabel4, IdLTexto1, IdLtexto2, IdBtnPropiedades, IdBtnCut, IdBtnCancel}) {
        const HWND control = Control(id);
        RECT place;
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, FWindow, reinterpret_cast<POINT*>(&place), 2);
        const std::wstring text = WindowText(control);
        const bool wrapped = id == IdLTexto1 || id == IdLtexto2;
        const bool button = id == IdBtnPropiedades || id == IdBtnCut || id == IdBtnCancel;
        RECT need{0, 0, wrapped ? place.right - place.left : 0, 0};
        DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | (wrapped ? DT_WORDBREAK : DT_SINGLELINE));
        const int width = need.right + (button ? Px(12) : 0);
        if (wrapped) {
            if (need.bottom > place.bottom - place.top)
                SetWindowPos(control, nullptr, 0, 0, place.right - place.left, need.bottom,
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        } else if (width > place.right - place.left) {
            const bool keepRight = id != IdLabel3 && id != IdLabel4;
            SetWindowPos(control, nullptr, keepRight ? place.right - width : place.left, place.top, width,
                         place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    SelectObject(dc, old);
    ReleaseDC(FWindow, dc);
}

void TFrmPrincipal::Command(int id, int code)
{
    switch (id) {
    case IdBtnCut:
        if (code == BN_CLICKED)
            RunGuarded([this] { BtnCutClick(); });
        break;
    case IdBtnCancel:
        if (code == BN_CLICKED)
            RunGuarded([this] { BtnCancelClick(); });
        break;
    case IdBtnPropiedades:
        if (code == BN_CLICKED)
            RunGuarded([this] { BtnPropiedadesClick(); });
        break;
    case IdButton1:
        if (code == BN_CLICKED)
            RunGuarded([this] { Button1Click(); });
        break;
    case IdBtnStop:
        if (code == BN_CLICKED)
            RunGuarded([this] { BtnStopClick(); });
        break;
    case IdCalibrate: RunGuarded([this] { CalibrateClick(); }); break;
    case IdCmbPosicion:
        if (code == CBN_SELCHANGE)
            RunGuarded([this] { CmbPosicionSelect(); });
        break;
    default: break;
    }
}

void TFrmPrincipal::DrawPicture(const DRAWITEMSTRUCT& item)
{
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    if (item.CtlID == IdImagenHoja)
        DrawPreview(item.hDC, item.rcItem, FDots, FPreview, Scale());
    else if (item.CtlID == IdImagenMedidas)
        DrawSizePicture(item.hDC, item.rcItem, FDots, Scale());
}

int TFrmPrincipal::PositionIndex() const
{
    // The text typed into the field must still name the selected item.
    const HWND combo = Control(IdCmbPosicion);
    const auto index = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    if (index < 0)
        return -1;
    std::wstring item(static_cast<size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
    item.resize(static_cast<size_t>(SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item.data()))));
    return WindowText(combo) == item ? index : -1;
}

void TFrmPrincipal::ShowPreview(int index)
{
    FPreview = index >= 0 && index <= 8 ? index : -1;
    InvalidateRect(Control(IdImagenHoja), nullptr, TRUE);
}

void TFrmPrincipal::SetCaption(int id, const std::string& text)
{
    const HWND label = Control(id);
    const std::wstring wide = Wide(text);
    if (WindowText(label) == wide)
        return;
    // Sized to the caption: up to the button beside it for the name; the
    // status wraps onto a second line instead of running under the button.
    RECT place;
    GetWindowRect(label, &place);
    MapWindowPoints(nullptr, FWindow, reinterpret_cast<POINT*>(&place), 2);
    const int room = Px(380 - 4) - place.left;
    const HDC dc = GetDC(label);
    const HGDIOBJ old = SelectObject(dc, FFont);
    SIZE extent{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    int width = extent.cx + Px(2), height = Px(13);
    if (width > room) {
        width = room;
        if (id == IdLStatus)
            height = Px(26);
    }
    SetWindowPos(label, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(label, wide.c_str());
    // Group box's inside under a shrunk label is repainted.
    InvalidateRect(FWindow, &place, TRUE);
}

void TFrmPrincipal::FormCreate()
{
    SetTimer(FWindow, TimerEstado, 200, nullptr);
    // The name arrives when the server answers; without any device that
    // answer is a failure, reported once. The window is finished either way.
    AskDeviceName();
    IPLT = std::make_shared<TPLT>();
    ShowPreview(TopLeftPreview);
}

void TFrmPrincipal::AskDeviceName()
{
    const int generation = FDeviceGeneration;
    FCalls.Start(
        TWindowCalls::Name, [] { return GetPrinterName(); },
        [this, generation](const std::string& name) {
            if (generation != FDeviceGeneration)
                return;
            SetCaption(IdLImpresora, name);
            FNameKnown = !name.empty();
        },
        [this, generation](const std::string& message, bool definite, TWindowCalls::Clock::time_point began) {
            if (generation == FDeviceGeneration)
                FStatusReports.Failed(message, definite, began);
        });
}

void TFrmPrincipal::FormClose()
{
    StopJobs();
    std::shared_ptr<TPLT> store = std::move(IPLT);
    store.reset();
}

void TFrmPrincipal::BtnCancelClick()
{
    SendMessageW(FWindow, WM_CLOSE, 0, 0);
}

void TFrmPrincipal::BtnPropiedadesClick()
{
    // Only what is known already: the spooler is asked off this thread.
    DeviceIdentity identity;
    DeviceSettings settings;
    const bool haveDevice = Printer().KnownPrinter(identity, settings);
    const std::optional<TSetupChoice> choice =
        ShowPrinterSetup(FWindow, haveDevice ? identity : DeviceIdentity{}, settings);
    if (!choice)
        return;
    if (FCalls.Busy(TWindowCalls::Setup))
        throw EPrinter("The printer setup is still being applied");
    auto chosen = std::make_shared<DeviceSettings>();
    FCalls.Start(
        TWindowCalls::Setup,
        [choice, chosen] {
            std::string notSaved;
            *chosen = SettingsForChoice(*choice, notSaved);
            return notSaved;
        },
        [this, choice, chosen](const std::string& notSaved) {
            Printer().SetPrinter(choice->Identity, *chosen);
            ++FDeviceGeneration;
            FNameKnown = false;
            FStatusReports.Succeeded();
            AskDeviceName();
            if (!notSaved.empty())
                ShowErrorReport(notSaved);
        },
        [](const std::string& message, bool, TWindowCalls::Clock::time_point) { ShowErrorReport(message); });
}

void TFrmPrincipal::CmbPosicionSelect()
{
    ShowPreview(static_cast<int>(SendMessageW(Control(IdCmbPosicion), CB_GETCURSEL, 0, 0)));
}

void TFrmPrincipal::BtnCutClick()
{
    if (!IPLT)
        return; // the window is closing, or never got its store
    // Refused before the store is touched: the job being handed over still
    // reads it.
    if (FCalls.Busy(TWindowCalls::Job))
        throw EPrinter("Printing in progress");
    std::vector<std::string> lines;
    const std::string text = Utf8(WindowText(Control(IdMemo1)));
    size_t start = 0;
    for (;;) {
        const size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    ReadPlotText(*IPLT, lines);
    StartPrint();
}

void TFrmPrincipal::StartJob(std::function<std::string(HandedJob&)> job)
{
    auto handed = std::make_shared<HandedJob>();
    auto leftOut = std::make_shared<std::string>();
    const int generation = FDeviceGeneration;
    FStopNote.clear();
    FCalls.Start(
        TWindowCalls::Job,
        [job = std::move(job), handed, leftOut] {
            const TStopMark stop;
            HandedJob taken;
            try {
                *leftOut = job(taken);
            } catch (...) {
                // Stopped on request: not a failure, and told as what it is.
                if (!stop.Stopped())
                    throw;
                return "stopped after " + StoppedAmount(JobProgressText(CurrentJobProgress()));
            }
            *handed = taken;
            return std::string();
        },
        [this, handed, generation, leftOut](const std::string& stopped) {
            FStopNote = stopped;
            ShowStatus();
            if (handed->Id > 0)
                FFollowed = FollowedJob{*handed, generation, false};
            // A plot cut only in part is told how much was left out.
            if (!leftOut->empty())
                ShowErrorReport(*leftOut);
        },
        // A failed job is the user's own action: reported at once, every time.
        [](const std::string& message, bool, TWindowCalls::Clock::time_point) { ShowErrorReport(message); });
    ShowStatus();
}

void TFrmPrincipal::StartPrint(const std::string& plotFile, const std::vector<int>& pens)
{
    std::shared_ptr<TPLT> plot = IPLT;
    const int position = PositionIndex();
    // A plot file is read on the worker too: a large file or a slow disk
    // must not hold the window. Nothing is printed when the read fails.
    StartJob([plot, position, plotFile, pens](HandedJob& handed) {
        std::vector<std::string> notices;
        const PrintRequest request = ActiveDeviceRequest(position);
        // Read for the job's sheet, which the file may scale to.
        if (!plotFile.empty())
            notices = ReadPlotFile(*plot, plotFile, pens, SheetOf(request.Target.Settings));
        const PrintResult result = PrintPlot(*plot, request);
        handed = result.Job;
        notices.push_back(LeftOutNotice(result.Share));
        // One report, each notice a sentence of its own.
        std::string text;
        for (const std::string& notice : notices) {
            if (notice.empty())
                continue;
            if (!text.empty())
                text = ErrorReportText(text) + "\n";
            text += notice;
        }
        return text;
    });
}

void TFrmPrincipal::StartPattern(const CalibrationCut& cut)
{
    if (FCalls.Busy(TWindowCalls::Job))
        throw EPrinter("Printing in progress");
    const int position = PositionIndex();
    StartJob([cut, position](HandedJob& handed) {
        const PrintResult result = PrintPattern(cut, ActiveDeviceRequest(position));
        handed = result.Job;
        return LeftOutNotice(result.Share);
    });
}

void TFrmPrincipal::CalibrateClick()
{
    DeviceIdentity identity;
    DeviceSettings settings;
    if (!Printer().KnownPrinter(identity, settings) || identity.Device.empty())
        throw EPrinter("Choose a device in Print Setup first");
    ShowCalibrate(FWindow, identity, settings, [this](const CalibrationCut& cut) { StartPattern(cut); });
}

void TFrmPrincipal::Button1Click()
{
    if (!IPLT)
        return;
    const std::optional<TPlotFileChoice> choice = ShowOpenPlotDialog(FWindow, FPensText);
    if (!choice || !IPLT)
        return;
    FPensText = choice->PensText;
    const auto pens = PensFromText(FPensText);
    if (!pens)
        throw EConvertError(Format("\"%1\" is not a list of pens; use pen numbers such as 2 or 1,3, or leave it empty "
                                   "for every pen",
                                   Quoted(FPensText)));
    if (FCalls.Busy(TWindowCalls::Job))
        throw EPrinter("Printing in progress");
    StartPrint(choice->FileName, *pens);
}

void TFrmPrincipal::TimerEstadoTimer()
{
    // The tick never waits: it asks, and the answer is shown when it comes.
    // While an answer is outstanding the tick asks nothing more. A job of
    // ours handed to a queue is asked about in the same call.
    const int generation = FDeviceGeneration;
    const std::optional<HandedJob> followed =
        FFollowed ? std::optional<HandedJob>(FFollowed->Job) : std::optional<HandedJob>();
    auto outcome = std::make_shared<std::optional<TJobOutcome>>();
    FCalls.Start(
        TWindowCalls::Status,
        [followed, outcome] {
            std::string status = GetQueueStatus();
            if (followed) {
                try {
                    *outcome = FollowJob(*followed);
                } catch (const Exception&) {
                    // Asked again next tick; the status has its own reports.
                }
            }
            return status;
        },
        [this, generation, followed, outcome](const std::string& status) {
            if (generation != FDeviceGeneration)
                return;
            FServerStatus = JobFollowed(status, followed, *outcome);
            ShowStatus();
            FStatusReports.Succeeded();
        },
        [this, generation](const std::string& message, bool definite, TWindowCalls::Clock::time_point began) {
            if (generation == FDeviceGeneration)
                FStatusReports.Failed(message, definite, began);
        });
    if (!FNameKnown)
        AskDeviceName();
    // The job's progress needs no server: shown on every tick.
    ShowStatus();
}

void TFrmPrincipal::ShowStatus()
{
    const JobProgress progress = CurrentJobProgress();
    const HWND stop = Control(IdBtnStop);
    if (!progress.Sending && GetFocus() == stop)
        SetFocus(Control(IdBtnCut));
    ShowWindow(stop, progress.Sending ? SW_SHOWNA : SW_HIDE);
    if (progress.Sending) {
        SetCaption(IdLStatus, "Print: " + JobProgressText(progress));
        return;
    }
    if (FServerStatus.empty())
        return; // the server has not answered yet
    SetCaption(IdLStatus, FStopNote.empty() ? FServerStatus : FServerStatus + " (job " + FStopNote + ")");
}

void TFrmPrincipal::BtnStopClick()
{
    StopJobs();
}

std::string TFrmPrincipal::JobFollowed(const std::string& status, const std::optional<HandedJob>& asked,
                                       const std::optional<TJobOutcome>& outcome)
{
    if (!outcome || !asked || !FFollowed || FFollowed->Job.Id != asked->Id || FFollowed->Job.Device != asked->Device)
        return status;
    const bool sameDevice = FFollowed->DeviceGeneration == FDeviceGeneration;
    switch (outcome->State) {
    case TJobOutcome::Completed: FFollowed.reset(); return status;
    case TJobOutcome::Failed: {
        // Reported once; settled before the box, whose loop runs more ticks.
        const bool report = !FFollowed->Reported;
        FFollowed.reset();
        if (report)
            ShowErrorReport(outcome->Message);
        return status;
    }
    case TJobOutcome::Stuck:
        if (!FFollowed->Reported) {
            FFollowed->Reported = true;
            ShowErrorReport(outcome->Message);
        }
        break;
    case TJobOutcome::OnItsWay: break;
    }
    // The reason stands beside the queue's state, for the queue it is about.
    if (!sameDevice || outcome->Reason.empty())
        return status;
    return status + " (" + outcome->Reason + ")";
}

} // namespace

} // namespace winui

int RunOutputTestWindow()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWNORMAL;

    winui::TFrmPrincipal form;
    if (!form.Create(GetModuleHandleW(nullptr), show)) {
        winui::ShowErrorReport(LastOSError().Message());
        return 1;
    }
    ACCEL calibrate{FCONTROL | FVIRTKEY, 'K', static_cast<WORD>(winui::IdCalibrate)};
    const HACCEL keys = CreateAcceleratorTableW(&calibrate, 1);
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (form.Window() && keys && TranslateAcceleratorW(form.Window(), keys, &message))
            continue;
        // Tab, the arrow keys and the Alt accelerators move between the
        // controls as in a dialog.
        if (form.Window() && IsDialogMessageW(form.Window(), &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (keys)
        DestroyAcceleratorTable(keys);
    return got < 0 ? 1 : static_cast<int>(message.wParam);
}
