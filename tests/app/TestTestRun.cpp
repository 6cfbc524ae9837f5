// The test runner and its sheet against real child shells: output arriving in steps, merged
// standard error, exit statuses, quoting of folders and .env files, Stop and Run Again, a run
// started from a terminal, split characters, commands that ignore SIGTERM, long outputs.
#include "AppFakes.h"
#include "ShellQuoting.h"
#include "TaskRunner.h"
#include "TestRunView.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

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

const QString killNote =
    QStringLiteral("The command did not end within 3 seconds of Stop, so it was killed (SIGKILL).");

// The identifiers of this process's children that the system has stopped (state T).
QList<qint64> stoppedChildren()
{
    QList<qint64> stopped;
#ifdef Q_OS_LINUX
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    QDirIterator entries(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        QFile stat(entries.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...", where the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self && fields.at(0) == "T")
            stopped << line.left(line.indexOf(' ')).toLongLong();
    }
#endif
    return stopped;
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
    void invalidBytesReplacedNotTheRead_data();
    void invalidBytesReplacedNotTheRead();
    void charactersSplitBetweenReadsArriveWhole();
    void shellInputStepsStopTheRun_data();
    void shellInputStepsStopTheRun();
    void loginShellRunUnderTerminal();
    void stopKillsWhatIgnoresSigterm_data();
    void stopKillsWhatIgnoresSigterm();
    void longOutputKeepsItsEnd();
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
                            << "cd '/tmp/a b' || exit\nmake";
#ifdef Q_OS_MACOS
    QTest::newRow("env and folder")
        << "/w"
        << "/e/.env"
        << "set -a\nsource '/e/.env' || exit\nset +a\ncd '/w' || exit\nmake";
#else
    QTest::newRow("env and folder") << "/w"
                                    << "/e/.env"
                                    << "set -a\n. '/e/.env' || exit\nset +a\ncd '/w' || exit\nmake";
#endif
    QTest::newRow("quote in folder") << "/tmp/it's"
                                     << ""
                                     << "cd '/tmp/it'\\''s' || exit\nmake";
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
    // The command's own lines follow unchanged, each at the top level.
    QVERIFY(TaskRunner::commandLine(QStringLiteral("make\nmake install"), optional(folder),
                                    optional(envFile))
                .endsWith(QLatin1String("\nmake\nmake install")) ||
            (folder.isEmpty() && envFile.isEmpty()));
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
    QTRY_VERIFY_WITH_TIMEOUT(sheet.runner()->exitCode().has_value(), TestSupport::eventTimeoutMs);
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
    QTRY_VERIFY_WITH_TIMEOUT(runner.exitCode().has_value(), TestSupport::eventTimeoutMs);
    QCOMPARE(runner.exitCode(), std::optional<int>(0));
    QCOMPARE(runner.output(), QStringLiteral("one\n"));
}

void TestTestRun::invalidBytesReplacedNotTheRead_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("output");
    QTest::newRow("invalid byte in a line")
        << "printf 'bad \\377 byte\\n'; echo good" << QStringLiteral("bad \uFFFD byte\ngood\n");
    QTest::newRow("output ends inside a character")
        << "printf 'cut \\342\\202'" << QStringLiteral("cut \uFFFD");
    QTest::newRow("latin-1 text") << "printf 'caf\\351\\n'" << QStringLiteral("caf\uFFFD\n");
}

void TestTestRun::invalidBytesReplacedNotTheRead()
{
    QFETCH(QString, command);
    QFETCH(QString, output);
    TaskRunner runner;
    runner.run(command, std::nullopt, std::nullopt, false);
    QTRY_VERIFY_WITH_TIMEOUT(runner.exitCode().has_value(), TestSupport::eventTimeoutMs);
    QCOMPARE(runner.output(), output);
}

void TestTestRun::charactersSplitBetweenReadsArriveWhole()
{
    // Thousands of lines of two-, three- and four-byte characters, written five bytes at a
    // time, so reads end inside characters again and again.
    constexpr int lines = 6000;
    TestRunView sheet(commandTask(
        QStringLiteral(
            "i=0; while [ $i -lt %1 ]; do i=$((i+1)); echo \"$i äöü – 日本語 🙂\"; "
            "done | dd bs=5 2>/dev/null")
            .arg(lines)));
    sheet.show();
    QTRY_VERIFY_WITH_TIMEOUT(sheet.runner()->exitCode().has_value(), 60000);
    QCOMPARE(sheet.runner()->exitCode(), std::optional<int>(0));
    for (const QString& output : {sheet.runner()->output(), shownOutput(&sheet)}) {
        QVERIFY(!output.contains(QChar::ReplacementCharacter));
        const QStringList got = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(got.size(), lines);
        for (int i = 0; i < lines; ++i)
            QCOMPARE(got.at(i), QStringLiteral("%1 äöü – 日本語 🙂").arg(i + 1));
    }
}

void TestTestRun::shellInputStepsStopTheRun_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("env");
    QTest::addColumn<bool>("ran");
    // Each row runs "touch first⏎touch second⏎echo ..." from an application folder of its own.
    QTest::newRow("every line in the folder") << "work" << QByteArray() << true;
    QTest::newRow("every line sees the .env") << "" << QByteArray("GREETING=hi\n") << true;
    QTest::newRow("missing folder") << "missing" << QByteArray() << false;
    QTest::newRow(".env whose last line fails")
        << "work" << QByteArray("GREETING=hi\nfalse\n") << false;
    QTest::newRow("missing .env file") << "work" << QByteArray("<none>") << false;
}

void TestTestRun::shellInputStepsStopTheRun()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, env);
    QFETCH(bool, ran);
    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(root.mkpath(QStringLiteral("app")) && root.mkpath(QStringLiteral("work")));
    std::optional<QString> envFile;
    if (!env.isEmpty()) {
        envFile = root.filePath(QStringLiteral("task.env"));
        if (env != "<none>")
            writeText(*envFile, env);
    }
    const std::optional<QString> workingDirectory =
        folder.isEmpty() ? std::nullopt : std::optional(root.filePath(folder));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root.filePath(QStringLiteral("app"))));
    TaskRunner runner;
    runner.run(QStringLiteral("touch first\ntouch second\necho \"done $GREETING\""),
               workingDirectory, envFile, false);
    QTRY_VERIFY_WITH_TIMEOUT(runner.exitCode().has_value(), TestSupport::eventTimeoutMs);
    QDir::setCurrent(previous);

    const QDir expected =
        folder.isEmpty() ? root.filePath(QStringLiteral("app")) : *workingDirectory;
    if (ran) {
        QCOMPARE(runner.exitCode(), std::optional<int>(0));
        QCOMPARE(runner.output(),
                 QStringLiteral("done %1\n").arg(env.isEmpty() ? QString() : QStringLiteral("hi")));
        QVERIFY(expected.exists(QStringLiteral("first")) &&
                expected.exists(QStringLiteral("second")));
    } else {
        QVERIFY2(*runner.exitCode() != 0, qPrintable(runner.output()));
        QVERIFY2(!runner.output().contains(u"done"), qPrintable(runner.output()));
    }
    // No line ever ran outside the folder it was given.
    if (!folder.isEmpty())
        QCOMPARE(QDir(root.filePath(QStringLiteral("app"))).entryList(QDir::Files), QStringList());
    if (!ran) {
        QVERIFY(!QFile::exists(root.filePath(QStringLiteral("work/first"))));
        QVERIFY(!QFile::exists(root.filePath(QStringLiteral("work/second"))));
    }
}

void TestTestRun::loginShellRunUnderTerminal()
{
#ifndef Q_OS_LINUX
    QSKIP("reads the states of processes from /proc");
#else
    if (qEnvironmentVariableIsSet("BRENMOR_UNDER_TERMINAL")) {
        // This copy of the test program runs in the terminal that script(1) made for it, as
        // the application does when it is started from a terminal.
        QVERIFY(::isatty(STDIN_FILENO));
        TaskRunner runner;
        runner.run(QStringLiteral("echo \"tty:$(ps -o tty= -p $$ | tr -d ' ')\""), std::nullopt,
                   std::nullopt, true);
        QList<qint64> stopped;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &watch, [&stopped] {
            if (stopped.isEmpty())
                stopped = stoppedChildren();
        });
        watch.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(!runner.isRunning() || !stopped.isEmpty(), 30000);
        for (const qint64 child : std::as_const(stopped))
            ::kill(pid_t(child), SIGKILL);
        QVERIFY2(stopped.isEmpty(), "the terminal stopped the login shell");
        QCOMPARE(runner.exitCode(), std::optional<int>(0));
        // The shell had no controlling terminal.
        QVERIFY2(runner.output().contains(u"tty:?\n"), qPrintable(runner.output()));
        return;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("ps")).isEmpty())
        QSKIP("needs script(1) and ps(1)");
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BRENMOR_UNDER_TERMINAL"), QStringLiteral("1"));
    script.setProcessEnvironment(environment);
    script.start(QStringLiteral("script"), {QStringLiteral("-qec"),
                                            shellQuoted(QCoreApplication::applicationFilePath()) +
                                                QStringLiteral(" loginShellRunUnderTerminal"),
                                            QStringLiteral("/dev/null")});
    script.closeWriteChannel();
    const bool ended = script.waitForFinished(120000);
    if (!ended) {
        script.kill();
        script.waitForFinished();
    }
    const QString log = QString::fromUtf8(script.readAll()).remove(QLatin1Char('\r'));
    QVERIFY2(ended, qPrintable(QStringLiteral("the run under a terminal never ended:\n") + log));
    QVERIFY2(script.exitCode() == 0, qPrintable(log));
    QVERIFY2(log.contains(u"PASS   : TestTestRun::loginShellRunUnderTerminal()"), qPrintable(log));
#endif
}

void TestTestRun::stopKillsWhatIgnoresSigterm_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("shellEndsAtOnce");
    QTest::newRow("the whole command ignores SIGTERM")
        << "trap '' TERM; echo started; while :; do sleep 0.1; done" << false;
    QTest::newRow("a child outlives its shell")
        << "(trap '' TERM; while :; do sleep 0.1; done) & echo started; wait" << true;
}

void TestTestRun::stopKillsWhatIgnoresSigterm()
{
    QFETCH(QString, command);
    QFETCH(bool, shellEndsAtOnce);
    TestRunView sheet(commandTask(command));
    sheet.show();
    QTRY_COMPARE(shownOutput(&sheet), QStringLiteral("started\n"));
    child<QPushButton>(&sheet, QStringLiteral("test-run-stop"))->click();
    // Three seconds after Stop whatever is left of the run is killed, and the output says so.
    QTRY_VERIFY_WITH_TIMEOUT(shownOutput(&sheet).contains(killNote), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.runner()->isRunning(), 20000);
    QVERIFY(*sheet.runner()->exitCode() != 0);
    if (!shellEndsAtOnce)
        QCOMPARE(shownOutput(&sheet), QStringLiteral("started\n") + killNote + u'\n');
    QVERIFY(child<QPushButton>(&sheet, QStringLiteral("test-run-close"))->isVisibleTo(&sheet));
    QTest::keyClick(&sheet, Qt::Key_Escape);
    QVERIFY(!sheet.isVisible());
}

void TestTestRun::longOutputKeepsItsEnd()
{
    constexpr int last = 1500000;
    qint64 total = 0;
    for (int i = 1; i <= last; ++i)
        total += QString::number(i).size() + 1;
    QVERIFY(total > 3 * TaskRunner::keptOutputChars);
    TestRunView sheet(commandTask(QStringLiteral("seq 1 %1").arg(last)));
    sheet.show();
    QTRY_VERIFY_WITH_TIMEOUT(sheet.runner()->exitCode().has_value(), 120000);
    QCOMPARE(sheet.runner()->outputTotal(), total);
    QVERIFY(sheet.runner()->outputCut());
    for (const QString& kept : {sheet.runner()->output(), shownOutput(&sheet)}) {
        QVERIFY(kept.size() <= TaskRunner::keptOutputChars + TaskRunner::keptOutputChars / 4);
        QVERIFY(kept.size() >= TaskRunner::keptOutputChars / 2);
        QVERIFY(kept.endsWith(QStringLiteral("\n%1\n").arg(last)));
        // Whole lines only, counting up to the last.
        const QStringList lines = kept.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.first().toInt() + lines.size() - 1, last);
    }
    auto* note = child<QLabel>(&sheet, QStringLiteral("test-run-cut-note"));
    QVERIFY(note->isVisibleTo(&sheet));
    QCOMPARE(
        note->text(),
        QStringLiteral("Earlier output was cut: only the last part of a long output is kept."));
    // Run Again starts from an empty area without the note.
    sheet.runAgain();
    QVERIFY(!note->isVisibleTo(&sheet));
    QCOMPARE(shownOutput(&sheet), QString());
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
    QTRY_VERIFY_WITH_TIMEOUT(sheet.runner()->exitCode().has_value(), TestSupport::eventTimeoutMs);
    QCOMPARE(shownOutput(&sheet), QStringLiteral("run 1\n"));
    QTest::keyClick(&sheet, Qt::Key_Return);
    QVERIFY(sheet.runner()->isRunning());
    QCOMPARE(shownOutput(&sheet), QString());
    QVERIFY(!child<QLabel>(&sheet, QStringLiteral("test-run-exit"))->isVisibleTo(&sheet));
    writeText(go, "");
    QTRY_VERIFY_WITH_TIMEOUT(sheet.runner()->exitCode().has_value(), TestSupport::eventTimeoutMs);
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
    QPointer<QProcess> process;
    {
        auto* sheet = new TestRunView(
            commandTask(QStringLiteral("trap 'echo late; touch \"%1\"; exit 0' TERM; "
                                       "echo listening; while :; do sleep 0.05; done")
                            .arg(done)));
        sheet->show();
        // The trap is set once the child says so.
        QTRY_COMPARE(sheet->runner()->output(), QStringLiteral("listening\n"));
        process = sheet->runner()->findChild<QProcess*>();
        QVERIFY(process);
        delete sheet;
    }
    // The child heard it should end and wrote its last words to nobody.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(done), TestSupport::eventTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::processesMentioning(done).isEmpty(),
                             TestSupport::eventTimeoutMs);
    // The run the sheet let go is cleaned up once it has ended.
    QTRY_VERIFY_WITH_TIMEOUT(process.isNull(), TestSupport::eventTimeoutMs);
}

QTEST_MAIN(TestTestRun)
#include "TestTestRun.moc"
