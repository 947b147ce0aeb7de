// SPDX-License-Identifier: MIT
// The whole-run fixture of the e2e tests on bad networks and unending waits: what every e2e test
// has (e2e.h), and what these read from the device's record of its network.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/e2e.h"

namespace zoq::test {

class SimRun : public E2eRun {
  protected:
    void expect_success_dialog() {
        expect_in_order(
            {"caption 110 Uploading Target Firmware to " + AT_DEVICE + " 981328/981328 Bytes",
             "destroy 110", "open 111", "text 111 1004 5.2.13(004)", "end 111 1"});
        EXPECT_TRUE(messages().empty()) << seen();
    }
    // The device's figure for the transfer, for the record of the run.
    void report_transfer_time() const {
        for (const auto& line : sim_.lines()) {
            if (line.rfind("tftp: transfer time", 0) == 0 || line.rfind("tftp: network", 0) == 0) {
                std::printf("[device] %s\n", line.c_str());
            }
        }
    }

    // How many datagrams the device's bad network treated with `fault` ("dropped",
    // "duplicated", "reordered", "delayed") in one direction ("to the PC", "to the device").
    int fault_count(const std::string& direction, const std::string& fault) const {
        const std::string head = "tftp: network " + direction + ": ";
        for (const auto& line : sim_.lines()) {
            if (line.rfind(head, 0) != 0) continue;
            std::size_t at = line.find(fault + " ");
            if (at == std::string::npos) return -1;
            return std::atoi(line.c_str() + at + fault.size() + 1);
        }
        return -1;
    }

    static void upgrade_and_close_success(ScriptedToolkit& ui) {
        reach_the_upgrade(ui);
        ui.on_open(IDD_SUCCESS, {A::press(ID_OK)});
    }
};

}  // namespace zoq::test
