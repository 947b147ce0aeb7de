// SPDX-License-Identifier: MIT
// The port called from threads other than the GUI thread: procedures run on the thread that
// made the dialog, modal dialogs and message boxes of other threads are shown by the GUI thread
// while the requester waits, and nothing deadlocks while the GUI thread is itself pumping or
// inside a modal dialog.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "gui_support.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"

using namespace zoq;
using namespace std::chrono_literals;
using zoq::test::Recorder;
using zoq::test::recorder_proc;
using zoq::test::wait_until;

namespace {

QPushButton* button(QWidget* window, int id) {
    return window ? window->findChild<QPushButton*>(QStringLiteral("control_%1").arg(id)) : nullptr;
}

bool all_on(const std::vector<std::thread::id>& threads, std::thread::id id) {
    for (auto t : threads) {
        if (t != id) return false;
    }
    return !threads.empty();
}

bool any_dialog_visible() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName().startsWith(QStringLiteral("dialog_")) && w->isVisible()) return true;
    }
    return false;
}

// Lets a worker that waits for the test's word go, however the test function leaves.
struct Release {
    std::atomic<bool>& flag;
    ~Release() { flag = true; }
};

// Calls `seen` whenever `widget` is painted, that is with what a frame shows.
class PaintWatch : public QObject {
  public:
    PaintWatch(QWidget* widget, std::function<void()> seen) : seen_(std::move(seen)) {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) seen_();
        return false;
    }

  private:
    std::function<void()> seen_;
};

// A thread that signals its end, so that the GUI thread can keep its loop turning until then
// (joining at once would block the GUI thread under the thread's blocking calls).
class Worker {
  public:
    template <class F>
    explicit Worker(F body)
        : thread_([this, body] {
              id_ = std::this_thread::get_id();
              body();
              done_ = true;
          }) {}
    ~Worker() {
        if (thread_.joinable()) finish();
    }
    bool done() const { return done_; }
    bool finish(int timeout_ms = 10000) {
        bool ok = wait_until([this] { return done_.load(); }, timeout_ms);
        if (ok) thread_.join();
        return ok;
    }
    std::thread::id id() const { return id_; }  // after finish()

  private:
    std::atomic<bool> done_{false};
    std::thread::id id_;
    std::thread thread_;
};

}  // namespace

class ThreadTests : public QObject {
    Q_OBJECT

  private slots:
    // The listener's way: its own modeless dialog, updated and pumped from its own loop.
    void modeless_from_a_thread() {
        QtToolkit ui;
        Recorder r;
        r.on_command = [](Toolkit& t, DialogHandle d, int) { t.destroy_dialog(d); };
        std::atomic<bool> read_back_ok{true};
        Worker worker([&] {
            DialogHandle d = ui.create_dialog(IDD_WAITING, recorder_proc, &r);
            ui.set_caption(d, "Waiting For Firmware Download Request From ZOQ");
            ui.set_item_text(d, IDC_WAIT_TEXT, TFTP_INSTRUCTION_TEXT);
            ui.progress_set_range(d, IDC_PROGRESS, 0, 1000);
            for (int i = 0; ui.find_dialog(IDD_WAITING) == d; ++i) {
                ui.progress_set_pos(d, IDC_PROGRESS, i % 1000);
                // A queued set followed by a blocking get reads the new value.
                std::string mark = "pass " + std::to_string(i);
                ui.set_item_text(d, IDC_WAIT_TEXT, mark);
                if (ui.get_item_text(d, IDC_WAIT_TEXT) != mark) read_back_ok = false;
                ui.pump(d, true);
                std::this_thread::sleep_for(1ms);
            }
        });
        QWidget* w = test::wait_for_dialog(ui, IDD_WAITING);
        QVERIFY(w);
        auto* bar = w->findChild<QProgressBar*>(QStringLiteral("control_1010"));
        QVERIFY(wait_until([&] { return bar->value() > 20; }));
        QVERIFY(w->findChild<QLabel*>(QStringLiteral("control_1022"))
                    ->text()
                    .startsWith(QStringLiteral("pass ")));
        QTest::mouseClick(button(w, ID_CANCEL), Qt::LeftButton);
        QVERIFY(worker.finish());
        QVERIFY(read_back_ok);
        QCOMPARE(r.commands(), (std::vector<int>{0, ID_CANCEL}));
        QVERIFY(all_on(r.threads(), worker.id()));
        QVERIFY(wait_until([] { return !any_dialog_visible(); }));
    }

    // The password prompt of a request made on the listener thread.
    void modal_from_a_thread() {
        QtToolkit ui;
        Recorder r;
        r.default_focus = false;
        r.on_open = [](Toolkit& t, DialogHandle d) {
            t.set_item_text(d, IDC_USERNAME, "admin");
            t.set_focus(d, IDC_PASSWORD);
        };
        std::string password;
        r.on_command = [&](Toolkit& t, DialogHandle d, int c) {
            if (c == ID_OK) password = t.get_item_text(d, IDC_PASSWORD);
            t.end_dialog(d, c == ID_OK ? 1 : 0);
        };
        std::atomic<int> result{-2};
        Worker worker([&] { result = ui.dialog_box(IDD_PASSWORD, recorder_proc, &r); });
        QWidget* w = test::wait_for_dialog(ui, IDD_PASSWORD);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QWidget* focus = QApplication::focusWidget();
        QCOMPARE(focus->objectName(), QStringLiteral("control_1005"));
        QTest::keyClicks(focus, QStringLiteral("s3cret"));
        QTest::keyClick(focus, Qt::Key_Return);
        QVERIFY(worker.finish());
        QCOMPARE(result.load(), 1);
        QCOMPARE(password, std::string("s3cret"));
        QVERIFY(all_on(r.threads(), worker.id()));
        QCOMPARE(ui.find_dialog(IDD_PASSWORD), NO_DIALOG);
        QVERIFY(wait_until([] { return !any_dialog_visible(); }));
    }

    // A message box of one thread disables that thread's dialogs only.
    void message_box_from_a_thread() {
        QtToolkit ui;
        Recorder gui_side, thread_side;
        DialogHandle a = ui.create_dialog(IDD_PROGRESS, recorder_proc, &gui_side);
        std::atomic<bool> returned{false}, may_finish{false};
        DialogHandle b = NO_DIALOG;
        Worker worker([&] {
            b = ui.create_dialog(IDD_UPLOADING, recorder_proc, &thread_side);
            show_error(ui, MSG_NO_RESPONSE);
            returned = true;
            while (!may_finish) std::this_thread::sleep_for(1ms);
            ui.destroy_dialog(b);
        });
        QMessageBox* box = nullptr;
        QVERIFY(wait_until([&] { return (box = test::visible_message_box()) != nullptr; }));
        QCOMPARE(box->text(), QStringLiteral("Upgrade Failed: No Response From ZOQ"));
        QCOMPARE(box->windowTitle(), QStringLiteral("ZOQ Firwmare Upgrade Error"));
        QWidget* bw = test::wait_for_dialog(ui, IDD_UPLOADING);
        QVERIFY(bw);
        QVERIFY(!bw->isEnabled());
        QVERIFY(ui.window_of(a)->isEnabled());
        QTest::qWait(20);
        QVERIFY(!returned);
        QTest::mouseClick(box->buttons().front(), Qt::LeftButton);
        QVERIFY(wait_until([&] { return returned.load(); }));
        QVERIFY(wait_until([&] { return bw->isEnabled(); }));
        may_finish = true;
        QVERIFY(worker.finish());
        ui.destroy_dialog(a);
    }

    // The GUI thread inside a request runner's pump (the first status read runs on the main
    // thread) while another thread asks for a message box and a modal dialog.
    void gui_pumping_serves_other_threads() {
        QtToolkit ui;
        Recorder progress, success;
        success.end_on_command = true;
        DialogHandle p = ui.create_dialog(IDD_PROGRESS, recorder_proc, &progress);
        std::atomic<int> result{-2};
        Worker worker([&] {
            show_error(ui, MSG_VERSION_MISMATCH);
            result = ui.dialog_box(IDD_SUCCESS, recorder_proc, &success);
        });
        // Answers whatever shows, from inside the pump below.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (QMessageBox* box = test::visible_message_box()) {
                box->buttons().front()->click();
            } else if (DialogHandle s = ui.find_dialog(IDD_SUCCESS)) {
                if (QWidget* w = ui.window_of(s); w && w->isVisible()) button(w, ID_OK)->click();
            }
        });
        answer.start(5);
        int pumps = 0;
        while (!worker.done() && pumps < 20000) {
            ui.pump(p, false);
            std::this_thread::sleep_for(1ms);
            ++pumps;
        }
        QVERIFY(worker.finish());
        QCOMPARE(result.load(), ID_OK);
        QVERIFY(all_on(success.threads(), worker.id()));
        ui.destroy_dialog(p);
    }

    // The GUI thread inside its own modal dialog while a thread makes and updates its dialog.
    void gui_modal_serves_other_threads() {
        QtToolkit ui;
        Recorder modal, modeless;
        modal.end_on_command = true;
        std::atomic<bool> stop{false};
        std::unique_ptr<Worker> worker;
        QTimer::singleShot(0, [&] {
            worker = std::make_unique<Worker>([&] {
                DialogHandle d = ui.create_dialog(IDD_UPLOADING, recorder_proc, &modeless);
                ui.progress_set_range(d, IDC_PROGRESS, 0, 100);
                for (int i = 0; i <= 100; ++i) {
                    ui.progress_set_pos(d, IDC_PROGRESS, i);
                    ui.set_caption(d, "Uploading " + std::to_string(i));
                    ui.pump(d, true);
                }
                while (!stop) std::this_thread::sleep_for(1ms);
                ui.destroy_dialog(d);
            });
        });
        QTimer::singleShot(0, [&] {
            QWidget* up = test::wait_for_dialog(ui, IDD_UPLOADING);
            QVERIFY(up);
            QVERIFY(
                wait_until([&] { return up->windowTitle() == QStringLiteral("Uploading 100"); }));
            stop = true;
            QVERIFY(wait_until([&] { return worker->done(); }));
            button(ui.window_of(ui.find_dialog(IDD_CONFIRM)), ID_OK)->click();
        });
        QCOMPARE(ui.dialog_box(IDD_CONFIRM, recorder_proc, &modal), ID_OK);
        QVERIFY(worker->finish());
    }

    // A second command that arrives while the procedure handles the first runs after it, never
    // inside it; on the GUI thread and on another thread alike.
    void second_click_waits_for_the_first_data() {
        QTest::addColumn<bool>("gui_owned");
        QTest::newRow("GUI thread") << true;
        QTest::newRow("other thread") << false;
    }
    void second_click_waits_for_the_first() {
        QFETCH(bool, gui_owned);
        QtToolkit ui;
        std::vector<std::string> trace;
        std::mutex trace_mutex;
        auto note = [&](std::string s) {
            std::lock_guard lock(trace_mutex);
            trace.push_back(std::move(s));
        };
        Recorder r;
        r.on_command = [&](Toolkit& t, DialogHandle d, int c) {
            note("enter " + std::to_string(c));
            if (c == ID_OK) t.pump(d, true);  // the second click comes in here
            note("leave " + std::to_string(c));
        };
        std::atomic<bool> both_clicked{false};
        std::atomic<DialogHandle> handle{NO_DIALOG};
        auto click_both = [&] {
            QWidget* w = test::wait_for_dialog(ui, IDD_CONFIRM);
            QVERIFY(w);
            // Both clicks are queued before either is handled.
            QMetaObject::invokeMethod(button(w, ID_OK), "click", Qt::QueuedConnection);
            QMetaObject::invokeMethod(button(w, ID_CANCEL), "click", Qt::QueuedConnection);
        };
        if (gui_owned) {
            handle = ui.create_dialog(IDD_CONFIRM, recorder_proc, &r);
            click_both();
            QVERIFY(wait_until([&] {
                std::lock_guard lock(trace_mutex);
                return trace.size() == 4;
            }));
        } else {
            Worker worker([&] {
                DialogHandle d = ui.create_dialog(IDD_CONFIRM, recorder_proc, &r);
                handle = d;
                while (!both_clicked) std::this_thread::sleep_for(1ms);
                // Both commands are in the mailbox: one pump takes the first only.
                ui.pump(d, false);
                ui.destroy_dialog(d);
            });
            click_both();
            QTest::qWait(50);  // both queued clicks reach the GUI thread and its mailbox
            both_clicked = true;
            QVERIFY(worker.finish());
        }
        std::vector<std::string> want{"enter 1", "leave 1", "enter 2", "leave 2"};
        QCOMPARE(trace, want);
        if (gui_owned) ui.destroy_dialog(handle);
    }

    // The transfer's per-block updates never wait for the GUI thread: all of them return while
    // the GUI thread is busy elsewhere, and what they set is drawn once it is free again.
    void setters_return_while_the_gui_thread_is_busy() {
        QtToolkit ui;
        Recorder r;
        std::atomic<DialogHandle> handle{NO_DIALOG};
        std::atomic<bool> gui_busy{false}, setters_done{false}, may_finish{false};
        constexpr int COUNT = 2000;
        Worker worker([&] {
            DialogHandle d = ui.create_dialog(IDD_UPLOADING, recorder_proc, &r);
            ui.progress_set_range(d, IDC_PROGRESS, 0, COUNT);
            handle = d;
            while (!gui_busy) std::this_thread::sleep_for(1ms);
            for (int i = 1; i <= COUNT; ++i) {
                ui.progress_set_pos(d, IDC_PROGRESS, i);
                ui.set_caption(d, "Uploading " + std::to_string(i));
                ui.set_item_text(d, IDC_WAIT_TEXT, std::to_string(i));
            }
            setters_done = true;
            while (!may_finish) std::this_thread::sleep_for(1ms);
            ui.destroy_dialog(d);
        });
        Release release{may_finish};  // a failed check must not leave the worker waiting
        QWidget* w = test::wait_for_dialog(ui, IDD_UPLOADING);
        QVERIFY(w);
        QVERIFY(wait_until([&] { return handle.load() != NO_DIALOG; }));
        // Busy without turning the event loop, as a GUI thread stuck in a long paint would be.
        gui_busy = true;
        const auto give_up = std::chrono::steady_clock::now() + 20s;
        while (!setters_done && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(1ms);
        }
        QVERIFY2(setters_done, "a setter waited for the GUI thread");
        auto* bar = w->findChild<QProgressBar*>(QStringLiteral("control_1010"));
        QVERIFY(wait_until([&] {
            return bar->value() == COUNT && w->windowTitle() == QStringLiteral("Uploading 2000");
        }));
        may_finish = true;
        QVERIFY(worker.finish());
    }

    // Values set faster than the GUI thread draws them replace each other: the GUI thread
    // applies only the latest, no frame shows a title ahead of the bar, and the last value
    // always shows even when no other call follows it.
    void updates_merge_and_the_last_one_shows() {
        QtToolkit ui;
        Recorder r;
        std::atomic<DialogHandle> handle{NO_DIALOG};
        std::atomic<bool> gui_busy{false}, burst_done{false}, stream_done{false};
        std::atomic<bool> may_finish{false};
        constexpr int BURST = 1000, STREAM = 200000;
        Worker worker([&] {
            DialogHandle d = ui.create_dialog(IDD_UPLOADING, recorder_proc, &r);
            ui.progress_set_range(d, IDC_PROGRESS, 0, STREAM);
            handle = d;
            while (!gui_busy) std::this_thread::sleep_for(1ms);
            // Queued while the GUI thread is busy: one value each should be left to draw.
            for (int i = 1; i <= BURST; ++i) {
                ui.progress_set_pos(d, IDC_PROGRESS, i);
                ui.set_caption(d, "Uploading " + std::to_string(i));
            }
            burst_done = true;
            // Then as fast as possible while the GUI thread is free, and nothing after the end.
            for (int i = BURST + 1; i <= STREAM; ++i) {
                ui.progress_set_pos(d, IDC_PROGRESS, i);
                ui.set_caption(d, "Uploading " + std::to_string(i));
            }
            stream_done = true;
            while (!may_finish) std::this_thread::sleep_for(1ms);
            ui.destroy_dialog(d);
        });
        Release release{may_finish};  // a failed check must not leave the worker waiting
        QWidget* w = test::wait_for_dialog(ui, IDD_UPLOADING);
        QVERIFY(w);
        QVERIFY(wait_until([&] { return handle.load() != NO_DIALOG; }));
        auto* bar = w->findChild<QProgressBar*>(QStringLiteral("control_1010"));
        int bar_changes = 0;
        QObject::connect(bar, &QProgressBar::valueChanged, [&] { ++bar_changes; });
        // What each frame shows: the title's count and the bar, when the bar is painted.
        std::vector<std::pair<int, int>> frames;
        PaintWatch watch(bar, [&] {
            frames.emplace_back(w->windowTitle().section(QLatin1Char(' '), 1).toInt(),
                                bar->value());
        });
        gui_busy = true;
        const auto give_up = std::chrono::steady_clock::now() + 20s;
        while (!burst_done && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(1ms);
        }
        QVERIFY(burst_done);
        QVERIFY(wait_until([&] { return bar->value() >= BURST; }));
        QVERIFY2(bar_changes <= 3, qPrintable(QStringLiteral("%1 draws").arg(bar_changes)));
        QVERIFY(wait_until([&] { return stream_done.load(); }, 60000));
        // Nothing follows the last value: it must still reach the screen.
        QVERIFY(wait_until([&] {
            return bar->value() == STREAM &&
                   w->windowTitle() == QStringLiteral("Uploading %1").arg(STREAM);
        }));
        QVERIFY2(bar_changes < STREAM / 10,
                 qPrintable(QStringLiteral("%1 draws").arg(bar_changes)));
        // The bar was set before the title for each count: no frame shows a title ahead of it.
        QVERIFY(wait_until([&] { return !frames.empty() && frames.back().second == STREAM; }));
        for (auto [count, bar_value] : frames) QVERIFY(bar_value >= count);
        may_finish = true;
        QVERIFY(worker.finish());
    }

    // A call that is not a latest-value setter keeps its place: a position set after a new
    // range is measured against that range, not merged into one set before it.
    void a_range_keeps_its_place_among_positions() {
        QtToolkit ui;
        Recorder r;
        std::atomic<DialogHandle> handle{NO_DIALOG};
        std::atomic<bool> gui_busy{false}, done{false}, may_finish{false};
        Worker worker([&] {
            DialogHandle d = ui.create_dialog(IDD_UPLOADING, recorder_proc, &r);
            handle = d;
            while (!gui_busy) std::this_thread::sleep_for(1ms);
            ui.progress_set_pos(d, IDC_PROGRESS, 50);  // the template's range: 0 to 100
            ui.progress_set_range(d, IDC_PROGRESS, 0, 1917);
            ui.progress_set_pos(d, IDC_PROGRESS, 1500);
            done = true;
            while (!may_finish) std::this_thread::sleep_for(1ms);
            ui.destroy_dialog(d);
        });
        Release release{may_finish};  // a failed check must not leave the worker waiting
        QWidget* w = test::wait_for_dialog(ui, IDD_UPLOADING);
        QVERIFY(w);
        QVERIFY(wait_until([&] { return handle.load() != NO_DIALOG; }));
        auto* bar = w->findChild<QProgressBar*>(QStringLiteral("control_1010"));
        std::vector<int> values;
        QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { values.push_back(v); });
        gui_busy = true;
        while (!done) std::this_thread::sleep_for(1ms);
        QVERIFY(wait_until([&] { return bar->maximum() == 1917 && bar->value() == 1500; }));
        QCOMPARE(values, (std::vector<int>{50, 1500}));
        may_finish = true;
        QVERIFY(worker.finish());
    }

    // A thread that ends leaves no dialog behind; clicks on a destroyed dialog go nowhere.
    void a_gone_thread_leaves_no_dialog() {
        QtToolkit ui;
        Recorder r;
        std::atomic<bool> clicked{false};
        Worker worker([&] {
            DialogHandle d = ui.create_dialog(IDD_WAITING, recorder_proc, &r);
            ui.create_dialog(IDD_UPLOADING, recorder_proc, &r);
            while (!clicked) std::this_thread::sleep_for(1ms);
            // Cancel was clicked but never pumped: destroying drops it.
            ui.destroy_dialog(d);
            if (ui.pump(d, true) != 0) std::abort();
        });
        QWidget* w = test::wait_for_dialog(ui, IDD_WAITING);
        QVERIFY(w);
        QVERIFY(test::wait_for_dialog(ui, IDD_UPLOADING));
        QTest::mouseClick(button(w, ID_CANCEL), Qt::LeftButton);
        clicked = true;
        QVERIFY(worker.finish());
        QCOMPARE(r.commands(), (std::vector<int>{0, 0}));
        QVERIFY(wait_until([] { return !any_dialog_visible(); }));
        QCOMPARE(ui.find_dialog(IDD_UPLOADING), NO_DIALOG);
    }
};

QTEST_MAIN(ThreadTests)
#include "test_threads.moc"
