// SPDX-License-Identifier: MIT
// The third-party programs the peer tests run against. A missing one skips its tests on a
// developer's machine, with the reason printed; in CI (CI=true) it fails them, so that a
// machine without the peers cannot pass without the only tests against independent programs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace zoq::test {

inline bool running_in_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

}  // namespace zoq::test

// Returns from the test (or its SetUp) when `program` cannot be run: a failure in CI, a skip
// elsewhere.
#define ZOQ_REQUIRE_PEER(program)                                              \
    do {                                                                       \
        if (::access((program), X_OK) != 0) {                                  \
            if (::zoq::test::running_in_ci()) {                                \
                FAIL() << (program)                                            \
                       << " is not installed, and CI must run the peer tests " \
                          "(scripts/setup installs it)";                       \
            }                                                                  \
            GTEST_SKIP() << (program)                                          \
                         << " is not installed (scripts/setup installs it); "  \
                            "skipped outside CI";                              \
        }                                                                      \
    } while (0)
