// SPDX-License-Identifier: MIT
// zoq-device-sim: a simulated ZOQ device for trying and testing the utility on one machine.
#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/firmware.h"
#include "common/net.h"
#include "os/image.h"
#include "os/socket.h"
#include "tools/sim/device.h"
#include "tools/sim/options.h"
#include "tools/sim/output.h"

int main(int argc, char** argv) {
    using namespace zoq::sim;
    SimOptions options;
    std::string error;
    switch (parse_options(argc, argv, options, error)) {
        case ParseOutcome::Help:
            std::fputs(help_text(), stdout);
            return 0;
        case ParseOutcome::Error:
            std::fprintf(stderr, "zoq-device-sim: %s\n", error.c_str());
            return 2;
        case ParseOutcome::Run:
            break;
    }

    std::vector<std::uint8_t> expected;
    if (options.expect_image.empty()) {
        auto image = zoq::embedded_image();
        expected.assign(image.begin(), image.end());
    } else {
        std::ifstream file(options.expect_image, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "zoq-device-sim: cannot read %s\n", options.expect_image.c_str());
            return 2;
        }
        expected.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    // Signals arrive as a readable descriptor, so every wait of the device can include them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return 1;
    zoq::Socket stop(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!stop.valid()) {
        std::fprintf(stderr, "zoq-device-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);

    Output out(stdout);
    Device device(options, std::move(expected), out, stop.fd());
    return device.run();
}
