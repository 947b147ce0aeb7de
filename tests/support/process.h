// SPDX-License-Identifier: MIT
// A program the tests start beside the code under test (the simulated device, a web server, a
// TFTP client): its output goes to an anonymous file that the test reads, so that the test
// process itself starts no thread (the code under test later runs in a forked child, and
// forking a process with threads is not something the sanitizers accept).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zoq::test {

class Process {
  public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // Starts `argv[0]` with the arguments; standard output and standard error are collected.
    bool start(const std::vector<std::string>& argv);
    // Waits until a line containing `text` has appeared. False after `timeout_ms`.
    bool wait_for(const std::string& text, int timeout_ms);
    std::vector<std::string> lines() const;
    std::string output() const;
    // Waits for the program to end by itself; its exit code, or -1 after `timeout_ms`.
    int wait_exit(int timeout_ms);
    // SIGTERM, then SIGKILL if it does not go; returns the exit status as waitpid gave it.
    void stop();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    int output_fd_ = -1;
};

// Runs a program to its end, with a time limit; returns its exit code (-1 on time-out or
// signal) and its output.
int run_program(const std::vector<std::string>& argv, std::string* output, int timeout_ms);

}  // namespace zoq::test
