#pragma once
// The address edits of the Win32 window, as subclasses of the system's edit: the hexadecimal
// one takes a hex digit (shown in upper case) only while it holds fewer than 8 characters and
// always takes backspace; the code address takes no typed character at all. Neither takes a
// paste. Keys that type nothing (arrows, Delete, Home, End) act as usual.
#include <windows.h>

void UI_MakeHexEdit(HWND edit);
void UI_MakeNoTypeEdit(HWND edit);
