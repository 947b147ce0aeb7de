// SPDX-License-Identifier: MIT
#include "web/request.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "common/text.h"
#include "common/trace.h"
#include "os/thread.h"
#include "web/http.h"
#include "web/md5.h"

namespace zoq {
namespace {

// One attempt as the worker sees it, shared with the caller: a caller that leaves after a
// Cancel must not take the worker's arguments or its end with it.
struct WorkerJob {
    std::string path;
    HttpEndpoints to;
    char* buffer = nullptr;
    int capacity = 0;
    DigestShare digest;
    WorkerFailureHandler on_failure;
    std::mutex mutex;
    std::condition_variable ended_cv;
    bool ended = false;
    HttpResult result;
};

constexpr int PUMPS_PER_STEP = 10;
constexpr int PROGRESS_MAX = 100;

}  // namespace

ChallengeStep after_challenge(const DigestChallenge& digest, int repeats) {
    // A stored password and a nonce not used yet: the device wants the known credentials
    // under a fresh nonce (after its restart, say), not a new password.
    return digest.password[0] != '\0' && digest.nonce_count == 0 && repeats == 0
               ? ChallengeStep::RepeatSilently
               : ChallengeStep::AskPassword;
}

RequestResult run_request(const DeviceRequest& request) {
    RequestProgress& progress = *request.progress;
    int pump_counter = 0;
    int position = 0;
    int repeats = 0;
    for (;;) {
        std::shared_ptr<WorkerJob> job;
        try {
            job = std::make_shared<WorkerJob>();
            job->path = request.path;
            job->on_failure = request.on_failure;
        } catch (const std::bad_alloc&) {
            return {RequestOutcome::NoWorker};
        }
        job->to = request.to;
        job->buffer = request.buffer;
        job->capacity = request.capacity;
        job->digest = request.digest;
        progress.start();
        ThreadStart started = start_thread(
            request.threads,
            [job] {
                HttpResult result =
                    http_get(job->to, job->path.c_str(), job->buffer, job->capacity, job->digest);
                if (result.outcome == HttpOutcome::NoSocket ||
                    result.outcome == HttpOutcome::NoLocalPort) {
                    if (job->on_failure) {
                        job->on_failure(result.outcome == HttpOutcome::NoSocket
                                            ? HttpFailure::NoSocket
                                            : HttpFailure::NoLocalPort);
                    }
                    result = {};
                }
                std::lock_guard lock(job->mutex);
                job->result = result;
                job->ended = true;
                job->ended_cv.notify_all();
            },
            std::nothrow);
        if (started.outcome != ThreadStartOutcome::Started) {
            progress.finish();
            return {RequestOutcome::NoWorker};
        }
        std::thread& worker = started.thread;
        for (;;) {
            {
                std::lock_guard lock(job->mutex);
                if (job->ended) break;
            }
            if (progress.poll()) {
                worker.detach();
                return {RequestOutcome::Cancelled};
            }
            {
                // The 1 ms pause of each pass, cut short when the worker ends.
                std::unique_lock lock(job->mutex);
                job->ended_cv.wait_for(lock, std::chrono::milliseconds(1),
                                       [&job] { return job->ended; });
            }
            if (++pump_counter == PUMPS_PER_STEP) {
                progress.update(position);
                if (++position > PROGRESS_MAX) position = 0;
                pump_counter = 0;
            }
        }
        progress.finish();
        worker.join();
        if (job->result.outcome != HttpOutcome::Challenge) {
            return {RequestOutcome::Answer, job->result.received};
        }

        bool repeat_silently;
        {
            LockGuard lock(*request.digest.mutex);
            repeat_silently =
                after_challenge(*request.digest.digest, repeats) == ChallengeStep::RepeatSilently;
        }
        if (repeat_silently) {
            trace("HTTP repeat with a new nonce\n");
            repeats = 1;
            continue;
        }
        Credentials typed;
        if (!progress.ask_credentials(typed)) return {RequestOutcome::Cancelled};
        {
            // The completion check's request may be composing on another thread.
            LockGuard lock(*request.digest.mutex);
            copy_text(request.digest.digest->username, text_of(typed.username));
            copy_text(request.digest.digest->password, text_of(typed.password));
        }
        wipe(typed.password.data(), typed.password.size());
        repeats = 0;
    }
}

}  // namespace zoq
