// SPDX-License-Identifier: MIT
// Whole upgrades over a bad network: the simulated device loses, repeats, reorders and delays
// datagrams (and stalls its HTTP answers as a lossy link stalls TCP) from a fixed seed, in both
// directions. Lock-step TFTP with resends on silence must still deliver the image byte for byte,
// or, once a loss outlasts the resend limit, tell the user that the upload is incomplete.
#include "tests/e2e/sim_run.h"

namespace zoq::test {
namespace {

class Lossy : public SimRun {
  protected:
    // A lossy upgrade from notice to success dialog, then the device's check of the bytes,
    // and proof that the network did play `fault` on both ways.
    void upgrade_over(const std::vector<std::string>& network, const std::string& fault,
                      int limit_ms) {
        start_device(network);
        run(upgrade_and_close_success, limit_ms);
        expect_success_dialog();
        expect_device_got_the_image();
        report_transfer_time();
        EXPECT_GT(fault_count("to the PC", fault), 0) << sim_.output();
        EXPECT_GT(fault_count("to the device", fault), 0) << sim_.output();
    }
};

TEST_F(Lossy, OnePercentLoss) {
    upgrade_over({"--drop", "1", "--net-seed", "101"}, "dropped", 180000);
}

TEST_F(Lossy, FivePercentLoss) {
    upgrade_over({"--drop", "5", "--net-seed", "105"}, "dropped", 240000);
}

TEST_F(Lossy, TwentyPercentLoss) {
    // About one block in three needs a resend after 100 ms of silence: minutes, not seconds.
    upgrade_over({"--drop", "20", "--net-seed", "120"}, "dropped", 480000);
}

TEST_F(Lossy, DuplicatedDatagrams) {
    // Every duplicate ACK is dropped by the server; a duplicate DATA block draws a repeated
    // ACK, which must not make the server send the next block twice.
    upgrade_over({"--duplicate", "30", "--net-seed", "7"}, "duplicated", 180000);
    EXPECT_FALSE(sim_.wait_for("protocol violation", 10)) << sim_.output();
}

TEST_F(Lossy, ReorderedAndDelayedDatagrams) {
    upgrade_over({"--reorder", "20", "--delay", "10", "--delay-ms", "30", "--duplicate", "5",
                  "--net-seed", "9"},
                 "reordered", 180000);
    EXPECT_FALSE(sim_.wait_for("protocol violation", 10)) << sim_.output();
}

TEST_F(Lossy, HttpOverALossyLink) {
    // Lost, reordered and delayed TCP segments only stall the answers: every request still
    // gets its whole answer, the password is asked for once, the upgrade succeeds.
    start_device({"--drop", "40", "--reorder", "20", "--delay", "20", "--net-protocol", "http",
                  "--net-seed", "3", "--auth", "qop", "--password", "pw"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_PASSWORD, {A::type(IDC_PASSWORD, "pw"), A::press(ID_OK)});
        ui.on_open(IDD_CONFIRM, {A::press(ID_OK)});
        ui.on_open(IDD_SUCCESS, {A::press(ID_OK)});
    });
    expect_success_dialog();
    expect_device_got_the_image();
    EXPECT_EQ(count("open 104"), 1) << seen();
    bool stalled = false;
    for (const auto& line : sim_.lines()) {
        stalled = stalled || (line.rfind("http: network: dropped ", 0) == 0 &&
                              line.rfind("http: network: dropped 0,", 0) != 0);
    }
    EXPECT_TRUE(stalled) << sim_.output();
}

TEST_F(Lossy, SlowHttpAnswersOneByteAtATime) {
    start_device({"--slow-http-ms", "1"});
    run(upgrade_and_close_success);
    expect_success_dialog();
    expect_device_got_the_image();
    EXPECT_EQ(count("open 104"), 0);
}

TEST_F(Lossy, LinkThatLosesEverythingToTheDeviceFailsTheUpload) {
    // The read request gets through; no answer ever reaches the device. After 30 silent
    // intervals the server gives up, and the user hears of it after the restart wait.
    start_device({"--drop", "100", "--net-direction", "to-device", "--net-protocol", "tftp",
                  "--tftp-timeout-ms", "1000", "--tftp-retries", "2"});
    run(reach_the_upgrade);
    expect_in_order({"open 110", "caption 110 Updating Target Firmware to " + AT_DEVICE,
                     "destroy 110",
                     std::string(ERROR_BOX) + "Upgrade Failed: Firmware Upload Incomplete"});
    EXPECT_EQ(messages().size(), 1u) << seen();
    EXPECT_EQ(count("caption 110 Uploading"), 0) << "no ACK ever came";
    // The device gives up on its own clock, which may still run when the utility has ended.
    EXPECT_TRUE(sim_.wait_for("tftp: network to the device: ", 10000)) << sim_.output();
    EXPECT_GT(fault_count("to the device", "dropped"), 0) << sim_.output();
    EXPECT_EQ(count("open 111"), 0);
}

}  // namespace
}  // namespace zoq::test
