// SPDX-License-Identifier: MIT
// The embedded firmware image and the model table that tells which device it is for.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "res/short_texts.h"

namespace zoq {

struct UpgradeState;

inline constexpr std::size_t IMAGE_HEADER_SIZE = 128;
inline constexpr std::size_t IMAGE_VERSION_OFFSET = 0x5c;

struct FirmwareImage {
    const std::uint8_t* data = nullptr;  // stays valid for the life of the process
    std::uint32_t size = 0;
    std::array<std::uint8_t, IMAGE_HEADER_SIZE> header{};
    // The NUL-terminated version text at header offset 0x5c (a view into `header`).
    const char* version() const {
        return reinterpret_cast<const char*>(header.data() + IMAGE_VERSION_OFFSET);
    }
};

enum class TagCase { Exact, Folded };  // how the image header is compared with the tag
enum class DeviceKind { Adapter, Phone };
enum class SuccessDialog { Plain, Alternate };  // templates 111 and 113

// Every fact the run knows about one model.
struct ModelEntry {
    const char* tag;  // the image header begins with it
    int compare_length;
    TagCase tag_case;
    const char* display_name;
    DeviceKind kind;                   // a phone's version is not checked after the upgrade
    std::uint32_t restart_wait_units;  // 32 ms units of waiting for the device to restart
    SuccessDialog success;
};

// Restart wait of every model without one of its own: about 35 seconds.
inline constexpr std::uint32_t DEFAULT_RESTART_WAIT_UNITS = 1093;

// The twenty rows, in the order they are searched (first match wins).
std::span<const ModelEntry> model_table();

// The row whose display name shares the first seven characters of `model_name`, or null (the
// unknown model). The run knows its model by that name.
const ModelEntry* model_named(std::string_view model_name);
// The restart wait of the model, in 32 ms units.
std::uint32_t restart_wait_units(std::string_view model_name);
// Template of the success dialog for the model: 113 or 111.
int success_template(std::string_view model_name);

// Points `state.image` at the embedded image and copies its header.
void load_firmware_image(UpgradeState& state);
// Points `state.image` at any bytes (at least 128 of them); tests use other images.
void load_image_bytes(UpgradeState& state, std::span<const std::uint8_t> bytes);
// Sets `model_name` and `is_phone` from `state.image.header`.
void identify_model(UpgradeState& state);

}  // namespace zoq
