// SPDX-License-Identifier: MIT
// The program's entry routine: one upgrade, from start-up to the hand-over to the TFTP listener.
#pragma once

#include "app/state.h"

namespace zoq {

// `state` must be zero (freshly built) with `instance` and `clock` set; it must live for the
// whole process. Returns 0 when the run ends before the upgrade is confirmed; after that it
// never returns (the process is ended from the listener thread or a failure path).
int run_upgrade(UpgradeState& state);

// The three dialogs of the main thread before the upgrade, each on the run's fields; each
// returns the dialog's end code.
int show_notice(Toolkit& ui, const UpgradeState& state);
// Templates 101 or 305. On OK the run keeps the device's address, the chosen PC address and
// the file name drawn from its generator.
int choose_addresses(Toolkit& ui, UpgradeState& state);
// Template 103 with the image's version and the device's values.
int confirm_upgrade(Toolkit& ui, UpgradeState& state);

}  // namespace zoq
