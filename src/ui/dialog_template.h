#pragma once
// Template 103, the main dialog as data: its size and caption and its 55 controls in tab order,
// from which the dialog creates its widgets. Positions and sizes are dialog units, turned into
// pixels from the dialog font as Windows does it.
#include <array>

#include "transport/channels.h"

// Control identifiers.
enum ControlId : int {
    IDC_STATIC = -1,  // group boxes and labels the program never addresses
    IDC_CODE_CHECK = 1001,
    IDC_FONT_CHECK = 1002,
    IDC_CODE_ADDRESS = 1003,
    IDC_CODE_PICK = 1004,
    IDC_FONT_ADDRESS = 1005,
    IDC_FONT_PICK = 1006,
    IDC_DATA_CHECK = 1007,
    IDC_DATA_ADDRESS = 1008,
    IDC_DATA_PICK = 1009,
    IDC_ETC1_CHECK = 1010,
    IDC_ETC1_PICK = 1011,
    IDC_ETC1_ADDRESS = 1012,
    IDC_JOB_FILE = 1013,
    IDC_LOAD = 1014,
    IDC_CODE_BAR = 1015,
    IDC_FONT_BAR = 1016,
    IDC_DATA_BAR = 1017,
    IDC_SAVE_AS = 1018,
    IDC_ETC1_BAR = 1019,
    IDC_DOWNLOAD = 1020,
    IDC_RESOURCE_CHECK = 1021,
    IDC_CHANGE_BOOT_AREA = 1022,
    IDC_STATUS_LINE = 1024,
    IDC_RESOURCE_PICK = 1025,
    IDC_RESOURCE_ADDRESS = 1026,
    IDC_RESOURCE_BAR = 1027,
    IDC_AUTO = 1028,
    IDC_FORMAT = 1030,
    IDC_CREATE_RESOURCE_BINARY = 1031,
    IDC_ERASE_NAND = 1046,
    IDC_ERASE_ALL = 1049,
    IDC_ERASE_EXCEPT_BACKUP = 1050,
    IDC_ERASE_NONE = 1051,
};

// Channel n's port selector and progress bar.
inline constexpr std::array<int, kChannels> kPortSelectorIds = {1023, 1032, 1034, 1036,
                                                                1038, 1040, 1042, 1044};
inline constexpr std::array<int, kChannels> kChannelBarIds = {1029, 1033, 1035, 1037,
                                                              1039, 1041, 1043, 1045};

enum class ControlKind {
    CheckBox,
    PushButton,
    Edit,        // plain edit (the job file)
    HexEdit,     // CHexEdit
    NoTypeEdit,  // CNoTypeEdit
    DropDownList,
    ProgressBar,  // CCaptionProgressCtrl
    GroupBox,
    StaticText,
    StaticTextCentred,
    RadioButton,
};

struct DialogControl {
    int id;
    ControlKind kind;
    const char* caption;
    int x, y, cx, cy;  // dialog units; a drop-down list's height includes its opened list
    bool visible;
    bool enabled;
    bool tabStop;
};

inline constexpr int kMainDialogWidth = 379;  // dialog units, client area
inline constexpr int kMainDialogHeight = 323;
inline constexpr const char* kMainDialogCaption = "[M6275]U-Pelor v1.3";
inline constexpr int kMainDialogControlCount = 55;

extern const std::array<DialogControl, kMainDialogControlCount> kMainDialogTemplate;

// A rectangle in pixels.
struct DialogRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Dialog units of a font: the base units are the average character width (the width of
// "A".."Z" "a".."z" divided by 52, rounded) and the font height.
struct DialogUnits {
    int baseX = 1;
    int baseY = 1;

    // From the width of the 52 letters and the font's height, in pixels.
    static DialogUnits FromMetrics(int lettersWidth, int height);
    int X(int dluX) const;  // dluX * baseX / 4, rounded
    int Y(int dluY) const;  // dluY * baseY / 8, rounded
    // Both edges are mapped, so neighbouring controls meet where the template has them meet.
    DialogRect Map(int x, int y, int cx, int cy) const;
};

// The template's control with this id; null for an unknown id (and IDC_STATIC).
const DialogControl* UI_FindControl(int id);
