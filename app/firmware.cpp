// SPDX-License-Identifier: MIT
#include "app/firmware.h"

#include <array>
#include <cstring>

#include "app/state.h"
#include "common/text.h"
#include "os/image.h"
#include "res/templates.h"

namespace zoq {
namespace {

constexpr auto A = DeviceKind::Adapter;
constexpr auto P = DeviceKind::Phone;
constexpr auto X = TagCase::Exact;
constexpr auto F = TagCase::Folded;
constexpr auto PLAIN = SuccessDialog::Plain;
constexpr auto ALT = SuccessDialog::Alternate;
constexpr std::uint32_t WAIT = DEFAULT_RESTART_WAIT_UNITS;

constexpr std::array<ModelEntry, 20> MODELS{{
    {"zoq5400", 7, F, "ZOQ-5400", A, WAIT, PLAIN},
    {"zoq4200", 7, F, "ZOQ-4100/4200", A, WAIT, PLAIN},
    {"zoq4101", 7, F, "ZOQ-4101", A, WAIT, PLAIN},
    {"vantel9", 7, F, "ZOQ-631/611", P, WAIT, PLAIN},
    {"vantel6", 7, F, "ZOQ-652", P, WAIT, PLAIN},
    {"LvAnTeM", 7, X, "ZOQ-632/612", P, WAIT, PLAIN},
    {"vAnT601", 7, F, "ZOQ-601", P, WAIT, PLAIN},
    {"VaNtElX", 7, X, "ZOQ53xH", A, 4699, PLAIN},
    {"vantel", 6, F, "ZOQ-731", P, WAIT, PLAIN},
    {"corvane", 7, F, "Corvane QAT2", A, WAIT, PLAIN},
    {"CvQaT2W4", 8, F, "Corvane QAT2T", A, WAIT, PLAIN},
    {"ZoQ4402", 7, X, "ZOQ-4402", A, WAIT, PLAIN},
    {"ZoQ5502", 7, X, "ZOQ-5502", A, WAIT, PLAIN},
    {"ZoQ4502", 7, X, "ZOQ-4502", A, WAIT, PLAIN},
    {"zoq4500", 7, F, "ZOQ-4500", A, WAIT, PLAIN},
    {"ZoQ7700t", 8, X, "ZOQ7700", A, WAIT, PLAIN},
    {"zoq7700", 7, F, "ZOQ-7700", A, WAIT, PLAIN},
    {"ZoQ6600", 7, X, "ZOQ6600", A, 6250, PLAIN},
    {"ZoQ6688", 7, X, "ZOQ6688", A, 6250, ALT},
    {"LvAnTe5", 7, X, "ZOQ5x5h", A, 3279, ALT},
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
        if (row.tag_case == TagCase::Exact ? have != want : fold(have) != fold(want)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const ModelEntry> model_table() {
    return MODELS;
}

const ModelEntry* model_named(std::string_view model_name) {
    // Seven characters tell the models apart; a longer name with the same start is the same
    // model.
    const std::string_view key = model_name.substr(0, 7);
    for (const ModelEntry& row : MODELS) {
        if (std::string_view(row.display_name).substr(0, 7) == key) return &row;
    }
    return nullptr;
}

std::uint32_t restart_wait_units(std::string_view model_name) {
    const ModelEntry* row = model_named(model_name);
    return row ? row->restart_wait_units : DEFAULT_RESTART_WAIT_UNITS;
}

int success_template(std::string_view model_name) {
    const ModelEntry* row = model_named(model_name);
    return row && row->success == SuccessDialog::Alternate ? IDD_SUCCESS_ALT : IDD_SUCCESS;
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
    state.is_phone = false;
    for (const ModelEntry& row : MODELS) {
        if (tag_matches(row, state.image.header.data())) {
            copy_text(state.model_name, row.display_name);
            state.is_phone = row.kind == DeviceKind::Phone;
            return;
        }
    }
    copy_text(state.model_name, short_text(UNKNOWN_MODEL_NAME));
}

}  // namespace zoq
