// SPDX-License-Identifier: MIT
// The typed address: any bytes, made a NUL-terminated text as the address control hands it.
#include <cstdint>
#include <cstring>
#include <string>

#include "ui/ipv4.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::uint32_t out = 1;
    int code = zoq::parse_ipv4(text.c_str(), &out);
    if (code != 0 && out != 0) __builtin_trap();
    if (code < 0 || code > 5) __builtin_trap();
    return 0;
}
