#include "PmsetService.h"
#include "PmsetService_p.h"
#include "ResultChecks.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QList<TimeOfDay> times(std::initializer_list<std::pair<int, int>> list)
{
    QList<TimeOfDay> result;
    for (const auto& [hour, minute] : list)
        result.append(TimeOfDay{hour, minute});
    return result;
}

ScheduledTask taskWith(const TaskSchedule& schedule)
{
    ScheduledTask task =
        ScheduledTask::create(QStringLiteral("Backup"), QStringLiteral("true"), schedule);
    task.wakeBeforeRun = true;
    return task;
}

// A service whose clock stands still at `now` and whose privileged runner only records.
struct RecordingService {
    QStringList commands;
    std::optional<QString> failure;
    PmsetService service;

    RecordingService(const QDateTime& now, const QTimeZone& zone)
        : service([now] { return now; }, zone,
                  [this](const QString& command) {
                      commands.append(command);
                      return failure ? Result<void>::failure(*failure) : Result<void>();
                  })
    {}
};

const QTimeZone utc = QTimeZone::utc();

} // namespace

class TestPmsetService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void registersCommandForSchedule_data();
    void registersCommandForSchedule();
    void refusesSchedulesWithoutWake_data();
    void refusesSchedulesWithoutWake();
    void findsNextMonthlyDate_data();
    void findsNextMonthlyDate();
    void monthlyDayNoMonthHasRegistersNothing();
    void runnerFailureBecomesScriptFailed();
    void errorDescriptions();
    void earliestTimeOfList();
    void wakeTimeTexts_data();
    void wakeTimeTexts();
    void checksSystemSchedule_data();
    void checksSystemSchedule();
    void unreadableScheduleMeansNotScheduled();
};

void TestPmsetService::registersCommandForSchedule_data()
{
    QTest::addColumn<TaskSchedule>("schedule");
    QTest::addColumn<QString>("command");

    const QString every = QStringLiteral("pmset repeat wakeorpoweron MTWRFSU ");
    QTest::newRow("daily, earliest of two")
        << TaskSchedule::of<TaskSchedule::Daily>({times({{9, 0}, {7, 30}})})
        << every + QStringLiteral("07:25:00");
    QTest::newRow("daily just after midnight wraps to the evening")
        << TaskSchedule::of<TaskSchedule::Daily>({times({{0, 3}})})
        << every + QStringLiteral("23:58:00");
    QTest::newRow("daily at 00:05 wakes at midnight")
        << TaskSchedule::of<TaskSchedule::Daily>({times({{0, 5}})})
        << every + QStringLiteral("00:00:00");
    QTest::newRow("daily at 12:15") << TaskSchedule::of<TaskSchedule::Daily>({times({{12, 15}})})
                                    << every + QStringLiteral("12:10:00");
    // A wake before a run just after midnight falls on the day before: the days move with it.
    QTest::newRow("weekly Monday 00:02 wakes Sunday evening")
        << TaskSchedule::of<TaskSchedule::Weekly>({{2}, times({{0, 2}})})
        << QStringLiteral("pmset repeat wakeorpoweron U 23:57:00");
    QTest::newRow("weekly Sunday and Wednesday 00:04 wake Saturday and Tuesday")
        << TaskSchedule::of<TaskSchedule::Weekly>({{1, 4}, times({{9, 0}, {0, 4}})})
        << QStringLiteral("pmset repeat wakeorpoweron ST 23:59:00");
    QTest::newRow("weekly Monday 00:05 wakes at Monday's midnight")
        << TaskSchedule::of<TaskSchedule::Weekly>({{2}, times({{0, 5}})})
        << QStringLiteral("pmset repeat wakeorpoweron M 00:00:00");
    QTest::newRow("nth weekday Tuesday 00:01 wakes Monday evening")
        << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({1, 3, times({{0, 1}})})
        << QStringLiteral("pmset repeat wakeorpoweron M 23:56:00");
    QTest::newRow("nth weekday Sunday 00:00 wakes Saturday evening")
        << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 1, times({{0, 0}})})
        << QStringLiteral("pmset repeat wakeorpoweron S 23:55:00");
    QTest::newRow("last day 00:02 still every day")
        << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({times({{0, 2}})})
        << every + QStringLiteral("23:57:00");
    QTest::newRow("monthly 15th 00:03 wakes on the 14th")
        << TaskSchedule::of<TaskSchedule::Monthly>({15, times({{0, 3}})})
        << QStringLiteral("pmset schedule wakeorpoweron \"12/14/26 23:58:00\"");
    QTest::newRow("weekly Mon Wed Fri")
        << TaskSchedule::of<TaskSchedule::Weekly>({{2, 4, 6}, times({{8, 0}})})
        << QStringLiteral("pmset repeat wakeorpoweron MWF 07:55:00");
    QTest::newRow("weekly in stored order, Sunday U, Thursday R")
        << TaskSchedule::of<TaskSchedule::Weekly>({{7, 1, 5}, times({{18, 30}, {6, 45}})})
        << QStringLiteral("pmset repeat wakeorpoweron SUR 06:40:00");
    QTest::newRow("last day of month wakes every day")
        << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({times({{23, 0}})})
        << every + QStringLiteral("22:55:00");
    QTest::newRow("nth weekday Tuesday")
        << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, times({{10, 0}})})
        << QStringLiteral("pmset repeat wakeorpoweron T 09:55:00");
    QTest::newRow("last weekday ordinal, Saturday")
        << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({5, 7, times({{10, 0}})})
        << QStringLiteral("pmset repeat wakeorpoweron S 09:55:00");
    QTest::newRow("monthly 15th, still ahead this month")
        << TaskSchedule::of<TaskSchedule::Monthly>({15, times({{9, 0}})})
        << QStringLiteral("pmset schedule wakeorpoweron \"12/15/26 08:55:00\"");
}

void TestPmsetService::registersCommandForSchedule()
{
    QFETCH(TaskSchedule, schedule);
    QFETCH(QString, command);
    RecordingService recording(QDateTime(QDate(2026, 12, 8), QTime(1, 0), utc), utc);
    VERIFY_OK(recording.service.scheduleWake(taskWith(schedule)));
    QCOMPARE(recording.commands, QStringList{command});
}

void TestPmsetService::refusesSchedulesWithoutWake_data()
{
    QTest::addColumn<TaskSchedule>("schedule");
    QTest::newRow("interval") << TaskSchedule::of<TaskSchedule::Interval>({15});
    QTest::newRow("run at load") << TaskSchedule::of<TaskSchedule::RunAtLoad>();
    QTest::newRow("daily without times") << TaskSchedule::of<TaskSchedule::Daily>({{}});
    QTest::newRow("weekly without times") << TaskSchedule::of<TaskSchedule::Weekly>({{2}, {}});
    QTest::newRow("weekly without weekdays")
        << TaskSchedule::of<TaskSchedule::Weekly>({{}, times({{9, 0}})});
    QTest::newRow("monthly without times") << TaskSchedule::of<TaskSchedule::Monthly>({15, {}});
    QTest::newRow("last day without times") << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({{}});
    QTest::newRow("nth weekday without times")
        << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({1, 2, {}});
}

void TestPmsetService::refusesSchedulesWithoutWake()
{
    QFETCH(TaskSchedule, schedule);
    RecordingService recording(QDateTime(QDate(2026, 12, 8), QTime(1, 0), utc), utc);
    const WakeOutcome woken = recording.service.scheduleWake(taskWith(schedule));
    QVERIFY(!woken.ok());
    QCOMPARE(woken.message(), QStringLiteral("This schedule type does not support wake."));
    QVERIFY(recording.commands.isEmpty());
}

void TestPmsetService::findsNextMonthlyDate_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<int>("day");
    QTest::addColumn<TimeOfDay>("runTime");
    QTest::addColumn<QString>("date");      // as written into the command
    QTest::addColumn<int>("offsetFromUtc"); // of the chosen moment, for repeated times

    const QTimeZone berlin("Europe/Berlin");
    QTest::newRow("this month, still ahead")
        << u"UTC"_s << QDateTime(QDate(2026, 12, 8), QTime(12, 0), utc) << 15 << TimeOfDay{9, 0}
        << u"12/15/26 08:55:00"_s << 0;
    QTest::newRow("this month, already past")
        << u"UTC"_s << QDateTime(QDate(2026, 12, 20), QTime(12, 0), utc) << 15 << TimeOfDay{9, 0}
        << u"01/15/27 08:55:00"_s << 0;
    QTest::newRow("exactly at the wake time counts as past")
        << u"UTC"_s << QDateTime(QDate(2026, 12, 15), QTime(8, 55), utc) << 15 << TimeOfDay{9, 0}
        << u"01/15/27 08:55:00"_s << 0;
    QTest::newRow("one minute before the wake time")
        << u"UTC"_s << QDateTime(QDate(2026, 12, 15), QTime(8, 54), utc) << 15 << TimeOfDay{9, 0}
        << u"12/15/26 08:55:00"_s << 0;
    QTest::newRow("31st skips a 30-day month")
        << u"UTC"_s << QDateTime(QDate(2026, 4, 5), QTime(12, 0), utc) << 31 << TimeOfDay{9, 0}
        << u"05/31/26 08:55:00"_s << 0;
    QTest::newRow("29th skips February of a common year")
        << u"UTC"_s << QDateTime(QDate(2027, 2, 1), QTime(12, 0), utc) << 29 << TimeOfDay{9, 0}
        << u"03/29/27 08:55:00"_s << 0;
    QTest::newRow("29th of February in a leap year")
        << u"UTC"_s << QDateTime(QDate(2028, 2, 1), QTime(12, 0), utc) << 29 << TimeOfDay{9, 0}
        << u"02/29/28 08:55:00"_s << 0;
    QTest::newRow("a run just after midnight wakes the evening before")
        << u"UTC"_s << QDateTime(QDate(2026, 12, 8), QTime(12, 0), utc) << 15 << TimeOfDay{0, 3}
        << u"12/14/26 23:58:00"_s << 0;
    QTest::newRow("the evening before already past")
        << u"UTC"_s << QDateTime(QDate(2026, 12, 14), QTime(23, 59), utc) << 15 << TimeOfDay{0, 3}
        << u"01/14/27 23:58:00"_s << 0;
    QTest::newRow("day 1 wakes on the last day of the month before")
        << u"UTC"_s << QDateTime(QDate(2027, 2, 10), QTime(12, 0), utc) << 1 << TimeOfDay{0, 3}
        << u"02/28/27 23:58:00"_s << 0;
    QTest::newRow("day 1 after a leap February")
        << u"UTC"_s << QDateTime(QDate(2028, 2, 10), QTime(12, 0), utc) << 1 << TimeOfDay{0, 3}
        << u"02/29/28 23:58:00"_s << 0;
    QTest::newRow("day 1 across the year end")
        << u"UTC"_s << QDateTime(QDate(2026, 12, 8), QTime(12, 0), utc) << 1 << TimeOfDay{0, 0}
        << u"12/31/26 23:55:00"_s << 0;
    QTest::newRow("the 31st wakes on the 30th of a month that has a 31st")
        << u"UTC"_s << QDateTime(QDate(2026, 4, 5), QTime(12, 0), utc) << 31 << TimeOfDay{0, 1}
        << u"05/30/26 23:56:00"_s << 0;
    QTest::newRow("year end") << u"UTC"_s << QDateTime(QDate(2026, 12, 31), QTime(23, 0), utc) << 1
                              << TimeOfDay{9, 0} << u"01/01/27 08:55:00"_s << 0;
    QTest::newRow("the local date decides, not UTC")
        << u"Pacific/Auckland"_s << QDateTime(QDate(2026, 12, 14), QTime(23, 30), utc) << 15
        << TimeOfDay{9, 0} << u"01/15/27 08:55:00"_s << 13 * 3600;
    QTest::newRow("inside the spring-forward gap moves to the next existing time")
        << u"Europe/Berlin"_s << QDateTime(QDate(2027, 3, 1), QTime(12, 0), berlin) << 28
        << TimeOfDay{2, 35} << u"03/28/27 03:00:00"_s << 2 * 3600;
    QTest::newRow("repeated autumn time takes the first")
        << u"Europe/Berlin"_s << QDateTime(QDate(2026, 10, 1), QTime(12, 0), berlin) << 25
        << TimeOfDay{2, 35} << u"10/25/26 02:30:00"_s << 2 * 3600;
    QTest::newRow("between the two repeated times takes the second")
        << u"Europe/Berlin"_s << QDateTime(QDate(2026, 10, 25), QTime(0, 45), utc) << 25
        << TimeOfDay{2, 35} << u"10/25/26 02:30:00"_s << 3600;
}

void TestPmsetService::findsNextMonthlyDate()
{
    QFETCH(QString, zone);
    QFETCH(QDateTime, now);
    QFETCH(int, day);
    QFETCH(TimeOfDay, runTime);
    QFETCH(QString, date);
    QFETCH(int, offsetFromUtc);

    const QTimeZone timeZone(zone.toUtf8());
    QVERIFY(timeZone.isValid());
    RecordingService recording(now, timeZone);
    const int wake = PmsetService::wakeMinutes(runTime);
    const std::optional<QDateTime> next = PmsetDetail::nextMonthlyDate(
        now, timeZone, day, wake / 60, wake % 60, PmsetDetail::wakesDayBefore(runTime));
    QVERIFY(next.has_value());
    QVERIFY(*next > now);
    QCOMPARE(next->toTimeZone(timeZone).offsetFromUtc(), offsetFromUtc);

    VERIFY_OK(recording.service.scheduleWake(
        taskWith(TaskSchedule::of<TaskSchedule::Monthly>({day, {runTime}}))));
    QCOMPARE(recording.commands,
             QStringList{QStringLiteral("pmset schedule wakeorpoweron \"%1\"").arg(date)});
}

void TestPmsetService::monthlyDayNoMonthHasRegistersNothing()
{
    RecordingService recording(QDateTime(QDate(2026, 12, 8), QTime(1, 0), utc), utc);
    VERIFY_OK(recording.service.scheduleWake(
        taskWith(TaskSchedule::of<TaskSchedule::Monthly>({32, times({{9, 0}})}))));
    QVERIFY(recording.commands.isEmpty());
}

void TestPmsetService::runnerFailureBecomesScriptFailed()
{
    RecordingService recording(QDateTime(QDate(2026, 12, 8), QTime(1, 0), utc), utc);
    recording.failure = QStringLiteral("User canceled.");
    const WakeOutcome woken = recording.service.scheduleWake(
        taskWith(TaskSchedule::of<TaskSchedule::Daily>({times({{9, 0}})})));
    QVERIFY(!woken.ok());
    QCOMPARE(woken.error(), PmsetError::scriptFailed(QStringLiteral("User canceled.")));
    QCOMPARE(woken.message(), QStringLiteral("pmset failed: User canceled."));
}

void TestPmsetService::errorDescriptions()
{
    QCOMPARE(PmsetError::unsupportedSchedule().message(),
             QStringLiteral("This schedule type does not support wake."));
    QCOMPARE(PmsetError::scriptFailed(QStringLiteral("Failed to create script")).message(),
             QStringLiteral("pmset failed: Failed to create script"));
}

void TestPmsetService::earliestTimeOfList()
{
    QCOMPARE(PmsetService::earliestTime({}), std::nullopt);
    QCOMPARE(PmsetService::earliestTime(times({{17, 0}, {6, 59}, {7, 0}, {6, 59}})),
             (TimeOfDay{6, 59}));
}

void TestPmsetService::wakeTimeTexts_data()
{
    QTest::addColumn<TimeOfDay>("wake");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("morning") << TimeOfDay{8, 55} << QStringList{u"8:55AM"_s};
    QTest::newRow("noon hour") << TimeOfDay{12, 10} << QStringList{u"12:10PM"_s};
    QTest::newRow("afternoon") << TimeOfDay{13, 5} << QStringList{u"1:05PM"_s};
    QTest::newRow("late evening") << TimeOfDay{23, 58} << QStringList{u"11:58PM"_s};
    QTest::newRow("hour after midnight, both spellings")
        << TimeOfDay{0, 10} << QStringList{u"12:10AM"_s, u"0:10AM"_s};
}

void TestPmsetService::wakeTimeTexts()
{
    QFETCH(TimeOfDay, wake);
    QFETCH(QStringList, texts);
    QCOMPARE(PmsetDetail::wakeTimeTexts(wake.totalMinutes()), texts);
}

void TestPmsetService::checksSystemSchedule_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<TaskSchedule>("schedule");
    QTest::addColumn<bool>("scheduled");

    const QByteArray morning = "Repeating power events:\n  wakepoweron at 8:55AM every day\n";
    const QByteArray midnight = "Repeating power events:\n  wakepoweron at 0:10AM every day\n";
    const QByteArray twelve = "Repeating power events:\n  wakepoweron at 12:10AM every day\n";
    const QByteArray once =
        "Scheduled power events:\n [0]  wakeorpoweron at 12/15/2026 08:55:00 by 'pmset'\n";
    QTest::newRow("daily found") << morning
                                 << TaskSchedule::of<TaskSchedule::Daily>({times({{9, 0}})})
                                 << true;
    QTest::newRow("daily, other time")
        << morning << TaskSchedule::of<TaskSchedule::Daily>({times({{10, 0}})}) << false;
    QTest::newRow("daily 00:15 against 0:10AM")
        << midnight << TaskSchedule::of<TaskSchedule::Daily>({times({{0, 15}})}) << true;
    QTest::newRow("daily 00:15 against 12:10AM")
        << twelve << TaskSchedule::of<TaskSchedule::Daily>({times({{0, 15}})}) << true;
    QTest::newRow("2:10AM is not inside 12:10AM")
        << twelve << TaskSchedule::of<TaskSchedule::Daily>({times({{2, 15}})}) << false;
    QTest::newRow("daily without times")
        << morning << TaskSchedule::of<TaskSchedule::Daily>({{}}) << false;
    QTest::newRow("no events") << QByteArray("No scheduled events.\n")
                               << TaskSchedule::of<TaskSchedule::Daily>({times({{9, 0}})}) << false;
    QTest::newRow("monthly sees a one-time event")
        << once << TaskSchedule::of<TaskSchedule::Monthly>({15, times({{9, 0}})}) << true;
    QTest::newRow("monthly sees a repeating event")
        << morning << TaskSchedule::of<TaskSchedule::Monthly>({15, times({{9, 0}})}) << true;
    QTest::newRow("monthly without events")
        << QByteArray("No scheduled events.\n")
        << TaskSchedule::of<TaskSchedule::Monthly>({15, times({{9, 0}})}) << false;
    QTest::newRow("weekly never") << morning
                                  << TaskSchedule::of<TaskSchedule::Weekly>({{2}, times({{9, 0}})})
                                  << false;
    QTest::newRow("last day never")
        << morning << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({times({{9, 0}})}) << false;
    QTest::newRow("nth weekday never")
        << morning << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({1, 2, times({{9, 0}})})
        << false;
    QTest::newRow("interval never")
        << morning << TaskSchedule::of<TaskSchedule::Interval>({5}) << false;
}

void TestPmsetService::checksSystemSchedule()
{
    QFETCH(QByteArray, output);
    QFETCH(TaskSchedule, schedule);
    QFETCH(bool, scheduled);

    QTemporaryDir dir;
    const QString argsFile = dir.filePath(QStringLiteral("args"));
    TestSupport::writeFile(dir.filePath(QStringLiteral("output")), output);
    const QString fake = dir.filePath(QStringLiteral("pmset"));
    TestSupport::writeScript(fake, "#!/bin/sh\necho \"$@\" > '" + argsFile.toUtf8() + "'\ncat '" +
                                       dir.filePath(QStringLiteral("output")).toUtf8() + "'\n");
    qputenv("BRENMOR_OPS_PMSET", fake.toUtf8());
    const bool found = PmsetService().isWakeScheduledInSystem(taskWith(schedule));
    qunsetenv("BRENMOR_OPS_PMSET");
    QCOMPARE(found, scheduled);
    const QByteArray args = TestSupport::readFile(argsFile);
    if (!args.isEmpty())
        QCOMPARE(args, QByteArray("-g sched\n"));
}

void TestPmsetService::unreadableScheduleMeansNotScheduled()
{
    QTemporaryDir dir;
    qputenv("BRENMOR_OPS_PMSET", dir.filePath(QStringLiteral("missing")).toUtf8());
    QCOMPARE(PmsetService().currentWakeSchedule(), QString());
    QVERIFY(!PmsetService().isWakeScheduledInSystem(
        taskWith(TaskSchedule::of<TaskSchedule::Monthly>({15, times({{9, 0}})}))));

    // Output that is not UTF-8 is as good as none.
    const QString fake = dir.filePath(QStringLiteral("pmset"));
    TestSupport::writeScript(fake, "#!/bin/sh\nprintf 'wakeorpoweron \\377\\376'\n");
    qputenv("BRENMOR_OPS_PMSET", fake.toUtf8());
    QCOMPARE(PmsetService().currentWakeSchedule(), QString());
    qunsetenv("BRENMOR_OPS_PMSET");
}

QTEST_GUILESS_MAIN(TestPmsetService)
#include "TestPmsetService.moc"
