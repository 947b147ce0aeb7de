// SPDX-License-Identifier: MIT
// main() of the test programs that need a private network: each test process (ctest runs one
// test per process) gets its own loopback, with ports 69 and 80 free.
#include <gtest/gtest.h>

#include "tests/support/netns.h"

int main(int argc, char** argv) {
    if (!zoq::test::enter_private_network()) return 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
