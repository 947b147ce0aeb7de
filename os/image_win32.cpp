// SPDX-License-Identifier: MIT
// The image as the program's own resource: found in the module that started the process, then
// loaded and locked once. A resource is mapped with the module and never unloaded, so the
// pointer stays valid until the process ends.
#include <windows.h>

#include "os/image.h"

namespace zoq {

std::span<const std::uint8_t> embedded_image() {
    static const std::span<const std::uint8_t> image = [] {
        HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(FIRMWARE_RESOURCE_ID),
                                      FIRMWARE_RESOURCE_TYPE);
        if (!found) return std::span<const std::uint8_t>();
        const DWORD size = ::SizeofResource(nullptr, found);
        HGLOBAL loaded = ::LoadResource(nullptr, found);
        const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
        if (!bytes || size == 0) return std::span<const std::uint8_t>();
        return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), size);
    }();
    return image;
}

}  // namespace zoq
