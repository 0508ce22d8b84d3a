#pragma once

// The program's window on Win32.

#include "winui/OutputTestWindow.h"

namespace winui {

// The controls' identifiers, which also let another program find them
// (GetDlgItem on the window captioned WindowCaption).
enum ControlId : int {
    IdGrpListaDeImpresoras = 100,
    IdLabel1,
    IdLImpresora,
    IdLabel2,
    IdLStatus,
    IdBtnPropiedades,
    IdMemo1,
    IdButton1,
    IdGrpImagen,
    IdLabel4,
    IdImagenMedidas,
    IdLabel3,
    IdCmbPosicion,
    IdImagenHoja,
    IdLTexto1,
    IdLtexto2,
    IdBtnStop,
    IdBtnCut,
    IdBtnCancel,
};

inline constexpr const wchar_t* WindowCaption = L"Vellico Output Test V1.02";

} // namespace winui
