// SPDX-License-Identifier: MIT
// A program the tests start beside the code under test (the simulated device, a web server, a
// TFTP client): its standard output is read line by line, and it is stopped by its own id.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <thread>
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
    void reader(int fd);

    pid_t pid_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::string partial_;
    std::vector<std::string> lines_;
};

// Runs a program to its end, with a time limit; returns its exit code (-1 on time-out or
// signal) and its output.
int run_program(const std::vector<std::string>& argv, std::string* output, int timeout_ms);

}  // namespace zoq::test
