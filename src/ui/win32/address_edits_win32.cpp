#include "address_edits_win32.h"

#include <commctrl.h>

namespace {

constexpr int kHexDigits = 8;

bool IsHexDigit(WPARAM c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

LRESULT CALLBACK HexEditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR) {
    if (message == WM_CHAR) {
        if (wParam == VK_BACK) return DefSubclassProc(hwnd, message, wParam, lParam);
        if (!IsHexDigit(wParam) || GetWindowTextLengthA(hwnd) >= kHexDigits) return 0;
    }
    if (message == WM_PASTE) return 0;
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK NoTypeEditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR) {
    if (message == WM_CHAR || message == WM_PASTE) return 0;
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace

void UI_MakeHexEdit(HWND edit) {
    if (edit != nullptr) SetWindowSubclass(edit, HexEditProc, 1, 0);
}

void UI_MakeNoTypeEdit(HWND edit) {
    if (edit != nullptr) SetWindowSubclass(edit, NoTypeEditProc, 2, 0);
}
