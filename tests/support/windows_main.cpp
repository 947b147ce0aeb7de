// SPDX-License-Identifier: MIT
// The test programs' entry on Windows: Winsock is started first, as the utility's start-up does
// before its first socket, since the tests call the socket layer directly.
#include <gtest/gtest.h>

#include <cstdio>

#include "os/socket.h"

int main(int argc, char** argv) {
    if (!zoq::open_socket_layer()) {
        std::fprintf(stderr, "The socket layer did not start.\n");
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
