#include "dialog_template_win32.h"

#include <cstring>
#include <string>

#include "caption_bar_win32.h"

namespace {

// Appends 16-bit words to a DWORD buffer.
class TemplateWriter {
public:
    void Word(WORD w) {
        if (words_ % 2 == 0) {
            data_.push_back(w);
        } else {
            data_.back() |= static_cast<DWORD>(w) << 16;
        }
        ++words_;
    }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    // A UTF-16 string and its terminating NUL; the table's texts are ASCII.
    void Text(const char* text) {
        for (const char* p = text; *p != '\0'; ++p) Word(static_cast<unsigned char>(*p));
        Word(0);
    }
    void AlignDword() {
        if (words_ % 2 != 0) Word(0);
    }
    std::vector<DWORD> Take() { return std::move(data_); }

private:
    std::vector<DWORD> data_;
    std::size_t words_ = 0;
};

}  // namespace

WORD UI_Win32ControlAtom(ControlKind kind) {
    switch (kind) {
        case ControlKind::CheckBox:
        case ControlKind::PushButton:
        case ControlKind::GroupBox:
        case ControlKind::RadioButton:
            return 0x0080;  // BUTTON
        case ControlKind::Edit:
        case ControlKind::HexEdit:
        case ControlKind::NoTypeEdit:
            return 0x0081;  // EDIT
        case ControlKind::StaticText:
        case ControlKind::StaticTextCentred:
            return 0x0082;  // STATIC
        case ControlKind::DropDownList:
            return 0x0085;  // COMBOBOX
        case ControlKind::ProgressBar:
            return 0;
    }
    return 0;
}

DWORD UI_Win32ControlStyle(const DialogControl& c) {
    DWORD style = WS_CHILD;
    switch (c.kind) {
        case ControlKind::CheckBox:
            style |= BS_AUTOCHECKBOX;
            break;
        case ControlKind::PushButton:
            style |= BS_PUSHBUTTON;
            break;
        case ControlKind::Edit:
        case ControlKind::NoTypeEdit:
            style |= ES_AUTOHSCROLL | WS_BORDER;
            break;
        case ControlKind::HexEdit:
            style |= ES_AUTOHSCROLL | ES_UPPERCASE | WS_BORDER;
            break;
        case ControlKind::DropDownList:
            style |= CBS_DROPDOWNLIST | WS_VSCROLL;
            break;
        case ControlKind::ProgressBar:
            break;
        case ControlKind::GroupBox:
            style |= BS_GROUPBOX;
            break;
        case ControlKind::StaticText:
            style |= SS_LEFT | SS_NOPREFIX;
            break;
        case ControlKind::StaticTextCentred:
            style |= SS_CENTER | SS_NOPREFIX;
            break;
        case ControlKind::RadioButton:
            style |= BS_AUTORADIOBUTTON;
            // The three erase options are one group: the first of them starts it.
            if (c.id == IDC_ERASE_ALL) style |= WS_GROUP;
            break;
    }
    if (c.visible) style |= WS_VISIBLE;
    if (!c.enabled) style |= WS_DISABLED;
    if (c.tabStop) style |= WS_TABSTOP;
    return style;
}

std::vector<DWORD> UI_BuildWin32DialogTemplate() {
    TemplateWriter t;
    // DLGTEMPLATE: caption bar with system menu and minimise box, no resizing.
    t.Dword(DS_SETFONT | DS_MODALFRAME | DS_3DLOOK | DS_CENTER | WS_POPUP | WS_CAPTION |
            WS_SYSMENU | WS_MINIMIZEBOX);
    t.Dword(0);  // extended style
    t.Word(static_cast<WORD>(kMainDialogTemplate.size()));
    t.Word(0);  // x
    t.Word(0);  // y
    t.Word(static_cast<WORD>(kMainDialogWidth));
    t.Word(static_cast<WORD>(kMainDialogHeight));
    t.Word(0);  // no menu
    t.Word(0);  // the dialog class
    t.Text(kMainDialogCaption);
    t.Word(static_cast<WORD>(kDialogFontPoints));
    t.Text(kDialogFontFace);
    bool first = true;
    for (const DialogControl& c : kMainDialogTemplate) {
        t.AlignDword();
        DWORD style = UI_Win32ControlStyle(c);
        if (first) style |= WS_GROUP;
        first = false;
        t.Dword(style);
        t.Dword(0);  // extended style
        t.Word(static_cast<WORD>(c.x));
        t.Word(static_cast<WORD>(c.y));
        t.Word(static_cast<WORD>(c.cx));
        t.Word(static_cast<WORD>(c.cy));
        t.Word(static_cast<WORD>(c.id));  // IDC_STATIC is 0xFFFF
        const WORD atom = UI_Win32ControlAtom(c.kind);
        if (atom != 0) {
            t.Word(0xFFFF);
            t.Word(atom);
        } else {
            t.Text(kCaptionBarClass);
        }
        t.Text(c.caption);
        t.Word(0);  // no creation data
    }
    return t.Take();
}
