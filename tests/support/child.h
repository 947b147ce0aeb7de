// SPDX-License-Identifier: MIT
// Running a piece of the program in a child process: the program ends the process itself
// (exit code 0 from any thread), so a test forks, lets the child run to its end, and reads the
// child's exit status and what it recorded.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zoq::test {

struct ChildResult {
    bool exited = false;  // ended by exit, not by a signal or the time limit
    int exit_code = -1;
    int signal = 0;
    bool timed_out = false;
    std::vector<std::string> lines;  // what the child wrote to its record descriptor
};

// Forks; the child runs `body(record_fd)`; if `body` returns, the child exits with code 99 so
// that a run that should have ended the process shows. Kills the child after `timeout_ms`.
ChildResult run_in_child(const std::function<void(int record_fd)>& body, int timeout_ms = 60000);

}  // namespace zoq::test
