// SPDX-License-Identifier: MIT
// The program's entry routine: one upgrade, from start-up to the hand-over to the TFTP listener.
#pragma once

#include "common/state.h"

namespace zoq {

// `state` must be zero (freshly built) with `instance` and `clock` set; it must live for the
// whole process. Returns 0 when the run ends before the upgrade is confirmed; after that it
// never returns (the process is ended from the listener thread or a failure path).
int run_upgrade(UpgradeState& state);

}  // namespace zoq
