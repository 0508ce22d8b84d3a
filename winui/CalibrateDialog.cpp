#include "winui/CalibrateDialog.h"

#include "output/CalibrateModel.h"
#include "platform/windows/WinText.h"
#include "winui/DialogTemplate.h"
#include "winui/ErrorBox.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace winui {

namespace {

// Rows of the pattern's fields (up to three side by side) and of the
// measured ones; each row a label, its fields and their unit. A row shows
// whichever of the chosen pattern's rows has its place.
constexpr int PatternRows = 3, PatternColumns = 3, MeasuredRows = 4;
enum RowControl : WORD {
    IdCut = IdCalibrateCut,
    IdChange,
    IdKeep,
    IdRowLabel = 320,
    IdRowField = IdRowLabel + PatternRows,
    IdRowUnit = IdRowField + PatternRows * PatternColumns,
    IdMeasuredLabel = IdRowUnit + PatternRows,
    IdMeasuredField = IdMeasuredLabel + MeasuredRows,
    IdMeasuredUnit = IdMeasuredField + MeasuredRows,
};

struct TCalibrateState {
    TCalibrateModel Model;
    std::function<void(const CalibrationCut&)> Cut;
    bool Filling = false;
};

void SetText(HWND dialog, WORD id, std::string_view text)
{
    SetDlgItemTextW(dialog, id, Wide(text).c_str());
}

// The field a row's edit control stands for in the chosen pattern.
std::optional<CalibrateField> FieldOf(const TCalibrateModel& model, WORD id)
{
    const CalibratePatternChoice& choice = model.Choice();
    if (id >= IdRowField && id < IdRowUnit) {
        const size_t row = (id - IdRowField) / PatternColumns, column = (id - IdRowField) % PatternColumns;
        if (row < choice.Rows.size() && column < choice.Rows[row].Fields.size())
            return choice.Rows[row].Fields[column];
    } else if (id >= IdMeasuredField && id < IdMeasuredUnit) {
        if (const size_t row = id - IdMeasuredField; row < choice.Measured.size())
            return choice.Measured[row].Fields.front();
    }
    return std::nullopt;
}

void Refresh(HWND dialog, const TCalibrateState& state)
{
    SetText(dialog, IdCalibrateOrder, state.Model.Order());
    const CalibrateChange change = state.Model.Change();
    SetText(dialog, IdChange, change.Text);
    EnableWindow(GetDlgItem(dialog, IdKeep), change.CanKeep);
    InvalidateRect(GetDlgItem(dialog, IdCalibratePicture), nullptr, FALSE);
}

// The chosen pattern's rows, with the fields as the model holds them.
void ShowRows(HWND dialog, TCalibrateState& state)
{
    const CalibratePatternChoice& choice = state.Model.Choice();
    state.Filling = true;
    const auto show = [dialog](WORD id, bool on) { ShowWindow(GetDlgItem(dialog, id), on ? SW_SHOW : SW_HIDE); };
    const auto fill = [&](const std::vector<CalibrateRow>& rows, int count, WORD label, WORD field, int columns,
                          WORD unit) {
        for (int r = 0; r < count; ++r) {
            const CalibrateRow* row = r < static_cast<int>(rows.size()) ? &rows[static_cast<size_t>(r)] : nullptr;
            show(static_cast<WORD>(label + r), row);
            show(static_cast<WORD>(unit + r), row && !row->Unit.empty());
            if (row) {
                SetText(dialog, static_cast<WORD>(label + r), row->Label);
                SetText(dialog, static_cast<WORD>(unit + r), row->Unit);
            }
            for (int c = 0; c < columns; ++c) {
                const auto id = static_cast<WORD>(field + r * columns + c);
                const bool on = row && c < static_cast<int>(row->Fields.size());
                show(id, on);
                if (on)
                    SetText(dialog, id, state.Model.Text(row->Fields[static_cast<size_t>(c)]));
            }
        }
    };
    fill(choice.Rows, PatternRows, IdRowLabel, IdRowField, PatternColumns, IdRowUnit);
    fill(choice.Measured, MeasuredRows, IdMeasuredLabel, IdMeasuredField, 1, IdMeasuredUnit);
    state.Filling = false;
    Refresh(dialog, state);
}

void DrawPicture(const DRAWITEMSTRUCT& item, const TCalibrateModel& model)
{
    const RECT& area = item.rcItem;
    const int width = area.right - area.left, height = area.bottom - area.top;
    // Drawn aside and put on the screen at once: no flicker while typing.
    const HDC dc = CreateCompatibleDC(item.hDC);
    const HBITMAP bitmap = CreateCompatibleBitmap(item.hDC, width, height);
    const HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    const HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const double scale = GetDeviceCaps(item.hDC, LOGPIXELSY) / 96.0;
    const RECT whole{0, 0, width, height};
    FillRect(dc, &whole, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(dc, &whole, GetSysColorBrush(COLOR_BTNSHADOW));

    const CalibrationPicture picture = model.Picture(width, height, metrics.tmHeight);
    const int thick = std::max(1, static_cast<int>(std::lround(1.2 * scale)));
    const HPEN cut = CreatePen(PS_SOLID, thick, GetSysColor(COLOR_WINDOWTEXT));
    const HPEN mark =
        CreatePen(PS_SOLID, std::max(1, static_cast<int>(std::lround(scale))), GetSysColor(COLOR_HIGHLIGHT));
    const HGDIOBJ oldPen = SelectObject(dc, cut);
    std::vector<POINT> points;
    for (const PicturePath& path : picture.Paths) {
        points.clear();
        for (const PicturePoint& p : path.Points)
            points.push_back({static_cast<LONG>(std::lround(p.X)), static_cast<LONG>(std::lround(p.Y))});
        SelectObject(dc, path.Ink == PictureInk::Cut ? cut : mark);
        Polyline(dc, points.data(), static_cast<int>(points.size()));
    }
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    SetBkMode(dc, TRANSPARENT);
    for (const PictureText& text : picture.Texts) {
        const HFONT font = CreateFontW(-static_cast<int>(std::lround(text.Height)), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                       CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Tahoma");
        const HGDIOBJ previous = SelectObject(dc, font);
        RECT box{static_cast<LONG>(std::lround(text.Centre.X - text.Height * 2)),
                 static_cast<LONG>(std::lround(text.Centre.Y - text.Height)),
                 static_cast<LONG>(std::lround(text.Centre.X + text.Height * 2)),
                 static_cast<LONG>(std::lround(text.Centre.Y + text.Height))};
        DrawTextW(dc, Wide(text.Text).c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
        SelectObject(dc, previous);
        DeleteObject(font);
    }
    BitBlt(item.hDC, area.left, area.top, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(cut);
    DeleteObject(mark);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void KeepClick(HWND dialog, TCalibrateState& state)
{
    // The fields follow the model even when the file could not be written.
    struct Shown {
        HWND Dialog;
        TCalibrateState& State;
        ~Shown() { ShowRows(Dialog, State); }
    } shown{dialog, state};
    state.Model.Keep();
}

INT_PTR CALLBACK CalibrateProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<TCalibrateState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_INITDIALOG) {
        state = reinterpret_cast<TCalibrateState*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        // A cut's failures, and the window's while the dialog is up, stand
        // over the dialog: owned by the window, they would be behind it.
        SetErrorReportOwner(dialog);
        for (const CalibratePatternChoice& choice : CalibratePatterns())
            SendDlgItemMessageW(dialog, IdCalibratePattern, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(Wide(choice.Caption).c_str()));
        SendDlgItemMessageW(dialog, IdCalibratePattern, CB_SETCURSEL, 0, 0);
        ShowRows(dialog, *state);
        return TRUE;
    }
    if (!state)
        return FALSE;
    if (message == WM_DRAWITEM && wParam == IdCalibratePicture) {
        DrawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), state->Model);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    const WORD id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
    } else if (id == IdCut && code == BN_CLICKED) {
        RunGuarded([&] { state->Cut(state->Model.CutToSend()); });
    } else if (id == IdKeep && code == BN_CLICKED) {
        RunGuarded([&] { KeepClick(dialog, *state); });
    } else if (id == IdCalibratePattern && code == CBN_SELCHANGE) {
        state->Model.Choose(static_cast<int>(SendDlgItemMessageW(dialog, IdCalibratePattern, CB_GETCURSEL, 0, 0)));
        ShowRows(dialog, *state);
    } else if (code == EN_CHANGE && !state->Filling) {
        if (const std::optional<CalibrateField> field = FieldOf(state->Model, id)) {
            wchar_t text[64] = {};
            GetDlgItemTextW(dialog, id, text, 64);
            state->Model.SetText(*field, Utf8(text));
            Refresh(dialog, *state);
        }
    }
    return TRUE;
}

} // namespace

void ShowCalibrate(HWND owner, const DeviceIdentity& identity, const DeviceSettings& settings,
                   std::function<void(const CalibrationCut&)> cut)
{
    using D = TDialogTemplate;
    D t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 0, 0, 427, 327, L"Calibrate");
    const DWORD label = SS_LEFT | SS_NOPREFIX, edit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
                button = BS_PUSHBUTTON | WS_TABSTOP;
    TCalibrateState state{{identity, settings}, std::move(cut)};
    const std::wstring device = Wide(state.Model.DeviceText());
    t.Item(D::StaticClass, 0xFFFF, device.c_str(), label, 7, 7, 226, 9);
    t.Item(D::ButtonClass, 0xFFFF, L"1. Pattern", BS_GROUPBOX, 7, 20, 226, 78);
    t.Item(D::StaticClass, 0xFFFF, L"&Pattern:", SS_LEFT, 14, 34, 90, 9);
    t.Item(D::ComboClass, IdCalibratePattern, L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 108, 32, 118, 90);
    // Each label before its fields: its mnemonic goes to the first of them.
    for (short r = 0; r < PatternRows; ++r) {
        const short y = static_cast<short>(50 + 15 * r);
        t.Item(D::StaticClass, static_cast<WORD>(IdRowLabel + r), L"", SS_LEFT, 14, y + 2, 92, 9);
        for (short c = 0; c < PatternColumns; ++c)
            t.Item(D::EditClass, static_cast<WORD>(IdRowField + r * PatternColumns + c), L"", edit,
                   static_cast<short>(108 + 40 * c), y, 36, 12);
        t.Item(D::StaticClass, static_cast<WORD>(IdRowUnit + r), L"", label, 147, y + 2, 20, 9);
    }
    t.Item(D::ButtonClass, 0xFFFF, L"2. Cut", BS_GROUPBOX, 7, 102, 226, 76);
    t.Item(D::StaticClass, IdCalibrateOrder, L"", label, 14, 114, 212, 44);
    t.Item(D::ButtonClass, IdCut, L"&Cut", button, 14, 159, 50, 14);
    t.Item(D::ButtonClass, 0xFFFF, L"3. Measured", BS_GROUPBOX, 7, 182, 226, 117);
    for (short r = 0; r < MeasuredRows; ++r) {
        const short y = static_cast<short>(194 + 14 * r);
        t.Item(D::StaticClass, static_cast<WORD>(IdMeasuredLabel + r), L"", SS_LEFT, 14, y + 2, 92, 9);
        t.Item(D::EditClass, static_cast<WORD>(IdMeasuredField + r), L"", edit, 108, y, 50, 12);
        t.Item(D::StaticClass, static_cast<WORD>(IdMeasuredUnit + r), L"", label, 161, y + 2, 20, 9);
    }
    // Three lines: why a measurement gives no correction can be long.
    t.Item(D::StaticClass, IdChange, L"", label, 14, 251, 212, 27);
    t.Item(D::ButtonClass, IdKeep, L"&Keep correction", button, 14, 280, 70, 14);
    t.Item(D::StaticClass, 0xFFFF, L"4. Cut again to check: the next cut has the kept correction.", label, 7, 305, 170,
           18);
    t.Item(D::ButtonClass, IDCANCEL, L"Close", button, 183, 306, 50, 14);
    // Beside the steps, the pattern as it will be cut, marked for measuring.
    t.Item(D::StaticClass, IdCalibratePicture, L"", SS_OWNERDRAW, 240, 7, 180, 210);
    // Given back to whoever owned the reports before the dialog.
    void* const reportOwner = ErrorReportOwner();
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Data(), owner, CalibrateProcedure,
                            reinterpret_cast<LPARAM>(&state));
    SetErrorReportOwner(reportOwner);
}

} // namespace winui
