// SPDX-License-Identifier: MIT
// The step in which the user names the device and picks the PC address it fetches from.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "common/random.h"
#include "common/text.h"
#include "ui/port.h"

namespace zoq {

// What the dialog shows, and what it fills on an accepted OK.
struct AddressDialog {
    std::span<const std::uint32_t> local_ips;  // the PC's addresses; the first 0 ends the list
    std::string_view model_name;
    bool is_phone = false;
    std::string_view image_version;
    // The run's generator: each accepted OK draws one file name from it.
    Random rng{};

    // Kept as it is when no PC address is selected.
    std::uint32_t local_ip = 0;
    std::uint32_t device_ip = 0;
    Text<32> device_ip_text{};
    Text<128> tftp_file_name{};
};

// Templates 101 and 305; context: an AddressDialog. Ends with 1 once a non-zero `device_ip`,
// `device_ip_text`, a fresh `tftp_file_name` and the chosen `local_ip` are stored; 0 on Cancel.
bool address_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

}  // namespace zoq
