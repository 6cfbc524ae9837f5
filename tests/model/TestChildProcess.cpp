#include "ChildProcess.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList capturedMessages;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    capturedMessages.append(message);
}

} // namespace

// The one way we run a program to its end: what it reports for each way a child ends, and that
// a child past its time limit is killed and reaped with what it started.
class TestChildProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reportsHowTheChildEnded_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: the program does not exist
        QTest::addColumn<int>("output");        // ChildProcess::Output
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("finishedNormally");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("standardOutput");
        QTest::addColumn<QByteArray>("standardError");

        const int captured = int(ChildProcess::Output::captured);
        QTest::newRow("exit status and both channels apart")
            << QByteArray("echo out; echo err >&2; exit 3") << captured << true << true << 3
            << QByteArray("out\n") << QByteArray("err\n");
        QTest::newRow("channels merged in order")
            << QByteArray("echo out; echo err >&2; echo more") << int(ChildProcess::Output::merged)
            << true << true << 0 << QByteArray("out\nerr\nmore\n") << QByteArray();
        QTest::newRow("channels discarded")
            << QByteArray("echo out; echo err >&2") << int(ChildProcess::Output::discarded) << true
            << true << 0 << QByteArray() << QByteArray();
        QTest::newRow("input is empty, not ours")
            << QByteArray("if read -r line; then echo read; else echo end; fi") << captured << true
            << true << 0 << QByteArray("end\n") << QByteArray();
        QTest::newRow("killed by a signal: no exit code")
            << QByteArray("echo before; kill -KILL $$") << captured << true << false << -1
            << QByteArray("before\n") << QByteArray();
        QTest::newRow("missing program")
            << QByteArray() << captured << false << false << -1 << QByteArray() << QByteArray();
    }

    void reportsHowTheChildEnded()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, output);
        QFETCH(bool, started);
        QFETCH(bool, finishedNormally);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, standardOutput);
        QFETCH(QByteArray, standardError);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString program = dir.filePath(u"child"_s);
        if (!script.isEmpty())
            TestSupport::writeScript(program, "#!/bin/sh\n" + script + "\n");
        ChildProcess::Options options;
        options.output = ChildProcess::Output(output);
        const ChildProcess::Outcome outcome = ChildProcess::run(program, {}, options);
        QCOMPARE(outcome.started, started);
        QVERIFY(!outcome.timedOut);
        QCOMPARE(outcome.finishedNormally, finishedNormally);
        QCOMPARE(outcome.exitCode, exitCode);
        QCOMPARE(outcome.standardOutput, standardOutput);
        QCOMPARE(outcome.standardError, standardError);
        QCOMPARE(outcome.errorString.isEmpty(), started);
    }

    // A child that ignores SIGTERM and whose own child holds the output pipe open: past the
    // limit both are killed, the child is reaped before run returns, and Qt has nothing to
    // warn about.
    void killsAndReapsAfterTheLimit()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pids = dir.filePath(u"pids"_s);
        const QString program = dir.filePath(u"stubborn"_s);
        TestSupport::writeScript(program, "#!/bin/sh\n"
                                          "trap '' TERM HUP INT\n"
                                          "sleep 600 &\n"
                                          "echo \"$$ $!\" > \"$1.part\" && mv \"$1.part\" \"$1\"\n"
                                          "wait\n");
        capturedMessages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
        ChildProcess::Options options;
        options.timeoutMs = 3000;
        const ChildProcess::Outcome outcome = ChildProcess::run(program, {pids}, options);
        qInstallMessageHandler(previous);

        QVERIFY(outcome.started);
        QVERIFY(outcome.timedOut);
        QVERIFY(!outcome.finishedNormally);
        QVERIFY(!outcome.succeeded());
        const QList<QByteArray> ids = TestSupport::readFile(pids).trimmed().split(' ');
        QCOMPARE(ids.size(), 2);
        const qint64 child = ids.at(0).toLongLong();
        const qint64 grandchild = ids.at(1).toLongLong();
        QVERIFY(child > 0 && grandchild > 0);
        // Reaped: no zombie of ours is left either.
        QCOMPARE(::kill(pid_t(child), 0), -1);
        QCOMPARE(errno, ESRCH);
        QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::processRunning(grandchild),
                                 TestSupport::eventTimeoutMs);
        for (const QString& message : std::as_const(capturedMessages))
            QVERIFY2(!message.contains(u"Destroyed while process"_s), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestChildProcess)
#include "TestChildProcess.moc"
