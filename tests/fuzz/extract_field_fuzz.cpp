// SPDX-License-Identifier: MIT
// Any bytes as a status page, searched for every label as the exchange does.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "web/http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_unique<char[]>(size ? size : 1);
    if (size) std::memcpy(bytes.get(), data, size);
    zoq::DeviceInfo info;
    for (const auto& entry : zoq::FIELD_LABELS) {
        zoq::Text<128>& field = info.*entry.field;
        char* out =
            zoq::extract_field({bytes.get(), size}, entry.label, field.data(), zoq::FIELD_MAX);
        if (out && out != field.data()) __builtin_trap();
        if (std::strlen(field.data()) > zoq::FIELD_MAX) __builtin_trap();
        if (out && std::memchr(field.data(), '<', std::strlen(field.data()))) __builtin_trap();
    }
    return 0;
}
