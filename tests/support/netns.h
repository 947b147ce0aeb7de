// SPDX-License-Identifier: MIT
// A private network for tests that need fixed ports (69, 80) or a second loopback address:
// the test process moves into a network namespace of its own, where only loopback exists and
// nothing of the host's is touched.
#pragma once

#include <cstdint>

namespace zoq::test {

// Enters a new network namespace (and a user namespace when not root) and brings lo up.
// Must run while the process has one thread. False (with a reason on stderr) when the kernel
// refuses.
bool enter_private_network();

// Gives lo one more IPv4 address (host order), under the alias `label` ("lo:1"), inside the
// private network, so that the PC has a second address to choose. False (with a reason on
// stderr) when the kernel refuses.
bool add_loopback_address(std::uint32_t ip, const char* label);

}  // namespace zoq::test
