// SPDX-License-Identifier: MIT
// The typed address: any bytes, made a NUL-terminated text as the address control hands it.
#include <cstdint>
#include <cstring>
#include <string>

#include "ui/ipv4.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const zoq::Ipv4Parse parsed = zoq::parse_ipv4(text.c_str());
    const int code = static_cast<int>(parsed.result);
    if (code != 0 && parsed.address != 0) __builtin_trap();
    if (code < 0 || code > 5) __builtin_trap();
    return 0;
}
