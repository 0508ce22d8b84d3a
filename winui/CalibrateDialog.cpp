#include "winui/CalibrateDialog.h"

#include "common/Exceptions.h"
#include "common/Text.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/windows/WinText.h"
#include "winui/DialogTemplate.h"
#include "winui/ErrorBox.h"
#include "winui/PrintSetup.h"

#include <cmath>
#include <cstdio>

namespace winui {

namespace {

enum CalibrateControl : WORD {
    IdPattern = 300,
    IdLengthLabel,
    IdLength,
    IdFromLabel,
    IdFrom,
    IdToLabel,
    IdTo,
    IdStepLabel,
    IdStep,
    IdOrder,
    IdCut,
    IdXLabel,
    IdMeasuredX,
    IdYLabel,
    IdMeasuredY,
    IdBestLabel,
    IdBest,
    IdChange,
    IdKeep,
};

// The pattern list's items, in order.
constexpr CalibrationPattern Patterns[] = {CalibrationPattern::Scale, CalibrationPattern::Ladder,
                                           CalibrationPattern::TestCut, CalibrationPattern::Sample};

struct TCalibrateState {
    DeviceIdentity Identity;
    DeviceSettings Settings;
    std::function<void(const CalibrationCut&)> Cut;
    bool Filling = false;
};

std::string Mm(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f mm", v);
    return v > 0 ? text : "off";
}

std::string Percent(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %%", v);
    return text;
}

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// A field's number, or EConvertError naming the field and its range.
double Field(HWND dialog, WORD id, const char* what, double low, double high)
{
    wchar_t text[64] = {};
    GetDlgItemTextW(dialog, id, text, 64);
    if (const std::optional<double> value = FieldNumber(text, low, high))
        return *value;
    throw EConvertError(Format("%1: enter a number from %2 to %3", what, Number(low), Number(high)));
}

CalibrationPattern ChosenPattern(HWND dialog)
{
    const auto index = SendDlgItemMessageW(dialog, IdPattern, CB_GETCURSEL, 0, 0);
    return index >= 0 && index < 4 ? Patterns[index] : CalibrationPattern::Sample;
}

CalibrationCut Pattern(HWND dialog)
{
    CalibrationCut cut;
    cut.Pattern = ChosenPattern(dialog);
    if (cut.Pattern == CalibrationPattern::Scale)
        cut.LengthMm = Field(dialog, IdLength, "Line length", MinScaleLengthMm, 5000);
    if (cut.Pattern == CalibrationPattern::Ladder)
        cut.Offsets = {Field(dialog, IdFrom, "Offsets from", 0, MaxBladeOffsetMm),
                       Field(dialog, IdTo, "Offsets to", 0, MaxBladeOffsetMm),
                       Field(dialog, IdStep, "Steps of", 0.01, MaxBladeOffsetMm)};
    return cut;
}

CutterCorrections Proposed(HWND dialog, const TCalibrateState& state)
{
    const CalibrationCut cut = Pattern(dialog);
    CutterCorrections c = state.Settings.Corrections;
    if (cut.Pattern == CalibrationPattern::Scale) {
        c.ScaleXPercent =
            ComposedScalePercent(c.ScaleXPercent, cut.LengthMm, Field(dialog, IdMeasuredX, "Line X", 1, 10000));
        c.ScaleYPercent =
            ComposedScalePercent(c.ScaleYPercent, cut.LengthMm, Field(dialog, IdMeasuredY, "Line Y", 1, 10000));
    } else if (cut.Pattern == CalibrationPattern::Ladder) {
        const std::vector<double> offsets = LadderOffsets(cut.Offsets);
        const double best = Field(dialog, IdBest, "Best square", 1, static_cast<double>(offsets.size()));
        if (best != std::floor(best))
            throw EConvertError(Format("The ladder has squares 1 to %1", std::to_string(offsets.size())));
        c.BladeOffsetMm = offsets[static_cast<size_t>(best) - 1];
    }
    return c;
}

void SetText(HWND dialog, WORD id, const std::string& text)
{
    SetDlgItemTextW(dialog, id, Wide(text).c_str());
}

void ShowChange(HWND dialog, const TCalibrateState& state)
{
    const CutterCorrections& old = state.Settings.Corrections;
    std::string text;
    bool can = false;
    try {
        const CutterCorrections c = Proposed(dialog, state);
        switch (ChosenPattern(dialog)) {
        case CalibrationPattern::Scale:
            text = "Scale x: " + Percent(old.ScaleXPercent) + " \xe2\x86\x92 " + Percent(c.ScaleXPercent)
                   + ", y: " + Percent(old.ScaleYPercent) + " \xe2\x86\x92 " + Percent(c.ScaleYPercent);
            can = true;
            break;
        case CalibrationPattern::Ladder:
            text = "Blade offset: " + Mm(old.BladeOffsetMm) + " \xe2\x86\x92 " + Mm(c.BladeOffsetMm);
            can = state.Settings.Language != SendAs::Driver;
            break;
        default: text = "Nothing to measure: this cut checks the corrections as kept."; break;
        }
    } catch (const Exception& e) {
        text = e.Message();
    }
    SetText(dialog, IdChange, text);
    EnableWindow(GetDlgItem(dialog, IdKeep), can);
}

void PatternChosen(HWND dialog, const TCalibrateState& state)
{
    const CalibrationPattern pattern = ChosenPattern(dialog);
    const int show[] = {pattern == CalibrationPattern::Scale ? SW_SHOW : SW_HIDE,
                        pattern == CalibrationPattern::Ladder ? SW_SHOW : SW_HIDE};
    for (WORD id : {IdLengthLabel, IdLength, IdXLabel, IdMeasuredX, IdYLabel, IdMeasuredY})
        ShowWindow(GetDlgItem(dialog, id), show[0]);
    for (WORD id : {IdFromLabel, IdFrom, IdToLabel, IdTo, IdStepLabel, IdStep, IdBestLabel, IdBest})
        ShowWindow(GetDlgItem(dialog, id), show[1]);
    std::string order;
    switch (pattern) {
    case CalibrationPattern::Scale:
        order = "Measure each line between the ticks at its ends. The line marked X runs along x, the one marked Y "
                "along y.";
        break;
    case CalibrationPattern::Ladder:
        try {
            const std::vector<double> offsets = LadderOffsets(Pattern(dialog).Offsets);
            order = Format("%1 squares, left to right; the ticks under each count its number (a long tick is "
                           "five). Square 1 is cut with %2, the last with %3. Pick the one whose corners are sharp "
                           "and without loops.",
                           std::to_string(offsets.size()), Mm(offsets.front()), Mm(offsets.back()));
        } catch (const Exception& e) {
            order = e.Message();
        }
        if (state.Settings.Language == SendAs::Driver)
            order += " Through the printer driver, blade offset belongs to the driver: the squares come out alike.";
        break;
    case CalibrationPattern::TestCut:
        order = "Triangle not cut through: more force. Backing scored: less force. Rounded corners: more blade "
                "offset.";
        break;
    case CalibrationPattern::Sample: order = "The sample, with the device's corrections."; break;
    // Not in this dialog's list: the command line cuts and reads them.
    case CalibrationPattern::Square:
    case CalibrationPattern::Grid: break;
    }
    SetText(dialog, IdOrder, order);
    ShowChange(dialog, state);
}

void CutClick(HWND dialog, TCalibrateState& state)
{
    const CalibrationCut cut = Pattern(dialog);
    std::vector<double> unused;
    PatternPlot(cut, state.Settings, unused); // a pattern that does not fit is reported before any job
    state.Cut(cut);
}

void KeepClick(HWND dialog, TCalibrateState& state)
{
    DeviceSettings s = state.Settings;
    s.Corrections = RoundedCorrections(Proposed(dialog, state));
    if (const std::string problem = CorrectionsProblem(s.Corrections); !problem.empty())
        throw EConvertError(problem);
    Printer().SetPrinter(state.Identity, s);
    state.Settings = s;
    // The next measurement is taken on a cut with this correction.
    state.Filling = true;
    wchar_t length[64] = {};
    GetDlgItemTextW(dialog, IdLength, length, 64);
    SetDlgItemTextW(dialog, IdMeasuredX, length);
    SetDlgItemTextW(dialog, IdMeasuredY, length);
    state.Filling = false;
    ShowChange(dialog, state);
    // Last: the correction holds for this session, and a file that cannot
    // be written is reported.
    SaveSettings(state.Identity.Device, s);
}

INT_PTR CALLBACK CalibrateProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<TCalibrateState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_INITDIALOG) {
        state = reinterpret_cast<TCalibrateState*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        state->Filling = true;
        for (const wchar_t* item : {L"Scale lines", L"Blade offset ladder", L"Test cut (force)", L"Sample"})
            SendDlgItemMessageW(dialog, IdPattern, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
        SendDlgItemMessageW(dialog, IdPattern, CB_SETCURSEL, 0, 0);
        const LadderSteps steps;
        SetText(dialog, IdLength, Number(DefaultScaleLengthMm));
        SetText(dialog, IdMeasuredX, Number(DefaultScaleLengthMm));
        SetText(dialog, IdMeasuredY, Number(DefaultScaleLengthMm));
        SetText(dialog, IdFrom, Number(steps.FromMm));
        SetText(dialog, IdTo, Number(steps.ToMm));
        SetText(dialog, IdStep, Number(steps.StepMm));
        SetText(dialog, IdBest, "1");
        state->Filling = false;
        PatternChosen(dialog, *state);
        return TRUE;
    }
    if (message != WM_COMMAND || !state)
        return FALSE;
    const WORD id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
    } else if (id == IdCut && code == BN_CLICKED) {
        RunGuarded([&] { CutClick(dialog, *state); });
    } else if (id == IdKeep && code == BN_CLICKED) {
        RunGuarded([&] { KeepClick(dialog, *state); });
    } else if ((id == IdPattern && code == CBN_SELCHANGE) || (code == EN_CHANGE && !state->Filling)) {
        RunGuarded([&] {
            if (id == IdMeasuredX || id == IdMeasuredY || id == IdBest)
                ShowChange(dialog, *state);
            else
                PatternChosen(dialog, *state);
        });
    }
    return TRUE;
}

} // namespace

void ShowCalibrate(HWND owner, const DeviceIdentity& identity, const DeviceSettings& settings,
                   std::function<void(const CalibrationCut&)> cut)
{
    using D = TDialogTemplate;
    D t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 0, 0, 240, 250, L"Calibrate");
    const DWORD label = SS_LEFT | SS_NOPREFIX, edit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
                button = BS_PUSHBUTTON | WS_TABSTOP;
    const std::wstring device = L"Device: " + Wide(identity.Device);
    t.Item(D::StaticClass, 0xFFFF, device.c_str(), label, 7, 7, 226, 9);
    t.Item(D::ButtonClass, 0xFFFF, L"1. Pattern", BS_GROUPBOX, 7, 20, 226, 62);
    t.Item(D::StaticClass, 0xFFFF, L"&Pattern:", SS_LEFT, 14, 34, 60, 9);
    t.Item(D::ComboClass, IdPattern, L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 80, 32, 110, 80);
    t.Item(D::StaticClass, IdLengthLabel, L"Line &length (mm):", SS_LEFT, 14, 51, 64, 9);
    t.Item(D::EditClass, IdLength, L"", edit, 80, 49, 50, 12);
    t.Item(D::StaticClass, IdFromLabel, L"Offsets &from (mm):", SS_LEFT, 14, 51, 64, 9);
    t.Item(D::EditClass, IdFrom, L"", edit, 80, 49, 40, 12);
    t.Item(D::StaticClass, IdToLabel, L"&to:", SS_RIGHT, 122, 51, 14, 9);
    t.Item(D::EditClass, IdTo, L"", edit, 138, 49, 40, 12);
    t.Item(D::StaticClass, IdStepLabel, L"in st&eps of:", SS_LEFT, 14, 66, 64, 9);
    t.Item(D::EditClass, IdStep, L"", edit, 80, 64, 40, 12);
    t.Item(D::ButtonClass, 0xFFFF, L"2. Cut", BS_GROUPBOX, 7, 86, 226, 62);
    t.Item(D::StaticClass, IdOrder, L"", label, 14, 98, 212, 30);
    t.Item(D::ButtonClass, IdCut, L"&Cut", button, 14, 129, 50, 14);
    t.Item(D::ButtonClass, 0xFFFF, L"3. Measured", BS_GROUPBOX, 7, 152, 226, 70);
    t.Item(D::StaticClass, IdXLabel, L"Line &X (mm):", SS_LEFT, 14, 166, 50, 9);
    t.Item(D::EditClass, IdMeasuredX, L"", edit, 66, 164, 44, 12);
    t.Item(D::StaticClass, IdYLabel, L"Line &Y (mm):", SS_LEFT, 120, 166, 50, 9);
    t.Item(D::EditClass, IdMeasuredY, L"", edit, 172, 164, 44, 12);
    t.Item(D::StaticClass, IdBestLabel, L"&Best square:", SS_LEFT, 14, 166, 50, 9);
    t.Item(D::EditClass, IdBest, L"", edit, 66, 164, 30, 12);
    t.Item(D::StaticClass, IdChange, L"", label, 14, 181, 212, 18);
    t.Item(D::ButtonClass, IdKeep, L"&Keep correction", button, 14, 203, 70, 14);
    t.Item(D::StaticClass, 0xFFFF, L"4. Cut again to check: the next cut has the kept correction.", label, 7, 228, 170,
           18);
    t.Item(D::ButtonClass, IDCANCEL, L"Close", button, 183, 229, 50, 14);
    TCalibrateState state{identity, settings, std::move(cut)};
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Data(), owner, CalibrateProcedure,
                            reinterpret_cast<LPARAM>(&state));
}

} // namespace winui
