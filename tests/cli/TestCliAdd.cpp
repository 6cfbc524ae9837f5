// brenmor-ops add, run as a real process against recording launchctl and osascript stand-ins.
#include "CliHarness.h"

#include <QTest>

Q_DECLARE_METATYPE(TaskSchedule)

namespace {
const QString scheduleRequired =
    QStringLiteral("Error: Schedule is required. Use --daily, --weekly, --monthly, "
                   "--monthly-last-day, --monthly-nth, --interval, or --run-at-load\n");
const QString rangeError =
    QStringLiteral("Error: Invalid time: hour must be 0-23, minute must be 0-59\n");
const QString formatError =
    QStringLiteral("Error: Invalid time format. Use HH:MM or HH:MM,HH:MM for multiple times\n");
const QString intervalError =
    QStringLiteral("Error: --interval requires a positive number of minutes\n");
const QString weekdaysError =
    QStringLiteral("Error: Invalid weekdays. Use: sun,mon,tue,wed,thu,fri,sat\n");
const QString weekdayError =
    QStringLiteral("Error: Invalid weekday. Use: sun,mon,tue,wed,thu,fri,sat\n");
const QString dayError = QStringLiteral("Error: Invalid day: must be 1-31\n");
const QString nthError =
    QStringLiteral("Error: --monthly-nth requires a number 1-4 (e.g. 2 for 2nd)\n");
const QString nameError = QStringLiteral("Error: --name is required\n");
const QString commandError = QStringLiteral("Error: --command is required\n");

QStringList words(const QString& text) { return text.split(QLatin1Char(' ')); }
QStringList withTask(const QString& schedule)
{
    return words(QStringLiteral("add --name Job --command true ") + schedule);
}
TimeOfDay at(int hour, int minute) { return TimeOfDay{hour, minute}; }
} // namespace

class TestCliAdd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addsTask_data();
    void addsTask();
    void rejects_data();
    void rejects();
    void backupExampleInstallsAndWakes();
    void appendsAfterExistingTasks();
    void keepsOptionalPaths();
    void wakeRegistrationFollowsSchedule_data();
    void wakeRegistrationFollowsSchedule();
    void agentAndWakeFailuresAreReported();
    void refusesValuesThatAreNotUtf8_data();
    void refusesValuesThatAreNotUtf8();
    void successLineEscapesControlCharacters();
};

void TestCliAdd::addsTask_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("name");
    QTest::addColumn<TaskSchedule>("schedule");
    QTest::addColumn<bool>("wake");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const auto row = [](const char* tag, const QStringList& args, const TaskSchedule& schedule,
                        const QString& summary, const QString& err = QString()) {
        QTest::newRow(tag) << args << QStringLiteral("Job") << schedule << false
                           << QStringLiteral("Added task: Job (%1)\n").arg(summary) << err;
    };
    row("daily", withTask(QStringLiteral("--daily 03:00")),
        TaskSchedule::of<TaskSchedule::Daily>({{at(3, 0)}}), QStringLiteral("Daily at 3:00"));
    row("daily keeps input order and duplicates",
        withTask(QStringLiteral("--daily 17:00,9:00,9:00")),
        TaskSchedule::of<TaskSchedule::Daily>({{at(17, 0), at(9, 0), at(9, 0)}}),
        QStringLiteral("Daily at 9:00, 9:00, 17:00"));
    row("one-digit forms", withTask(QStringLiteral("--daily 9:5")),
        TaskSchedule::of<TaskSchedule::Daily>({{at(9, 5)}}), QStringLiteral("Daily at 9:05"));
    row("trailing colon", withTask(QStringLiteral("--daily 12:30:")),
        TaskSchedule::of<TaskSchedule::Daily>({{at(12, 30)}}), QStringLiteral("Daily at 12:30"));
    row("empty pieces dropped", withTask(QStringLiteral("--daily ,09:00,,17:30,")),
        TaskSchedule::of<TaskSchedule::Daily>({{at(9, 0), at(17, 30)}}),
        QStringLiteral("Daily at 9:00, 17:30"));
    row("bad time among good ones", withTask(QStringLiteral("--daily 9:00,25:00")),
        TaskSchedule::of<TaskSchedule::Daily>({{at(9, 0)}}), QStringLiteral("Daily at 9:00"),
        rangeError);
    row("signed numbers", withTask(QStringLiteral("--daily +7:+05")),
        TaskSchedule::of<TaskSchedule::Daily>({{at(7, 5)}}), QStringLiteral("Daily at 7:05"));
    row("first schedule option wins", withTask(QStringLiteral("--daily 09:00 --interval 5")),
        TaskSchedule::of<TaskSchedule::Daily>({{at(9, 0)}}), QStringLiteral("Daily at 9:00"));
    row("weekly drops unknown names", withTask(QStringLiteral("--weekly mon,funday,WED 09:30")),
        TaskSchedule::of<TaskSchedule::Weekly>({{2, 4}, {at(9, 30)}}),
        QStringLiteral("Mon, Wed at 9:30"));
    row("weekly keeps duplicate days", withTask(QStringLiteral("--weekly sat,Sat,sun 23:59")),
        TaskSchedule::of<TaskSchedule::Weekly>({{7, 7, 1}, {at(23, 59)}}),
        QStringLiteral("Sun, Sat, Sat at 23:59"));
    row("monthly", withTask(QStringLiteral("--monthly 31 08:15")),
        TaskSchedule::of<TaskSchedule::Monthly>({31, {at(8, 15)}}),
        QStringLiteral("Monthly on day 31 at 8:15"));
    row("monthly day with plus sign", withTask(QStringLiteral("--monthly +1 0:00")),
        TaskSchedule::of<TaskSchedule::Monthly>({1, {at(0, 0)}}),
        QStringLiteral("Monthly on day 1 at 0:00"));
    row("last day", withTask(QStringLiteral("--monthly-last-day 23:59,6:00")),
        TaskSchedule::of<TaskSchedule::MonthlyLastDay>({{at(23, 59), at(6, 0)}}),
        QStringLiteral("Last day of month at 6:00, 23:59"));
    row("nth weekday", withTask(QStringLiteral("--monthly-nth 2 FRI 09:00")),
        TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 6, {at(9, 0)}}),
        QStringLiteral("2nd Friday at 9:00"));
    row("interval", withTask(QStringLiteral("--interval 30")),
        TaskSchedule::of<TaskSchedule::Interval>({30}), QStringLiteral("Every 30 min"));
    row("interval with plus sign", withTask(QStringLiteral("--interval +15")),
        TaskSchedule::of<TaskSchedule::Interval>({15}), QStringLiteral("Every 15 min"));
    row("run at load", withTask(QStringLiteral("--run-at-load")),
        TaskSchedule::of<TaskSchedule::RunAtLoad>(), QStringLiteral("Run at load"));
    row("words that are not options are ignored",
        words(QStringLiteral("add stray --name Job also --command true --run-at-load more")),
        TaskSchedule::of<TaskSchedule::RunAtLoad>(), QStringLiteral("Run at load"));
    row("later name overrides",
        words(QStringLiteral("add --name First --command true --name Job "
                             "--run-at-load")),
        TaskSchedule::of<TaskSchedule::RunAtLoad>(), QStringLiteral("Run at load"));

    QTest::newRow("an option word taken as a value")
        << words(QStringLiteral("add --name --wake --command ls --run-at-load"))
        << QStringLiteral("--wake") << TaskSchedule::of<TaskSchedule::RunAtLoad>() << false
        << QStringLiteral("Added task: --wake (Run at load)\n") << QString();
    QTest::newRow("spaces around the name are kept")
        << QStringList{QStringLiteral("add"),        QStringLiteral("--name"),
                       QStringLiteral("  Job "),     QStringLiteral("--command"),
                       QStringLiteral("ls"),         QStringLiteral("--wake"),
                       QStringLiteral("--interval"), QStringLiteral("5")}
        << QStringLiteral("  Job ") << TaskSchedule::of<TaskSchedule::Interval>({5}) << true
        << QStringLiteral("Added task:   Job  (Every 5 min)\n") << QString();
}

void TestCliAdd::addsTask()
{
    QFETCH(QStringList, args);
    QFETCH(QString, name);
    QFETCH(TaskSchedule, schedule);
    QFETCH(bool, wake);
    QFETCH(QString, out);
    QFETCH(QString, err);

    CliHarness cli;
    const ProcessResult result = cli.run(args);
    QCOMPARE(result.errText(), err);
    QCOMPARE(result.outText(), out);
    QCOMPARE(result.exitCode, 0);

    const QList<ScheduledTask> tasks = cli.storedTasks();
    QCOMPARE(tasks.size(), 1);
    const ScheduledTask& task = tasks.first();
    QCOMPARE(task.name, name);
    QCOMPARE(task.command, args.at(args.indexOf(QStringLiteral("--command")) + 1));
    QCOMPARE(task.schedule, schedule);
    QCOMPARE(task.wakeBeforeRun, wake);
    QVERIFY(task.isEnabled);
    QVERIFY(task.useLoginShell);
    QVERIFY(!task.id.isNull());
}

void TestCliAdd::rejects_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("err");

    QTest::newRow("no name, schedule not looked at")
        << words(QStringLiteral("add --daily 09:00")) << nameError;
    QTest::newRow("empty name") << QStringList{QStringLiteral("add"),
                                               QStringLiteral("--name"),
                                               QString(),
                                               QStringLiteral("--command"),
                                               QStringLiteral("ls"),
                                               QStringLiteral("--daily"),
                                               QStringLiteral("09:00")}
                                << nameError;
    for (const QString& blank : {QStringLiteral("   "), QStringLiteral("\t \n")}) {
        QTest::addRow("blank name %d", int(blank.size()))
            << QStringList{QStringLiteral("add"),
                           QStringLiteral("--name"),
                           blank,
                           QStringLiteral("--command"),
                           QStringLiteral("ls"),
                           QStringLiteral("--daily"),
                           QStringLiteral("09:00")}
            << QStringLiteral("Error: --name must not be blank\n");
    }
    QTest::newRow("final --name resets the name")
        << words(QStringLiteral("add --name A --command ls --daily 09:00 --name")) << nameError;
    QTest::newRow("--help is no help") << words(QStringLiteral("add --help")) << nameError;
    QTest::newRow("no command") << words(QStringLiteral("add --name X --daily 09:00"))
                                << commandError;
    QTest::newRow("empty command") << QStringList{QStringLiteral("add"),
                                                  QStringLiteral("--name"),
                                                  QStringLiteral("X"),
                                                  QStringLiteral("--command"),
                                                  QString(),
                                                  QStringLiteral("--run-at-load")}
                                   << commandError;
    QTest::newRow("no schedule") << words(QStringLiteral("add --name X --command Y"))
                                 << scheduleRequired;
    QTest::newRow("options are case-sensitive")
        << withTask(QStringLiteral("--Daily 09:00")) << scheduleRequired;

    QTest::newRow("hour out of range")
        << withTask(QStringLiteral("--daily 24:00")) << rangeError + formatError + scheduleRequired;
    QTest::newRow("minute out of range")
        << withTask(QStringLiteral("--daily 12:60")) << rangeError + formatError + scheduleRequired;
    QTest::newRow("negative hour")
        << withTask(QStringLiteral("--daily -1:30")) << rangeError + formatError + scheduleRequired;
    QTest::newRow("every time out of range")
        << withTask(QStringLiteral("--daily 24:00,10:99"))
        << rangeError + rangeError + formatError + scheduleRequired;
    QTest::newRow("hour only") << withTask(QStringLiteral("--daily 12"))
                               << formatError + scheduleRequired;
    QTest::newRow("seconds") << withTask(QStringLiteral("--daily 12:30:45"))
                             << formatError + scheduleRequired;
    QTest::newRow("not a time") << withTask(QStringLiteral("--daily noon"))
                                << formatError + scheduleRequired;
    QTest::newRow("only commas") << withTask(QStringLiteral("--daily ,,"))
                                 << formatError + scheduleRequired;
    QTest::newRow("underscore in minutes")
        << withTask(QStringLiteral("--daily 9:_5")) << formatError + scheduleRequired;
    QTest::newRow("daily without times") << withTask(QStringLiteral("--daily")) << scheduleRequired;
    QTest::newRow("a value word is a schedule word too")
        << words(QStringLiteral("add --name --daily --command ls"))
        << formatError + scheduleRequired;

    QTest::newRow("interval zero decides alone")
        << withTask(QStringLiteral("--interval 0 --daily 09:00"))
        << intervalError + scheduleRequired;
    QTest::newRow("negative interval")
        << withTask(QStringLiteral("--interval -5")) << intervalError + scheduleRequired;
    QTest::newRow("interval with unit")
        << withTask(QStringLiteral("--interval 5m")) << intervalError + scheduleRequired;
    QTest::newRow("interval missing")
        << withTask(QStringLiteral("--interval")) << intervalError + scheduleRequired;
    QTest::newRow("interval beyond int")
        << withTask(QStringLiteral("--interval 99999999999")) << intervalError + scheduleRequired;
    QTest::newRow("interval with space")
        << QStringList{QStringLiteral("add"), QStringLiteral("--name"),
                       QStringLiteral("X"),   QStringLiteral("--command"),
                       QStringLiteral("Y"),   QStringLiteral("--interval"),
                       QStringLiteral(" 5")}
        << intervalError + scheduleRequired;

    QTest::newRow("no weekday name")
        << withTask(QStringLiteral("--weekly funday 09:30")) << weekdaysError + scheduleRequired;
    QTest::newRow("full day names are not names")
        << withTask(QStringLiteral("--weekly monday 09:30")) << weekdaysError + scheduleRequired;
    QTest::newRow("weekdays checked before times")
        << withTask(QStringLiteral("--weekly xyz")) << weekdaysError + scheduleRequired;
    QTest::newRow("weekly without times")
        << withTask(QStringLiteral("--weekly mon")) << scheduleRequired;
    QTest::newRow("weekly without days")
        << withTask(QStringLiteral("--weekly")) << scheduleRequired;
    QTest::newRow("weekly bad time") << withTask(QStringLiteral("--weekly mon 25:00"))
                                     << rangeError + formatError + scheduleRequired;

    QTest::newRow("day zero") << withTask(QStringLiteral("--monthly 0 09:00"))
                              << dayError + scheduleRequired;
    QTest::newRow("day 32") << withTask(QStringLiteral("--monthly 32 09:00"))
                            << dayError + scheduleRequired;
    QTest::newRow("day checked before times")
        << withTask(QStringLiteral("--monthly 32")) << dayError + scheduleRequired;
    QTest::newRow("day not a number")
        << withTask(QStringLiteral("--monthly x 09:00")) << scheduleRequired;
    QTest::newRow("monthly without times")
        << withTask(QStringLiteral("--monthly 15")) << scheduleRequired;
    QTest::newRow("monthly bad time")
        << withTask(QStringLiteral("--monthly 15 9")) << formatError + scheduleRequired;

    QTest::newRow("fifth weekday")
        << withTask(QStringLiteral("--monthly-nth 5 fri 09:00")) << nthError + scheduleRequired;
    QTest::newRow("zeroth weekday")
        << withTask(QStringLiteral("--monthly-nth 0 fri 09:00")) << nthError + scheduleRequired;
    QTest::newRow("ordinal word") << withTask(QStringLiteral("--monthly-nth 2nd fri 09:00"))
                                  << nthError + scheduleRequired;
    QTest::newRow("nth missing") << withTask(QStringLiteral("--monthly-nth"))
                                 << nthError + scheduleRequired;
    QTest::newRow("long weekday name") << withTask(QStringLiteral("--monthly-nth 2 friday 09:00"))
                                       << weekdayError + scheduleRequired;
    QTest::newRow("weekday list is not a weekday")
        << withTask(QStringLiteral("--monthly-nth 2 mon,fri 09:00"))
        << weekdayError + scheduleRequired;
    QTest::newRow("weekday checked before times")
        << withTask(QStringLiteral("--monthly-nth 2 fryday")) << weekdayError + scheduleRequired;
    QTest::newRow("nth without weekday")
        << withTask(QStringLiteral("--monthly-nth 2")) << scheduleRequired;
    QTest::newRow("nth without times")
        << withTask(QStringLiteral("--monthly-nth 2 fri")) << scheduleRequired;
    QTest::newRow("last day bad time")
        << withTask(QStringLiteral("--monthly-last-day 9")) << formatError + scheduleRequired;
    QTest::newRow("last day without times")
        << withTask(QStringLiteral("--monthly-last-day")) << scheduleRequired;
}

void TestCliAdd::rejects()
{
    QFETCH(QStringList, args);
    QFETCH(QString, err);

    CliHarness cli;
    cli.seed({storedTask(QStringLiteral("Existing"),
                         QStringLiteral("11111111-2222-4333-8444-555555555555"))
                  .daily({at(6, 0)})
                  .build()});
    const QByteArray before = cli.taskFileBytes();

    const ProcessResult result = cli.run(args);
    QCOMPARE(result.errText(), err);
    QCOMPARE(result.outText(), QString());
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(cli.taskFileBytes(), before);
    QCOMPARE(cli.calls(), QStringList());
}

void TestCliAdd::backupExampleInstallsAndWakes()
{
    CliHarness cli;
    const ProcessResult result =
        cli.run({QStringLiteral("add"), QStringLiteral("--name"), QStringLiteral("Backup"),
                 QStringLiteral("--command"), QStringLiteral("rsync -av ~/docs /backup"),
                 QStringLiteral("--daily"), QStringLiteral("03:00"), QStringLiteral("--wake")});
    QCOMPARE(withoutWarnings(result.errText()), QString());
    QCOMPARE(result.outText(), QStringLiteral("Added task: Backup (Daily at 3:00)\n"));
    QCOMPARE(result.exitCode, 0);

    const QList<ScheduledTask> tasks = cli.storedTasks();
    QCOMPARE(tasks.size(), 1);
    const ScheduledTask& task = tasks.first();
    QCOMPARE(task.name, QStringLiteral("Backup"));
    QCOMPARE(task.command, QStringLiteral("rsync -av ~/docs /backup"));
    QCOMPARE(task.workingDirectory, std::nullopt);
    QCOMPARE(task.envFilePath, std::nullopt);
    QVERIFY(task.useLoginShell);
    QVERIFY(task.wakeBeforeRun);
    QVERIFY(task.isEnabled);
    QCOMPARE(task.schedule, TaskSchedule::of<TaskSchedule::Daily>({{at(3, 0)}}));
    QVERIFY(task.logs.isEmpty());
    QCOMPARE(task.id.variant(), QUuid::DCE);
    QCOMPARE(task.id.version(), QUuid::Random);

    QVERIFY(QFile::exists(cli.scriptPath(task)));
    QVERIFY(QFile::exists(cli.plistPath(task)));
    // Saved first, then loaded, then the wake event registered.
    QCOMPARE(cli.calls(),
             (QStringList{QStringLiteral("launchctl load ") + task.idString(),
                          repeatWakeCall(QStringLiteral("MTWRFSU"), QStringLiteral("02:55:00"))}));
    QCOMPARE(cli.snapshotAtLaunchctlCall(1), std::optional(tasks));

    const ProcessResult list = cli.run({QStringLiteral("list")});
    QVERIFY(
        list.outText().contains(QStringLiteral("Backup  Daily at 3:00  wake  ") + task.shortId()));
}

void TestCliAdd::appendsAfterExistingTasks()
{
    CliHarness cli;
    const QList<ScheduledTask> existing = {
        storedTask(QStringLiteral("One"), QStringLiteral("11111111-2222-4333-8444-555555555555"))
            .every(10)
            .disabled()
            .build(),
        storedTask(QStringLiteral("Two"), QStringLiteral("21111111-2222-4333-8444-555555555555"))
            .weekly({2}, {at(8, 0)})
            .wake()
            .build()};
    cli.seed(existing);

    // Names need not be unique.
    const ProcessResult result = cli.run(words(QStringLiteral("add --name One --command ls "
                                                              "--run-at-load")));
    QCOMPARE(result.exitCode, 0);
    const QList<ScheduledTask> tasks = cli.storedTasks();
    QCOMPARE(tasks.size(), 3);
    QCOMPARE(tasks.mid(0, 2), existing);
    QCOMPARE(tasks[2].name, QStringLiteral("One"));
    QVERIFY(tasks[2].id != existing[0].id);
    // The new task asked for no wake, so the existing wake task is not re-registered; the
    // enabled "Two", seeded without its agent, is brought in step after the change.
    QCOMPARE(cli.calls(),
             (QStringList{QStringLiteral("launchctl load ") + tasks[2].idString(),
                          QStringLiteral("launchctl load ") + existing[1].idString()}));
}

void TestCliAdd::keepsOptionalPaths()
{
    CliHarness cli;
    const ProcessResult result =
        cli.run({QStringLiteral("add"), QStringLiteral("--working-dir"), QStringLiteral("/srv/a b"),
                 QStringLiteral("--name"), QStringLiteral("Paths"), QStringLiteral("--env-file"),
                 QStringLiteral("--not-an-option"), QStringLiteral("--command"),
                 QStringLiteral("make"), QStringLiteral("--interval"), QStringLiteral("60")});
    QCOMPARE(result.exitCode, 0);
    const QList<ScheduledTask> tasks = cli.storedTasks();
    QCOMPARE(tasks.size(), 1);
    QCOMPARE(tasks[0].workingDirectory, std::optional(QStringLiteral("/srv/a b")));
    QCOMPARE(tasks[0].envFilePath, std::optional(QStringLiteral("--not-an-option")));
}

void TestCliAdd::wakeRegistrationFollowsSchedule_data()
{
    QTest::addColumn<QString>("schedule");
    QTest::addColumn<QString>("expectedPrefix"); // "" = no registration

    QTest::newRow("daily, earliest time minus five")
        << QStringLiteral("--daily 09:00,07:30")
        << repeatWakeCall(QStringLiteral("MTWRFSU"), QStringLiteral("07:25:00"));
    QTest::newRow("weekly letters, the evening before a run after midnight")
        << QStringLiteral("--weekly mon,wed,fri 00:02")
        << repeatWakeCall(QStringLiteral("UTR"), QStringLiteral("23:57:00"));
    QTest::newRow("nth weekday") << QStringLiteral("--monthly-nth 3 tue 10:00")
                                 << repeatWakeCall(QStringLiteral("T"), QStringLiteral("09:55:00"));
    QTest::newRow("monthly one-time event")
        << QStringLiteral("--monthly 15 09:00")
        << QStringLiteral("osascript do shell script \"pmset schedule wakeorpoweron \\\"");
    QTest::newRow("interval has no wake") << QStringLiteral("--interval 5") << QString();
    QTest::newRow("run at load has no wake") << QStringLiteral("--run-at-load") << QString();
}

void TestCliAdd::wakeRegistrationFollowsSchedule()
{
    QFETCH(QString, schedule);
    QFETCH(QString, expectedPrefix);

    CliHarness cli;
    const ProcessResult result = cli.run(withTask(schedule + QStringLiteral(" --wake")));
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.errText(), QString());
    QStringList wakeCalls = cli.calls().filter(QStringLiteral("osascript"));
    if (expectedPrefix.isEmpty()) {
        QCOMPARE(wakeCalls, QStringList());
        return;
    }
    QCOMPARE(wakeCalls.size(), 1);
    QVERIFY2(wakeCalls[0].startsWith(expectedPrefix), qPrintable(wakeCalls[0]));
    QVERIFY(cli.calls().first().startsWith(QStringLiteral("launchctl load ")));
}

void TestCliAdd::agentAndWakeFailuresAreReported()
{
    CliHarness cli;
    QProcessEnvironment failing = CliHarness::launchctlStatus(5);
    failing.insert(CliHarness::failOsascriptWhen(QStringLiteral("pmset")));
    const ProcessResult result = cli.run(withTask(QStringLiteral("--daily 08:00 --wake")), failing);
    // The task stays saved; what it lacks is said after the success line, and the status is 1.
    QCOMPARE(result.errText(), QStringLiteral("Error: launchctl load failed (exit code 5)\n"
                                              "Error: pmset failed: User canceled.\n"));
    QCOMPARE(result.outText(), QStringLiteral("Added task: Job (Daily at 8:00)\n"));
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(cli.storedTasks().size(), 1);
    QCOMPARE(cli.calls().size(), 2);
}

void TestCliAdd::refusesValuesThatAreNotUtf8_data()
{
    // printf formats of the four values, the bytes reaching the tool's argv unchanged.
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("err");
    const QStringList plain{u"Job"_qs, u"true"_qs, u"/tmp"_qs, u"/tmp/job.env"_qs};
    const auto with = [&](int index, const QString& value) {
        QStringList values = plain;
        values[index] = value;
        return values;
    };
    QTest::newRow("name") << with(0, u"Job \\377"_qs) << u"Error: --name must be valid UTF-8\n"_qs;
    QTest::newRow("command") << with(1, u"echo \\303\\050"_qs)
                             << u"Error: --command must be valid UTF-8\n"_qs;
    QTest::newRow("command, overlong slash")
        << with(1, u"cat \\300\\257etc"_qs) << u"Error: --command must be valid UTF-8\n"_qs;
    QTest::newRow("command, encoded surrogate")
        << with(1, u"echo \\355\\240\\200"_qs) << u"Error: --command must be valid UTF-8\n"_qs;
    QTest::newRow("command, cut short")
        << with(1, u"echo \\342\\202"_qs) << u"Error: --command must be valid UTF-8\n"_qs;
    QTest::newRow("working folder")
        << with(2, u"/tmp/\\376"_qs) << u"Error: --working-dir must be valid UTF-8\n"_qs;
    QTest::newRow("environment file")
        << with(3, u"/tmp/\\377.env"_qs) << u"Error: --env-file must be valid UTF-8\n"_qs;
}

// The tool keeps the user's bytes or refuses them; it never stores a replacement character.
void TestCliAdd::refusesValuesThatAreNotUtf8()
{
    QFETCH(QStringList, values);
    QFETCH(QString, err);
    CliHarness cli;
    cli.seed({});
    const QByteArray before = cli.taskFileBytes();
    const ProcessResult result = TestSupport::run(
        QStringLiteral("/bin/sh"),
        QStringList{QStringLiteral("-c"),
                    QStringLiteral("exec \"$0\" add --name \"$(printf \"$1\")\" --command "
                                   "\"$(printf \"$2\")\" --working-dir \"$(printf \"$3\")\" "
                                   "--env-file \"$(printf \"$4\")\" --daily 09:00"),
                    TestSupport::binPath(QStringLiteral("brenmor-ops"))} +
            values,
        cli.home().environment());
    QCOMPARE(result.errText(), err);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(cli.taskFileBytes(), before);
}

void TestCliAdd::successLineEscapesControlCharacters()
{
    CliHarness cli;
    const QString name = QStringLiteral("Red \x1b[31malert\x07\tnow");
    const ProcessResult result =
        cli.run({u"add"_qs, u"--name"_qs, name, u"--command"_qs, u"true"_qs, u"--run-at-load"_qs});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.outText(),
             QStringLiteral("Added task: Red \\x1b[31malert\\x07\\x09now (Run at load)\n"));
    // The name itself is stored as given.
    QCOMPARE(cli.storedTasks().value(0).name, name);
}

QTEST_GUILESS_MAIN(TestCliAdd)
#include "TestCliAdd.moc"
