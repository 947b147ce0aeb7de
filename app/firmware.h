// SPDX-License-Identifier: MIT
// The embedded firmware image and the model table that tells which device it is for.
#pragma once

#include <cstdint>
#include <span>

#include "common/state.h"
#include "res/short_texts.h"

namespace zoq {

struct ModelEntry {
    const char* tag;
    int compare_length;
    bool case_sensitive;
    const char* display_name;
    bool is_phone;
};

// The twenty rows, in the order they are searched (first match wins).
std::span<const ModelEntry> model_table();

// The image built into the program.
std::span<const std::uint8_t> embedded_image();

// Points `state.image` at the embedded image and copies its header.
void load_firmware_image(UpgradeState& state);
// Points `state.image` at any bytes (at least 128 of them); tests use other images.
void load_image_bytes(UpgradeState& state, std::span<const std::uint8_t> bytes);
// Sets `model_name` and `is_phone` from `state.image.header`.
void identify_model(UpgradeState& state);

}  // namespace zoq
