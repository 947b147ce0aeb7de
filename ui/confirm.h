// SPDX-License-Identifier: MIT
// The confirmation with the device's details, after the status page was read.
#pragma once

#include <string_view>

#include "ui/port.h"

namespace zoq {

// What the dialog shows: the image's version and the five values of the device's page.
struct ConfirmDetails {
    std::string_view image_version;
    std::string_view serial_number;
    std::string_view mac_address;
    std::string_view software_version;
    std::string_view hardware_version;
    std::string_view product_name;
};

// Template 103; context: a ConfirmDetails. Ends with 1 for Upgrade, 0 for Cancel.
bool confirm_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

}  // namespace zoq
