#include "caption_bar_win32.h"

#include <cmath>
#include <memory>
#include <string>

namespace {

struct BarState {
    int lower = 0;
    int upper = 100;
    int pos = 0;
    int barWidth = -1;
    int paints = 0;
    HFONT font = nullptr;
};

BarState* State(HWND hwnd) {
    return reinterpret_cast<BarState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

// The area the bar fills: inside the one-pixel border.
RECT ClientArea(HWND hwnd) {
    RECT r;
    GetClientRect(hwnd, &r);
    InflateRect(&r, -1, -1);
    return r;
}

std::string Caption(HWND hwnd) {
    const int n = GetWindowTextLengthA(hwnd);
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    GetWindowTextA(hwnd, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

// Deletes a GDI object when it goes.
struct GdiObject {
    HGDIOBJ handle;
    ~GdiObject() {
        if (handle != nullptr) DeleteObject(handle);
    }
};

void Paint(HWND hwnd, HDC screen, BarState& s) {
    ++s.paints;
    RECT all;
    GetClientRect(hwnd, &all);
    const int w = all.right - all.left, h = all.bottom - all.top;
    if (w <= 0 || h <= 0) return;
    // Everything goes to an off-screen bitmap first: no flicker, nothing to erase.
    HDC dc = CreateCompatibleDC(screen);
    GdiObject bitmap{CreateCompatibleBitmap(screen, w, h)};
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap.handle);

    GdiObject border{CreateSolidBrush(GetSysColor(COLOR_3DSHADOW))};
    FrameRect(dc, &all, static_cast<HBRUSH>(border.handle));
    const RECT cr = ClientArea(hwnd);
    if (s.lower >= s.upper) {
        // An empty or inverted range shows nothing inside the border.
        FillRect(dc, &cr, GetSysColorBrush(COLOR_3DFACE));
    } else {
        const int split =
            cr.left + CaptionBar_FilledWidth(s.lower, s.upper, s.pos, cr.right - cr.left);
        const RECT filled{cr.left, cr.top, split, cr.bottom};
        const RECT empty{split, cr.top, cr.right, cr.bottom};
        FillRect(dc, &filled, GetSysColorBrush(COLOR_HIGHLIGHT));
        FillRect(dc, &empty, GetSysColorBrush(COLOR_WINDOW));
        const std::string caption = Caption(hwnd);
        if (!caption.empty()) {
            HFONT font = reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0));
            HGDIOBJ oldFont = font != nullptr ? SelectObject(dc, font) : nullptr;
            SetBkMode(dc, TRANSPARENT);
            RECT text = cr;
            const UINT flags = DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
            // The caption in two colours: clipped to each part in turn.
            HRGN clip = CreateRectRgnIndirect(&filled);
            SelectClipRgn(dc, clip);
            SetTextColor(dc, GetSysColor(COLOR_WINDOW));
            DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &text, flags);
            SetRectRgn(clip, empty.left, empty.top, empty.right, empty.bottom);
            SelectClipRgn(dc, clip);
            SetTextColor(dc, RGB(0, 0, 0));
            DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &text, flags);
            SelectClipRgn(dc, nullptr);
            DeleteObject(clip);
            if (oldFont != nullptr) SelectObject(dc, oldFont);
        }
    }
    BitBlt(screen, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
}

LRESULT CALLBACK BarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    BarState* s = State(hwnd);
    switch (message) {
        case WM_NCCREATE: {
            auto state = std::make_unique<BarState>();
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.release()));
            break;
        }
        case WM_NCDESTROY:
            // Owned by the window since WM_NCCREATE.
            std::unique_ptr<BarState>{s}.reset();
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            break;
        case WM_SETFONT:
            if (s != nullptr) s->font = reinterpret_cast<HFONT>(wParam);
            if (LOWORD(lParam) != 0) InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_GETFONT:
            return s != nullptr ? reinterpret_cast<LRESULT>(s->font) : 0;
        case WM_SETTEXT: {
            const char* text = reinterpret_cast<const char*>(lParam);
            if (Caption(hwnd) == (text != nullptr ? text : "")) return TRUE;
            const LRESULT r = DefWindowProcA(hwnd, message, wParam, lParam);
            InvalidateRect(hwnd, nullptr, FALSE);  // painted at the next paint cycle
            return r;
        }
        case WM_SIZE:
            if (s != nullptr) s->barWidth = -1;
            break;
        case WM_ERASEBKGND:
            return 1;  // every paint covers the whole control
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (s != nullptr) Paint(hwnd, dc, *s);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case CBM_SETRANGE:
            if (s == nullptr) return 0;
            s->lower = static_cast<int>(wParam);
            s->upper = static_cast<int>(lParam);
            return 0;
        case CBM_SETPOS: {
            if (s == nullptr) return 0;
            const int previous = s->pos;
            s->pos = static_cast<int>(wParam);
            const RECT cr = ClientArea(hwnd);
            const int w = CaptionBar_FilledWidth(s->lower, s->upper, s->pos, cr.right - cr.left);
            if (w != s->barWidth) {
                s->barWidth = w;
                InvalidateRect(hwnd, nullptr, FALSE);
                UpdateWindow(hwnd);
            }
            return previous;
        }
        case CBM_GETPOS:
            return s != nullptr ? s->pos : 0;
        case CBM_GETLOWER:
            return s != nullptr ? s->lower : 0;
        case CBM_GETUPPER:
            return s != nullptr ? s->upper : 0;
        case CBM_GETBARWIDTH:
            return s != nullptr ? s->barWidth : -1;
        case CBM_GETPAINTCOUNT:
            return s != nullptr ? s->paints : 0;
        case WM_LBUTTONDBLCLK:
            SendMessageA(GetParent(hwnd), WM_COMMAND,
                         MAKEWPARAM(GetDlgCtrlID(hwnd), kCaptionBarDoubleClicked),
                         reinterpret_cast<LPARAM>(hwnd));
            return 0;
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int CaptionBar_FilledWidth(int lower, int upper, int pos, int width) {
    if (lower >= upper || width <= 0) return 0;
    const double f = (static_cast<double>(pos) - lower) /
                     (static_cast<double>(upper) - static_cast<double>(lower));
    const double w = std::trunc(f * width);
    if (!(w > 0.0)) return 0;
    if (w >= width) return width;
    return static_cast<int>(w);
}

bool CaptionBar_Register(HINSTANCE instance) {
    WNDCLASSA wc{};
    if (GetClassInfoA(instance, kCaptionBarClass, &wc)) return true;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = BarProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kCaptionBarClass;
    return RegisterClassA(&wc) != 0;
}
