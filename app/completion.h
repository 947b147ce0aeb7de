// SPDX-License-Identifier: MIT
// After the transfer, on the listener thread: the device's restart wait under the updating
// title, then the report: the upload failure, or the status page read again and the version
// the device now runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "app/state.h"
#include "tftp/session.h"
#include "ui/port.h"
#include "ui/transfer.h"

namespace zoq {

// Unit of the restart wait: the millisecond counter shifted right by 5.
inline constexpr std::uint32_t RESTART_UNIT_MS = 32;
// Readings of the shifted 32-bit counter wrap at 2^27.
inline constexpr std::uint32_t RESTART_UNIT_WRAP = 1u << 27;
inline constexpr int STATUS_READ_ATTEMPTS = 10;

// Runs with the uploading dialog of a Complete or Failed transfer still open; destroys it and
// returns when all reporting is done (a failure box, or the success dialog closed by the
// user). A Cancel in the dialog during the wait ends the run.
void upgrade_completion(UpgradeState& state, TransferOutcome outcome, TransferDialogs& dialogs);

// What the success dialogs show; handed to `success_dialog_proc` as its context.
struct SuccessReport {
    const UpgradeState* state = nullptr;
    Text<128> software_version{};
};

bool success_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

}  // namespace zoq
