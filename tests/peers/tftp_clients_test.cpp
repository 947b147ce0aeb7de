// SPDX-License-Identifier: MIT
// Real TFTP clients from the distribution download the embedded image from our listener,
// byte for byte: curl (asks for tsize, blksize 512 and timeout) and atftp (with options, then
// the OACK; and without, then DATA 1 at once).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/firmware.h"
#include "app/state.h"
#include "common/clock.h"
#include "common/text.h"
#include "os/image.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/support/peer.h"
#include "tests/support/process.h"
#include "tftp/listener.h"

namespace zoq {
namespace {

constexpr std::uint32_t LOOPBACK_PC = 0x7F000001;
constexpr const char* FILE_NAME = "/zoq5e1f.bi1";

struct ClientCase {
    const char* label;
    const char* program;
    // Arguments after the program; PORT, NAME and OUT are replaced.
    std::vector<std::string> args;
};
void PrintTo(const ClientCase& c, std::ostream* os) {
    *os << c.label;
}

std::string replaced(std::string arg, const std::string& key, const std::string& value) {
    for (std::size_t at = arg.find(key); at != std::string::npos; at = arg.find(key)) {
        arg.replace(at, key.size(), value);
    }
    return arg;
}

class TftpClients : public testing::TestWithParam<ClientCase> {};

TEST_P(TftpClients, DownloadTheEmbeddedImageByteForByte) {
    const ClientCase& c = GetParam();
    ZOQ_REQUIRE_PEER(c.program);

    ScriptedToolkit ui;
    FastClock clock;
    auto state = std::make_unique<UpgradeState>();
    state->instance = &ui;
    state->clock = &clock;
    load_firmware_image(*state);
    identify_model(*state);
    // The clients ask from 127.0.0.1: that is the device here.
    state->device_ip = LOOPBACK_PC;
    copy_text(state->device_ip_text, "127.0.0.1");
    copy_text(state->tftp_file_name, FILE_NAME);
    TftpListener listener;
    ASSERT_EQ(tftp_listener_bind(listener, LOOPBACK_PC), ListenerBind::Bound);
    std::atomic<bool> served{false};
    std::thread server([&] {
        TransferDialogs dialogs(ui, text_of(state->device_ip_text));
        tftp_listener_serve(listener,
                            {FILE_NAME, state->device_ip, {state->image.data, state->image.size}},
                            dialogs);
        served = true;
    });

    char dir_template[] = "/tmp/zoq-tftp-peer-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::filesystem::path dir(dir_template);
    const std::string out = (dir / "image.bin").string();
    std::vector<std::string> argv{c.program};
    for (const auto& a : c.args) {
        argv.push_back(replaced(
            replaced(replaced(a, "PORT", std::to_string(listener.port)), "NAME", FILE_NAME), "OUT",
            out));
    }
    std::string output;
    int code = test::run_program(argv, &output, 60000);
    server.join();
    EXPECT_EQ(code, 0) << output;
    EXPECT_TRUE(served);

    std::ifstream f(out, std::ios::binary);
    std::vector<std::uint8_t> got((std::istreambuf_iterator<char>(f)),
                                  std::istreambuf_iterator<char>());
    auto image = embedded_image();
    ASSERT_EQ(got.size(), image.size()) << output;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), image.begin()));
    auto records = ui.records();
    const std::string total = std::to_string(image.size());
    EXPECT_NE(std::find(records.begin(), records.end(),
                        "caption 110 Uploading Target Firmware to ZOQ@127.0.0.1 " + total + "/" +
                            total + " Bytes"),
              records.end());
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, TftpClients,
    testing::Values(
        // curl drops the URL's first slash from the name: the doubled slash keeps ours.
        ClientCase{"Curl", "/usr/bin/curl", {"-sS", "-o", "OUT", "tftp://127.0.0.1:PORT/NAME"}},
        ClientCase{"AtftpTsize",
                   "/usr/bin/atftp",
                   {"--option", "tsize 0", "-g", "-r", "NAME", "-l", "OUT", "127.0.0.1", "PORT"}},
        ClientCase{"AtftpPlain",
                   "/usr/bin/atftp",
                   {"-g", "-r", "NAME", "-l", "OUT", "127.0.0.1", "PORT"}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace zoq
