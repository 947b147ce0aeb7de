// SPDX-License-Identifier: MIT
#include "app/firmware.h"

#include <array>
#include <cstring>

#include "common/text.h"
#include "os/image.h"

namespace zoq {
namespace {

constexpr std::array<ModelEntry, 20> MODELS{{
    {"zoq5400", 7, false, "ZOQ-5400", false},       {"zoq4200", 7, false, "ZOQ-4100/4200", false},
    {"zoq4101", 7, false, "ZOQ-4101", false},       {"vantel9", 7, false, "ZOQ-631/611", true},
    {"vantel6", 7, false, "ZOQ-652", true},         {"LvAnTeM", 7, true, "ZOQ-632/612", true},
    {"vAnT601", 7, false, "ZOQ-601", true},         {"VaNtElX", 7, true, "ZOQ53xH", false},
    {"vantel", 6, false, "ZOQ-731", true},          {"corvane", 7, false, "Corvane QAT2", false},
    {"CvQaT2W4", 8, false, "Corvane QAT2T", false}, {"ZoQ4402", 7, true, "ZOQ-4402", false},
    {"ZoQ5502", 7, true, "ZOQ-5502", false},        {"ZoQ4502", 7, true, "ZOQ-4502", false},
    {"zoq4500", 7, false, "ZOQ-4500", false},       {"ZoQ7700t", 8, true, "ZOQ7700", false},
    {"zoq7700", 7, false, "ZOQ-7700", false},       {"ZoQ6600", 7, true, "ZOQ6600", false},
    {"ZoQ6688", 7, true, "ZOQ6688", false},         {"LvAnTe5", 7, true, "ZOQ5x5h", false},
}};

unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

bool tag_matches(const ModelEntry& row, const std::uint8_t* header) {
    for (int i = 0; i < row.compare_length; ++i) {
        auto want = static_cast<unsigned char>(row.tag[i]);
        unsigned char have = header[i];
        // A NUL in the header ends the comparison, as unequal (tags never hold a NUL).
        if (have == 0) return false;
        if (row.case_sensitive ? have != want : fold(have) != fold(want)) return false;
    }
    return true;
}

}  // namespace

std::span<const ModelEntry> model_table() {
    return MODELS;
}

std::span<const std::uint8_t> embedded_image() {
    return system_embedded_image();
}

void load_image_bytes(UpgradeState& state, std::span<const std::uint8_t> bytes) {
    state.image.data = bytes.data();
    state.image.size = static_cast<std::uint32_t>(bytes.size());
    state.image.header.fill(0);
    if (!bytes.empty()) {
        std::memcpy(state.image.header.data(), bytes.data(),
                    bytes.size() < IMAGE_HEADER_SIZE ? bytes.size() : IMAGE_HEADER_SIZE);
    }
    // The version text must end inside the header whatever image was handed in.
    state.image.header[IMAGE_HEADER_SIZE - 1] = 0;
}

void load_firmware_image(UpgradeState& state) {
    load_image_bytes(state, embedded_image());
}

void identify_model(UpgradeState& state) {
    state.is_phone = 0;
    for (const ModelEntry& row : MODELS) {
        if (tag_matches(row, state.image.header.data())) {
            copy_text(state.model_name, row.display_name);
            if (row.is_phone) state.is_phone = 1;
            return;
        }
    }
    copy_text(state.model_name, short_text(UNKNOWN_MODEL_NAME));
}

}  // namespace zoq
