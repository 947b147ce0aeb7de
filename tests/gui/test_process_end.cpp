// SPDX-License-Identifier: MIT
// Ending the process while Qt runs, from the GUI thread and from others: at once, exit code 0,
// nothing on standard error. Each case runs in a child process (zoq-gui-child).
#include <QProcess>
#include <QtTest>

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
        QProcess child;
        child.start(QStringLiteral(ZOQ_GUI_CHILD), {scenario});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForFinished(30000), "the process did not end");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(stderr_lines(child), QStringList());
    }

    // Our wrong-thread check stays in release builds: it stops the program with a message.
    void pump_from_another_thread_is_refused() {
        QProcess child;
        child.start(QStringLiteral(ZOQ_GUI_CHILD), {QStringLiteral("wrong-thread-pump")});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY(stderr_lines(child).join('\n').contains(
            QStringLiteral("pump called by a thread that does not own the dialog")));
    }

  private:
    // Standard error without the offscreen platform's harmless notes.
    static QStringList stderr_lines(QProcess& child) {
        QStringList out;
        for (const QString& line : QString::fromUtf8(child.readAllStandardError()).split('\n')) {
            if (line.isEmpty() || line.contains(QStringLiteral("XDG_RUNTIME_DIR")) ||
                line.contains(QStringLiteral("This plugin does not support"))) {
                continue;
            }
            out << line;
        }
        return out;
    }
};

QTEST_MAIN(ProcessEndTests)
#include "test_process_end.moc"
