// SPDX-License-Identifier: MIT
#include "os/image.h"

// Bounds of the image that the build assembled into the program (res/firmware_blob.S).
extern "C" const std::uint8_t zoq_firmware_start[];
extern "C" const std::uint8_t zoq_firmware_end[];

namespace zoq {

std::span<const std::uint8_t> embedded_image() {
    return {zoq_firmware_start, static_cast<std::size_t>(zoq_firmware_end - zoq_firmware_start)};
}

}  // namespace zoq
