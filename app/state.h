// SPDX-License-Identifier: MIT
// The one record of a run: everything the steps of the run hand to each other, owned by the
// entry routine and passed by reference. No field of it is a hidden global. The subsystems
// never see it whole: each gets the fields it reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "app/firmware.h"
#include "common/locking.h"
#include "common/random.h"
#include "common/text.h"
#include "web/digest.h"
#include "web/http.h"

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
