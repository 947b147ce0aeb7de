// SPDX-License-Identifier: MIT
// The warning notice, the first dialog of a run.
#pragma once

#include <string_view>

#include "ui/port.h"

namespace zoq {

struct NoticeDetails {
    std::string_view model_name;  // the image's model, in the caption
};

// Template 139; context: a NoticeDetails. Ends with 1 for Continue, 0 for Cancel.
bool notice_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

}  // namespace zoq
