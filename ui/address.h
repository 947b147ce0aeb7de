// SPDX-License-Identifier: MIT
// The step in which the user names the device and picks the PC address it fetches from.
#pragma once

#include "ui/port.h"

namespace zoq {

// Templates 101 and 305; context: the UpgradeState. Ends with 1 once a non-zero `device_ip`,
// `device_ip_text`, a fresh `tftp_file_name` and the chosen `local_ip` are stored; 0 on Cancel.
bool address_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

}  // namespace zoq
