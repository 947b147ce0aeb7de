// SPDX-License-Identifier: MIT
// The ten dialog templates, in dialog units, with their controls in template order.
#include "res/templates.h"

#include <array>

namespace zoq {
namespace {

constexpr const char* FONT = "MS Sans Serif";
constexpr std::uint32_t READ_ONLY_TEXT = STYLE_READ_ONLY | STYLE_MULTILINE;  // borderless
constexpr std::uint32_t BUTTON = STYLE_TAB_STOP;
constexpr std::uint32_t DEFAULT_BUTTON = STYLE_TAB_STOP | STYLE_DEFAULT_BUTTON;
constexpr std::uint32_t FIELD = STYLE_READ_ONLY | STYLE_BORDER | STYLE_TAB_STOP;

constexpr std::array NOTICE{
    ControlTemplate{ID_OK, ControlKind::PushButton, "Continue", 41, 116, 50, 14, BUTTON, nullptr},
    ControlTemplate{ID_CANCEL, ControlKind::PushButton, "Cancel", 109, 116, 50, 14, DEFAULT_BUTTON,
                    nullptr},
    ControlTemplate{IDC_WARNING, ControlKind::Edit, "", 12, 13, 189, 95, READ_ONLY_TEXT, "Warning"},
};

// Templates 101 and 305 differ only in their icon.
constexpr std::array<ControlTemplate, 9> address_controls(const char* icon) {
    return {{
        {ID_OK, ControlKind::PushButton, "OK", 26, 126, 50, 14, DEFAULT_BUTTON, nullptr},
        {ID_CANCEL, ControlKind::PushButton, "Cancel", 86, 126, 50, 14, BUTTON, nullptr},
        {IDC_INTRO, ControlKind::Edit, "", 13, 6, 139, 16, READ_ONLY_TEXT, "Introduction"},
        {IDC_INSTRUCTIONS, ControlKind::Edit, "", 13, 42, 148, 56, READ_ONLY_TEXT, "Instructions"},
        {IDC_VERSION_LINE, ControlKind::Edit, "", 37, 28, 89, 14, STYLE_READ_ONLY,
         "Firmware version"},
        {IDC_LOCAL_IPS, ControlKind::DropDownList, "", 63, 153, 79, 80,
         STYLE_VSCROLL | STYLE_NO_SORT | STYLE_TAB_STOP, "Your IP Address"},
        {NO_CONTROL_ID, ControlKind::StaticText, "Your IP Address", 9, 156, 52, 8, 0, nullptr},
        {NO_CONTROL_ID, ControlKind::Icon, icon, 119, 18, 20, 20, 0, nullptr},
        {IDC_IP_ADDRESS, ControlKind::IpAddress, "IPAddress1", 26, 103, 109, 15, STYLE_TAB_STOP,
         "ZOQ IP address"},
    }};
}

constexpr auto ADDRESS = address_controls("106");
constexpr auto ADDRESS_PHONE = address_controls("286");

constexpr std::uint32_t RIGHT = STYLE_ALIGN_RIGHT;
constexpr std::array CONFIRM{
    ControlTemplate{ID_OK, ControlKind::PushButton, "Upgrade", 33, 143, 50, 14, DEFAULT_BUTTON,
                    nullptr},
    ControlTemplate{ID_CANCEL, ControlKind::PushButton, "Cancel", 87, 143, 50, 14, BUTTON, nullptr},
    ControlTemplate{IDC_SERIAL, ControlKind::Edit, "", 82, 49, 67, 14, FIELD, "Serial Number"},
    ControlTemplate{IDC_MAC, ControlKind::Edit, "", 82, 66, 67, 14, FIELD, "MAC Address"},
    ControlTemplate{IDC_SW_VERSION, ControlKind::Edit, "", 82, 84, 67, 14, FIELD,
                    "Software Version"},
    ControlTemplate{IDC_HW_VERSION, ControlKind::Edit, "", 82, 100, 67, 14, FIELD,
                    "Hardware Version"},
    ControlTemplate{IDC_PRODUCT, ControlKind::Edit, "", 82, 118, 67, 14, FIELD, "Product Name"},
    ControlTemplate{NO_CONTROL_ID, ControlKind::StaticText, "Serial Number", 4, 52, 72, 8, RIGHT,
                    nullptr},
    ControlTemplate{NO_CONTROL_ID, ControlKind::StaticText, "MAC Address", 4, 70, 72, 8, RIGHT,
                    nullptr},
    ControlTemplate{NO_CONTROL_ID, ControlKind::StaticText, "Software Version", 4, 87, 72, 8, RIGHT,
                    nullptr},
    ControlTemplate{NO_CONTROL_ID, ControlKind::StaticText, "Hardware Version", 4, 103, 72, 8,
                    RIGHT, nullptr},
    ControlTemplate{NO_CONTROL_ID, ControlKind::StaticText, "Product Name", 4, 121, 72, 8, RIGHT,
                    nullptr},
    ControlTemplate{IDC_INTRO, ControlKind::Edit, "", 12, 6, 142, 37, READ_ONLY_TEXT,
                    "Introduction"},
};

constexpr std::uint32_t ENTRY = STYLE_BORDER | STYLE_AUTO_HSCROLL | STYLE_TAB_STOP;
constexpr std::array PASSWORD{
    ControlTemplate{ID_OK, ControlKind::PushButton, "OK", 32, 210, 50, 14, DEFAULT_BUTTON, nullptr},
    ControlTemplate{ID_CANCEL, ControlKind::PushButton, "Cancel", 104, 210, 50, 14, BUTTON,
                    nullptr},
    ControlTemplate{IDC_USERNAME, ControlKind::Edit, "", 68, 168, 85, 14, ENTRY, "User"},
    ControlTemplate{IDC_PASSWORD, ControlKind::Edit, "", 68, 186, 85, 14, ENTRY | STYLE_PASSWORD,
                    "Password"},
    ControlTemplate{NO_CONTROL_ID, ControlKind::StaticText, "User", 18, 170, 44, 8, RIGHT, nullptr},
    ControlTemplate{NO_CONTROL_ID, ControlKind::StaticText, "Password", 18, 191, 44, 8, RIGHT,
                    nullptr},
    ControlTemplate{IDC_INTRO, ControlKind::Edit, "", 15, 9, 165, 152, READ_ONLY_TEXT,
                    "Explanation"},
};

constexpr std::array PROGRESS{
    ControlTemplate{ID_CANCEL, ControlKind::PushButton, "Cancel", 65, 34, 50, 14, BUTTON, nullptr},
    ControlTemplate{IDC_PROGRESS, ControlKind::ProgressBar, "Progress1", 22, 10, 141, 14,
                    STYLE_BORDER, "Progress"},
};

constexpr std::array WAITING{
    ControlTemplate{IDC_WAIT_TEXT, ControlKind::StaticText, "", 15, 9, 244, 79, 0, "Instructions"},
    ControlTemplate{IDC_PROGRESS, ControlKind::ProgressBar, "", 38, 95, 191, 14, 0, "Activity"},
    ControlTemplate{ID_CANCEL, ControlKind::PushButton, "Cancel", 108, 115, 50, 14, BUTTON,
                    nullptr},
};

constexpr std::array UPLOADING{
    ControlTemplate{NO_CONTROL_ID, ControlKind::StaticText,
                    "Please do not unplug the power of your ZOQ until the Status Light stops "
                    "blinking",
                    86, 12, 137, 22, STYLE_ALIGN_CENTER, nullptr},
    ControlTemplate{IDC_PROGRESS, ControlKind::ProgressBar, "", 31, 36, 242, 8, 0,
                    "Upload progress"},
    ControlTemplate{ID_CANCEL, ControlKind::PushButton, "Cancel", 126, 52, 50, 14, BUTTON, nullptr},
};

// The static line of the success dialogs carries a web address; ours are the reserved example
// domains, which name nobody. The version field is no tab stop, so the focus starts on OK.
constexpr std::array<ControlTemplate, 4> success_controls(const char* address) {
    return {{
        {IDC_INTRO, ControlKind::Edit, "", 29, 9, 111, 33, READ_ONLY_TEXT, "Result"},
        {NO_CONTROL_ID, ControlKind::StaticText, address, 82, 50, 53, 8, 0, nullptr},
        {IDC_SUCCESS_VERSION, ControlKind::Edit, "", 15, 69, 136, 14,
         STYLE_READ_ONLY | STYLE_BORDER | STYLE_ALIGN_CENTER, "Firmware version"},
        {ID_OK, ControlKind::PushButton, "OK", 59, 94, 50, 14, DEFAULT_BUTTON, nullptr},
    }};
}

constexpr auto SUCCESS = success_controls("example.com");
constexpr auto SUCCESS_ALT = success_controls("example.net");

constexpr std::array TEMPLATES{
    DialogTemplate{IDD_NOTICE, "ZOQ-4200 Firmware Upgrade", 0, 0, 204, 143, FONT, 8, NOTICE},
    DialogTemplate{IDD_ADDRESS, "Enter ZOQ IP Address", 200, 200, 165, 181, FONT, 8, ADDRESS},
    DialogTemplate{IDD_ADDRESS_PHONE, "Dialog", 0, 0, 164, 178, FONT, 8, ADDRESS_PHONE},
    DialogTemplate{IDD_CONFIRM, "Confirm Upgrade", 0, 0, 172, 166, FONT, 8, CONFIRM},
    DialogTemplate{IDD_PASSWORD, "Enter Password Information", 200, 200, 191, 236, FONT, 8,
                   PASSWORD},
    DialogTemplate{IDD_PROGRESS, "Connecting with ZOQ", 200, 200, 186, 55, FONT, 8, PROGRESS},
    DialogTemplate{IDD_WAITING, "Waiting For Firmware Download Request From ZOQ", 0, 0, 270, 141,
                   FONT, 8, WAITING},
    DialogTemplate{IDD_UPLOADING, "Uploading Firmware To ZOQ", 0, 0, 303, 77, FONT, 8, UPLOADING},
    DialogTemplate{IDD_SUCCESS, "ZOQ Upgrade Successful!", 0, 0, 171, 126, FONT, 8, SUCCESS},
    DialogTemplate{IDD_SUCCESS_ALT, "ZOQ Upgrade Successful!", 0, 0, 171, 126, FONT, 8,
                   SUCCESS_ALT},
};

}  // namespace

const DialogTemplate* find_template(int id) {
    for (const auto& t : TEMPLATES) {
        if (t.id == id) return &t;
    }
    return nullptr;
}

std::span<const DialogTemplate> all_templates() {
    return TEMPLATES;
}

}  // namespace zoq
