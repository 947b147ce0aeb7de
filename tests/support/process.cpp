// SPDX-License-Identifier: MIT
#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace zoq::test {

using Clock = std::chrono::steady_clock;

Process::~Process() {
    stop();
}

bool Process::start(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        pid_ = -1;
        return false;
    }
    reader_ = std::thread(&Process::reader, this, fds[0]);
    return true;
}

void Process::reader(int fd) {
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        partial_.append(buf, static_cast<std::size_t>(n));
        std::size_t nl;
        while ((nl = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    if (!partial_.empty()) lines_.push_back(std::move(partial_));
}

bool Process::wait_for(const std::string& text, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::size_t seen = 0;
    while (Clock::now() < deadline) {
        {
            std::lock_guard lock(mutex_);
            for (; seen < lines_.size(); ++seen) {
                if (lines_[seen].find(text) != std::string::npos) return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::vector<std::string> Process::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string Process::output() const {
    std::string all;
    for (const auto& l : lines()) all += l + "\n";
    return all;
}

int Process::wait_exit(int timeout_ms) {
    if (pid_ < 0) return -1;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!reaped_) {
        pid_t r = ::waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            break;
        }
        if (Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (reader_.joinable()) reader_.join();
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void Process::stop() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGTERM);
        if (wait_exit(3000) == -1 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            reaped_ = true;
        }
    }
    if (reader_.joinable()) reader_.join();
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
