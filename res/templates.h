// SPDX-License-Identifier: MIT
// The dialog templates, as data: every backend builds its windows from these tables, in dialog
// units, so that each dialog has the same controls, texts and places on every toolkit.
#pragma once

#include <cstdint>
#include <span>

namespace zoq {

inline constexpr int NO_CONTROL_ID = -1;  // static texts and icons nobody addresses

enum class ControlKind {
    PushButton,
    Edit,  // text entry; read-only, multi-line, borderless and password by style
    StaticText,
    ProgressBar,
    DropDownList,  // combo box that only picks from its list
    Icon,
    IpAddress,  // IPv4 address entry whose text reads back in dotted form
};

// Style bits, named after what they do.
enum ControlStyle : std::uint32_t {
    STYLE_DEFAULT_BUTTON = 1u << 0,
    STYLE_TAB_STOP = 1u << 1,
    STYLE_READ_ONLY = 1u << 2,
    STYLE_MULTILINE = 1u << 3,
    STYLE_BORDER = 1u << 4,
    STYLE_AUTO_HSCROLL = 1u << 5,
    STYLE_PASSWORD = 1u << 6,
    STYLE_ALIGN_RIGHT = 1u << 7,
    STYLE_ALIGN_CENTER = 1u << 8,
    STYLE_VSCROLL = 1u << 9,
    STYLE_NO_SORT = 1u << 10,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;         // for an icon: its resource number as text ("106", "286")
    int x, y, width, height;  // dialog units
    std::uint32_t style;
    const char* label;  // accessible name for controls that carry no visible text of their own
};

struct DialogTemplate {
    int id;
    const char* caption;
    int x, y, width, height;  // dialog units
    const char* font;
    int font_points;
    std::span<const ControlTemplate> controls;
};

// The template of `id`, or null.
const DialogTemplate* find_template(int id);
std::span<const DialogTemplate> all_templates();

// The failure message box: text and caption from the caller, an OK button, no icon, task-modal.
struct MessageBoxTemplate {
    const char* button;
};
inline constexpr MessageBoxTemplate MESSAGE_BOX_TEMPLATE{"OK"};

// Template ids.
inline constexpr int IDD_NOTICE = 139;
inline constexpr int IDD_ADDRESS = 101;
inline constexpr int IDD_ADDRESS_PHONE = 305;
inline constexpr int IDD_CONFIRM = 103;
inline constexpr int IDD_PASSWORD = 104;
inline constexpr int IDD_PROGRESS = 105;
inline constexpr int IDD_WAITING = 114;
inline constexpr int IDD_UPLOADING = 110;
inline constexpr int IDD_SUCCESS = 111;
inline constexpr int IDD_SUCCESS_ALT = 113;

// Command ids the dialog manager itself sends, and the ids of the buttons that send them. Not
// IDOK and IDCANCEL: those are macros of windows.h.
inline constexpr int ID_OK = 1;
inline constexpr int ID_CANCEL = 2;  // also Escape and the window's close box

// Control ids used by the procedures.
inline constexpr int IDC_IP_ADDRESS = 1000;
inline constexpr int IDC_SERIAL = 1002;
inline constexpr int IDC_MAC = 1003;
inline constexpr int IDC_USERNAME = 1003;
inline constexpr int IDC_SW_VERSION = 1004;
inline constexpr int IDC_SUCCESS_VERSION = 1004;
inline constexpr int IDC_HW_VERSION = 1005;
inline constexpr int IDC_PASSWORD = 1005;
inline constexpr int IDC_PRODUCT = 1006;
inline constexpr int IDC_INTRO = 1007;
inline constexpr int IDC_INSTRUCTIONS = 1008;
inline constexpr int IDC_PROGRESS = 1010;
inline constexpr int IDC_VERSION_LINE = 1015;
inline constexpr int IDC_LOCAL_IPS = 1017;
inline constexpr int IDC_WARNING = 1021;
inline constexpr int IDC_WAIT_TEXT = 1022;

// The program's icon (shown by the phone variant of the address dialog).
inline constexpr int IDI_PROGRAM = 286;

}  // namespace zoq
