// SPDX-License-Identifier: MIT
#include "platform/scripted/scripted_toolkit.h"

#include <unistd.h>

#include <chrono>

#include "res/templates.h"
#include "ui/dialog_units.h"

namespace zoq {

using Clock = std::chrono::steady_clock;

struct ScriptedToolkit::Dialog {
    DialogHandle handle = NO_DIALOG;
    const DialogTemplate* tmpl = nullptr;
    DialogProc proc = nullptr;
    void* context = nullptr;
    bool open = true;
    bool ended = false;
    int end_code = 0;
    std::deque<ScriptAction> script;
    std::deque<int> posted;  // presses from any thread, for the owner to deliver
    bool waiting = false;    // a WaitMs step has started
    Clock::time_point wait_until{};
    std::map<int, std::string> texts;
    std::string caption;
    std::map<int, std::vector<std::string>> lists;
    std::map<int, int> selected;
    std::map<int, int> progress;
    WindowRect rect;
};

std::string escape_record(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

ScriptedToolkit::ScriptedToolkit() = default;
ScriptedToolkit::~ScriptedToolkit() = default;

void ScriptedToolkit::on_open(int template_id, std::vector<ScriptAction> actions, bool repeat) {
    std::lock_guard lock(mutex_);
    scripts_[template_id].push_back(std::move(actions));
    repeat_[template_id] = repeat;
}

void ScriptedToolkit::record(std::string line) {
    if (record_fd_ >= 0) {
        std::string out = line + "\n";
        // One write per line: lines from several threads never interleave inside a line.
        [[maybe_unused]] auto n = ::write(record_fd_, out.data(), out.size());
    }
    std::lock_guard lock(mutex_);
    records_.push_back(std::move(line));
}

std::vector<std::string> ScriptedToolkit::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::shared_ptr<ScriptedToolkit::Dialog> ScriptedToolkit::find(DialogHandle handle) const {
    std::lock_guard lock(mutex_);
    auto it = dialogs_.find(handle);
    return it == dialogs_.end() ? nullptr : it->second;
}

std::shared_ptr<ScriptedToolkit::Dialog> ScriptedToolkit::open(int template_id, DialogProc proc,
                                                               void* context) {
    const DialogTemplate* tmpl = find_template(template_id);
    if (!tmpl) return nullptr;
    auto d = std::make_shared<Dialog>();
    d->tmpl = tmpl;
    d->proc = proc;
    d->context = context;
    d->caption = tmpl->caption;
    for (const auto& c : tmpl->controls) {
        if (c.id != NO_CONTROL_ID) d->texts[c.id] = c.text;
    }
    // Pixels as a dialog manager with a 6 x 13 pixel average character would give.
    constexpr DialogUnits units{6, 13};
    d->rect = {tmpl->x, tmpl->y, tmpl->x + units.x(tmpl->width), tmpl->y + units.y(tmpl->height)};
    {
        std::lock_guard lock(mutex_);
        d->handle = next_handle_++;
        auto& queue = scripts_[template_id];
        if (!queue.empty()) {
            d->script.assign(queue.front().begin(), queue.front().end());
            if (queue.size() > 1 || !repeat_[template_id]) queue.pop_front();
        }
        dialogs_[d->handle] = d;
    }
    record("open " + std::to_string(template_id));
    changed_.notify_all();
    if (proc(*this, d->handle, {EventKind::Opened, 0}, context)) {
        for (const auto& c : tmpl->controls) {
            if (c.style & STYLE_TAB_STOP) {
                record("focus " + std::to_string(template_id) + " " + std::to_string(c.id));
                break;
            }
        }
    }
    return d;
}

bool ScriptedToolkit::step(const std::shared_ptr<Dialog>& d) {
    const std::string t = std::to_string(d->tmpl->id);
    int command = 0;
    {
        std::unique_lock lock(mutex_);
        if (!d->open) return false;
        if (!d->posted.empty()) {
            command = d->posted.front();
            d->posted.pop_front();
        } else {
            if (d->script.empty()) return false;
            ScriptAction& a = d->script.front();
            switch (a.kind) {
                case ScriptAction::WaitPumps:
                    if (a.value-- > 0) return false;
                    d->script.pop_front();
                    return true;
                case ScriptAction::WaitMs:
                    if (!d->waiting) {
                        d->waiting = true;
                        d->wait_until = Clock::now() + std::chrono::milliseconds(a.value);
                    }
                    if (Clock::now() < d->wait_until) return false;
                    d->waiting = false;
                    d->script.pop_front();
                    return true;
                case ScriptAction::Type: {
                    d->texts[a.control] = a.text;
                    std::string line =
                        "type " + t + " " + std::to_string(a.control) + " " + escape_record(a.text);
                    d->script.pop_front();
                    lock.unlock();
                    record(std::move(line));
                    return true;
                }
                case ScriptAction::Select: {
                    d->selected[a.control] = a.value;
                    std::string line = "choose " + t + " " + std::to_string(a.control) + " " +
                                       std::to_string(a.value);
                    d->script.pop_front();
                    lock.unlock();
                    record(std::move(line));
                    return true;
                }
                case ScriptAction::Press:
                    command = a.control;
                    d->script.pop_front();
                    break;
            }
        }
    }
    record("command " + t + " " + std::to_string(command));
    d->proc(*this, d->handle, {EventKind::Command, command}, d->context);
    return true;
}

int ScriptedToolkit::dialog_box(int template_id, DialogProc proc, void* context) {
    auto d = open(template_id, proc, context);
    if (!d) return -1;
    auto idle_since = Clock::now();
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (d->ended) break;
        }
        if (step(d)) {
            idle_since = Clock::now();
            continue;
        }
        std::unique_lock lock(mutex_);
        if (d->ended) break;
        bool nothing_left = d->script.empty() && d->posted.empty();
        if (nothing_left &&
            Clock::now() - idle_since > std::chrono::milliseconds(unscripted_timeout_ms_)) {
            // Nobody answers this dialog: record it and close it as the close box would.
            d->posted.push_back(ID_CANCEL);
            lock.unlock();
            record("unscripted " + std::to_string(template_id));
            continue;
        }
        changed_.wait_for(lock, std::chrono::milliseconds(2));
    }
    int code;
    {
        std::lock_guard lock(mutex_);
        d->open = false;
        code = d->end_code;
    }
    record("end " + std::to_string(template_id) + " " + std::to_string(code));
    changed_.notify_all();
    return code;
}

DialogHandle ScriptedToolkit::create_dialog(int template_id, DialogProc proc, void* context) {
    auto d = open(template_id, proc, context);
    return d ? d->handle : NO_DIALOG;
}

void ScriptedToolkit::destroy_dialog(DialogHandle dialog) {
    auto d = find(dialog);
    if (!d) return;
    {
        std::lock_guard lock(mutex_);
        if (!d->open) return;
        d->open = false;
    }
    record("destroy " + std::to_string(d->tmpl->id));
    changed_.notify_all();
}

void ScriptedToolkit::end_dialog(DialogHandle dialog, int code) {
    auto d = find(dialog);
    if (!d) return;
    {
        std::lock_guard lock(mutex_);
        d->ended = true;
        d->end_code = code;
    }
    changed_.notify_all();
}

void ScriptedToolkit::set_item_text(DialogHandle dialog, int control, std::string_view text) {
    auto d = find(dialog);
    if (!d) return;
    {
        std::lock_guard lock(mutex_);
        d->texts[control] = std::string(text);
    }
    record("text " + std::to_string(d->tmpl->id) + " " + std::to_string(control) + " " +
           escape_record(text));
}

std::string ScriptedToolkit::get_item_text(DialogHandle dialog, int control) {
    auto d = find(dialog);
    if (!d) return {};
    std::lock_guard lock(mutex_);
    auto it = d->texts.find(control);
    return it == d->texts.end() ? std::string() : it->second;
}

void ScriptedToolkit::set_caption(DialogHandle dialog, std::string_view caption) {
    auto d = find(dialog);
    if (!d) return;
    {
        std::lock_guard lock(mutex_);
        d->caption = std::string(caption);
    }
    record("caption " + std::to_string(d->tmpl->id) + " " + escape_record(caption));
}

void ScriptedToolkit::set_focus(DialogHandle dialog, int control) {
    auto d = find(dialog);
    if (!d) return;
    record("focus " + std::to_string(d->tmpl->id) + " " + std::to_string(control));
}

bool ScriptedToolkit::get_window_rect(DialogHandle dialog, WindowRect& rect) {
    auto d = find(dialog);
    if (!d) return false;
    std::lock_guard lock(mutex_);
    rect = d->rect;
    return true;
}

void ScriptedToolkit::move_window(DialogHandle dialog, int x, int y) {
    auto d = find(dialog);
    if (!d) return;
    std::lock_guard lock(mutex_);
    int w = d->rect.right - d->rect.left;
    int h = d->rect.bottom - d->rect.top;
    d->rect = {x, y, x + w, y + h};
}

void ScriptedToolkit::progress_set_range(DialogHandle dialog, int control, int low, int high) {
    auto d = find(dialog);
    if (!d) return;
    record("range " + std::to_string(d->tmpl->id) + " " + std::to_string(control) + " " +
           std::to_string(low) + " " + std::to_string(high));
}

void ScriptedToolkit::progress_set_pos(DialogHandle dialog, int control, int pos) {
    auto d = find(dialog);
    if (!d) return;
    {
        std::lock_guard lock(mutex_);
        d->progress[control] = pos;
    }
    if (record_progress_) {
        record("progress " + std::to_string(d->tmpl->id) + " " + std::to_string(control) + " " +
               std::to_string(pos));
    }
}

void ScriptedToolkit::list_add(DialogHandle dialog, int control, std::string_view text) {
    auto d = find(dialog);
    if (!d) return;
    {
        std::lock_guard lock(mutex_);
        d->lists[control].emplace_back(text);
    }
    record("list " + std::to_string(d->tmpl->id) + " " + std::to_string(control) + " add " +
           std::string(text));
}

void ScriptedToolkit::list_select(DialogHandle dialog, int control, int index) {
    auto d = find(dialog);
    if (!d) return;
    {
        std::lock_guard lock(mutex_);
        int count = static_cast<int>(d->lists[control].size());
        d->selected[control] = (index >= 0 && index < count) ? index : -1;
    }
    record("select " + std::to_string(d->tmpl->id) + " " + std::to_string(control) + " " +
           std::to_string(index));
}

int ScriptedToolkit::list_selected(DialogHandle dialog, int control) {
    auto d = find(dialog);
    if (!d) return -1;
    std::lock_guard lock(mutex_);
    auto it = d->selected.find(control);
    if (it == d->selected.end()) return -1;
    // A scripted choice beyond the list selects nothing, as a real list would not let it.
    int count = static_cast<int>(d->lists[control].size());
    return it->second < count ? it->second : -1;
}

void ScriptedToolkit::message_box(DialogHandle, std::string_view text, std::string_view caption) {
    record("message " + escape_record(caption) + "|" + escape_record(text));
}

int ScriptedToolkit::pump(DialogHandle dialog, bool all) {
    auto d = find(dialog);
    if (!d) return 0;
    int handled = 0;
    while (step(d)) {
        ++handled;
        if (!all) break;
    }
    return handled;
}

void ScriptedToolkit::idle() {
    // Parked for good: only the end of the process stops this thread.
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

bool ScriptedToolkit::press(int template_id, int control) {
    std::lock_guard lock(mutex_);
    for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
        auto& d = it->second;
        if (d->tmpl->id == template_id && d->open) {
            d->posted.push_back(control);
            changed_.notify_all();
            return true;
        }
    }
    return false;
}

bool ScriptedToolkit::wait_open(int template_id, int timeout_ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        for (auto& [h, d] : dialogs_) {
            if (d->tmpl->id == template_id && d->open) return true;
        }
        return false;
    });
}

std::string ScriptedToolkit::text_of(int template_id, int control) const {
    std::lock_guard lock(mutex_);
    for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
        if (it->second->tmpl->id == template_id) {
            auto t = it->second->texts.find(control);
            return t == it->second->texts.end() ? std::string() : t->second;
        }
    }
    return {};
}

std::string ScriptedToolkit::caption_of(int template_id) const {
    std::lock_guard lock(mutex_);
    for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
        if (it->second->tmpl->id == template_id) return it->second->caption;
    }
    return {};
}

int ScriptedToolkit::progress_of(int template_id, int control) const {
    std::lock_guard lock(mutex_);
    for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
        if (it->second->tmpl->id == template_id) {
            auto p = it->second->progress.find(control);
            return p == it->second->progress.end() ? 0 : p->second;
        }
    }
    return 0;
}

bool ScriptedToolkit::is_open(int template_id) const {
    std::lock_guard lock(mutex_);
    for (auto& [h, d] : dialogs_) {
        if (d->tmpl->id == template_id && d->open) return true;
    }
    return false;
}

}  // namespace zoq
