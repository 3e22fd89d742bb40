#pragma once
// The captioned progress bar of the Win32 window: a custom control of its own class that paints
// itself completely with GDI, the filled part and the empty part, and writes its caption (the
// window text) across both, in the background colour over the bar and in black over the rest.
// Bounds and position live only in the control.
#include <windows.h>

inline constexpr const char* kCaptionBarClass = "PelorCaptionBar";

// Messages of the control (besides WM_SETTEXT / WM_GETTEXT for the caption).
enum : UINT {
    CBM_SETRANGE = WM_USER + 1,  // wParam lower, lParam upper; no repaint
    CBM_SETPOS = WM_USER + 2,    // wParam position; returns the previous one; repaints at once
                                 // (before returning) when the filled width changes, only then
    CBM_GETPOS = WM_USER + 3,
    CBM_GETLOWER = WM_USER + 4,
    CBM_GETUPPER = WM_USER + 5,
    CBM_GETBARWIDTH = WM_USER + 6,    // filled width at the last position change; -1 before
    CBM_GETPAINTCOUNT = WM_USER + 7,  // paint passes so far
};

// The notification code of WM_COMMAND by which the control tells its parent of a double-click.
inline constexpr WORD kCaptionBarDoubleClicked = 1;

// Registers the class for this process (once). False when it cannot be registered.
bool CaptionBar_Register(HINSTANCE instance);

// The filled width in pixels of a client area width wide at pos in [lower, upper]: truncated,
// 0 below the range or for an empty or inverted one, width above it.
int CaptionBar_FilledWidth(int lower, int upper, int pos, int width);
