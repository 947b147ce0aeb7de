// SPDX-License-Identifier: MIT
// main() of the whole-upgrade tests: each test process (ctest runs one test per process) sits
// on its own LAN, the PC here and the device in a network of its own.
#include <gtest/gtest.h>

#include "tests/support/netns.h"

int main(int argc, char** argv) {
    if (!zoq::test::enter_lan()) return 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
