#include "winui/MainWindow.h"

#include "common/Exceptions.h"
#include "output/Positions.h"
#include "output/WindowSession.h"
#include "platform/PrinterObject.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"
#include "plot/SampleText.h"
#include "winui/CalibrateDialog.h"
#include "winui/ErrorBox.h"
#include "winui/OpenPlotDialog.h"
#include "winui/PrintSetup.h"
#include "winui/WindowPictures.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winui {

namespace {

constexpr UINT_PTR TimerEstado = 1;
// An answer from a worker, to run on the window's thread: a
// std::function<void()> the message owns.
constexpr UINT AnswerMessage = WM_APP + 17;
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

// The window draws the controls and shows what its session (the window's
// behaviour, in output/) tells it.
class TFrmPrincipal : private TWindowView {
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
    void Command(int id, int code);
    void DrawPicture(const DRAWITEMSTRUCT& item);
    void SetCaption(int id, const std::string& text);

    void ShowDeviceName(const std::string& name) override { SetCaption(IdLImpresora, name); }
    void ShowStatus(const std::string& text) override { SetCaption(IdLStatus, text); }
    void ShowStop(bool visible) override;
    void ShowPreview(int index) override;
    void ShowErrorReport(const std::string& message) override { winui::ShowErrorReport(message); }
    bool ErrorReportShowing() const override { return winui::ErrorReportShowing(); }
    int SelectedPosition() const override;
    std::string PositionText() const override;

    HWND FWindow = nullptr;
    int FDpi = 96;
    HFONT FFont = nullptr;
    TSampleDots FDots;
    int FPreview = -1;     // the preview ImagenHoja shows; -1 for none
    HWND FFocus = nullptr; // the control with the keyboard when the window was left
    // From WM_CREATE, when there is a window to hand answers to, until
    // WM_DESTROY, which waits for its workers.
    std::unique_ptr<TWindowSession> FSession;
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
    switch (message) {
    case AnswerMessage: {
        const std::unique_ptr<std::function<void()>> answer(reinterpret_cast<std::function<void()>*>(lParam));
        RunGuarded([&] { (*answer)(); });
        return 0;
    }
    case WM_CREATE: {
        SetErrorReportOwner(FWindow);
        const HWND window = FWindow;
        TWindowView& view = *this;
        FSession = std::make_unique<TWindowSession>(view, [window](std::function<void()> answer) {
            // A window that is gone takes no message: the answer is dropped.
            auto posted = std::make_unique<std::function<void()>>(std::move(answer));
            if (PostMessageW(window, AnswerMessage, 0, reinterpret_cast<LPARAM>(posted.get())))
                posted.release();
        });
        CreateControls();
        // A failure here is reported; the window is still created and shown.
        RunGuarded([this] { FormCreate(); });
        return 0;
    }
    case WM_ACTIVATE:
        // The keyboard goes back to the control that had it, as in a dialog.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            FFocus = focus && IsChild(FWindow, focus) ? focus : nullptr;
        }
        return DefWindowProcW(FWindow, message, wParam, lParam);
    case WM_SETFOCUS: {
        // At first, and where that control is gone: the first in the tab
        // order, so Enter and Space work without a Tab first.
        HWND focus = FFocus;
        if (!focus || !IsChild(FWindow, focus) || !IsWindowVisible(focus) || !IsWindowEnabled(focus))
            focus = GetNextDlgTabItem(FWindow, nullptr, FALSE);
        if (focus)
            SetFocus(focus);
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
        // program alive to the end of the cut; the workers are waited for.
        FSession.reset();
        for (MSG answer; PeekMessageW(&answer, FWindow, AnswerMessage, AnswerMessage, PM_REMOVE);)
            delete reinterpret_cast<std::function<void()>*>(answer.lParam);
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
    SendMessageW(combo, CB_SETCURSEL, TWindowSession::FirstPosition, 0);
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
    // The position's field shows its longest item whole: an edit field too
    // narrow scrolls to its end ("iddle Bottom"). It grows right, short of
    // the preview.
    int longest = 0;
    for (std::string_view text : PositionTexts) {
        const std::wstring wide = Wide(text);
        SIZE extent{};
        GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
        longest = std::max<int>(longest, extent.cx);
    }
    const HWND combo = Control(IdCmbPosicion);
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    RECT place;
    GetWindowRect(combo, &place);
    MapWindowPoints(nullptr, FWindow, reinterpret_cast<POINT*>(&place), 2);
    RECT field{};
    if (GetComboBoxInfo(combo, &parts) && GetClientRect(parts.hwndItem, &field)) {
        // The room the edit field lacks, with its margins and the caret.
        const auto margins = static_cast<DWORD>(SendMessageW(parts.hwndItem, EM_GETMARGINS, 0, 0));
        const int lack = longest + LOWORD(margins) + HIWORD(margins) + Px(4) - (field.right - field.left);
        if (lack > 0) {
            const int width = std::min<int>(place.right - place.left + lack, Px(153 - 6) - place.left);
            SetWindowPos(combo, nullptr, 0, 0, width, place.bottom - place.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    SelectObject(dc, old);
    ReleaseDC(FWindow, dc);
}

void TFrmPrincipal::Command(int id, int code)
{
    if (!FSession)
        return; // the window is being destroyed
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
    case IDOK: {
        // Enter, from the dialog keys, with no default button: the push
        // button that has the keyboard is pressed, as in a dialog.
        const HWND focus = GetFocus();
        if (focus && IsChild(FWindow, focus)
            && (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_UNDEFPUSHBUTTON | DLGC_DEFPUSHBUTTON)))
            SendMessageW(focus, BM_CLICK, 0, 0);
        break;
    }
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

int TFrmPrincipal::SelectedPosition() const
{
    return static_cast<int>(SendMessageW(Control(IdCmbPosicion), CB_GETCURSEL, 0, 0));
}

std::string TFrmPrincipal::PositionText() const
{
    return Utf8(WindowText(Control(IdCmbPosicion)));
}

void TFrmPrincipal::ShowPreview(int index)
{
    FPreview = index;
    InvalidateRect(Control(IdImagenHoja), nullptr, TRUE);
}

void TFrmPrincipal::ShowStop(bool visible)
{
    const HWND stop = Control(IdBtnStop);
    if (!visible && GetFocus() == stop)
        SetFocus(Control(IdBtnCut));
    ShowWindow(stop, visible ? SW_SHOWNA : SW_HIDE);
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
    FSession->Started();
}

void TFrmPrincipal::FormClose()
{
    FSession->Close();
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
    if (choice)
        FSession->ChooseDevice(choice->Identity,
                               [choice](std::string& notSaved) { return SettingsForChoice(*choice, notSaved); });
}

void TFrmPrincipal::CmbPosicionSelect()
{
    FSession->PositionChosen(SelectedPosition());
}

void TFrmPrincipal::BtnCutClick()
{
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
    FSession->Cut(lines);
}

void TFrmPrincipal::CalibrateClick()
{
    DeviceIdentity identity;
    DeviceSettings settings;
    FSession->CalibrationDevice(identity, settings);
    ShowCalibrate(FWindow, identity, settings, [this](const CalibrationCut& cut) { FSession->CutPattern(cut); });
}

void TFrmPrincipal::Button1Click()
{
    if (!FSession->Store())
        return; // the window is closing
    if (const std::optional<TPlotFileChoice> choice = ShowOpenPlotDialog(FWindow, FSession->PensText()))
        FSession->OpenPlot(choice->FileName, choice->PensText);
}

void TFrmPrincipal::TimerEstadoTimer()
{
    FSession->Tick();
}

void TFrmPrincipal::BtnStopClick()
{
    FSession->Stop();
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
