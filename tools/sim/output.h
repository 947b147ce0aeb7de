// SPDX-License-Identifier: MIT
// What the device says: one line per event on standard output, flushed at once, so that a
// test (or a person) sees each event as it happens.
#pragma once

#include <cstdio>

namespace zoq::sim {

class Output {
  public:
    explicit Output(std::FILE* out) : out_(out) {}
    void line(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  private:
    std::FILE* out_;
};

}  // namespace zoq::sim
