// SPDX-License-Identifier: MIT
// After the transfer: the device's restart wait under the updating title, then the report: the
// upload failure, or the status page read again and the version the device now runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/state.h"
#include "tftp/session.h"
#include "ui/port.h"

namespace zoq {

// Unit of the restart wait: the millisecond counter shifted right by 5.
inline constexpr std::uint32_t RESTART_UNIT_MS = 32;
// Readings of the shifted 32-bit counter wrap at 2^27.
inline constexpr std::uint32_t RESTART_UNIT_WRAP = 1u << 27;
inline constexpr int STATUS_READ_ATTEMPTS = 10;

// The restart wait of the model, in 32 ms units.
std::uint32_t restart_wait_units(std::string_view model_name);
// Template of the success dialog for the model: 113 or 111.
int success_template(std::string_view model_name);

// Runs on the listener thread with the uploading dialog still open; destroys it and returns
// when all reporting is done (a failure box, or the success dialog closed by the user).
void upgrade_completion(UpgradeState& state, std::uint32_t local_ip, std::uint32_t device_ip,
                        TransferOutcome outcome, DialogHandle dialog);

// What the success dialogs show; handed to `success_dialog_proc` as its context.
struct SuccessReport {
    const UpgradeState* state = nullptr;
    Text<128> software_version{};
};

bool success_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

}  // namespace zoq
