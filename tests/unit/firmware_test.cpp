// SPDX-License-Identifier: MIT
#include "app/firmware.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "app/state.h"
#include "common/text.h"
#include "os/image.h"

namespace zoq {
namespace {

// The image the program carries: layout, length field and determinism of the filler.
TEST(EmbeddedImage, HasTheHeaderTheProgramReads) {
    auto image = embedded_image();
    ASSERT_EQ(image.size(), 981328u);
    EXPECT_EQ(std::memcmp(image.data(), "ZoQ4502 FiRmWaRe", 16), 0);
    std::uint32_t length =
        (image[0x58] << 24) | (image[0x59] << 16) | (image[0x5a] << 8) | image[0x5b];
    EXPECT_EQ(length, 981328u);
    EXPECT_STREQ(reinterpret_cast<const char*>(image.data() + 0x5c), "5.2.13(004)");
    for (std::size_t i = 0x5c + 11; i < 0x80; ++i) EXPECT_EQ(image[i], 0) << i;
    // The filler must not repeat with a period of one block, or a shifted block would go unseen.
    EXPECT_NE(std::memcmp(image.data() + 512, image.data() + 1024, 512), 0);
}

TEST(EmbeddedImage, StartUpIdentifiesIt) {
    auto state = std::make_unique<UpgradeState>();
    load_firmware_image(*state);
    identify_model(*state);
    EXPECT_EQ(text_of(state->model_name), "ZOQ-4502");
    EXPECT_EQ(state->is_phone, 0);
    EXPECT_STREQ(state->image.version(), "5.2.13(004)");
    EXPECT_EQ(state->image.size, 981328u);
}

struct ModelCase {
    const char* header;
    const char* model;
    int is_phone;
};

// Every row, the order in which rows shadow each other, and the NUL that ends a comparison.
TEST(IdentifyModel, FirstMatchingRowWins) {
    const ModelCase cases[] = {
        {"ZoQ4502 FiRmWaRe", "ZOQ-4502", 0},
        {"zOq5400 FiRmWaRe", "ZOQ-5400", 0},
        {"ZOQ4200", "ZOQ-4100/4200", 0},
        {"zoq4101x", "ZOQ-4101", 0},
        {"VANTEL9", "ZOQ-631/611", 1},
        {"vantel6", "ZOQ-652", 1},
        {"LvAnTeM", "ZOQ-632/612", 1},
        {"lvantem", "ODM-Product", 0},
        {"VANT601", "ZOQ-601", 1},
        {"VaNtElX", "ZOQ53xH", 0},
        {"vantelX", "ZOQ-731", 1},
        {"vantelQ", "ZOQ-731", 1},
        {"vantel FiRmWaRe", "ZOQ-731", 1},
        {"CORVANE", "Corvane QAT2", 0},
        {"cvqat2w4", "Corvane QAT2T", 0},
        {"ZoQ4402", "ZOQ-4402", 0},
        {"ZoQ5502", "ZOQ-5502", 0},
        {"ZOQ4502", "ODM-Product", 0},
        {"ZOQ4500", "ZOQ-4500", 0},
        {"ZoQ7700t", "ZOQ7700", 0},
        {"ZOQ7700T", "ZOQ-7700", 0},
        {"zoq7700x", "ZOQ-7700", 0},
        {"ZoQ6600", "ZOQ6600", 0},
        {"ZoQ6688", "ZOQ6688", 0},
        {"LvAnTe5", "ZOQ5x5h", 0},
        {"vante", "ODM-Product", 0},
        {"", "ODM-Product", 0},
        {"Linux kernel", "ODM-Product", 0},
    };
    for (const auto& c : cases) {
        auto state = std::make_unique<UpgradeState>();
        std::array<std::uint8_t, 128> header{};
        std::memcpy(header.data(), c.header, std::strlen(c.header));
        load_image_bytes(*state, header);
        state->is_phone = 7;  // must be reset whatever it held
        identify_model(*state);
        EXPECT_EQ(text_of(state->model_name), c.model) << c.header;
        EXPECT_EQ(state->is_phone, c.is_phone) << c.header;
    }
}

TEST(ModelTableOrder, TwentyRowsInSearchOrder) {
    auto table = model_table();
    ASSERT_EQ(table.size(), 20u);
    EXPECT_STREQ(table.front().tag, "zoq5400");
    EXPECT_STREQ(table[15].tag, "ZoQ7700t");
    EXPECT_STREQ(table[16].tag, "zoq7700");
    EXPECT_STREQ(table.back().display_name, "ZOQ5x5h");
    for (const auto& row : table) {
        EXPECT_EQ(static_cast<int>(std::strlen(row.tag)), row.compare_length) << row.tag;
        EXPECT_LT(std::strlen(row.display_name), 32u);
    }
}

// A version field without a NUL never makes the program read past the header.
TEST(ImageHeader, VersionIsBoundedByTheHeader) {
    auto state = std::make_unique<UpgradeState>();
    std::array<std::uint8_t, 128> header;
    header.fill('7');
    load_image_bytes(*state, header);
    EXPECT_EQ(std::strlen(state->image.version()), 128u - 0x5c - 1);
}

}  // namespace
}  // namespace zoq
