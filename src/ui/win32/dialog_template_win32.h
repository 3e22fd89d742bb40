#pragma once
// Template 103 as an in-memory dialog template (DLGTEMPLATE and its items, in dialog units) for
// CreateDialogIndirectParam: the same control table the other windows are built from.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "dialog_template.h"

inline constexpr const char* kDialogFontFace = "MS Shell Dlg";
inline constexpr int kDialogFontPoints = 8;

// The window style of one control of the table (WS_CHILD and the kind's own styles, visibility,
// enabled state, tab stop) and its class: a predefined class atom, or 0 for the caption bar.
DWORD UI_Win32ControlStyle(const DialogControl& c);
WORD UI_Win32ControlAtom(ControlKind kind);

// The template's bytes, DWORD-aligned as the system wants them.
std::vector<DWORD> UI_BuildWin32DialogTemplate();
