// The wrapper script: its exact text, that real shells and shellcheck accept it, and that it
// behaves as launchd's agents rely on when it actually runs.
#include "LaunchdService.h"
#include "Result.h"
#include "TaskBuilder.h"
#include "TestSupport.h"
#include "WrapperScript.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

using Dialect = WrapperScript::DateDialect;
Q_DECLARE_METATYPE(ScheduledTask)
Q_DECLARE_METATYPE(TaskSchedule)
Q_DECLARE_METATYPE(WrapperScript::DateDialect)

// Who gets a signal while the command runs, in the table of real runs.
enum class Stop { none, wrapperTerm, wrapperHup, wrapperInt, commandTerm };
Q_DECLARE_METATYPE(Stop)

namespace {

// Fixed, so the expected scripts can name the task's files.
const QString fixedTaskId = QStringLiteral("3F2A9C1D-5B6E-4C7D-8E9F-0A1B2C3D4E5F");

const QString fixedRuns =
    QStringLiteral("/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs");

QList<TimeOfDay> nine() { return {TimeOfDay{9, 0}}; }

QString expectedText(const QString& file)
{
    const QByteArray bytes =
        TestSupport::readFile(TestSupport::dataPath(QStringLiteral("launchd/") + file));
    if (bytes.isEmpty())
        qWarning("missing test data %s", qPrintable(file));
    return QString::fromUtf8(bytes);
}

// A task whose wrapper runs under `shell`, as the task's login-shell setting picks it.
ScheduledTask taskRunBy(const QString& shell, const QString& command)
{
    return TaskBuilder()
        .id(fixedTaskId)
        .command(command)
        .daily(nine())
        .loginShell(shell == QLatin1String("zsh"))
        .build();
}

// Starts a wrapper as launchd does: in the test home, leading a session of its own.
void startWrapper(QProcess& wrapper, const TestHome& home, const QString& shell,
                  const QString& script)
{
    wrapper.setProcessEnvironment(home.environment());
    wrapper.setWorkingDirectory(home.path());
    wrapper.setChildProcessModifier([] { ::setsid(); });
    wrapper.start(shell, {script});
}

QString realDate() { return QStandardPaths::findExecutable(QStringLiteral("date")); }

const QRegularExpression utcStamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"));

// Checks one run-history line; returns its status field.
int checkHistoryLine(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 3) {
        qWarning("history line without two tabs: %s", line.constData());
        return -1000;
    }
    for (int i = 0; i < 2; ++i) {
        const QString stamp = QString::fromLatin1(fields[i]);
        if (!utcStamp.match(stamp).hasMatch()) {
            qWarning("not a UTC time: %s", qPrintable(stamp));
            return -1000;
        }
        // The child runs in a zone fourteen hours away from UTC: a local time would be far off.
        const QDateTime time = QDateTime::fromString(stamp, Qt::ISODate);
        if (qAbs(time.secsTo(QDateTime::currentDateTimeUtc())) > 600) {
            qWarning("time not near now in UTC: %s", qPrintable(stamp));
            return -1000;
        }
    }
    if (QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODate) >
        QDateTime::fromString(QString::fromLatin1(fields[1]), Qt::ISODate)) {
        qWarning("start after end: %s", line.constData());
        return -1000;
    }
    bool ok = false;
    const int status = fields[2].toInt(&ok);
    return ok ? status : -1000;
}

} // namespace

class TestWrapperScript : public QObject {
    Q_OBJECT

private:
    // Runs a script file under the given shell in a zone far from UTC, from `cwd`.
    ProcessResult runScript(const QString& shell, const QString& script, const QString& cwd,
                            const QString& fakeDateFolder = QString())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TZ"), QStringLiteral("Pacific/Kiritimati"));
        if (!fakeDateFolder.isEmpty())
            environment.insert(QStringLiteral("PATH"),
                               fakeDateFolder + QLatin1Char(':') +
                                   environment.value(QStringLiteral("PATH")));
        return TestSupport::run(shell, {script}, environment, 60000, cwd);
    }

    // A `date` that answers the guards' questions with chosen days and passes everything else
    // (the UTC timestamps) to the real one.
    void writeFakeDate(const QString& folder, const QString& today, const QString& tomorrow)
    {
        const QString body = QStringLiteral("#!/bin/sh\n"
                                            "case \"$*\" in\n"
                                            "  '+%d') echo %1 ;;\n"
                                            "  '-v+1d +%d'|'-d tomorrow +%d') echo %2 ;;\n"
                                            "  *) exec '%3' \"$@\" ;;\n"
                                            "esac\n")
                                 .arg(today, tomorrow, realDate());
        TestSupport::writeScript(folder + QStringLiteral("/date"), body.toUtf8());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!realDate().isEmpty(), "date is needed");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("zsh")).isEmpty(), "zsh is needed");
    }

    void text_data()
    {
        QTest::addColumn<ScheduledTask>("task");
        QTest::addColumn<Dialect>("dialect");
        QTest::addColumn<QString>("file");

        QTest::newRow("bash, no guard, nothing optional")
            << TaskBuilder()
                   .id(fixedTaskId)
                   .command(QStringLiteral("backup --all"))
                   .daily(nine())
                   .build()
            << Dialect::gnu << QStringLiteral("script-bash-daily.sh");

        ScheduledTask login = TaskBuilder()
                                  .id(fixedTaskId)
                                  .command(QStringLiteral("cd public\nrsync -a . \"$TARGET\""))
                                  .weekly({2, 4}, nine())
                                  .loginShell()
                                  .build();
        login.envFilePath = QStringLiteral("/Users/ann/.config/backup.env");
        login.workingDirectory = QStringLiteral("/Users/ann/Projects/site");
        QTest::newRow("zsh, profile, env file, folder, two-line command")
            << login << Dialect::bsd << QStringLiteral("script-zsh-env-dir.sh");

        ScheduledTask lastDay =
            TaskBuilder()
                .id(fixedTaskId)
                .command(QStringLiteral("./close-books.sh"))
                .schedule(TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine()}))
                .build();
        lastDay.workingDirectory = QStringLiteral("/tmp/it's");
        QTest::newRow("last day, BSD date")
            << lastDay << Dialect::bsd << QStringLiteral("script-lastday-bsd.sh");
        QTest::newRow("last day, GNU date")
            << lastDay << Dialect::gnu << QStringLiteral("script-lastday-gnu.sh");

        ScheduledTask nth =
            TaskBuilder()
                .id(fixedTaskId)
                .command(QStringLiteral("echo 'it'\\''s time' | say"))
                .schedule(TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, nine()}))
                .loginShell()
                .build();
        nth.envFilePath = QStringLiteral("/Users/o'neil/.env");
        nth.workingDirectory = QString(); // present but empty: no cd line
        QTest::newRow("zsh, second weekday, quoted env file")
            << nth << Dialect::gnu << QStringLiteral("script-zsh-nth2.sh");

        // Absent and empty optional paths both leave their lines out.
        for (const auto& [label, value] : {std::pair{"absent", std::optional<QString>()},
                                           std::pair{"empty", std::optional<QString>(QString())}}) {
            ScheduledTask task = TaskBuilder()
                                     .id(fixedTaskId)
                                     .command(QStringLiteral("backup --all"))
                                     .daily(nine())
                                     .build();
            task.envFilePath = value;
            task.workingDirectory = value;
            QTest::newRow(qPrintable(QStringLiteral("env and folder %1").arg(QLatin1String(label))))
                << task << Dialect::bsd << QStringLiteral("script-bash-daily.sh");
        }
        // Every schedule without a guard gives the same text.
        const QList<TaskSchedule> unguarded{TaskSchedule::of<TaskSchedule::RunAtLoad>(),
                                            TaskSchedule::of<TaskSchedule::Interval>({15}),
                                            TaskSchedule::of<TaskSchedule::Weekly>({{1}, nine()}),
                                            TaskSchedule::of<TaskSchedule::Monthly>({15, nine()})};
        for (const TaskSchedule& schedule : unguarded)
            QTest::newRow(qPrintable(TaskSchedule::caseName(schedule.kind())))
                << TaskBuilder()
                       .id(fixedTaskId)
                       .command(QStringLiteral("backup --all"))
                       .schedule(schedule)
                       .build()
                << Dialect::bsd << QStringLiteral("script-bash-daily.sh");
    }

    void text()
    {
        QFETCH(ScheduledTask, task);
        QFETCH(Dialect, dialect);
        QFETCH(QString, file);
        QCOMPARE(WrapperScript::text(task, fixedRuns, dialect), expectedText(file));
    }

    void bashTaskWithoutGuardKeepsTheCommandVerbatim()
    {
        // The command stands alone on its lines inside the quoted here-document, which ends
        // with a word none of its lines equals.
        const QString command = QStringLiteral("echo \"$HOME\" 'x'\\\nBRENMOR_OPS_COMMAND\n`date`");
        const QString text =
            WrapperScript::text(TaskBuilder().id(fixedTaskId).command(command).every(5).build(),
                                fixedRuns, Dialect::gnu);
        QVERIFY(text.contains(QStringLiteral("/bin/bash /dev/fd/3 3<<'BRENMOR_OPS_COMMAND_' &\n")));
        QVERIFY(text.contains(QStringLiteral("\ntrap - INT QUIT\n") + command +
                              QStringLiteral("\nBRENMOR_OPS_COMMAND_\n_bo_child=$!\n")));
        QCOMPARE(text.count(QLatin1Char('\n')), 36);
        QVERIFY(text.endsWith(QStringLiteral("_bo_record\nexit \"$_bo_exit\"\n")));
    }

    void nthGuard_data()
    {
        QTest::addColumn<int>("nth");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<QString>("test");
        const auto row = [](int n, const char* ordinal, int low, int high) {
            QTest::newRow(ordinal)
                << n
                << QStringLiteral("# Guard: only run on the %1 occurrence this month")
                       .arg(QLatin1String(ordinal))
                << QStringLiteral("[ \"$_day\" -lt %1 ] || [ \"$_day\" -gt %2 ] && exit 0")
                       .arg(low)
                       .arg(high);
        };
        row(1, "1st", 1, 7);
        row(2, "2nd", 8, 14);
        row(3, "3rd", 15, 21);
        row(4, "4th", 22, 28);
        row(5, "5th", 29, 35);
        QTest::newRow("0 counts as the first")
            << 0 << QStringLiteral("# Guard: only run on the 1st occurrence this month")
            << QStringLiteral("[ \"$_day\" -lt 1 ] || [ \"$_day\" -gt 7 ] && exit 0");
    }

    void nthGuard()
    {
        QFETCH(int, nth);
        QFETCH(QString, comment);
        QFETCH(QString, test);
        const QString text = WrapperScript::text(
            TaskBuilder()
                .id(fixedTaskId)
                .command(QStringLiteral("true"))
                .schedule(TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({nth, 2, nine()}))
                .build(),
            fixedRuns, Dialect::gnu);
        const QStringList lines = text.split(QLatin1Char('\n'));
        QCOMPARE(lines.mid(2, 4),
                 (QStringList{QString(), comment, QStringLiteral("_day=$(date +%d)"), test}));
    }

    void nativeTextUsesTheSystemsDate()
    {
        const LaunchdService service(
            AgentPaths(QStringLiteral("/a"), QStringLiteral("/s"), QStringLiteral("/l")));
        const ScheduledTask task =
            TaskBuilder()
                .id(fixedTaskId)
                .command(QStringLiteral("true"))
                .schedule(TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine()}))
                .build();
#ifdef Q_OS_MACOS
        QVERIFY(service.scriptContent(task).contains(QStringLiteral("date -v+1d +%d")));
#else
        QVERIFY(service.scriptContent(task).contains(QStringLiteral("date -d tomorrow +%d")));
#endif
        QVERIFY(service.scriptContent(task).contains(QStringLiteral(">> '/l/3f2a9c1d.runs'")));
    }

    // Every shape of script must be valid for its shell and clean for shellcheck.
    void shellsAndShellcheckAccept_data()
    {
        QTest::addColumn<ScheduledTask>("task");
        QTest::addColumn<Dialect>("dialect");
        const QList<TaskSchedule> schedules{
            TaskSchedule::of<TaskSchedule::RunAtLoad>(),
            TaskSchedule::of<TaskSchedule::Interval>({15}),
            TaskSchedule::of<TaskSchedule::Daily>({nine()}),
            TaskSchedule::of<TaskSchedule::Weekly>({{2}, nine()}),
            TaskSchedule::of<TaskSchedule::Monthly>({3, nine()}),
            TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine()}),
            TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({4, 6, nine()})};
        for (const TaskSchedule& schedule : schedules) {
            for (bool login : {false, true}) {
                for (Dialect dialect : {Dialect::bsd, Dialect::gnu}) {
                    ScheduledTask task = TaskBuilder()
                                             .id(fixedTaskId)
                                             .command(QStringLiteral("true"))
                                             .schedule(schedule)
                                             .loginShell(login)
                                             .build();
                    task.envFilePath = QStringLiteral("/Users/o'neil/.env");
                    task.workingDirectory = QStringLiteral("/tmp/it's here");
                    QTest::newRow(
                        qPrintable(QStringLiteral("%1 %2 %3")
                                       .arg(TaskSchedule::caseName(schedule.kind()),
                                            login ? QStringLiteral("zsh") : QStringLiteral("bash"),
                                            dialect == Dialect::bsd ? QStringLiteral("bsd")
                                                                    : QStringLiteral("gnu"))))
                        << task << dialect;
                }
            }
        }
    }

    void shellsAndShellcheckAccept()
    {
        QFETCH(ScheduledTask, task);
        QFETCH(Dialect, dialect);
        if (QStandardPaths::findExecutable(QStringLiteral("shellcheck")).isEmpty())
            QSKIP("shellcheck is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("script.sh"));
        TestSupport::writeFile(
            path,
            WrapperScript::text(task, dir.filePath(QStringLiteral("o'k.runs")), dialect).toUtf8());
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString shell = task.useLoginShell ? QStringLiteral("zsh") : QStringLiteral("bash");
        const ProcessResult syntax =
            TestSupport::run(shell, {QStringLiteral("-n"), path}, environment);
        QVERIFY2(syntax.exitCode == 0 && syntax.err.isEmpty(), syntax.err.constData());
        // shellcheck knows no zsh; the wrapper keeps to what both shells share. It cannot
        // follow the sourced profile and env files (SC1090/SC1091), which is not a fault.
        const ProcessResult lint = TestSupport::run(
            QStringLiteral("shellcheck"),
            {QStringLiteral("--shell=bash"), QStringLiteral("--exclude=SC1090,SC1091"), path},
            environment);
        QVERIFY2(lint.exitCode == 0, lint.out.constData());
    }

    void runsAndRecords_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        for (const QString& shell : {QStringLiteral("bash"), QStringLiteral("zsh")}) {
            const auto name = [&](const char* what) {
                return (shell + QLatin1Char(' ') + QLatin1String(what)).toUtf8();
            };
            QTest::newRow(name("success").constData())
                << shell << QStringLiteral("true") << 0 << QByteArray() << QByteArray();
            QTest::newRow(name("status 3, both streams").constData())
                << shell << QStringLiteral("echo to-out\necho to-err >&2\n(exit 3)") << 3
                << QByteArray("to-out\n") << QByteArray("to-err\n");
            // An exit in the command ends the command, not the wrapper: the run is recorded.
            QTest::newRow(name("exit in the command").constData())
                << shell << QStringLiteral("echo hi; echo oops >&2; exit 3") << 3
                << QByteArray("hi\n") << QByteArray("oops\n");
            QTest::newRow(name("exit in an or-list").constData())
                << shell << QStringLiteral("false || exit 7\necho never") << 7 << QByteArray()
                << QByteArray();
            // The command stands at the top level: an alias defined on one line is used on
            // the next (bash expands aliases in scripts only when asked to).
            const QString aliasSetup = shell == QLatin1String("bash")
                                           ? QStringLiteral("shopt -s expand_aliases\n")
                                           : QString();
            QTest::newRow(name("alias defined and used").constData())
                << shell << aliasSetup + QStringLiteral("alias greet='echo hi'\ngreet") << 0
                << QByteArray("hi\n") << QByteArray();
            QTest::newRow(name("set -e stops at a failing step").constData())
                << shell << QStringLiteral("set -e\necho first\nfalse\necho never") << 1
                << QByteArray("first\n") << QByteArray();
            QTest::newRow(name("ends normally with output").constData())
                << shell << QStringLiteral("echo done\n# a closing comment") << 0
                << QByteArray("done\n") << QByteArray();
            QTest::newRow(name("command not found").constData())
                << shell << QStringLiteral("brenmor-no-such-command-xyz") << 127 << QByteArray()
                << QByteArray("brenmor-no-such-command-xyz");
        }
    }

    void runsAndRecords()
    {
        QFETCH(QString, shell);
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        TestHome home;
        const LaunchdService service;
        // The task's shell setting picks the shell, as the script's first line tells launchd.
        ScheduledTask task = taskRunBy(shell, command);
        const Result<QString> script = service.writeScript(task);
        QVERIFY2(script.ok(), script.ok() ? "" : qPrintable(script.error()));

        for (int run = 1; run <= 2; ++run) {
            const ProcessResult result = runScript(shell, *script, home.path());
            QCOMPARE(result.exitCode, status);
            QCOMPARE(result.out, out);
            QVERIFY2(result.err.contains(err), result.err.constData());
            // Each run appends exactly one line; earlier lines stay.
            const QList<QByteArray> lines =
                TestSupport::readFile(service.paths().runHistoryPath(task)).split('\n');
            QCOMPARE(lines.size(), run + 1);
            QVERIFY(lines.last().isEmpty());
            for (int i = 0; i < run; ++i)
                QCOMPARE(checkHistoryLine(lines[i]), status);
        }
    }

    // Every run is recorded once with the status the command really had, under the shell the
    // task's setting picks: its own EXIT trap, `exec`, `set -e` and signals decide the status,
    // not the recording. The wrapper leads its process group as under launchd.
    void recordsTheRealStatus_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<Stop>("stop");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        // The sleep's process id is noted so the test can end it whoever got the signal.
        const QString sleeper =
            QStringLiteral("sh -c 'echo $$ > sleeper.pid; touch started; exec sleep 60'");
        for (const QString& shell : {QStringLiteral("bash"), QStringLiteral("zsh")}) {
            const auto row = [&](const char* what, const QString& command, int status,
                                 const QByteArray& out, Stop stop = Stop::none,
                                 const QByteArray& input = QByteArray()) {
                QTest::newRow(qPrintable(shell + QLatin1Char(' ') + QLatin1String(what)))
                    << shell << command << input << stop << status << out;
            };
            row("normal end", QStringLiteral("echo done"), 0, "done\n");
            row("exit 3", QStringLiteral("echo before\nexit 3\necho after"), 3, "before\n");
            row("set -e and false", QStringLiteral("set -e\necho first\nfalse\necho never"), 1,
                "first\n");
            row("own EXIT trap", QStringLiteral("trap 'echo cleanup' EXIT\nfalse"), 1, "cleanup\n");
            row("own EXIT trap with exit 5",
                QStringLiteral("trap 'echo cleanup; exit 5' EXIT\ntrue"), 5, "cleanup\n");
            row("temporary file removed by its trap",
                QStringLiteral("tmp=$(mktemp)\ntrap 'rm -f \"$tmp\"' EXIT\n"
                               "[ -f \"$tmp\" ] && echo made\nexit 4"),
                4, "made\n");
            row("exec", QStringLiteral("echo before\nexec sh -c 'exit 6'"), 6, "before\n");
            // bash expands aliases in scripts only when asked to; zsh always does.
            row("alias defined and used",
                (shell == QLatin1String("bash") ? QStringLiteral("shopt -s expand_aliases\n")
                                                : QString()) +
                    QStringLiteral("alias greet='echo hi'\ngreet"),
                0, "hi\n");
            row("the here-document's end word as a line",
                QStringLiteral("cat <<'BRENMOR_OPS_COMMAND'\n$HOME `x`\nBRENMOR_OPS_COMMAND"), 0,
                "$HOME `x`\n");
            row("reads the wrapper's input", QStringLiteral("read -r line\necho \"got $line\""), 0,
                "got hello there\n", Stop::none, "hello there\n");
            row("TERM to the wrapper", sleeper, 143, "", Stop::wrapperTerm);
            row("HUP to the wrapper", sleeper, 129, "", Stop::wrapperHup);
            row("INT to the wrapper", sleeper, 130, "", Stop::wrapperInt);
            row("TERM to the command only",
                QStringLiteral("sh -c 'echo $$ > command.pid; exec sleep 60'\necho status $?"), 0,
                "status 143\n", Stop::commandTerm);
            row("TERM to the command only, as its last step",
                QStringLiteral("sh -c 'echo $$ > command.pid; exec sleep 60'"), 143, "",
                Stop::commandTerm);
            // The command's own shell gets the signal and handles it as it says.
            row("TERM to the wrapper reaches the command's trap",
                QStringLiteral("trap 'echo got TERM; exit 143' TERM\nsleep 60 &\n"
                               "echo $! > sleeper.pid\ntouch started\nwait $!"),
                143, "got TERM\n", Stop::wrapperTerm);
        }
    }

    void recordsTheRealStatus()
    {
        QFETCH(QString, shell);
        QFETCH(QString, command);
        QFETCH(QByteArray, input);
        QFETCH(Stop, stop);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        TestHome home;
        const LaunchdService service;
        const ScheduledTask task = taskRunBy(shell, command);
        const Result<QString> script = service.writeScript(task);
        QVERIFY2(script.ok(), script.ok() ? "" : qPrintable(script.error()));

        QProcess wrapper;
        startWrapper(wrapper, home, shell, *script);
        QVERIFY(wrapper.waitForStarted(10000));
        wrapper.write(input);
        wrapper.closeWriteChannel();
        const auto file = [&](const char* name) {
            return home.path() + QLatin1Char('/') + QLatin1String(name);
        };
        const auto pidIn = [&](const char* name) {
            return TestSupport::readFile(file(name)).trimmed().toInt();
        };
        if (stop == Stop::commandTerm) {
            QTRY_VERIFY_WITH_TIMEOUT(pidIn("command.pid") > 0, 20000);
            QCOMPARE(::kill(pid_t(pidIn("command.pid")), SIGTERM), 0);
        } else if (stop != Stop::none) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file("started")), 20000);
            const int signal = stop == Stop::wrapperTerm  ? SIGTERM
                               : stop == Stop::wrapperHup ? SIGHUP
                                                          : SIGINT;
            QCOMPARE(::kill(pid_t(wrapper.processId()), signal), 0);
        }
        QVERIFY(wrapper.waitForFinished(30000));
        // A sleeper the command left in the background is not the test's to keep.
        if (pidIn("sleeper.pid") > 0)
            ::kill(pid_t(pidIn("sleeper.pid")), SIGKILL);
        const QByteArray err = wrapper.readAllStandardError();
        QCOMPARE(wrapper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(wrapper.exitCode(), status);
        QCOMPARE(wrapper.readAllStandardOutput(), out);
        // bash reports a step killed by a signal on its standard error.
        if (stop != Stop::commandTerm)
            QVERIFY2(err.isEmpty(), err.constData());
        const QByteArray history = TestSupport::readFile(service.paths().runHistoryPath(task));
        QCOMPARE(history.count('\n'), 1);
        QVERIFY(history.endsWith('\n'));
        QCOMPARE(checkHistoryLine(history.chopped(1)), status);
    }

    // The run asks for the wrapper's TERM and ends cleanly on the TERM passed back to it, so
    // the signal and the run's end meet. Whichever comes first, the status is the run's own
    // and the wrapper says nothing. The meeting is a matter of timing, so it is tried often.
    void signalAsTheRunEnds_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("command");
        const QString asks = QStringLiteral("trap 'exit 0' TERM\nkill -TERM $PPID\n");
        // bash would report a foreground sleep ended by the signal on its error output. zsh
        // runs a trap only once its foreground command ends, and a command it was starting as
        // the signal came misses it: short steps keep that wait short.
        QTest::newRow("bash") << QStringLiteral("bash") << asks + QStringLiteral("sleep 30 & wait");
        QTest::newRow("zsh") << QStringLiteral("zsh")
                             << asks + QStringLiteral("while :; do sleep 0.05; done");
    }

    void signalAsTheRunEnds()
    {
        QFETCH(QString, shell);
        QFETCH(QString, command);
        TestHome home;
        const LaunchdService service;
        const ScheduledTask task = taskRunBy(shell, command);
        const Result<QString> script = service.writeScript(task);
        QVERIFY2(script.ok(), script.ok() ? "" : qPrintable(script.error()));
        const QString runs = service.paths().runHistoryPath(task);
        for (int attempt = 1; attempt <= 60; ++attempt) {
            QFile::remove(runs);
            QProcess wrapper;
            startWrapper(wrapper, home, shell, *script);
            QVERIFY(wrapper.waitForFinished(30000));
            const QByteArray err = wrapper.readAllStandardError();
            QVERIFY2(err.isEmpty(), qPrintable(QStringLiteral("attempt %1: %2")
                                                   .arg(attempt)
                                                   .arg(QString::fromLocal8Bit(err))));
            QCOMPARE(wrapper.exitCode(), 0);
            const QByteArray history = TestSupport::readFile(runs);
            QCOMPARE(history.count('\n'), 1);
            QCOMPARE(checkHistoryLine(history.chopped(1)), 0);
        }
    }

    void loadsEnvFileAndEntersFolder_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::newRow("bash") << QStringLiteral("bash");
        QTest::newRow("zsh") << QStringLiteral("zsh");
    }

    void loadsEnvFileAndEntersFolder()
    {
        QFETCH(QString, shell);
        TestHome home;
        const QString folder = home.path() + QStringLiteral("/it's here");
        QVERIFY(QDir().mkpath(folder));
        const QString envFile = home.path() + QStringLiteral("/o'neil.env");
        TestSupport::writeFile(envFile, "GREETING='hello world'\n");
        ScheduledTask task = taskRunBy(
            shell,
            QStringLiteral("sh -c 'printf \"%s|%s\" \"$GREETING\" \"$(pwd)\"' > result.txt"));
        task.envFilePath = envFile;
        task.workingDirectory = folder;
        const LaunchdService service;
        const Result<QString> script = service.writeScript(task);
        QVERIFY(script.ok());
        const ProcessResult result = runScript(shell, *script, home.path());
        QCOMPARE(result.exitCode, 0);
        // The variable reached a child process (exported) and the command ran in the folder.
        QCOMPARE(TestSupport::readFile(folder + QStringLiteral("/result.txt")),
                 QByteArray("hello world|") + folder.toUtf8());
        QCOMPARE(checkHistoryLine(
                     TestSupport::readFile(service.paths().runHistoryPath(task)).chopped(1)),
                 0);
    }

    // A missing environment file is reported on standard error but does not stop the run.
    void missingEnvFileStillRuns_data() { loadsEnvFileAndEntersFolder_data(); }
    void missingEnvFileStillRuns()
    {
        QFETCH(QString, shell);
        TestHome home;
        ScheduledTask task = taskRunBy(shell, QStringLiteral("touch ran"));
        task.envFilePath = home.path() + QStringLiteral("/missing.env");
        const LaunchdService service;
        const Result<QString> script = service.writeScript(task);
        QVERIFY(script.ok());
        const ProcessResult result = runScript(shell, *script, home.path());
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.err.contains("missing.env"));
        QVERIFY(QFile::exists(home.path() + QStringLiteral("/ran")));
    }

    // A folder that cannot be entered: the command must not run elsewhere, and the run is
    // recorded as failed with cd's status.
    void unreachableFolderRecordsFailure_data() { loadsEnvFileAndEntersFolder_data(); }
    void unreachableFolderRecordsFailure()
    {
        QFETCH(QString, shell);
        TestHome home;
        ScheduledTask task = taskRunBy(shell, QStringLiteral("touch ran"));
        task.workingDirectory = home.path() + QStringLiteral("/gone/it's");
        const LaunchdService service;
        const Result<QString> script = service.writeScript(task);
        QVERIFY(script.ok());
        const ProcessResult result = runScript(shell, *script, home.path());
        QVERIFY(result.exitCode != 0);
        QVERIFY(!QFile::exists(home.path() + QStringLiteral("/ran")));
        const QByteArray history = TestSupport::readFile(service.paths().runHistoryPath(task));
        QVERIFY(history.endsWith('\n'));
        QCOMPARE(history.count('\n'), 1);
        QCOMPARE(checkHistoryLine(history.chopped(1)), result.exitCode);
    }

    void guards_data()
    {
        QTest::addColumn<TaskSchedule>("schedule");
        QTest::addColumn<Dialect>("dialect");
        QTest::addColumn<QString>("today");
        QTest::addColumn<QString>("tomorrow");
        QTest::addColumn<bool>("runs");
        const TaskSchedule lastDay = TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine()});
        for (Dialect dialect : {Dialect::bsd, Dialect::gnu}) {
            const char* d = dialect == Dialect::bsd ? "bsd" : "gnu";
            QTest::newRow(qPrintable(QStringLiteral("last day, 31st, %1").arg(QLatin1String(d))))
                << lastDay << dialect << QStringLiteral("31") << QStringLiteral("01") << true;
            QTest::newRow(qPrintable(QStringLiteral("last day, 28 Feb, %1").arg(QLatin1String(d))))
                << lastDay << dialect << QStringLiteral("28") << QStringLiteral("01") << true;
            QTest::newRow(
                qPrintable(QStringLiteral("last day, 30th of 31, %1").arg(QLatin1String(d))))
                << lastDay << dialect << QStringLiteral("30") << QStringLiteral("31") << false;
        }
        const auto nth = [&](int n, const char* today, bool runs) {
            QTest::newRow(
                qPrintable(QStringLiteral("nth %1 on day %2").arg(n).arg(QLatin1String(today))))
                << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({n, 2, nine()}) << Dialect::gnu
                << QString::fromLatin1(today) << QStringLiteral("15") << runs;
        };
        nth(1, "01", true);
        nth(1, "07", true);
        nth(1, "08", false);
        nth(2, "07", false);
        nth(2, "08", true);
        nth(2, "14", true);
        nth(2, "15", false);
        nth(4, "21", false);
        nth(4, "22", true);
        nth(4, "28", true);
        nth(4, "29", false);
        nth(5, "28", false);
        nth(5, "31", true);
    }

    void guards()
    {
        QFETCH(TaskSchedule, schedule);
        QFETCH(Dialect, dialect);
        QFETCH(QString, today);
        QFETCH(QString, tomorrow);
        QFETCH(bool, runs);
        TestHome home;
        const QString fakeBin = home.path() + QStringLiteral("/fakebin");
        writeFakeDate(fakeBin, today, tomorrow);
        const QString runsPath = home.path() + QStringLiteral("/task.runs");
        const QString script = home.path() + QStringLiteral("/wrapper.sh");
        for (const QString& shell : {QStringLiteral("bash"), QStringLiteral("zsh")}) {
            const ScheduledTask task = TaskBuilder()
                                           .id(fixedTaskId)
                                           .command(QStringLiteral("touch ran"))
                                           .schedule(schedule)
                                           .loginShell(shell == QLatin1String("zsh"))
                                           .build();
            TestSupport::writeFile(script, WrapperScript::text(task, runsPath, dialect).toUtf8());
            QFile::remove(home.path() + QStringLiteral("/ran"));
            QFile::remove(runsPath);
            const ProcessResult result = runScript(shell, script, home.path(), fakeBin);
            QCOMPARE(result.exitCode, 0);
            QVERIFY2(result.err.isEmpty(), result.err.constData());
            QCOMPARE(QFile::exists(home.path() + QStringLiteral("/ran")), runs);
            // A skipped day leaves no history line.
            const QByteArray history = TestSupport::readFile(runsPath);
            QCOMPARE(history.count('\n'), runs ? 1 : 0);
            if (runs)
                QCOMPARE(checkHistoryLine(history.chopped(1)), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestWrapperScript)
#include "TestWrapperScript.moc"
