// SPDX-License-Identifier: MIT
#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace zoq::test {

using Clock = std::chrono::steady_clock;

Process::~Process() {
    stop();
    if (output_fd_ >= 0) ::close(output_fd_);
}

bool Process::start(const std::vector<std::string>& argv) {
    // A Process may run one program after another: the one before is ended and forgotten, or
    // its `reaped_` would leave the next one running when the test ends.
    stop();
    if (output_fd_ >= 0) ::close(output_fd_);
    pid_ = -1;
    reaped_ = false;
    status_ = -1;
    output_fd_ = ::memfd_create("zoq-test-output", MFD_CLOEXEC);
    if (output_fd_ < 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output_fd_, 1);
    posix_spawn_file_actions_adddup2(&actions, output_fd_, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = -1;
    return rc == 0;
}

std::string Process::output() const {
    std::string all;
    if (output_fd_ < 0) return all;
    char buf[65536];
    off_t at = 0;
    for (;;) {
        ssize_t n = ::pread(output_fd_, buf, sizeof buf, at);
        if (n <= 0) break;
        all.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
    return all;
}

std::vector<std::string> Process::lines() const {
    std::vector<std::string> out;
    std::string all = output();
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t nl = all.find('\n', start);
        if (nl == std::string::npos) nl = all.size();
        out.push_back(all.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

bool Process::wait_for(const std::string& text, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        if (output().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline);
    return false;
}

int Process::wait_exit(int timeout_ms) {
    if (pid_ < 0) return -1;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!reaped_) {
        if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
            reaped_ = true;
            break;
        }
        if (Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void Process::stop() {
    if (pid_ <= 0 || reaped_) return;
    ::kill(pid_, SIGTERM);
    if (wait_exit(3000) == -1 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
}

int run_program(const std::vector<std::string>& argv, std::string* output, int timeout_ms) {
    Process p;
    if (!p.start(argv)) return -1;
    int code = p.wait_exit(timeout_ms);
    if (code == -1) p.stop();
    if (output) *output = p.output();
    return code;
}

}  // namespace zoq::test
