// SPDX-License-Identifier: MIT
// The one record of a run: everything the subsystems hand to each other, owned by the entry
// routine and passed by reference. No field of it is a hidden global.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/locking.h"
#include "common/random.h"

namespace zoq {

class Toolkit;
class Clock;
class Heartbeat;
class ThreadStarter;

// First local TCP port of every HTTP connection to the device.
inline constexpr std::uint16_t HTTP_LOCAL_PORT = 23456;
inline constexpr std::uint16_t DEVICE_HTTP_PORT = 80;
inline constexpr const char* STATUS_PAGE_PATH = "/admin/advanced";
// One byte less than the response buffer, so that a terminating zero always fits.
inline constexpr int RESPONSE_CAPACITY = 131071;
inline constexpr std::size_t RESPONSE_BUFFER_SIZE = 131072;
inline constexpr std::size_t LOCAL_IP_COUNT = 8;
inline constexpr std::size_t IMAGE_HEADER_SIZE = 128;
inline constexpr std::size_t IMAGE_VERSION_OFFSET = 0x5c;

// Fixed-width NUL-terminated text, as wide as the field the system defines.
template <std::size_t N>
using Text = std::array<char, N>;

struct FirmwareImage {
    const std::uint8_t* data = nullptr;  // stays valid for the life of the process
    std::uint32_t size = 0;
    std::array<std::uint8_t, IMAGE_HEADER_SIZE> header{};
    // The NUL-terminated version text at header offset 0x5c (a view into `header`).
    const char* version() const {
        return reinterpret_cast<const char*>(header.data() + IMAGE_VERSION_OFFSET);
    }
};

struct DeviceInfo {
    Text<128> product_name{};
    Text<128> serial_number{};
    Text<128> mac_address{};
    Text<128> hardware_version{};
    Text<128> software_version{};
};

struct DigestChallenge {
    std::uint32_t nonce_count = 0;
    Text<128> last_nonce{};
    Text<128> nonce{};
    Text<128> cnonce{};
    Text<128> username{};
    Text<128> password{};
    Text<128> realm{};
    Text<16> qop{};
    Text<16> algorithm{};
    Text<128> uri{};
    Text<128> opaque{};
};

using ResponseBuffer = std::array<char, RESPONSE_BUFFER_SIZE>;

struct UpgradeState {
    // Platform ports: the toolkit the dialogs run on and the millisecond clock.
    Toolkit* instance = nullptr;
    Clock* clock = nullptr;
    // The transfer's 1 ms beat; null means the system's. Tests set their own.
    Heartbeat* heartbeat = nullptr;
    // Where the request workers and the TFTP listener get their threads; null means the
    // system's. Tests set one that refuses.
    ThreadStarter* threads = nullptr;

    FirmwareImage image{};
    Text<32> model_name{};
    bool is_phone = false;

    Text<128> host_name{};
    std::array<std::uint32_t, LOCAL_IP_COUNT> local_ips{};
    std::uint32_t local_ip = 0;
    std::uint32_t device_ip = 0;
    Text<32> device_ip_text{};
    Text<128> tftp_file_name{};

    ResponseBuffer response_buffer{};
    // The completion check reads the status page while the upgrade request of the main thread
    // may still be blocked on a device that never closes: it gets a buffer of its own.
    ResponseBuffer completion_buffer{};

    // Guards `digest`, `device_info` and `rng` for the short moments in which a request reads or
    // writes them; never held across a blocking socket call.
    Mutex shared_mutex;
    DeviceInfo device_info GUARDED_BY(shared_mutex){};
    DigestChallenge digest GUARDED_BY(shared_mutex){};

    Random rng GUARDED_BY(shared_mutex){};
};

}  // namespace zoq
