// SPDX-License-Identifier: MIT
// The firmware image the build put into the program: assembled into read-only data on Linux, a
// resource of type "ZOQ_FIRMWARE" with id 726 on Windows. Its bytes stay valid for the life of
// the process.
#pragma once

#include <cstdint>
#include <span>

namespace zoq {

inline constexpr int FIRMWARE_RESOURCE_ID = 726;
inline constexpr const char* FIRMWARE_RESOURCE_TYPE = "ZOQ_FIRMWARE";

// The image's bytes; empty when the program carries none.
std::span<const std::uint8_t> embedded_image();

}  // namespace zoq
