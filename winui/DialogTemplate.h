#pragma once

// An in-memory dialog template, so the program's dialogs need no resource
// script: header, then items, each laid out in dialog units.

#include "platform/windows/Win32.h"

#include <vector>

namespace winui {

class TDialogTemplate {
public:
    // Predefined control classes.
    enum ControlClass : WORD { ButtonClass = 0x80, EditClass = 0x81, StaticClass = 0x82, ComboClass = 0x85 };

    TDialogTemplate(DWORD style, short x, short y, short cx, short cy, const wchar_t* title);
    void Item(ControlClass cls, WORD id, const wchar_t* text, DWORD style, short x, short y, short cx, short cy);
    // Valid while this object lives and gains no items.
    const DLGTEMPLATE* Data() const { return reinterpret_cast<const DLGTEMPLATE*>(FWords.data()); }

private:
    void Word(WORD w) { FWords.push_back(w); }
    void Dword(DWORD d)
    {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const wchar_t* text);
    void Align()
    {
        if (FWords.size() % 2)
            Word(0);
    }
    // WORDs from a vector's storage: aligned for the DWORDs in it.
    std::vector<WORD> FWords;
};

} // namespace winui
