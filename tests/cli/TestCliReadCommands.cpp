// brenmor-ops history, logs, run and jobs, and --json on list, status and history, as real
// processes against prepared task files, histories and logs.
#include "CliHarness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString backupId = QStringLiteral("3F2A9C1D-0000-4000-8000-000000000001");
const QString reportId = QStringLiteral("7B00C0DE-1111-4000-8000-000000000002");

QList<ScheduledTask> seededTasks()
{
    ScheduledTask backup =
        storedTask(QStringLiteral("Backup"), backupId).daily({TimeOfDay{3, 0}}).wake().build();
    ScheduledTask report =
        storedTask(QStringLiteral("Report"), reportId).every(30).disabled().build();
    return {backup, report};
}

QProcessEnvironment berlin()
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
    return environment;
}

QString expected(const QString& name)
{
    return QString::fromUtf8(
        TestSupport::readFile(TestSupport::dataPath(QStringLiteral("cli/") + name)));
}

// Four runs across the spring clock change, one legacy line, one malformed line.
const QByteArray history = "2026-03-28T02:00:00Z\t2026-03-28T02:00:42Z\t0\n"
                           "garbage line\n"
                           "2026-03-29T01:00:00Z\t2026-03-29T01:03:05Z\t3\n"
                           "2026-03-30T01:00:00Z\t0\n"
                           "2026-03-31T01:00:00Z\t2026-03-31T02:02:10Z\t1\n";
} // namespace

class TestCliReadCommands : public QObject {
    Q_OBJECT

private:
    QString logFile(const QString& id, const QString& suffix) const
    {
        return m_harness->home().dataFolder() + QStringLiteral("/Logs/") + id.left(8).toLower() +
               suffix;
    }

    std::unique_ptr<CliHarness> m_harness;

private Q_SLOTS:
    void init()
    {
        m_harness = std::make_unique<CliHarness>();
        m_harness->seed(seededTasks());
        TestSupport::writeFile(logFile(backupId, QStringLiteral(".runs")), history);
        TestSupport::writeFile(logFile(backupId, QStringLiteral(".stdout.log")),
                               "one\ntwo\nthree\n");
        TestSupport::writeFile(logFile(backupId, QStringLiteral(".stderr.log")), "warn 1\nwarn 2");
    }
    void cleanup() { m_harness.reset(); }

    void output_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");

        QTest::newRow("history, newest first in local time, summary over the file")
            << QStringList{"history", "backup"} << 0 << expected("history-backup.txt") << QString();
        QTest::newRow("history -n keeps the summary whole")
            << QStringList{"history", "3f2a", "-n", "1"} << 0 << expected("history-n1.txt")
            << QString();
        QTest::newRow("history without runs")
            << QStringList{"history", "Report"} << 0 << "No runs recorded.\n"
            << QString();
        QTest::newRow("history json") << QStringList{"history", "backup", "--json", "-n", "2"} << 0
                                      << expected("history-backup.json") << QString();
        QTest::newRow("history json without runs")
            << QStringList{"history", "--json", "report"} << 0 << expected("history-empty.json")
            << QString();
        QTest::newRow("history alone") << QStringList{"history"} << 1 << QString()
                                       << "Error: Usage: brenmor-ops history <name-or-id> [-n N] "
                                          "[--json]\n";
        QTest::newRow("history unknown task")
            << QStringList{"history", "nope"} << 1 << QString() << "Error: Task not found: nope\n";
        QTest::newRow("history -n 0") << QStringList{"history", "backup", "-n", "0"} << 1
                                      << QString() << "Error: -n needs a positive whole number\n";
        QTest::newRow("history -n without number")
            << QStringList{"history", "backup", "-n"} << 1 << QString()
            << "Error: -n needs a positive whole number\n";
        QTest::newRow("history -n word")
            << QStringList{"history", "backup", "-n", "ten"} << 1 << QString()
            << "Error: -n needs a positive whole number\n";
        // A flag of another command must not be taken for a task name.
        QTest::newRow("history -f") << QStringList{"history", "backup", "-f"} << 1 << QString()
                                    << "Error: Usage: brenmor-ops history <name-or-id> [-n N] "
                                       "[--json]\n";
        QTest::newRow("logs default") << QStringList{"logs", "backup"} << 0 << "one\ntwo\nthree\n"
                                      << QString();
        // Lines as `tail -n` counts them: the final line feed ends the last line.
        QTest::newRow("logs -n 2")
            << QStringList{"logs", "backup", "-n", "2"} << 0 << "two\nthree\n"
            << QString();
        QTest::newRow("logs -n 1") << QStringList{"logs", "backup", "-n", "1"} << 0 << "three\n"
                                   << QString();
        // As `tail` prints it: a log whose last line has no line feed ends without one.
        QTest::newRow("logs --stderr")
            << QStringList{"logs", "Backup", "--stderr"} << 0 << "warn 1\nwarn 2" << QString();
        QTest::newRow("logs missing file")
            << QStringList{"logs", "report"} << 0 << "No stdout output.\n"
            << QString();
        QTest::newRow("logs missing stderr")
            << QStringList{"logs", "report", "--stderr"} << 0 << "No stderr output.\n"
            << QString();
        QTest::newRow("logs alone")
            << QStringList{"logs"} << 1 << QString()
            << "Error: Usage: brenmor-ops logs <name-or-id> [--stderr] [-n N] [-f]\n";
        QTest::newRow("logs two names")
            << QStringList{"logs", "backup", "report"} << 1 << QString()
            << "Error: Usage: brenmor-ops logs <name-or-id> [--stderr] [-n N] [-f]\n";
        QTest::newRow("run alone") << QStringList{"run"} << 1 << QString()
                                   << "Error: Usage: brenmor-ops run <name-or-id>\n";
        QTest::newRow("run unknown")
            << QStringList{"run", "x"} << 1 << QString() << "Error: Task not found: x\n";
        QTest::newRow("list json")
            << QStringList{"list", "--json"} << 0 << expected("list.json") << QString();
        QTest::newRow("status json")
            << QStringList{"status", "--json"} << 0
            << "{\n    \"enabled\": 1,\n    \"engine\": \"runner\",\n    \"total\": 2\n}\n"
            << QString();
        QTest::newRow("plain list unchanged")
            << QStringList{"list"} << 0 << expected("list.txt") << QString();
    }
    void output()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const ProcessResult result = m_harness->run(args, berlin());
        QCOMPARE(result.errText(), err);
        QCOMPARE(result.outText(), out);
        QCOMPARE(result.exitCode, exitCode);
    }

    void jsonIsOneDocument_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("list") << QStringList{"list", "--json"};
        QTest::newRow("status") << QStringList{"status", "--json"};
        QTest::newRow("history") << QStringList{"history", "backup", "--json"};
    }
    void jsonIsOneDocument()
    {
        QFETCH(QStringList, args);
        // A name with quotes, a backslash and a control character must not break the document.
        QList<ScheduledTask> tasks = seededTasks();
        tasks[0].name = QStringLiteral("Back\"up\\ \x01 ü");
        m_harness->seed(tasks);
        args.replace(1, args[1] == QLatin1String("backup") ? QStringLiteral("3f2a") : args[1]);
        const ProcessResult result = m_harness->run(args, berlin());
        QCOMPARE(result.exitCode, 0);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(result.out, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(document.isObject());
        if (args[0] == QLatin1String("list"))
            QCOMPARE(document[QStringLiteral("tasks")][0][QStringLiteral("name")].toString(),
                     tasks[0].name);
    }

    void runExecutesTheWrapperAndRecordsTheRun_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("success") << "echo out; echo err >&2" << 0 << "out\n"
                                 << "err\n";
        QTest::newRow("failure status passes through") << "echo partial; exit 3" << 3 << "partial\n"
                                                       << QString();
        // launchd's short search path and the home folder, as a scheduled run has.
        QTest::newRow("scheduled PATH and folder")
            << "echo \"$PATH\"; pwd" << 0 << "/usr/bin:/bin:/usr/sbin:/sbin\n<home>\n"
            << QString();
    }
    void runExecutesTheWrapperAndRecordsTheRun()
    {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        out.replace(QStringLiteral("<home>"), m_harness->home().path());
        ScheduledTask task = seededTasks().at(1);
        task.command = command;
        task.useLoginShell = false; // bash: the profile of the test machine stays out
        m_harness->seed({task});
        QCOMPARE(m_harness->run({"enable", "report"}).exitCode, 0); // writes the wrapper
        QVERIFY(QFileInfo(m_harness->scriptPath(task)).isExecutable());

        const ProcessResult result = m_harness->run({"run", "Report"}, berlin());
        QCOMPARE(result.outText(), out);
        QCOMPARE(result.errText(), err);
        QCOMPARE(result.exitCode, exitCode);
        const QList<QByteArray> lines =
            TestSupport::readFile(logFile(reportId, QStringLiteral(".runs"))).split('\n');
        QCOMPARE(lines.size(), 2); // one line and the empty piece after its line feed
        QVERIFY2(lines[0].endsWith('\t' + QByteArray::number(exitCode)), lines[0].constData());
        const ProcessResult shown = m_harness->run({"history", "report", "--json"});
        QCOMPARE(QJsonDocument::fromJson(
                     shown.out)[QStringLiteral("runs")][0][QStringLiteral("exitCode")]
                     .toInt(),
                 exitCode);
    }

    // `run` writes where a scheduled run writes: both streams are appended to the task's logs
    // (and still shown), so `logs` shows this run's output.
    void runWritesTheLogsThatLogsReads()
    {
        ScheduledTask task = seededTasks().at(1);
        task.command = QStringLiteral("echo \"out $((1 + 1))\"; echo err >&2; exit 4");
        task.useLoginShell = false;
        m_harness->seed({task});
        QCOMPARE(m_harness->run({"enable", "report"}).exitCode, 0);
        const QString stdoutLog = logFile(reportId, QStringLiteral(".stdout.log"));
        const QString stderrLog = logFile(reportId, QStringLiteral(".stderr.log"));
        TestSupport::writeFile(stdoutLog, "earlier\n");

        for (int run = 1; run <= 2; ++run) {
            const ProcessResult result = m_harness->run({"run", "report"});
            QCOMPARE(result.exitCode, 4);
            QCOMPARE(result.out, QByteArray("out 2\n"));
            QCOMPARE(result.err, QByteArray("err\n"));
        }
        QCOMPARE(TestSupport::readFile(stdoutLog), QByteArray("earlier\nout 2\nout 2\n"));
        QCOMPARE(TestSupport::readFile(stderrLog), QByteArray("err\nerr\n"));
        QCOMPARE(m_harness->run({"logs", "report", "-n", "1"}).out, QByteArray("out 2\n"));
        QCOMPARE(m_harness->run({"logs", "report"}).out, QByteArray("earlier\nout 2\nout 2\n"));
        QCOMPARE(m_harness->run({"logs", "report", "--stderr"}).out, QByteArray("err\nerr\n"));
    }

    // Terminating the tool ends the run through the wrapper, which records it as ended by
    // SIGTERM; the tool reports that status.
    void runPassesTerminationOn()
    {
        ScheduledTask task = seededTasks().at(1);
        task.command = QStringLiteral("echo begun\ntouch \"$HOME/started\"\nsleep 60");
        task.useLoginShell = false;
        m_harness->seed({task});
        QCOMPARE(m_harness->run({"enable", "report"}).exitCode, 0);
        QProcess tool;
        tool.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        tool.start(TestSupport::binPath(QStringLiteral("brenmor-ops")),
                   {QStringLiteral("run"), QStringLiteral("report")});
        QVERIFY(tool.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(m_harness->home().path() + QStringLiteral("/started")), 20000);
        QCOMPARE(::kill(pid_t(tool.processId()), SIGTERM), 0);
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 143);
        QCOMPARE(tool.readAllStandardOutput(), QByteArray("begun\n"));
        QCOMPARE(TestSupport::readFile(logFile(reportId, QStringLiteral(".stdout.log"))),
                 QByteArray("begun\n"));
        const QByteArray history =
            TestSupport::readFile(logFile(reportId, QStringLiteral(".runs")));
        QCOMPARE(history.count('\n'), 1);
        QVERIFY2(history.endsWith("\t143\n"), history.constData());
    }

    void runRefusesATaskThatIsNotInstalled()
    {
        const ProcessResult result = m_harness->run({"run", "report"});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.errText(),
                 QStringLiteral("Error: Report is not installed (no wrapper script "
                                "at %1); enable it first\n")
                     .arg(m_harness->scriptPath(seededTasks().at(1))));
        QVERIFY(!QFile::exists(logFile(reportId, QStringLiteral(".runs"))));
    }

    void logsFollowSeesAppendedLines()
    {
        // The tool takes its follow position before it prints the tail, so the tail on its
        // output says it is ready: a line appended after that is followed, never lost.
        const QByteArray tail = m_harness->run({"logs", "backup", "-n", "2"}).out;
        QVERIFY(!tail.isEmpty());
        QProcess tool;
        tool.start(TestSupport::binPath(QStringLiteral("brenmor-ops")),
                   {QStringLiteral("logs"), QStringLiteral("backup"), QStringLiteral("-n"),
                    QStringLiteral("2"), QStringLiteral("-f")});
        QVERIFY(tool.waitForStarted());
        QByteArray seen;
        const auto waitFor = [&](const QByteArray& text) {
            QElapsedTimer timer;
            timer.start();
            while (!seen.contains(text) && timer.elapsed() < TestSupport::eventTimeoutMs) {
                tool.waitForReadyRead(200);
                seen += tool.readAllStandardOutput();
            }
            return seen.contains(text);
        };
        QVERIFY2(waitFor(tail), seen.constData());
        QFile log(logFile(backupId, QStringLiteral(".stdout.log")));
        QVERIFY(log.open(QIODevice::Append));
        log.write("four\n");
        log.flush();
        QVERIFY2(waitFor("four\n"), seen.constData());
        QCOMPARE(seen, tail + "four\n");
        log.write("five\n");
        log.close();
        QVERIFY2(waitFor("five\n"), seen.constData());
        ::kill(static_cast<pid_t>(tool.processId()), SIGTERM);
        QVERIFY(tool.waitForFinished(TestSupport::eventTimeoutMs));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(seen + tool.readAllStandardOutput(), tail + "four\nfive\n");
    }

    void logsFollowStartsAgainWhenRewritten_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("truncated and refilled past the old end in one poll") << "truncate";
        QTest::newRow("replaced by a longer file") << "replace";
    }

    // A rotated or rewritten log is read again from its beginning: no line lost, none spliced.
    void logsFollowStartsAgainWhenRewritten()
    {
        QFETCH(QString, how);
        const QString path = logFile(backupId, QStringLiteral(".stdout.log"));
        TestSupport::writeFile(path, "1\n2\n3\n4\n5\n");
        QProcess tool;
        tool.start(TestSupport::binPath(QStringLiteral("brenmor-ops")),
                   {QStringLiteral("logs"), QStringLiteral("backup"), QStringLiteral("-f")});
        QVERIFY(tool.waitForStarted());
        QByteArray seen;
        const auto waitFor = [&](const QByteArray& text) {
            QElapsedTimer timer;
            timer.start();
            while (!seen.endsWith(text) && timer.elapsed() < 20000) {
                tool.waitForReadyRead(200);
                seen += tool.readAllStandardOutput();
            }
            return seen.endsWith(text);
        };
        QVERIFY2(waitFor("5\n"), seen.constData());
        const QByteArray tail = seen;
        QByteArray refill;
        for (int line = 1; line <= 200; ++line)
            refill += "new " + QByteArray::number(line) + '\n';
        if (how == QStringLiteral("truncate")) {
            QFile log(path);
            QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
            log.write(refill);
            log.close();
        } else {
            TestSupport::writeFile(path + QStringLiteral(".new"), refill);
            QVERIFY(::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(),
                             QFile::encodeName(path).constData()) == 0);
        }
        QVERIFY2(waitFor("new 200\n"), seen.constData());
        ::kill(static_cast<pid_t>(tool.processId()), SIGTERM);
        QVERIFY(tool.waitForFinished(10000));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(seen + tool.readAllStandardOutput(), tail + refill);
    }

    // A FIFO at the log path never blocks the follower: it keeps answering SIGTERM and SIGINT.
    void logsFollowNeverBlocksOnFifo_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void logsFollowNeverBlocksOnFifo()
    {
        QFETCH(int, signal);
        const QString path = logFile(backupId, QStringLiteral(".stdout.log"));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QProcess tool;
        tool.start(TestSupport::binPath(QStringLiteral("brenmor-ops")),
                   {QStringLiteral("logs"), QStringLiteral("backup"), QStringLiteral("-f")});
        QVERIFY(tool.waitForStarted());
        // Ready once the kernel lists SIGINT and SIGTERM as caught: a signal then asks the
        // follower to stop instead of ending it.
        const auto catchesStopSignals = [&tool] {
            const QByteArray status =
                TestSupport::readFile(QStringLiteral("/proc/%1/status").arg(tool.processId()));
            const qsizetype at = status.indexOf("SigCgt:");
            if (at < 0)
                return false;
            const quint64 caught = status.mid(at + 7, status.indexOf('\n', at) - at - 7)
                                       .trimmed()
                                       .toULongLong(nullptr, 16);
            return (caught & (1ULL << (SIGINT - 1))) != 0 &&
                   (caught & (1ULL << (SIGTERM - 1))) != 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(catchesStopSignals(), TestSupport::eventTimeoutMs);
        // A writer's open returns once a reader has the FIFO open: the follower keeps opening
        // the log, never blocked on it.
        for (int meeting = 0; meeting < 4; ++meeting) {
            int writer = -1;
            std::unique_ptr<QThread> opening(QThread::create([&writer, path] {
                writer = ::open(QFile::encodeName(path).constData(), O_WRONLY);
            }));
            opening->start();
            if (!opening->wait(20000)) {
                const int reader =
                    ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
                opening->wait();
                ::close(reader);
                QFAIL("the follower stopped looking at the log");
            }
            if (writer >= 0)
                ::close(writer);
        }
        ::kill(static_cast<pid_t>(tool.processId()), signal);
        if (!tool.waitForFinished(20000)) {
            tool.kill();
            tool.waitForFinished(10000);
            QFAIL("the follower did not stop");
        }
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);
        QFile::remove(path);
    }

    // A huge append is copied in bounded pieces, never read into memory whole.
    void logsFollowCopiesLargeAppendInPieces()
    {
        const QString path = logFile(backupId, QStringLiteral(".stdout.log"));
        TestSupport::writeFile(path, "start\n");
        QProcess tool;
        // The sanitizers keep up to 256 MB of freed memory aside; with a small quarantine the
        // tool's peak shows what it really holds.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               environment.value(QStringLiteral("ASAN_OPTIONS")) +
                                   QStringLiteral(":quarantine_size_mb=16"));
        tool.setProcessEnvironment(environment);
        tool.start(TestSupport::binPath(QStringLiteral("brenmor-ops")),
                   {QStringLiteral("logs"), QStringLiteral("backup"), QStringLiteral("-f")});
        QVERIFY(tool.waitForStarted());
        qint64 received = 0;
        QByteArray head;
        const auto readUntil = [&](qint64 total) {
            QElapsedTimer timer;
            timer.start();
            while (received < total && timer.elapsed() < 300000) {
                tool.waitForReadyRead(200);
                const QByteArray bytes = tool.readAllStandardOutput();
                if (head.size() < 6)
                    head += bytes.left(6);
                received += bytes.size();
            }
            return received >= total;
        };
        QVERIFY(readUntil(6));
        QCOMPARE(head, QByteArray("start\n"));
        constexpr qint64 appended = 256LL * 1024 * 1024;
        QFile log(path);
        QVERIFY(log.open(QIODevice::ReadWrite));
        QVERIFY(log.resize(6 + appended)); // sparse zeros: quick to make
        log.close();
        QVERIFY2(readUntil(6 + appended), qPrintable(QString::number(received)));
        const QByteArray status =
            TestSupport::readFile(QStringLiteral("/proc/%1/status").arg(tool.processId()));
        const qsizetype at = status.indexOf("VmHWM:");
        QVERIFY(at >= 0);
        const qint64 peakKb = status.mid(at + 6, status.indexOf('\n', at) - at - 6)
                                  .trimmed()
                                  .split(' ')
                                  .first()
                                  .toLongLong();
        // Far below the append: the tool copies it in pieces.
        QVERIFY2(peakKb > 0 && peakKb < 128 * 1024, qPrintable(QString::number(peakKb)));
        ::kill(static_cast<pid_t>(tool.processId()), SIGTERM);
        QVERIFY(tool.waitForFinished(10000));
        QCOMPARE(tool.exitCode(), 0);
    }

    void jobs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("out");
        QTest::newRow("scheduled only") << QStringList{"jobs"} << expected("jobs.txt");
        QTest::newRow("all") << QStringList{"jobs", "--all"} << expected("jobs-all.txt");
    }
    void jobs()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        const QString folder = m_harness->home().launchAgents();
        const auto agent = [&](const QString& label, const QByteArray& keys) {
            TestSupport::writeFile(
                folder + QLatin1Char('/') + label + QStringLiteral(".plist"),
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                "<key>Label</key><string>" +
                    label.toUtf8() + "</string><key>Program</key><string>/bin/true</string>" +
                    keys + "</dict></plist>\n");
        };
        agent(QStringLiteral("org.example.sync"), "<key>StartInterval</key><integer>300</integer>");
        agent(QStringLiteral("com.example.nightly"),
              "<key>StartCalendarInterval</key><dict><key>Hour</key><integer>2</integer>"
              "<key>Minute</key><integer>5</integer></dict>");
        agent(QStringLiteral("com.example.ondemand"), "");
        agent(QStringLiteral("com.example.off"),
              "<key>Disabled</key><true/><key>StartInterval</key><integer>60</integer>");
        // Our own agents are tasks, not other jobs.
        agent(QStringLiteral("com.brenmor-ops.task.") + backupId,
              "<key>StartInterval</key><integer>60</integer>");
        const ProcessResult result = m_harness->run(args);
        QCOMPARE(result.errText(), QString());
        QCOMPARE(result.outText(), out);
        QCOMPARE(result.exitCode, 0);
    }

    void jobsWithoutAny()
    {
        const ProcessResult result = m_harness->run({"jobs"});
        QCOMPARE(result.outText(), QStringLiteral("No scheduled launchd jobs found.\n"));
        QCOMPARE(m_harness->run({"jobs", "--all"}).outText(),
                 QStringLiteral("No launchd jobs found.\n"));
        QCOMPARE(m_harness->run({"jobs", "x"}).errText(),
                 QStringLiteral("Error: Usage: brenmor-ops jobs [--all]\n"));
    }
};

QTEST_GUILESS_MAIN(TestCliReadCommands)
#include "TestCliReadCommands.moc"
