#include "winui/OpenPlotDialog.h"

#include "platform/windows/WinText.h"
#include "winui/DialogTemplate.h"

#include <commdlg.h>

#include <vector>

namespace winui {

namespace {

constexpr WORD IdPens = 1001;

UINT_PTR CALLBACK PensHook(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const auto* ofn = reinterpret_cast<const OPENFILENAMEW*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, static_cast<LONG_PTR>(ofn->lCustData));
        const auto* pens = reinterpret_cast<const std::wstring*>(ofn->lCustData);
        SetDlgItemTextW(dialog, IdPens, pens->c_str());
        return TRUE;
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == CDN_FILEOK) {
        auto* pens = reinterpret_cast<std::wstring*>(GetWindowLongPtrW(dialog, DWLP_USER));
        pens->assign(static_cast<size_t>(GetWindowTextLengthW(GetDlgItem(dialog, IdPens))) + 1, L'\0');
        pens->resize(
            static_cast<size_t>(GetDlgItemTextW(dialog, IdPens, pens->data(), static_cast<int>(pens->size()))));
    }
    return 0;
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::optional<TPlotFileChoice> ShowOpenPlotDialog(HWND owner, const std::string& pensText)
{
    // A row below the file type: the pens (SP) whose lines are cut.
    TDialogTemplate pensRow(WS_CHILD | WS_CLIPSIBLINGS | DS_3DLOOK | DS_CONTROL, 0, 0, 330, 22, L"");
    pensRow.Item(TDialogTemplate::StaticClass, 0xFFFF, L"&Pens:", SS_LEFT, 7, 4, 50, 10);
    pensRow.Item(TDialogTemplate::EditClass, IdPens, L"", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 60, 2, 120, 13);
    pensRow.Item(TDialogTemplate::StaticClass, 0xFFFF, L"such as 2 or 1,3; empty: every pen", SS_LEFT, 186, 4, 140, 10);

    std::vector<wchar_t> file(32768, L'\0');
    std::wstring pens = Wide(pensText);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.hInstance = reinterpret_cast<HINSTANCE>(const_cast<DLGTEMPLATE*>(pensRow.Data()));
    ofn.lpstrFilter = L"Plt\0*.plt\0";
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    ofn.lpfnHook = PensHook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&pens);
    if (!GetOpenFileNameW(&ofn))
        return std::nullopt;
    return TPlotFileChoice{Utf8(file.data()), Trimmed(Utf8(pens))};
}

} // namespace winui
