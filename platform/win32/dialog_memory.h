// SPDX-License-Identifier: MIT
// The program's dialog templates turned into the dialog manager's own in-memory format
// (DLGTEMPLATEEX), so that Win32 builds its windows from the same tables as every other backend.
#pragma once

#include <cstdint>
#include <vector>

#include "res/templates.h"

namespace zoq::win32 {

// Words (16 bits) because the format is a run of WORD, DWORD and UTF-16 fields aligned on two
// bytes, with each control record starting on four. `modeless` adds WS_VISIBLE: a modeless
// dialog shows as soon as its procedure has filled it in; the modal loop shows its own.
std::vector<std::uint16_t> build_dialog_memory(const DialogTemplate& tmpl, bool modeless);

// The window styles of one control, and its window class as the template names it.
std::uint32_t control_window_style(const ControlTemplate& control);
const char* control_class_name(ControlKind kind);

}  // namespace zoq::win32
