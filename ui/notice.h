// SPDX-License-Identifier: MIT
// The two modal dialogs that frame the decision to upgrade: the warning notice first, the
// confirmation with the device's details after the status page was read.
#pragma once

#include "ui/port.h"

namespace zoq {

// Template 139; context: the UpgradeState. Ends with 1 for Continue, 0 for Cancel.
bool notice_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);
// Template 103; context: the UpgradeState. Ends with 1 for Upgrade, 0 for Cancel.
bool confirm_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

}  // namespace zoq
