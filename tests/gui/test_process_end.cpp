// SPDX-License-Identifier: MIT
// Ending the process while Qt runs, from the GUI thread and from others: at once, exit code 0,
// nothing on standard error. Each case runs in a child process (zoq-gui-child).
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>
#include <chrono>
#include <string>

extern char** environ;

namespace {

struct ChildEnd {
    bool ended = false;  // within the time limit
    bool exited = false;
    int exit_code = -1;
    int signal = 0;
    QString err;
};

// posix_spawn rather than QProcess: QProcess starts its child from inside Qt with a clone()
// that ThreadSanitizer's fork handling does not survive when Qt's calls are ignored.
ChildEnd run_child(const char* scenario, int timeout_ms = 30000) {
    ChildEnd end;
    int err_pipe[2];
    if (::pipe(err_pipe) != 0) return end;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    std::string path = ZOQ_GUI_CHILD;
    std::string arg = scenario;
    char* argv[] = {path.data(), arg.data(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(err_pipe[1]);
    if (rc != 0) {
        ::close(err_pipe[0]);
        return end;
    }
    QByteArray err;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pollfd p{err_pipe[0], POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buf[4096];
            ssize_t n = ::read(err_pipe[0], buf, sizeof buf);
            if (n <= 0) break;  // the child is gone (and every descendant holding the pipe)
            err.append(buf, n);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    ::close(err_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    end.ended = std::chrono::steady_clock::now() <= deadline;
    end.exited = WIFEXITED(status);
    end.exit_code = end.exited ? WEXITSTATUS(status) : -1;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    end.err = QString::fromUtf8(err);
    return end;
}

// Standard error without the offscreen platform's harmless notes.
QStringList meaningful_lines(const QString& err) {
    QStringList out;
    for (const QString& line : err.split('\n')) {
        if (line.isEmpty() || line.contains(QStringLiteral("XDG_RUNTIME_DIR")) ||
            line.contains(QStringLiteral("This plugin does not support"))) {
            continue;
        }
        out << line;
    }
    return out;
}

}  // namespace

class ProcessEndTests : public QObject {
    Q_OBJECT

  private slots:
    void ends_cleanly_data() {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("worker ends while the main thread is modal") << "worker-ends-while-modal";
        QTest::newRow("Cancel in the listener's dialog") << "listener-cancel";
        QTest::newRow("message then end on a worker") << "worker-message-then-end";
        QTest::newRow("Cancel in a dialog of the GUI thread") << "gui-cancel";
    }
    void ends_cleanly() {
        QFETCH(QString, scenario);
        ChildEnd end = run_child(qPrintable(scenario));
        QVERIFY2(end.ended, "the process did not end");
        QVERIFY2(end.exited, qPrintable(QStringLiteral("signal %1").arg(end.signal)));
        QCOMPARE(end.exit_code, 0);
        QCOMPARE(meaningful_lines(end.err), QStringList());
    }

    // Our wrong-thread check stays in release builds: it stops the program with a message.
    void pump_from_another_thread_is_refused() {
        ChildEnd end = run_child("wrong-thread-pump");
        QVERIFY(end.ended);
        QCOMPARE(end.signal, SIGABRT);
        QVERIFY(end.err.contains(
            QStringLiteral("pump called by a thread that does not own the dialog")));
    }
};

QTEST_MAIN(ProcessEndTests)
#include "test_process_end.moc"
