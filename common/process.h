// SPDX-License-Identifier: MIT
// Ending the process from whichever thread: flush what was written, then leave at once with
// exit code 0. std::exit from a second thread runs the exit handlers under the toolkit's feet.
#pragma once

namespace zoq {

[[noreturn]] void end_process();

}  // namespace zoq
