#include "dialog_template.h"

#include <algorithm>

namespace {

using K = ControlKind;
constexpr bool kShown = true, kHidden = false, kEnabled = true, kDisabled = false, kTab = true,
               kNoTab = false;

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long q = p >= 0 ? (2 * p + c) / (2 * c) : -((-2 * p + c) / (2 * c));
    return static_cast<int>(q);
}

}  // namespace

// clang-format off
const std::array<DialogControl, kMainDialogControlCount> kMainDialogTemplate = {{
    {1007, K::CheckBox,     "Data",                   14, 118,  44,   8, kHidden, kDisabled, kTab},
    {1020, K::PushButton,   "Download",              292, 285,  81,  25, kShown,  kEnabled,  kTab},
    {1013, K::Edit,         "",                       14,  21, 272,  14, kShown,  kEnabled,  kTab},
    {1014, K::PushButton,   "Load",                  292,  21,  34,  14, kShown,  kEnabled,  kTab},
    {1018, K::PushButton,   "Save As",               332,  21,  34,  14, kShown,  kEnabled,  kTab},
    {1023, K::DropDownList, "",                       14, 201,  52, 103, kShown,  kEnabled,  kTab},
    {1022, K::CheckBox,     "Change Boot Area",       82,  72,  75,  10, kShown,  kEnabled,  kTab},
    {1001, K::CheckBox,     "Code",                   14, 100,  29,   8, kShown,  kEnabled,  kTab},
    {1004, K::PushButton,   "...",                   292,  96,  19,  14, kShown,  kEnabled,  kTab},
    {1003, K::NoTypeEdit,   "",                      314,  96,  52,  14, kShown,  kEnabled,  kTab},
    {1002, K::CheckBox,     "Bootloader",             61, 291,  48,   8, kHidden, kEnabled,  kTab},
    {1006, K::PushButton,   "...",                   187, 289,  19,  14, kHidden, kEnabled,  kTab},
    {1005, K::HexEdit,      "",                      224, 291,  52,  14, kHidden, kEnabled,  kTab},
    {1009, K::PushButton,   "...",                   292, 115,  19,  14, kHidden, kDisabled, kTab},
    {1008, K::HexEdit,      "",                      314, 115,  52,  14, kHidden, kDisabled, kTab},
    {1015, K::ProgressBar,  "",                       66,  97, 222,  12, kShown,  kEnabled,  kNoTab},
    {1016, K::ProgressBar,  "",                       45, 295, 222,  12, kHidden, kEnabled,  kNoTab},
    {1017, K::ProgressBar,  "",                       66, 115, 222,  12, kHidden, kDisabled, kNoTab},
    {  -1, K::GroupBox,     " Binary",                 7,  47, 367,  69, kShown,  kEnabled,  kNoTab},
    {  -1, K::GroupBox,     " File ",                  7,   6, 367,  40, kShown,  kEnabled,  kNoTab},
    {  -1, K::GroupBox,     " Port ",                  7, 174, 367, 104, kShown,  kEnabled,  kNoTab},
    {1024, K::StaticText,   "",                        7, 285, 280,  26, kShown,  kEnabled,  kNoTab},
    {  -1, K::StaticTextCentred, "Address(HEX)",     314,  72,  52,  11, kShown,  kEnabled,  kNoTab},
    {1010, K::CheckBox,     "Etc1",                  232, 135,  24,   8, kHidden, kDisabled, kTab},
    {1011, K::PushButton,   "...",                   292, 133,  19,  14, kHidden, kDisabled, kTab},
    {1012, K::HexEdit,      "",                      314, 133,  52,  14, kHidden, kDisabled, kTab},
    {1019, K::ProgressBar,  "",                      260, 133,  28,  12, kHidden, kDisabled, kNoTab},
    {1021, K::CheckBox,     "Resource",               14, 152,  49,   8, kShown,  kEnabled,  kNoTab},
    {1025, K::PushButton,   "...",                   292, 151,  19,  14, kShown,  kEnabled,  kTab},
    {1026, K::HexEdit,      "",                      314, 151,  52,  14, kHidden, kDisabled, kTab},
    {1027, K::ProgressBar,  "",                       66, 151, 222,  12, kShown,  kEnabled,  kNoTab},
    {1028, K::CheckBox,     "Auto",                   14, 186,  26,  10, kShown,  kEnabled,  kTab},
    {1029, K::ProgressBar,  "",                       70, 202, 110,  12, kShown,  kEnabled,  kNoTab},
    {1032, K::DropDownList, "",                      201, 201,  52, 103, kShown,  kEnabled,  kTab},
    {1033, K::ProgressBar,  "",                      256, 202, 110,  12, kShown,  kEnabled,  kNoTab},
    {1034, K::DropDownList, "",                       14, 219,  52, 103, kShown,  kEnabled,  kTab},
    {1035, K::ProgressBar,  "",                       70, 219, 110,  12, kShown,  kEnabled,  kNoTab},
    {1036, K::DropDownList, "",                      201, 219,  52, 103, kShown,  kEnabled,  kTab},
    {1037, K::ProgressBar,  "",                      256, 219, 110,  12, kShown,  kEnabled,  kNoTab},
    {1038, K::DropDownList, "",                       14, 237,  52, 103, kShown,  kEnabled,  kTab},
    {1039, K::ProgressBar,  "",                       70, 238, 110,  12, kShown,  kEnabled,  kNoTab},
    {1040, K::DropDownList, "",                      201, 237,  52, 103, kShown,  kEnabled,  kTab},
    {1041, K::ProgressBar,  "",                      256, 238, 110,  12, kShown,  kEnabled,  kNoTab},
    {1042, K::DropDownList, "",                       14, 255,  52, 103, kShown,  kEnabled,  kTab},
    {1043, K::ProgressBar,  "",                       70, 256, 110,  12, kShown,  kEnabled,  kNoTab},
    {1044, K::DropDownList, "",                      201, 255,  52, 103, kShown,  kEnabled,  kTab},
    {1045, K::ProgressBar,  "",                      256, 256, 110,  12, kShown,  kEnabled,  kNoTab},
    {1030, K::CheckBox,     "Format",                120, 295,  38,  10, kHidden, kEnabled,  kTab},
    {  -1, K::GroupBox,     "",                        7, 123, 367,  47, kShown,  kEnabled,  kNoTab},
    {1031, K::PushButton,   "Create Resource Binary", 66, 133,  95,  14, kShown,  kEnabled,  kTab},
    {1046, K::CheckBox,     "Erase NAND",             15,  72,  57,  10, kShown,  kEnabled,  kTab},
    {1049, K::RadioButton,  "All NAND",              180,  68,  44,  17, kHidden, kEnabled,  kNoTab},
    {1050, K::RadioButton,  "Except Back up Area",   225,  68,  81,  17, kHidden, kEnabled,  kNoTab},
    {  -1, K::GroupBox,     "Erase NAND",            131,  60, 178,  27, kHidden, kEnabled,  kNoTab},
    {1051, K::RadioButton,  "NONE",                  136,  68,  44,  17, kHidden, kEnabled,  kNoTab},
}};
// clang-format on

DialogUnits DialogUnits::FromMetrics(int lettersWidth, int height) {
    DialogUnits units;
    units.baseX = std::max(1, (lettersWidth + 26) / 52);
    units.baseY = std::max(1, height);
    return units;
}

int DialogUnits::X(int dluX) const {
    return MulDiv(dluX, baseX, 4);
}
int DialogUnits::Y(int dluY) const {
    return MulDiv(dluY, baseY, 8);
}

DialogRect DialogUnits::Map(int x, int y, int cx, int cy) const {
    const int left = X(x), top = Y(y);
    return DialogRect{left, top, X(x + cx) - left, Y(y + cy) - top};
}

const DialogControl* UI_FindControl(int id) {
    if (id == IDC_STATIC) return nullptr;
    for (const DialogControl& c : kMainDialogTemplate) {
        if (c.id == id) return &c;
    }
    return nullptr;
}
