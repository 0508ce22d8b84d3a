#include "winui/DialogTemplate.h"

namespace winui {

TDialogTemplate::TDialogTemplate(DWORD style, short x, short y, short cx, short cy, const wchar_t* title)
{
    Dword(style | DS_SETFONT);
    Dword(0); // extended style
    Word(0);  // item count, counted up by Item
    for (short v : {x, y, cx, cy})
        Word(static_cast<WORD>(v));
    Word(0); // no menu
    Word(0); // the standard dialog class
    Text(title);
    // "MS Shell Dlg" is the system's dialog font (Tahoma 8 on Windows).
    Word(8);
    Text(L"MS Shell Dlg");
}

void TDialogTemplate::Item(ControlClass cls, WORD id, const wchar_t* text, DWORD style, short x, short y, short cx,
                           short cy)
{
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (short v : {x, y, cx, cy})
        Word(static_cast<WORD>(v));
    Word(id);
    Word(0xFFFF);
    Word(cls);
    Text(text);
    Word(0); // no creation data
    ++FWords[4];
}

void TDialogTemplate::Text(const wchar_t* text)
{
    for (; *text; ++text)
        Word(static_cast<WORD>(*text));
    Word(0);
}

} // namespace winui
