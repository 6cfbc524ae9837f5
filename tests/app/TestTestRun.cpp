// The test runner and its sheet against real child shells: output arriving in steps, merged
// standard error, exit statuses, quoting of folders and .env files, Stop and Run Again.
#include "AppFakes.h"
#include "TaskRunner.h"
#include "TestRunView.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

ScheduledTask commandTask(const QString& command, std::optional<QString> folder = std::nullopt,
                          std::optional<QString> envFile = std::nullopt)
{
    ScheduledTask task = ScheduledTask::create(QStringLiteral("Try"), command, TaskSchedule());
    task.workingDirectory = std::move(folder);
    task.envFilePath = std::move(envFile);
    task.useLoginShell = false;
    return task;
}

QString shownOutput(QWidget* sheet)
{
    return child<QPlainTextEdit>(sheet, QStringLiteral("test-run-output"))->toPlainText();
}

void writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class TestTestRun : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void loginShellFallsBackToUsersShell();
    void runs_data();
    void runs();
    void outputArrivesInSteps();
    void runIgnoredWhileRunning();
    void invalidUtf8ReadDropped();
    void runAgainClearsOutput();
    void stopEndsRunAsFailure_data();
    void stopEndsRunAsFailure();
    void escapeClosesOnlyWhenFinished();
    void lateOutputAfterCloseIsDropped();
};

void TestTestRun::commandLine_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("envFile");
    QTest::addColumn<QString>("line");
    QTest::newRow("command only") << ""
                                  << ""
                                  << "make";
    QTest::newRow("folder") << "/tmp/a b"
                            << ""
                            << "cd '/tmp/a b' && make";
#ifdef Q_OS_MACOS
    QTest::newRow("env and folder") << "/w"
                                    << "/e/.env"
                                    << "set -a && source '/e/.env' && set +a && cd '/w' && make";
#else
    QTest::newRow("env and folder") << "/w"
                                    << "/e/.env"
                                    << "set -a && . '/e/.env' && set +a && cd '/w' && make";
#endif
    QTest::newRow("quote in folder") << "/tmp/it's"
                                     << ""
                                     << "cd '/tmp/it'\\''s' && make";
}

void TestTestRun::commandLine()
{
    QFETCH(QString, folder);
    QFETCH(QString, envFile);
    QFETCH(QString, line);
    const auto optional = [](const QString& text) {
        return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    };
    QCOMPARE(TaskRunner::commandLine(QStringLiteral("make"), optional(folder), optional(envFile)),
             line);
    // An empty text counts as none.
    QCOMPARE(TaskRunner::commandLine(QStringLiteral("make"), QString(), QString()),
             QStringLiteral("make"));
}

void TestTestRun::loginShellFallsBackToUsersShell()
{
    QCOMPARE(TaskRunner::shellFor(false).program, QStringLiteral("/bin/sh"));
    QCOMPARE(TaskRunner::shellFor(false).leadingArguments, QStringList{QStringLiteral("-c")});
    const TaskRunner::Shell login = TaskRunner::shellFor(true);
    QCOMPARE(login.leadingArguments,
             (QStringList{QStringLiteral("-l"), QStringLiteral("-i"), QStringLiteral("-c")}));
    if (QFileInfo(QStringLiteral("/bin/zsh")).isExecutable())
        QCOMPARE(login.program, QStringLiteral("/bin/zsh"));
    else
        QVERIFY(QFileInfo(login.program).isExecutable());
}

void TestTestRun::runs_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("envFile");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    // Names below are relative to a fresh temporary folder.
    QTest::newRow("success") << "echo ok"
                             << ""
                             << "" << 0 << "ok\n";
    QTest::newRow("exit 3") << "echo bad; exit 3"
                            << ""
                            << "" << 3 << "bad\n";
    QTest::newRow("stderr interleaved") << "echo one; echo two >&2; echo three"
                                        << ""
                                        << "" << 0 << "one\ntwo\nthree\n";
    QTest::newRow("folder with quote") << "pwd"
                                       << "it's here"
                                       << "" << 0 << "<dir>/it's here\n";
    QTest::newRow("env file with quote") << "echo \"$GREETING\""
                                         << ""
                                         << "Bob's.env" << 0 << "hi there\n";
    QTest::newRow("missing env file") << "echo never"
                                      << ""
                                      << "missing.env" << 2 << "<error>";
    QTest::newRow("missing folder") << "echo never"
                                    << "missing"
                                    << "" << 2 << "<error>";
}

void TestTestRun::runs()
{
    QFETCH(QString, command);
    QFETCH(QString, folder);
    QFETCH(QString, envFile);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("it's here"));
    writeText(dir.filePath(QStringLiteral("Bob's.env")), "GREETING='hi there'\n");
    const ScheduledTask task =
        commandTask(command, folder.isEmpty() ? std::nullopt : std::optional(dir.filePath(folder)),
                    envFile.isEmpty() ? std::nullopt : std::optional(dir.filePath(envFile)));

    TestRunView sheet(task);
    sheet.show();
    QTRY_VERIFY(sheet.runner()->exitCode().has_value());
    QVERIFY(!sheet.runner()->isRunning());
    if (output == u"<error>") {
        // The shell's own complaint names what failed; the command never ran.
        QVERIFY(*sheet.runner()->exitCode() != 0);
        QVERIFY2(shownOutput(&sheet).contains(u"missing"), qPrintable(shownOutput(&sheet)));
        QVERIFY(!shownOutput(&sheet).contains(u"never"));
    } else {
        QCOMPARE(*sheet.runner()->exitCode(), exitCode);
        QCOMPARE(shownOutput(&sheet), QString(output).replace(QStringLiteral("<dir>"), dir.path()));
    }
    auto* exit = child<QLabel>(&sheet, QStringLiteral("test-run-exit"));
    QVERIFY(exit->isVisibleTo(&sheet));
    QCOMPARE(exit->text(), QStringLiteral("Exit: %1").arg(*sheet.runner()->exitCode()));
    QCOMPARE(exit->property("success").toBool(), *sheet.runner()->exitCode() == 0);
    QVERIFY(child<QPushButton>(&sheet, QStringLiteral("test-run-close"))->isVisibleTo(&sheet));
    QVERIFY(child<QPushButton>(&sheet, QStringLiteral("test-run-again"))->isVisibleTo(&sheet));
    QVERIFY(!child<QPushButton>(&sheet, QStringLiteral("test-run-stop"))->isVisibleTo(&sheet));
}

void TestTestRun::outputArrivesInSteps()
{
    QTemporaryDir dir;
    const QString go = dir.filePath(QStringLiteral("go"));
    // The child waits for the test's signal, so the first part is seen alone however slow the
    // machine is.
    TestRunView sheet(commandTask(
        QStringLiteral("echo first; while [ ! -e '%1' ]; do sleep 0.05; done; echo second")
            .arg(go)));
    sheet.show();
    QTRY_COMPARE(shownOutput(&sheet), QStringLiteral("first\n"));
    QVERIFY(sheet.runner()->isRunning());
    QVERIFY(child<QPushButton>(&sheet, QStringLiteral("test-run-stop"))->isVisibleTo(&sheet));
    QVERIFY(!child<QLabel>(&sheet, QStringLiteral("test-run-exit"))->isVisibleTo(&sheet));
    writeText(go, "");
    QTRY_COMPARE(shownOutput(&sheet), QStringLiteral("first\nsecond\n"));
    QTRY_COMPARE(sheet.runner()->exitCode(), std::optional<int>(0));
}

void TestTestRun::runIgnoredWhileRunning()
{
    TaskRunner runner;
    runner.run(QStringLiteral("echo one; sleep 0.3"), std::nullopt, std::nullopt, false);
    runner.run(QStringLiteral("echo two; exit 4"), std::nullopt, std::nullopt, false);
    QTRY_VERIFY(runner.exitCode().has_value());
    QCOMPARE(runner.exitCode(), std::optional<int>(0));
    QCOMPARE(runner.output(), QStringLiteral("one\n"));
}

void TestTestRun::invalidUtf8ReadDropped()
{
    QTemporaryDir dir;
    const QString printed = dir.filePath(QStringLiteral("printed"));
    const QString go = dir.filePath(QStringLiteral("go"));
    TaskRunner runner;
    runner.run(QStringLiteral("printf 'bad \\377\\n'; touch '%1'; "
                              "while [ ! -e '%2' ]; do sleep 0.05; done; echo good")
                   .arg(printed, go),
               std::nullopt, std::nullopt, false);
    // The bad bytes are read on their own before the good ones are written: the runner reads
    // on readyRead before this later connection hears it.
    QSignalSpy read(runner.findChild<QProcess*>(), &QProcess::readyRead);
    QTRY_VERIFY(QFile::exists(printed));
    QTRY_VERIFY_WITH_TIMEOUT(read.count() > 0, TestSupport::eventTimeoutMs);
    writeText(go, "");
    QTRY_VERIFY(runner.exitCode().has_value());
    QCOMPARE(runner.output(), QStringLiteral("good\n"));
}

void TestTestRun::runAgainClearsOutput()
{
    QTemporaryDir dir;
    const QString counter = dir.filePath(QStringLiteral("count"));
    const QString go = dir.filePath(QStringLiteral("go"));
    // First run prints "run 1"; the second prints nothing until released.
    TestRunView sheet(
        commandTask(QStringLiteral("if [ -e '%1' ]; then while [ ! -e '%2' ]; do sleep 0.05; done; "
                                   "echo 'run 2'; else touch '%1'; echo 'run 1'; fi")
                        .arg(counter, go)));
    sheet.show();
    QTRY_VERIFY(sheet.runner()->exitCode().has_value());
    QCOMPARE(shownOutput(&sheet), QStringLiteral("run 1\n"));
    QTest::keyClick(&sheet, Qt::Key_Return);
    QVERIFY(sheet.runner()->isRunning());
    QCOMPARE(shownOutput(&sheet), QString());
    QVERIFY(!child<QLabel>(&sheet, QStringLiteral("test-run-exit"))->isVisibleTo(&sheet));
    writeText(go, "");
    QTRY_VERIFY(sheet.runner()->exitCode().has_value());
    QCOMPARE(shownOutput(&sheet), QStringLiteral("run 2\n"));
}

void TestTestRun::stopEndsRunAsFailure_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("sleep replaces the shell") << "echo started; exec sleep 60";
    QTest::newRow("shell waits for sleep") << "echo started; sleep 60";
    QTest::newRow("shell waits for a subshell")
        << "echo started; (sleep 0.5; touch '<marker>'); sleep 60";
}

void TestTestRun::stopEndsRunAsFailure()
{
    QFETCH(QString, command);
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("marker"));
    TestRunView sheet(commandTask(command.replace(QStringLiteral("<marker>"), marker)));
    sheet.show();
    QTRY_COMPARE(shownOutput(&sheet), QStringLiteral("started\n"));
    child<QPushButton>(&sheet, QStringLiteral("test-run-stop"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(sheet.runner()->exitCode().has_value(), TestSupport::eventTimeoutMs);
    QVERIFY(*sheet.runner()->exitCode() != 0);
    QCOMPARE(child<QLabel>(&sheet, QStringLiteral("test-run-exit"))->property("success").toBool(),
             false);
    // What the shell had started ended with it: nothing finishes its work afterwards.
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::processesMentioning(marker).isEmpty(),
                             TestSupport::eventTimeoutMs);
    QVERIFY(!QFile::exists(marker));
}

void TestTestRun::escapeClosesOnlyWhenFinished()
{
    TestRunView sheet(commandTask(QStringLiteral("exec sleep 60")));
    sheet.show();
    QVERIFY(sheet.runner()->isRunning());
    QTest::keyClick(&sheet, Qt::Key_Escape);
    QVERIFY(sheet.isVisible());
    sheet.runner()->stop();
    QTRY_VERIFY(!sheet.runner()->isRunning());
    QTest::keyClick(&sheet, Qt::Key_Escape);
    QVERIFY(!sheet.isVisible());
    QCOMPARE(sheet.result(), int(QDialog::Rejected));
}

void TestTestRun::lateOutputAfterCloseIsDropped()
{
    QTemporaryDir dir;
    const QString done = dir.filePath(QStringLiteral("done"));
    {
        auto* sheet = new TestRunView(
            commandTask(QStringLiteral("trap 'echo late; touch \"%1\"; exit 0' TERM; "
                                       "echo listening; while :; do sleep 0.05; done")
                            .arg(done)));
        sheet->show();
        // The trap is set once the child says so.
        QTRY_COMPARE(sheet->runner()->output(), QStringLiteral("listening\n"));
        delete sheet;
    }
    // The child heard it should end and wrote its last words to nobody.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(done), TestSupport::eventTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::processesMentioning(done).isEmpty(),
                             TestSupport::eventTimeoutMs);
}

QTEST_MAIN(TestTestRun)
#include "TestTestRun.moc"
