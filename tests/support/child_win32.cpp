// SPDX-License-Identifier: MIT
// Running a piece of the program in a child process on Windows, where there is no fork: the
// test program starts itself again for the one test that asks, and that second run executes
// the test up to the same call of run_in_child, runs the body there and ends. Earlier calls of
// the same test are skipped in the child (the parent has run them). What the body records goes
// to a temporary file that the parent reads when the child has ended.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/child.h"

namespace zoq::test {
namespace {

constexpr const char* CHILD_VARIABLE = "ZOQ_CHILD_RUN";

std::string current_test_name() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info) return {};
    return std::string(info->test_suite_name()) + "." + info->name();
}

// The index of this call among the calls of run_in_child in the running test.
int next_call_index() {
    static std::string test;
    static int index = 0;
    std::string name = current_test_name();
    if (name != test) {
        test = name;
        index = 0;
    }
    return index++;
}

[[noreturn]] void run_body_and_end(const std::function<void(int)>& body, const std::string& path) {
    int fd = ::_open(path.c_str(), _O_WRONLY | _O_BINARY | _O_APPEND);
    body(fd);
    std::fflush(nullptr);
    // A body that returns has not ended the process as the code under test should.
    ::TerminateProcess(::GetCurrentProcess(), 99);
    ::ExitProcess(99);
}

std::vector<std::string> split_lines(const std::string& data) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        lines.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

ChildResult run_in_child(const std::function<void(int)>& body, int timeout_ms) {
    ChildResult result;
    const int index = next_call_index();
    if (const char* child = std::getenv(CHILD_VARIABLE)) {
        std::string spec(child);
        std::size_t bar = spec.find('|');
        if (bar != std::string::npos && std::atoi(spec.substr(0, bar).c_str()) == index) {
            run_body_and_end(body, spec.substr(bar + 1));
        }
        return result;  // a call the parent runs itself
    }

    char directory[MAX_PATH];
    char path[MAX_PATH];
    if (::GetTempPathA(MAX_PATH, directory) == 0 ||
        ::GetTempFileNameA(directory, "zoq", 0, path) == 0) {
        return result;
    }
    char program[MAX_PATH];
    if (::GetModuleFileNameA(nullptr, program, MAX_PATH) == 0) return result;
    std::string command = std::string("\"") + program + "\" --gtest_filter=" + current_test_name() +
                          " --gtest_brief=1";
    std::string value = std::to_string(index) + "|" + path;

    std::fflush(nullptr);
    ::SetEnvironmentVariableA(CHILD_VARIABLE, value.c_str());
    // The child is not the test run the premature-exit check watches.
    char premature[MAX_PATH] = {};
    DWORD premature_length =
        ::GetEnvironmentVariableA("TEST_PREMATURE_EXIT_FILE", premature, MAX_PATH);
    ::SetEnvironmentVariableA("TEST_PREMATURE_EXIT_FILE", nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = ::CreateProcessA(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                    nullptr, &startup, &process);
    ::SetEnvironmentVariableA(CHILD_VARIABLE, nullptr);
    if (premature_length > 0 && premature_length < MAX_PATH) {
        ::SetEnvironmentVariableA("TEST_PREMATURE_EXIT_FILE", premature);
    }
    if (!started) {
        ::DeleteFileA(path);
        return result;
    }
    ::CloseHandle(process.hThread);
    if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout_ms)) == WAIT_TIMEOUT) {
        result.timed_out = true;
        ::TerminateProcess(process.hProcess, 9);
        ::WaitForSingleObject(process.hProcess, INFINITE);
    } else {
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result.exited = true;
        result.exit_code = static_cast<int>(code);
    }
    ::CloseHandle(process.hProcess);
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    ::DeleteFileA(path);
    result.lines = split_lines(data);
    return result;
}

}  // namespace zoq::test
