// SPDX-License-Identifier: MIT
// Whole upgrades through a device whose acknowledgements go wrong on the way: lost, repeated,
// or sent from another port. The utility's own TFTP server must carry each one to the image
// byte for byte and the success dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/e2e.h"

namespace zoq {
namespace {

// The counts the simulated device reports at the end of its download.
struct AckCounts {
    unsigned sent = 0;
    unsigned left_out = 0;
    unsigned blocks_again = 0;
};

class TftpFaults : public Upgrade {
  protected:
    AckCounts ack_counts() {
        const std::string prefix = "tftp: acknowledgements sent ";
        EXPECT_TRUE(sim_.wait_for(prefix, 5000)) << sim_.output();
        const std::string out = sim_.output();
        AckCounts c;
        const std::size_t at = out.find(prefix);
        if (at == std::string::npos ||
            std::sscanf(out.c_str() + at,
                        "tftp: acknowledgements sent %u, left out %u, blocks "
                        "received again %u",
                        &c.sent, &c.left_out, &c.blocks_again) != 3) {
            ADD_FAILURE() << "no counts in the device's output:\n" << out;
        }
        return c;
    }
    void expect_no_protocol_violation() {
        EXPECT_EQ(sim_.output().find("protocol violation"), std::string::npos) << sim_.output();
    }
};

// 1,917 blocks with every 60th ACK lost: 31 losses, more than the 30 intervals the server
// allows in a row, so the whole run only completes if every accepted ACK starts its count
// afresh.
TEST_F(TftpFaults, EverySixtiethAckLost) {
    start_device({"--drop-ack-every", "60"});
    run(upgrade_without_password);
    expect_success_seen();
    const AckCounts c = ack_counts();
    EXPECT_EQ(c.left_out, 31u);
    // Each loss is mended by the resend of the block; the device answers it at once.
    EXPECT_GE(c.blocks_again, 31u);
    expect_no_protocol_violation();
}

// Every ACK twice: the second is dropped without a resend. A server that answered duplicates
// would send every block twice from the first duplicate on (the sorcerer's apprentice); a few
// resends are allowed for a slow machine that lets an interval pass.
TEST_F(TftpFaults, EveryAckTwice) {
    start_device({"--duplicate-acks"});
    run(upgrade_without_password);
    expect_success_seen();
    const AckCounts c = ack_counts();
    EXPECT_EQ(c.sent, 2u * 1918u) << "ACK 0 to ACK 1917, each twice";
    EXPECT_LT(c.blocks_again, 50u);
    expect_no_protocol_violation();
}

// The ACK of one block comes from another port of the device's address: a stranger's, to be
// taken as silence, and the block is sent again to the right port.
TEST_F(TftpFaults, AckFromAnotherPort) {
    for (const char* block : {"1", "1000"}) {
        SCOPED_TRACE(std::string("stray at block ") + block);
        start_device({"--stray-from-other-port", "--stray-at-block", block});
        run(upgrade_without_password);
        expect_success_seen();
        EXPECT_TRUE(sim_.wait_for(
            std::string("tftp: the server ignored the stray datagram and sent block ") + block +
                " again",
            100))
            << sim_.output();
        expect_no_protocol_violation();
        sim_.stop();
    }
}

}  // namespace
}  // namespace zoq
