// SPDX-License-Identifier: MIT
#include "web/request.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/text.h"
#include "common/trace.h"
#include "os/thread.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"
#include "web/http.h"

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

bool progress_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto& progress = *static_cast<ProgressDialog*>(context);
    if (event.kind == EventKind::Opened) {
        Text<80> caption{};
        format_text(caption, "Connecting with ZOQ@%s",
                    std::string(progress.device_ip_text).c_str());
        ui.set_caption(dialog, text_of(caption));
        center_window(ui, dialog);
        ui.progress_set_range(dialog, IDC_PROGRESS, 0, PROGRESS_MAX);
        return true;
    }
    if (event.control == ID_CANCEL) {
        // The worker may be blocked in connect or receive for minutes: it is not waited for.
        ui.destroy_dialog(dialog);
        progress.cancelled = true;
        return true;
    }
    return false;
}

bool password_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    const auto& share = *static_cast<const DigestShare*>(context);
    if (event.kind == EventKind::Opened) {
        ui.set_item_text(dialog, IDC_INTRO, PASSWORD_EXPLANATION_TEXT);
        ui.set_item_text(dialog, IDC_USERNAME, "admin");
        ui.set_focus(dialog, IDC_PASSWORD);
        center_window(ui, dialog);
        return false;
    }
    if (event.control == ID_OK) {
        std::string user = ui.get_item_text(dialog, IDC_USERNAME);
        std::string password = ui.get_item_text(dialog, IDC_PASSWORD);
        {
            // The completion check's request may be composing on another thread.
            LockGuard lock(*share.mutex);
            copy_text(share.digest->username.data(), CREDENTIAL_MAX + 1, user);
            copy_text(share.digest->password.data(), CREDENTIAL_MAX + 1, password);
        }
        std::fill(password.begin(), password.end(), '\0');
        ui.end_dialog(dialog, 1);
        return true;
    }
    return end_on_ok_cancel(ui, dialog, event);
}

RequestResult run_request(const DeviceRequest& request) {
    Toolkit& ui = *request.ui;
    int pump_counter = 0;
    int position = 0;
    int repeats = 0;
    for (;;) {
        std::shared_ptr<WorkerJob> job;
        try {
            job = std::make_shared<WorkerJob>();
        } catch (const std::bad_alloc&) {
            return {RequestOutcome::NoWorker};
        }
        job->path = request.path;
        job->to = request.to;
        job->buffer = request.buffer;
        job->capacity = request.capacity;
        job->digest = request.digest;
        ProgressDialog progress{request.device_ip_text};
        DialogHandle dialog = ui.create_dialog(IDD_PROGRESS, progress_dialog_proc, &progress);
        std::thread worker;
        try {
            worker = start_thread(request.threads, [&ui, job, on_failure = request.on_failure] {
                HttpResult result =
                    http_get(job->to, job->path.c_str(), job->buffer, job->capacity, job->digest);
                if (result.outcome == HttpOutcome::NoSocket ||
                    result.outcome == HttpOutcome::NoLocalPort) {
                    if (on_failure) {
                        on_failure(ui, result.outcome == HttpOutcome::NoSocket
                                           ? HttpFailure::NoSocket
                                           : HttpFailure::NoLocalPort);
                    }
                    result = {};
                }
                std::lock_guard lock(job->mutex);
                job->result = result;
                job->ended = true;
                job->ended_cv.notify_all();
            });
        } catch (const std::exception&) {
            ui.destroy_dialog(dialog);
            return {RequestOutcome::NoWorker};
        }
        for (;;) {
            {
                std::lock_guard lock(job->mutex);
                if (job->ended) break;
            }
            ui.pump(dialog, false);
            if (progress.cancelled) {
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
                ui.progress_set_pos(dialog, IDC_PROGRESS, position);
                if (++position > PROGRESS_MAX) position = 0;
                pump_counter = 0;
            }
        }
        ui.destroy_dialog(dialog);
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
        DigestShare share = request.digest;
        if (ui.dialog_box(IDD_PASSWORD, password_dialog_proc, &share) == 0) {
            return {RequestOutcome::Cancelled};
        }
        repeats = 0;
    }
}

}  // namespace zoq
