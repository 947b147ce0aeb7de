// SPDX-License-Identifier: MIT
#include "platform/win32/dialog_memory.h"

#include <cstdlib>
#include <string_view>

#include "platform/win32/windows_api.h"

namespace zoq::win32 {
namespace {

// Ordinals of the predefined window classes in a dialog template.
constexpr std::uint16_t BUTTON_ATOM = 0x0080;
constexpr std::uint16_t EDIT_ATOM = 0x0081;
constexpr std::uint16_t STATIC_ATOM = 0x0082;
constexpr std::uint16_t COMBOBOX_ATOM = 0x0085;

class Writer {
  public:
    void word(std::uint16_t w) { words_.push_back(w); }
    void dword(std::uint32_t d) {
        word(static_cast<std::uint16_t>(d & 0xFFFF));
        word(static_cast<std::uint16_t>(d >> 16));
    }
    void coordinate(int v) { word(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
    void ordinal(std::uint16_t id) {
        word(0xFFFF);
        word(id);
    }
    // Texts are the program's own, in the ANSI code page the rest of the program talks in.
    void text(std::string_view s) {
        if (!s.empty()) {
            const int n =
                MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
            std::vector<wchar_t> wide(static_cast<std::size_t>(n > 0 ? n : 0));
            if (n > 0) {
                MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), wide.data(),
                                    n);
            }
            for (wchar_t c : wide) word(static_cast<std::uint16_t>(c));
        }
        word(0);
    }
    void align_dword() {
        if (words_.size() % 2) word(0);
    }
    std::vector<std::uint16_t> take() { return std::move(words_); }

  private:
    std::vector<std::uint16_t> words_;
};

std::uint32_t alignment(std::uint32_t style, std::uint32_t left, std::uint32_t center,
                        std::uint32_t right) {
    if (style & STYLE_ALIGN_RIGHT) return right;
    if (style & STYLE_ALIGN_CENTER) return center;
    return left;
}

// An icon names its resource by number ("286"): written as an ordinal, which is how the
// dialog manager's static control looks an icon up in the module.
std::uint16_t icon_ordinal(const char* text) {
    return static_cast<std::uint16_t>(std::strtoul(text ? text : "0", nullptr, 10));
}

}  // namespace

const char* control_class_name(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
            return "Button";
        case ControlKind::Edit:
            return "Edit";
        case ControlKind::StaticText:
        case ControlKind::Icon:
            return "Static";
        case ControlKind::ProgressBar:
            return PROGRESS_CLASSA;
        case ControlKind::DropDownList:
            return "ComboBox";
        case ControlKind::IpAddress:
            return WC_IPADDRESSA;
    }
    return "Static";
}

std::uint32_t control_window_style(const ControlTemplate& c) {
    std::uint32_t s = WS_CHILD | WS_VISIBLE;
    if (c.style & STYLE_TAB_STOP) s |= WS_TABSTOP;
    if (c.style & STYLE_BORDER) s |= WS_BORDER;
    if (c.style & STYLE_VSCROLL) s |= WS_VSCROLL;
    switch (c.kind) {
        case ControlKind::PushButton:
            s |= (c.style & STYLE_DEFAULT_BUTTON) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
            break;
        case ControlKind::Edit:
            s |= alignment(c.style, ES_LEFT, ES_CENTER, ES_RIGHT);
            if (c.style & STYLE_READ_ONLY) s |= ES_READONLY;
            if (c.style & STYLE_MULTILINE) s |= ES_MULTILINE;
            if (c.style & STYLE_AUTO_HSCROLL) s |= ES_AUTOHSCROLL;
            if (c.style & STYLE_PASSWORD) s |= ES_PASSWORD;
            break;
        case ControlKind::StaticText:
            s |= alignment(c.style, SS_LEFT, SS_CENTER, SS_RIGHT);
            break;
        case ControlKind::Icon:
            s |= SS_ICON;
            break;
        case ControlKind::ProgressBar:
            break;
        case ControlKind::DropDownList:
            // Unsorted: the list's positions index the PC's addresses.
            s |= CBS_DROPDOWNLIST;
            if (!(c.style & STYLE_NO_SORT)) s |= CBS_SORT;
            break;
        case ControlKind::IpAddress:
            break;
    }
    return s;
}

std::vector<std::uint16_t> build_dialog_memory(const DialogTemplate& tmpl, bool modeless) {
    Writer w;
    std::uint32_t style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    if (modeless) style |= WS_VISIBLE;
    w.word(1);       // dlgVer
    w.word(0xFFFF);  // signature: the extended form
    w.dword(0);      // helpID
    w.dword(0);      // exStyle
    w.dword(style);
    w.word(static_cast<std::uint16_t>(tmpl.controls.size()));
    w.coordinate(tmpl.x);
    w.coordinate(tmpl.y);
    w.coordinate(tmpl.width);
    w.coordinate(tmpl.height);
    w.word(0);  // no menu
    w.word(0);  // the dialog manager's own class
    w.text(tmpl.caption ? tmpl.caption : "");
    w.word(static_cast<std::uint16_t>(tmpl.font_points > 0 ? tmpl.font_points : 8));
    w.word(FW_NORMAL);
    w.word(0);  // italic, charset (bytes): not italic, ANSI_CHARSET
    w.text(tmpl.font ? tmpl.font : "MS Sans Serif");

    for (const ControlTemplate& c : tmpl.controls) {
        w.align_dword();
        w.dword(0);  // helpID
        w.dword(0);  // exStyle
        w.dword(control_window_style(c));
        w.coordinate(c.x);
        w.coordinate(c.y);
        w.coordinate(c.width);
        w.coordinate(c.height);
        w.dword(static_cast<std::uint32_t>(c.id));
        switch (c.kind) {
            case ControlKind::PushButton:
                w.ordinal(BUTTON_ATOM);
                break;
            case ControlKind::Edit:
                w.ordinal(EDIT_ATOM);
                break;
            case ControlKind::StaticText:
            case ControlKind::Icon:
                w.ordinal(STATIC_ATOM);
                break;
            case ControlKind::DropDownList:
                w.ordinal(COMBOBOX_ATOM);
                break;
            case ControlKind::ProgressBar:
            case ControlKind::IpAddress:
                w.text(control_class_name(c.kind));
                break;
        }
        if (c.kind == ControlKind::Icon) {
            w.ordinal(icon_ordinal(c.text));
        } else {
            w.text(c.text ? c.text : "");
        }
        w.word(0);  // no creation data
    }
    return w.take();
}

}  // namespace zoq::win32
