#include "winui/PrintSetup.h"

#include "common/Exceptions.h"
#include "cutter/CutterLanguage.h"
#include "cutter/DeviceSettings.h"
#include "cutter/PrintableArea.h"
#include "output/CutterSettingsModel.h"
#include "output/LineCheck.h"
#include "platform/DeviceCapabilities.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/windows/GdiJob.h"
#include "platform/windows/WinPort.h"
#include "platform/windows/WinText.h"
#include "winui/DialogTemplate.h"

#include <cderr.h>
#include <commdlg.h>
#include <dlgs.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <thread>

namespace winui {

namespace {

constexpr const wchar_t* SetupProperty = L"VellicoPrintSetup";
constexpr WORD IdCutterButton = 0x5001;

// Centred horizontally on the monitor, a third of the way down the free
// space.
void PlaceOnMonitor(HWND dialog)
{
    RECT box;
    GetWindowRect(dialog, &box);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& area = monitor.rcWork;
    const int width = box.right - box.left, height = box.bottom - box.top;
    SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 3, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

struct TSetupContext {
    DeviceIdentity Current;
    DeviceSettings CurrentSettings;
    std::string CutterDevice;
    std::optional<DeviceSettings> Cutter;
    std::string Port{}; // a COM port picked in place of the printers
};

std::wstring ItemText(HWND control)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// A combo box's item.
std::wstring ItemText(HWND list, int item)
{
    const auto length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(item), 0);
    if (length < 0)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

constexpr const wchar_t* NoPort = L"None: the printer above";

// A port stands in for the printers, whose controls wait meanwhile.
void PortPicked(HWND dialog, TSetupContext& context)
{
    const HWND list = GetDlgItem(dialog, IdSetupPortList);
    const auto item = SendMessageW(list, CB_GETCURSEL, 0, 0);
    context.Port = item > 0 ? Utf8(ItemText(list, static_cast<int>(item))) : std::string();
    for (const int id : {cmb1, cmb2, cmb3, rad1, rad2, psh1, psh2})
        if (const HWND control = GetDlgItem(dialog, id))
            EnableWindow(control, context.Port.empty());
}

// Below the system's controls: the machine's COM ports, which the spooler
// does not list, for a cutter the program writes itself.
void AddPortList(HWND dialog, TSetupContext& context, RECT row)
{
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    const auto font = SendMessageW(dialog, WM_GETFONT, 0, 0);
    const HDC dc = GetDC(dialog);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(font));
    const wchar_t* const caption = L"or a COM &port:";
    RECT need{0, 0, 0, 0};
    DrawTextW(dc, caption, -1, &need, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    const int height = row.bottom - row.top, labelWidth = need.right + 4;
    const HWND label = CreateWindowExW(0, L"STATIC", caption, WS_CHILD | WS_VISIBLE | SS_RIGHT | SS_CENTERIMAGE,
                                       row.left, row.top, labelWidth, height, dialog, nullptr, instance, nullptr);
    SendMessageW(label, WM_SETFONT, font, FALSE);
    const HWND list = CreateWindowExW(
        0, L"COMBOBOX", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
        row.left + labelWidth + 4, row.top, std::max<int>(row.right - row.left - labelWidth - 4, height * 4),
        height * 8, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdSetupPortList)), instance, nullptr);
    SendMessageW(list, WM_SETFONT, font, FALSE);
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(NoPort));
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    for (const std::string& port : ListComPorts()) {
        const auto item = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(port).c_str()));
        // Opened on the port in use.
        if (IsComPortName(context.Current.Device) && port == ComPortsInOrder({context.Current.Device})[0])
            SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    }
    PortPicked(dialog, context);
}

// The device picked now: a COM port of our list, else the system's printer.
std::string PickedDevice(HWND dialog, const TSetupContext& context)
{
    return context.Port.empty() ? Utf8(ItemText(GetDlgItem(dialog, cmb1))) : context.Port;
}

UINT_PTR CALLBACK SetupHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const auto* pd = reinterpret_cast<const PRINTDLGW*>(lParam);
        SetPropW(dialog, SetupProperty, reinterpret_cast<HANDLE>(pd->lCustData));
        // Room below the system's controls for the cutter settings button.
        RECT box, client;
        GetWindowRect(dialog, &box);
        GetClientRect(dialog, &client);
        RECT unit{0, 0, 4, 8};
        MapDialogRect(dialog, &unit);
        const int margin = unit.right * 7 / 4, buttonHeight = unit.bottom * 14 / 8, buttonWidth = unit.right * 90 / 4;
        SetWindowPos(dialog, nullptr, 0, 0, box.right - box.left, box.bottom - box.top + buttonHeight + margin,
                     SWP_NOMOVE | SWP_NOZORDER);
        const HWND button =
            CreateWindowExW(0, L"BUTTON", L"C&utter Settings...", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                            margin, client.bottom, buttonWidth, buttonHeight, dialog,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdCutterButton)),
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE)), nullptr);
        SendMessageW(button, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
        AddPortList(dialog, *reinterpret_cast<TSetupContext*>(pd->lCustData),
                    {margin * 2 + buttonWidth, client.bottom, client.right - margin, client.bottom + buttonHeight});
        PlaceOnMonitor(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IdSetupPortList && HIWORD(wParam) == CBN_SELCHANGE) {
        if (auto* context = static_cast<TSetupContext*>(GetPropW(dialog, SetupProperty)))
            PortPicked(dialog, *context);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IdCutterButton && HIWORD(wParam) == BN_CLICKED) {
        auto* context = static_cast<TSetupContext*>(GetPropW(dialog, SetupProperty));
        if (!context)
            return TRUE;
        const std::string device = PickedDevice(dialog, *context);
        std::optional<DeviceSettings> chosen;
        if (context->Cutter && context->CutterDevice == device)
            chosen = context->Cutter;
        else if (device == context->Current.Device)
            chosen = context->CurrentSettings;
        DeviceSettings settings;
        try {
            settings = SettingsToShow(chosen, [&device] {
                KnownSettings known{std::nullopt, DefaultSettings(device)};
                known.Remembered = RememberedSettings(device, known.Defaults);
                return known;
            });
        } catch (const Exception& e) {
            MessageBoxW(dialog, Wide(e.Message()).c_str(), L"Vellico Output Test", MB_OK | MB_ICONSTOP);
            return TRUE;
        }
        if (ShowCutterSettings(dialog, device, settings)) {
            context->CutterDevice = device;
            context->Cutter = settings;
        }
        return TRUE;
    }
    if (message == WM_DESTROY)
        RemovePropW(dialog, SetupProperty);
    (void)lParam;
    return 0;
}

HGLOBAL DevNames(const DeviceIdentity& identity)
{
    const std::wstring driver = Wide(identity.Driver), device = Wide(identity.Device), port = Wide(identity.Port);
    const size_t chars = driver.size() + device.size() + port.size() + 3;
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DEVNAMES) + chars * sizeof(wchar_t));
    if (!block)
        return nullptr;
    auto* names = static_cast<DEVNAMES*>(GlobalLock(block));
    auto* text = reinterpret_cast<wchar_t*>(names + 1);
    const WORD base = sizeof(DEVNAMES) / sizeof(wchar_t);
    names->wDriverOffset = base;
    wcscpy(text, driver.c_str());
    names->wDeviceOffset = static_cast<WORD>(base + driver.size() + 1);
    wcscpy(text + driver.size() + 1, device.c_str());
    names->wOutputOffset = static_cast<WORD>(names->wDeviceOffset + device.size() + 1);
    wcscpy(text + driver.size() + device.size() + 2, port.c_str());
    GlobalUnlock(block);
    return block;
}

bool SameWord(const std::string& a, const std::string& b)
{
    return CompareStringOrdinal(Wide(a).c_str(), -1, Wide(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

constexpr const wchar_t* SendAsNames[] = {L"Printer driver", L"HPGL", L"DMPL", L"GP-GL", L"CAMM-GL"};
constexpr std::pair<WORD, LineField> LineLists[] = {{IdSpeed, LineField::Speed},
                                                    {IdBits, LineField::DataBits},
                                                    {IdParity, LineField::Parity},
                                                    {IdStopBits, LineField::StopBits},
                                                    {IdFlow, LineField::Flow}};
constexpr std::pair<CutterField, WORD> FieldControls[] = {
    {CutterField::SheetWidth, IdSheetWidth},
    {CutterField::SheetLength, IdSheetLength},
    {CutterField::ScaleX, IdScaleX},
    {CutterField::ScaleY, IdScaleY},
    {CutterField::BladeOffset, IdBladeOffset},
    {CutterField::Overcut, IdOvercut},
    {CutterField::Force, IdForce},
    {CutterField::Speed, IdToolSpeed},
    {CutterField::Flow, IdFlow},
};

struct TCutterState {
    std::string Device;
    // The settings as the fields began, then as the last change of language
    // left them.
    DeviceSettings Settings;
    // Check the line: this dialog's number, so a sentence posted for an
    // earlier dialog with the same window handle is not shown; whether the
    // cutter is being asked.
    unsigned Dialog = 0;
    bool Checking = false;
};

// A line check's sentence handed to the dialog's thread: WPARAM the
// dialog's number, LPARAM a std::string the dialog deletes.
constexpr UINT LineChecked = WM_APP + 34;
std::atomic<unsigned> DialogsOpened{0};

std::wstring Number(double value)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%g", value);
    return text;
}

std::string FieldText(HWND dialog, WORD id)
{
    return Utf8(ItemText(GetDlgItem(dialog, id)));
}

int Selected(HWND dialog, WORD id)
{
    return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

SendAs SelectedLanguage(HWND dialog, const TCutterState& state)
{
    const int index = Selected(dialog, IdSendAs);
    if (index < 0)
        return state.Settings.Language;
    return static_cast<SendAs>(SendDlgItemMessageW(dialog, IdSendAs, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

void ShowSheet(HWND dialog, const DeviceSettings& s)
{
    SetDlgItemTextW(dialog, IdSheetWidth, s.PaperWidthMm > 0 ? Number(s.PaperWidthMm).c_str() : L"");
    SetDlgItemTextW(dialog, IdSheetLength, s.PaperHeightMm > 0 ? Number(s.PaperHeightMm).c_str() : L"");
}

void ShowTools(HWND dialog, const DeviceSettings& s)
{
    SetDlgItemTextW(dialog, IdForce, Number(s.Corrections.Force).c_str());
    SetDlgItemTextW(dialog, IdToolSpeed, Number(s.Corrections.Speed).c_str());
}

void UpdateCutterControls(HWND dialog, const TCutterState& state)
{
    const CutterControls offered = OfferedControls(DeviceKindOf(state.Device), SelectedLanguage(dialog, state));
    const std::pair<WORD, bool> controls[] = {
        {IdSheetWidth, offered.SheetSize},
        {IdSheetLength, offered.SheetSize},
        {IdRotate90, offered.Axes},
        {IdMirrorX, offered.Axes},
        {IdMirrorY, offered.Axes},
        {IdBladeOffset, offered.PathCorrections},
        {IdOvercut, offered.PathCorrections},
        {IdForce, offered.Force},
        {IdToolSpeed, offered.Speed},
    };
    for (const auto& [id, enabled] : controls)
        EnableWindow(GetDlgItem(dialog, id), enabled);
    for (const auto& [id, field] : LineLists)
        EnableWindow(GetDlgItem(dialog, id), offered.SerialLine);
    EnableWindow(GetDlgItem(dialog, IdCheckLine), offered.SerialLine && !state.Checking);
}

// Asks the cutter on a worker thread, with the line and language as the
// fields show them now; each question is bounded, so the answer comes. The
// worker never waits on the dialog: once it is gone the sentence is dropped.
void CheckLine(HWND dialog, TCutterState& state)
{
    if (state.Checking)
        return;
    DeviceSettings settings = state.Settings;
    settings.Language = SelectedLanguage(dialog, state);
    for (const auto& [id, field] : LineLists)
        TakeLineOption(field, Selected(dialog, id), settings.Line);
    state.Checking = true;
    SetDlgItemTextW(dialog, IdCheckLineText, L"Asking the cutter...");
    UpdateCutterControls(dialog, state);
    std::thread([dialog, number = state.Dialog, device = state.Device, settings] {
        auto sentence = std::make_unique<std::string>(LineCheckSentence(device, settings));
        if (PostMessageW(dialog, LineChecked, number, reinterpret_cast<LPARAM>(sentence.get())))
            sentence.release();
    }).detach();
}

// The sheet and the force and speed as the fields hold them, taken into
// another language.
void LanguageChosen(HWND dialog, TCutterState& state)
{
    DeviceSettings& s = state.Settings;
    const SendAs language = SelectedLanguage(dialog, state);
    if (language == s.Language)
        return;
    for (const auto& [id, field] :
         {std::pair(IdForce, &CutterCorrections::Force), std::pair(IdToolSpeed, &CutterCorrections::Speed)})
        s.Corrections.*field = ::FieldNumber(FieldText(dialog, id), {0, MaxToolValue}).value_or(0);
    // The system's dialog picks a driver's paper; a sheet typed for one
    // cutter language stays for another.
    const DeviceSettings before = s;
    ChangeLanguage(s, language);
    if (!SameSheetSize(before, s))
        ShowSheet(dialog, s);
    ShowTools(dialog, s);
    UpdateCutterControls(dialog, state);
}

void FillCutterDialog(HWND dialog, TCutterState& state)
{
    DeviceSettings& s = state.Settings;
    const DeviceKind kind = DeviceKindOf(state.Device);
    // A port set to the driver is sent HPGL.
    if (!OffersLanguage(kind, s.Language))
        ChangeLanguage(s, SendAs::HPGL);
    const HWND languages = GetDlgItem(dialog, IdSendAs);
    for (const SendAs language : {SendAs::Driver, SendAs::HPGL, SendAs::DMPL, SendAs::GPGL, SendAs::CAMMGL}) {
        if (!OffersLanguage(kind, language))
            continue;
        const auto item =
            SendMessageW(languages, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(SendAsNames[static_cast<int>(language)]));
        SendMessageW(languages, CB_SETITEMDATA, static_cast<WPARAM>(item), static_cast<LPARAM>(language));
        if (language == s.Language)
            SendMessageW(languages, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    }
    ShowSheet(dialog, s);
    ShowTools(dialog, s);
    CheckDlgButton(dialog, IdRotate90, s.Rotate90 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IdMirrorX, s.MirrorX ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IdMirrorY, s.MirrorY ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(dialog, IdScaleX, Number(s.Corrections.ScaleXPercent).c_str());
    SetDlgItemTextW(dialog, IdScaleY, Number(s.Corrections.ScaleYPercent).c_str());
    SetDlgItemTextW(dialog, IdBladeOffset, Number(s.Corrections.BladeOffsetMm).c_str());
    SetDlgItemTextW(dialog, IdOvercut, Number(s.Corrections.OvercutMm).c_str());
    for (const auto& [id, field] : LineLists) {
        const HWND list = GetDlgItem(dialog, id);
        for (const LineOption& option : LineOptions(field))
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(option.Caption).c_str()));
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(LineOptionIndex(field, s.Line)), 0);
    }
    UpdateCutterControls(dialog, state);
}

// Takes the fields into the state's settings; false (after saying which
// field is wrong) when one holds no usable value, and they are then left
// alone.
bool ReadCutterDialog(HWND dialog, TCutterState& state)
{
    CutterFields f;
    f.Language = SelectedLanguage(dialog, state);
    f.SheetWidth = FieldText(dialog, IdSheetWidth);
    f.SheetLength = FieldText(dialog, IdSheetLength);
    f.Rotate90 = IsDlgButtonChecked(dialog, IdRotate90) == BST_CHECKED;
    f.MirrorX = IsDlgButtonChecked(dialog, IdMirrorX) == BST_CHECKED;
    f.MirrorY = IsDlgButtonChecked(dialog, IdMirrorY) == BST_CHECKED;
    f.ScaleX = FieldText(dialog, IdScaleX);
    f.ScaleY = FieldText(dialog, IdScaleY);
    f.BladeOffset = FieldText(dialog, IdBladeOffset);
    f.Overcut = FieldText(dialog, IdOvercut);
    f.Force = FieldText(dialog, IdForce);
    f.Speed = FieldText(dialog, IdToolSpeed);
    f.Line = state.Settings.Line;
    for (const auto& [id, field] : LineLists)
        TakeLineOption(field, Selected(dialog, id), f.Line);
    const CutterFieldsReading reading = ReadCutterFields(state.Settings, f);
    if (!reading.Settings) {
        MessageBoxW(dialog, Wide(reading.Message).c_str(), L"Vellico Output Test", MB_OK | MB_ICONSTOP);
        for (const auto& [field, id] : FieldControls)
            if (field == reading.Wrong)
                SetFocus(GetDlgItem(dialog, id));
        return false;
    }
    state.Settings = *reading.Settings;
    return true;
}

INT_PTR CALLBACK CutterProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<TCutterState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        reinterpret_cast<TCutterState*>(lParam)->Dialog = ++DialogsOpened;
        FillCutterDialog(dialog, *reinterpret_cast<TCutterState*>(lParam));
        PlaceOnMonitor(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IdSendAs && HIWORD(wParam) == CBN_SELCHANGE && state)
            LanguageChosen(dialog, *state);
        if (LOWORD(wParam) == IdCheckLine && HIWORD(wParam) == BN_CLICKED && state)
            CheckLine(dialog, *state);
        if (LOWORD(wParam) == IDOK && state && ReadCutterDialog(dialog, *state))
            EndDialog(dialog, IDOK);
        if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    case LineChecked: {
        const std::unique_ptr<std::string> sentence(reinterpret_cast<std::string*>(lParam));
        if (state && wParam == state->Dialog) {
            state->Checking = false;
            SetDlgItemTextW(dialog, IdCheckLineText, Wide(*sentence).c_str());
            UpdateCutterControls(dialog, *state);
        }
        return TRUE;
    }
    default: return FALSE;
    }
}

} // namespace

std::optional<double> FieldNumber(const std::wstring& text, double low, double high)
{
    return ::FieldNumber(Utf8(text), {low, high});
}

void TakeCutterSettings(DeviceSettings& settings, const DeviceSettings& cutter)
{
    settings.Language = cutter.Language;
    settings.Corrections = cutter.Corrections;
    settings.Line = cutter.Line;
    // A driver's job keeps the paper chosen for the driver; the cutter's
    // axes and sheet are the cutter languages' own.
    if (cutter.Language == SendAs::Driver)
        return;
    settings.Rotate90 = cutter.Rotate90;
    settings.MirrorX = cutter.MirrorX;
    settings.MirrorY = cutter.MirrorY;
    if (cutter.PaperWidthMm > 0 && cutter.PaperHeightMm > 0)
        TakeSheet(settings, cutter);
}

bool ShowCutterSettings(HWND owner, const std::string& device, DeviceSettings& settings)
{
    TDialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 250, 241, L"Cutter Settings");
    using D = TDialogTemplate;
    const DWORD label = SS_RIGHT, list = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                edit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, check = BS_AUTOCHECKBOX | WS_TABSTOP;
    t.Item(D::StaticClass, 0xFFFF, L"Send &as:", label, 7, 9, 70, 9);
    t.Item(D::ComboClass, IdSendAs, L"", list, 82, 7, 100, 80);
    t.Item(D::ButtonClass, 0xFFFF, L"Cutter", BS_GROUPBOX, 7, 24, 236, 56);
    t.Item(D::StaticClass, 0xFFFF, L"Sheet &width x length:", label, 12, 38, 70, 9);
    t.Item(D::EditClass, IdSheetWidth, L"", edit, 86, 36, 50, 12);
    t.Item(D::StaticClass, 0xFFFF, L"x", SS_CENTER, 137, 38, 8, 9);
    t.Item(D::EditClass, IdSheetLength, L"", edit, 146, 36, 50, 12);
    t.Item(D::StaticClass, 0xFFFF, L"mm", SS_LEFT, 200, 38, 20, 9);
    t.Item(D::ButtonClass, IdRotate90, L"&Rotate 90\u00b0", check, 16, 58, 60, 10);
    t.Item(D::ButtonClass, IdMirrorX, L"Mirror &X", check, 86, 58, 50, 10);
    t.Item(D::ButtonClass, IdMirrorY, L"Mirror &Y", check, 146, 58, 50, 10);
    t.Item(D::ButtonClass, 0xFFFF, L"Corrections (0 is off for all but the scale)", BS_GROUPBOX, 7, 84, 236, 63);
    t.Item(D::StaticClass, 0xFFFF, L"S&cale x, y (%):", label, 12, 97, 70, 9);
    t.Item(D::EditClass, IdScaleX, L"", edit, 86, 95, 50, 12);
    t.Item(D::EditClass, IdScaleY, L"", edit, 146, 95, 50, 12);
    t.Item(D::StaticClass, 0xFFFF, L"Blade &offset (mm):", label, 12, 114, 70, 9);
    t.Item(D::EditClass, IdBladeOffset, L"", edit, 86, 112, 40, 12);
    t.Item(D::StaticClass, 0xFFFF, L"O&vercut (mm):", label, 126, 114, 56, 9);
    t.Item(D::EditClass, IdOvercut, L"", edit, 186, 112, 40, 12);
    t.Item(D::StaticClass, 0xFFFF, L"&Knife force:", label, 12, 131, 70, 9);
    t.Item(D::EditClass, IdForce, L"", edit, 86, 129, 40, 12);
    t.Item(D::StaticClass, 0xFFFF, L"C&utting speed:", label, 126, 131, 56, 9);
    t.Item(D::EditClass, IdToolSpeed, L"", edit, 186, 129, 40, 12);
    t.Item(D::ButtonClass, 0xFFFF, L"Serial line (COM ports)", BS_GROUPBOX, 7, 151, 236, 64);
    t.Item(D::StaticClass, 0xFFFF, L"Spee&d:", SS_LEFT, 12, 163, 30, 9);
    t.Item(D::ComboClass, IdSpeed, L"", list, 12, 172, 44, 100);
    t.Item(D::StaticClass, 0xFFFF, L"&Bits:", SS_LEFT, 60, 163, 20, 9);
    t.Item(D::ComboClass, IdBits, L"", list, 60, 172, 26, 60);
    t.Item(D::StaticClass, 0xFFFF, L"Pa&rity:", SS_LEFT, 90, 163, 36, 9);
    t.Item(D::ComboClass, IdParity, L"", list, 90, 172, 40, 60);
    t.Item(D::StaticClass, 0xFFFF, L"&Stop bits:", SS_LEFT, 134, 163, 33, 9);
    t.Item(D::ComboClass, IdStopBits, L"", list, 134, 172, 30, 60);
    t.Item(D::StaticClass, 0xFFFF, L"&Flow:", SS_LEFT, 168, 163, 36, 9);
    t.Item(D::ComboClass, IdFlow, L"", list, 168, 172, 70, 60);
    t.Item(D::ButtonClass, IdCheckLine, L"Chec&k the line", BS_PUSHBUTTON | WS_TABSTOP, 12, 190, 60, 14);
    t.Item(D::StaticClass, IdCheckLineText, L"", SS_LEFT, 76, 188, 162, 25);
    t.Item(D::ButtonClass, IDOK, L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 139, 221, 50, 14);
    t.Item(D::ButtonClass, IDCANCEL, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 193, 221, 50, 14);
    TCutterState state{device, settings};
    const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Data(), owner, CutterProcedure,
                                                   reinterpret_cast<LPARAM>(&state));
    if (answer != IDOK)
        return false;
    settings = state.Settings;
    return true;
}

std::optional<TSetupChoice> ShowPrinterSetup(HWND owner, const DeviceIdentity& current,
                                             const DeviceSettings& currentSettings)
{
    TSetupContext context{current, currentSettings, {}, {}};
    PRINTDLGW pd{};
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = owner;
    // A port is no printer of the system's dialog: it opens on the default.
    pd.hDevNames = current.Device.empty() || IsComPortName(current.Device) ? nullptr : DevNames(current);
    // Opened on a copy of the current DEVMODE, so the paper shown is the one
    // the jobs are drawn on.
    if (pd.hDevNames && !currentSettings.DriverMode.empty()) {
        pd.hDevMode = GlobalAlloc(GMEM_MOVEABLE, currentSettings.DriverMode.size());
        if (void* block = pd.hDevMode ? GlobalLock(pd.hDevMode) : nullptr) {
            std::memcpy(block, currentSettings.DriverMode.data(), currentSettings.DriverMode.size());
            GlobalUnlock(pd.hDevMode);
        } else if (pd.hDevMode) {
            GlobalFree(pd.hDevMode);
            pd.hDevMode = nullptr;
        }
    }
    pd.Flags = PD_PRINTSETUP | PD_ENABLESETUPHOOK | PD_ENABLEPRINTHOOK;
    pd.lpfnSetupHook = SetupHook;
    pd.lpfnPrintHook = SetupHook;
    pd.lCustData = reinterpret_cast<LPARAM>(&context);
    const BOOL confirmed = PrintDlgW(&pd);
    std::optional<TSetupChoice> choice;
    if (confirmed && pd.hDevNames) {
        const auto* names = static_cast<const DEVNAMES*>(GlobalLock(pd.hDevNames));
        const auto* text = reinterpret_cast<const wchar_t*>(names);
        choice.emplace();
        choice->Identity.Device = Utf8(text + names->wDeviceOffset);
        choice->Identity.Driver = Utf8(text + names->wDriverOffset);
        choice->Identity.Port = Utf8(text + names->wOutputOffset);
        GlobalUnlock(pd.hDevNames);
        if (pd.hDevMode) {
            const auto* mode = static_cast<const DEVMODEW*>(GlobalLock(pd.hDevMode));
            if (mode->dmFields & DM_ORIENTATION)
                choice->Landscape = mode->dmOrientation == DMORIENT_LANDSCAPE;
            if (mode->dmFields & DM_FORMNAME)
                choice->PaperName = Utf8(mode->dmFormName);
            // Kept whole, the driver's own part too, for the jobs.
            const std::size_t size = std::size_t{mode->dmSize} + mode->dmDriverExtra;
            if (size <= GlobalSize(pd.hDevMode)) {
                const auto* bytes = reinterpret_cast<const std::byte*>(mode);
                choice->DriverMode.assign(bytes, bytes + size);
            }
            GlobalUnlock(pd.hDevMode);
        }
        if (context.Cutter && context.CutterDevice == choice->Identity.Device)
            choice->Cutter = context.Cutter;
    }
    // A COM port picked below the printers is the device instead.
    if (confirmed && !context.Port.empty()) {
        choice.emplace();
        choice->Identity = {context.Port, {}, context.Port};
        if (context.Cutter && context.CutterDevice == context.Port)
            choice->Cutter = context.Cutter;
    }
    if (pd.hDevNames)
        GlobalFree(pd.hDevNames);
    if (pd.hDevMode)
        GlobalFree(pd.hDevMode);
    // With no printer at all the system's dialog has told the user itself.
    const DWORD failure = confirmed ? 0 : CommDlgExtendedError();
    if (failure != 0 && failure != PDERR_NODEFAULTPRN && failure != PDERR_NODEVICES)
        throw EOSError(Format("The printer setup dialog failed (%1)", std::to_string(failure)),
                       static_cast<int>(failure));
    return choice;
}

DeviceSettings SettingsForChoice(const TSetupChoice& choice, std::string& notSaved)
{
    const std::string& device = choice.Identity.Device;
    const DeviceSettings defaults = DefaultSettings(device);
    DeviceSettings settings = RememberedSettings(device, defaults).value_or(defaults);
    if (choice.Cutter)
        ChangeLanguage(settings, choice.Cutter->Language, [&] {
            return DriverPapers{SupportedPapers(device), defaults};
        });
    // The page the driver gives for the DEVMODE chosen, which its jobs are
    // drawn with; a cutter language keeps its own sheet.
    const std::optional<DeviceSettings> page =
        choice.DriverMode.empty() ? std::nullopt : DriverPage(device, choice.DriverMode);
    settings.DriverMode.clear();
    if (page && settings.Language == SendAs::Driver) {
        TakeSheet(settings, *page);
        settings.ResolutionDpi = page->ResolutionDpi;
        settings.DriverMode = choice.DriverMode;
    } else if (!choice.PaperName.empty() && settings.Language == SendAs::Driver) {
        for (const DeviceSettings& paper : SupportedPapers(device)) {
            if (!SameWord(paper.PaperName, choice.PaperName))
                continue;
            TakeSheet(settings, paper);
            settings.ResolutionDpi = paper.ResolutionDpi;
            break;
        }
    }
    if (choice.Landscape)
        settings.Landscape = *choice.Landscape;
    if (choice.Cutter)
        TakeCutterSettings(settings, *choice.Cutter);
    // A DEVMODE is a driver's: a job in a cutter language has no use for it.
    if (settings.Language != SendAs::Driver)
        settings.DriverMode.clear();
    notSaved.clear();
    try {
        SaveSettings(device, settings);
    } catch (const Exception& e) {
        notSaved = e.Message();
    }
    return settings;
}

} // namespace winui
