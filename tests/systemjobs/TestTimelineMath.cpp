#include "TaskBuilder.h"
#include "TestSupport.h"
#include "TimelineMath.h"

#include <QTemporaryDir>
#include <QTest>

using namespace TimelineMath;
using Kind = TaskSchedule::Kind;

namespace {

// A zone one hour east of UTC, so local and UTC dates differ around midnight.
const QTimeZone zone(3600);

QDateTime local(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), zone);
}

TaskRunRecord run(const QDateTime& start, int seconds, int exitCode = 0)
{
    return {QUuid::createUuid(), start.toUTC(), start.toUTC().addSecs(seconds), exitCode};
}

ScheduledTask task(TaskSchedule schedule, bool enabled = true, bool wake = false)
{
    return TaskBuilder(QStringLiteral("t"))
        .schedule(std::move(schedule))
        .enabled(enabled)
        .wake(wake);
}

LaunchdJob job(const QString& label, std::optional<qint64> interval,
               std::optional<QMap<QString, qint64>> calendar = std::nullopt)
{
    LaunchdJob j;
    j.id = j.url = QStringLiteral("/jobs/") + label + QStringLiteral(".plist");
    j.label = label;
    j.startInterval = interval;
    j.startCalendarInterval = std::move(calendar);
    return j;
}

// Runs every `step` minutes from `first` until `until`, the failed ones at the given minutes.
QList<TaskRunRecord> runsEvery(const QDateTime& first, int step, const QDateTime& until,
                               const QList<int>& failedMinutes = {})
{
    QList<TaskRunRecord> runs;
    for (QDateTime start = first; start < until; start = start.addSecs(step * 60)) {
        const int minute = minuteOfDay(start, zone);
        runs << run(start, 40, failedMinutes.contains(minute) ? 1 : 0);
    }
    return runs;
}

QList<double> starts(const QList<Span>& spans)
{
    QList<double> result;
    for (const Span& s : spans)
        result << s.start;
    return result;
}

} // namespace

class TestTimelineMath : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void taskOccurrences_data()
    {
        QTest::addColumn<TaskSchedule>("schedule");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QList<int>>("expected");

        const QList<TimeOfDay> nine{{9, 0}};
        const QList<int> at9{540};
        const QList<int> none;
        // March 2025: the 1st is a Saturday, Tuesdays fall on 4, 11, 18, 25.
        const QDate saturday(2025, 3, 1);
        QTest::newRow("run at load")
            << TaskSchedule::of<TaskSchedule::RunAtLoad>() << saturday << none;
        QTest::newRow("interval 0")
            << TaskSchedule::of<TaskSchedule::Interval>({0}) << saturday << none;
        QTest::newRow("interval 1440")
            << TaskSchedule::of<TaskSchedule::Interval>({1440}) << saturday << QList<int>{0};
        QTest::newRow("interval 500") << TaskSchedule::of<TaskSchedule::Interval>({500}) << saturday
                                      << QList<int>{0, 500, 1000};
        QTest::newRow("daily keeps stored order")
            << TaskSchedule::of<TaskSchedule::Daily>({{{17, 30}, {0, 2}, {9, 5}}}) << saturday
            << QList<int>{1050, 2, 545};
        QTest::newRow("weekly on its day")
            << TaskSchedule::of<TaskSchedule::Weekly>({{2, 7}, nine}) << saturday << at9;
        QTest::newRow("weekly Monday on a Tuesday")
            << TaskSchedule::of<TaskSchedule::Weekly>({{2}, nine}) << QDate(2025, 3, 4) << none;
        QTest::newRow("weekly Sunday")
            << TaskSchedule::of<TaskSchedule::Weekly>({{1}, nine}) << QDate(2025, 3, 2) << at9;
        QTest::newRow("monthly 15 on the 15th")
            << TaskSchedule::of<TaskSchedule::Monthly>({15, nine}) << QDate(2025, 3, 15) << at9;
        QTest::newRow("monthly 15 on the 14th")
            << TaskSchedule::of<TaskSchedule::Monthly>({15, nine}) << QDate(2025, 3, 14) << none;
        QTest::newRow("last day: Feb 28 of a common year")
            << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine}) << QDate(2025, 2, 28) << at9;
        QTest::newRow("last day: Feb 28 of a leap year")
            << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine}) << QDate(2024, 2, 28) << none;
        QTest::newRow("last day: Feb 29")
            << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine}) << QDate(2024, 2, 29) << at9;
        QTest::newRow("last day: Dec 31")
            << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine}) << QDate(2025, 12, 31) << at9;
        QTest::newRow("last day: Apr 30")
            << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine}) << QDate(2025, 4, 30) << at9;
        QTest::newRow("last day: Mar 30")
            << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine}) << QDate(2025, 3, 30) << none;
        QTest::newRow("2nd Tuesday on the 11th")
            << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, nine}) << QDate(2025, 3, 11)
            << at9;
        QTest::newRow("2nd Tuesday on the 4th")
            << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, nine}) << QDate(2025, 3, 4)
            << none;
        QTest::newRow("2nd Tuesday on the 18th")
            << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, nine}) << QDate(2025, 3, 18)
            << none;
        QTest::newRow("2nd Tuesday on a Wednesday 12th")
            << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, nine}) << QDate(2025, 3, 12)
            << none;
        QTest::newRow("5th Saturday on the 29th")
            << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({5, 7, nine}) << QDate(2025, 3, 29)
            << at9;
        QTest::newRow("1st Sunday on the 2nd")
            << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({1, 1, nine}) << QDate(2025, 3, 2)
            << at9;
    }

    void taskOccurrences()
    {
        QFETCH(TaskSchedule, schedule);
        QFETCH(QDate, today);
        QFETCH(QList<int>, expected);
        QCOMPARE(occurrenceMinutes(schedule, today), expected);
    }

    void intervalMarkerCounts_data()
    {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("last");
        QTest::newRow("15") << 15 << 96 << 1425;
        QTest::newRow("7") << 7 << 206 << 1435;
        QTest::newRow("1") << 1 << 1440 << 1439;
        QTest::newRow("60") << 60 << 24 << 1380;
    }

    void intervalMarkerCounts()
    {
        QFETCH(int, minutes);
        QFETCH(int, count);
        QFETCH(int, last);
        const QList<int> planned = occurrenceMinutes(
            TaskSchedule::of<TaskSchedule::Interval>({minutes}), QDate(2025, 3, 1));
        QCOMPARE(planned.size(), count);
        QCOMPARE(planned.last(), last);
        QCOMPARE(planned.first(), 0);
        // launchd counts an interval from when it loaded the agent, not from midnight: the row
        // shows the runs themselves, never a planned grid nor a missed time.
        const TaskRow row = taskRow(task(TaskSchedule::of<TaskSchedule::Interval>({minutes})), {},
                                    local(2025, 3, 1, 12, 0), zone, {local(2025, 2, 1, 0, 0), {}});
        QVERIFY(row.plannedMarkers.isEmpty());
        QVERIFY(row.missed.isEmpty());
    }

    void systemJobOccurrences_data()
    {
        QTest::addColumn<LaunchdJob>("job");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("first");
        using Calendar = QMap<QString, qint64>;
        QTest::newRow("30 s") << job(QStringLiteral("a"), 30) << 0 << QList<int>();
        QTest::newRow("59 s") << job(QStringLiteral("a"), 59) << 0 << QList<int>();
        QTest::newRow("60 s") << job(QStringLiteral("a"), 60) << 1440 << QList<int>{0, 1};
        QTest::newRow("300 s") << job(QStringLiteral("a"), 300) << 288 << QList<int>{0, 5};
        QTest::newRow("90 s") << job(QStringLiteral("a"), 90) << 1440 << QList<int>{0, 1};
        QTest::newRow("weekday only")
            << job(QStringLiteral("a"), std::nullopt, Calendar{{QStringLiteral("Weekday"), 1}}) << 1
            << QList<int>{0};
        QTest::newRow("hour and minute")
            << job(QStringLiteral("a"), std::nullopt,
                   Calendar{{QStringLiteral("Hour"), 3}, {QStringLiteral("Minute"), 5}})
            << 1 << QList<int>{185};
        QTest::newRow("minute only")
            << job(QStringLiteral("a"), std::nullopt, Calendar{{QStringLiteral("Minute"), 30}}) << 1
            << QList<int>{30};
        QTest::newRow("day and month ignored") << job(QStringLiteral("a"), std::nullopt,
                                                      Calendar{{QStringLiteral("Day"), 9},
                                                               {QStringLiteral("Month"), 2},
                                                               {QStringLiteral("Hour"), 23},
                                                               {QStringLiteral("Minute"), 59}})
                                               << 1 << QList<int>{1439};
        QTest::newRow("hour beyond the day")
            << job(QStringLiteral("a"), std::nullopt, Calendar{{QStringLiteral("Hour"), 24}}) << 0
            << QList<int>();
        QTest::newRow("interval wins over calendar")
            << job(QStringLiteral("a"), 3600, Calendar{{QStringLiteral("Hour"), 5}}) << 24
            << QList<int>{0, 60};
        QTest::newRow("neither") << job(QStringLiteral("a"), std::nullopt) << 0 << QList<int>();
    }

    void systemJobOccurrences()
    {
        QFETCH(LaunchdJob, job);
        QFETCH(int, count);
        QFETCH(QList<int>, first);
        const QList<int> minutes = occurrenceMinutes(job);
        QCOMPARE(minutes.size(), count);
        QCOMPARE(minutes.mid(0, first.size()), first);
        const QList<Span> markers = systemJobMarkers(job);
        QCOMPARE(markers.size(), count);
        for (int i = 0; i < markers.size(); ++i)
            QCOMPARE(markers[i], (Span{double(minutes[i]), 3}));
    }

    void taskRowsInStoreOrder()
    {
        const ScheduledTask daily = task(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}}));
        const ScheduledTask disabled =
            task(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}}), false);
        const ScheduledTask atLoad = task(TaskSchedule::of<TaskSchedule::RunAtLoad>());
        const ScheduledTask weekly = task(TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{9, 0}}}));
        const QList<ScheduledTask> rows = tasksWithRows({weekly, disabled, atLoad, daily});
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].id, weekly.id);
        QCOMPARE(rows[1].id, daily.id);
        // A lone enabled run-at-load task leaves the screen without task rows.
        QVERIFY(tasksWithRows({atLoad, disabled}).isEmpty());
    }

    void systemJobRowsInGivenOrder()
    {
        LaunchdJob disabled = job(QStringLiteral("disabled"), 300);
        disabled.disabled = true;
        LaunchdJob atLoad = job(QStringLiteral("at-load"), std::nullopt);
        atLoad.runAtLoad = true;
        const QList<LaunchdJob> rows = systemJobsWithRows(
            {job(QStringLiteral("zeta"), 30), disabled, atLoad,
             job(QStringLiteral("com.brenmor-ops.task.ABC"), 300),
             job(QStringLiteral("com.brenmor-ops.helper"), 300),
             job(QStringLiteral("alpha"), std::nullopt, QMap<QString, qint64>{})});
        QStringList labels;
        for (const LaunchdJob& j : rows)
            labels << j.label;
        // A 30-second job keeps its (empty) row; only our task agents are left out by label.
        QCOMPARE(labels,
                 QStringList({QStringLiteral("zeta"), QStringLiteral("com.brenmor-ops.helper"),
                              QStringLiteral("alpha")}));
    }

    void wakeWindowsStartFiveMinutesEarlierClampedAtMidnight()
    {
        const QDateTime now = local(2025, 3, 1, 12, 0);
        const TaskRow row =
            taskRow(task(TaskSchedule::of<TaskSchedule::Daily>({{{0, 2}, {9, 0}}}), true, true), {},
                    now, zone);
        QCOMPARE(row.wakeWindows, (QList<Span>{{0, 5}, {535, 5}}));
        QCOMPARE(row.plannedMarkers, (QList<Span>{{2, 3}, {540, 3}}));
        const TaskRow noWake =
            taskRow(task(TaskSchedule::of<TaskSchedule::Daily>({{{0, 2}, {9, 0}}})), {}, now, zone);
        QVERIFY(noWake.wakeWindows.isEmpty());
    }

    void runsHidePlannedMarkersNearby_data()
    {
        QTest::addColumn<QTime>("runStart");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("3 minutes after") << QTime(9, 3) << true;
        QTest::newRow("4:59 after") << QTime(9, 4, 59) << true;
        QTest::newRow("5 minutes after") << QTime(9, 5) << false;
        QTest::newRow("at the minute") << QTime(9, 0, 30) << true;
        QTest::newRow("4 minutes before") << QTime(8, 56) << true;
        QTest::newRow("5 minutes before") << QTime(8, 55) << false;
    }

    void runsHidePlannedMarkersNearby()
    {
        QFETCH(QTime, runStart);
        QFETCH(bool, hidden);
        const QDateTime start(QDate(2025, 3, 1), runStart, zone);
        const TaskRow row =
            taskRow(task(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}, {18, 0}}})),
                    {run(start, 30)}, local(2025, 3, 1, 20, 0), zone);
        QCOMPARE(starts(row.plannedMarkers),
                 (hidden ? QList<double>{1080} : QList<double>{540, 1080}));
        QCOMPARE(row.runs.size(), 1);
        QCOMPARE(row.runs.first().span.start, double(runStart.hour() * 60 + runStart.minute()));
    }

    void runMarkers_data()
    {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("today");
        QTest::addColumn<Span>("span");
        QTest::addColumn<bool>("failed");
        QTest::newRow("30 seconds is one minute wide")
            << local(2025, 3, 1, 10, 0) << 30 << 0 << true << Span{600, 1} << false;
        QTest::newRow("zero seconds")
            << local(2025, 3, 1, 10, 0) << 0 << 0 << true << Span{600, 1} << false;
        QTest::newRow("90 seconds")
            << local(2025, 3, 1, 10, 0) << 90 << 0 << true << Span{600, 1.5} << false;
        QTest::newRow("an hour") << local(2025, 3, 1, 10, 0, 40) << 3600 << 0 << true
                                 << Span{600, 60} << false;
        QTest::newRow("failed") << local(2025, 3, 1, 10, 0) << 30 << 2 << true << Span{600, 1}
                                << true;
        QTest::newRow("negative exit")
            << local(2025, 3, 1, 10, 0) << 30 << -1 << true << Span{600, 1} << true;
        QTest::newRow("runs past midnight")
            << local(2025, 3, 1, 23, 50) << 3600 << 0 << true << Span{1430, 10} << false;
        QTest::newRow("local midnight is UTC yesterday")
            << local(2025, 3, 1, 0, 30) << 60 << 0 << true << Span{30, 1} << false;
        QTest::newRow("yesterday")
            << local(2025, 2, 28, 23, 59) << 60 << 0 << false << Span{} << false;
        QTest::newRow("tomorrow") << local(2025, 3, 2, 0, 0) << 60 << 0 << false << Span{} << false;
    }

    void runMarkers()
    {
        QFETCH(QDateTime, start);
        QFETCH(int, seconds);
        QFETCH(int, exitCode);
        QFETCH(bool, today);
        QFETCH(Span, span);
        QFETCH(bool, failed);
        const TaskRow row =
            taskRow(task(TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{9, 0}}})),
                    {run(start, seconds, exitCode)}, local(2025, 3, 1, 12, 0), zone);
        QCOMPARE(row.colour, MarkerColour::blue);
        // Saturday: the Monday task plans nothing, its runs still show.
        QVERIFY(row.plannedMarkers.isEmpty());
        QCOMPARE(row.runs.size(), today ? 1 : 0);
        if (!today)
            return;
        QCOMPARE(row.runs.first().span, span);
        QCOMPARE(row.runs.first().failed, failed);
    }

    void readsTheTaskHistoryFile()
    {
        QTemporaryDir dir;
        ScheduledTask t = task(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}}));
        TestSupport::writeFile(RunHistory::historyPath(dir.path(), t.shortId()),
                               "2025-03-01T08:02:00Z\t2025-03-01T08:02:30Z\t0\n"
                               "not a run\n"
                               "2025-02-28T08:00:00Z\t1\n");
        const TaskRow row = loadTaskRow(t, dir.path(), local(2025, 3, 1, 12, 0), zone);
        QCOMPARE(row.runs.size(), 1);
        QCOMPARE(row.runs.first().span, (Span{542, 1}));
        QVERIFY(row.plannedMarkers.isEmpty());
        const TaskRow nothing =
            loadTaskRow(t, dir.filePath(QStringLiteral("missing")), local(2025, 3, 1, 12, 0), zone);
        QVERIFY(nothing.runs.isEmpty());
        QCOMPARE(nothing.plannedMarkers.size(), 1);
    }

    void colours_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<MarkerColour>("colour");
        QTest::newRow("monthly")
            << ScheduleKinds::kindOf<TaskSchedule::Monthly> << MarkerColour::purple;
        QTest::newRow("last day")
            << ScheduleKinds::kindOf<TaskSchedule::MonthlyLastDay> << MarkerColour::purple;
        QTest::newRow("nth weekday")
            << ScheduleKinds::kindOf<TaskSchedule::MonthlyNthWeekday> << MarkerColour::purple;
        QTest::newRow("weekly")
            << ScheduleKinds::kindOf<TaskSchedule::Weekly> << MarkerColour::blue;
        QTest::newRow("interval")
            << ScheduleKinds::kindOf<TaskSchedule::Interval> << MarkerColour::green;
        QTest::newRow("daily") << ScheduleKinds::kindOf<TaskSchedule::Daily> << MarkerColour::green;
        QTest::newRow("run at load")
            << ScheduleKinds::kindOf<TaskSchedule::RunAtLoad> << MarkerColour::green;
    }

    void colours()
    {
        QFETCH(Kind, kind);
        QFETCH(MarkerColour, colour);
        QCOMPARE(markerColour(kind), colour);
    }

    // Which planned times count as missed. "Now" is Saturday 1 March 2025, 12:00.
    void missedSet_data()
    {
        QTest::addColumn<ScheduledTask>("task");
        QTest::addColumn<QList<TaskRunRecord>>("history");
        QTest::addColumn<QDateTime>("installedAt");  // invalid: no agent
        QTest::addColumn<QDateTime>("lastOutputAt"); // invalid: no output
        QTest::addColumn<QList<int>>("missed");

        const QDateTime longAgo = local(2025, 1, 1, 0, 0);
        const QDateTime noon = local(2025, 3, 1, 12, 0);
        const TaskSchedule nineAndTen = TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}, {10, 0}}});
        QTest::newRow("interval runs between the planned marks")
            << task(TaskSchedule::of<TaskSchedule::Interval>({30}))
            << runsEvery(local(2025, 3, 1, 0, 7), 30, noon, {67, 247}) << longAgo << QDateTime()
            << QList<int>();
        QTest::newRow("interval that never ran")
            << task(TaskSchedule::of<TaskSchedule::Interval>({30})) << QList<TaskRunRecord>()
            << longAgo << QDateTime() << QList<int>();
        QTest::newRow("task created after a planned time")
            << task(TaskSchedule::of<TaskSchedule::Daily>({{{0, 21}, {9, 0}}}))
            << QList<TaskRunRecord>() << local(2025, 3, 1, 1, 53) << QDateTime() << QList<int>{540};
        QTest::newRow("installed a minute after the planned time")
            << task(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}})) << QList<TaskRunRecord>()
            << local(2025, 3, 1, 9, 1) << QDateTime() << QList<int>();
        QTest::newRow("installed at the planned moment")
            << task(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}})) << QList<TaskRunRecord>()
            << local(2025, 3, 1, 9, 0) << QDateTime() << QList<int>{540};
        QTest::newRow("disabled task") << task(nineAndTen, false) << QList<TaskRunRecord>()
                                       << longAgo << QDateTime() << QList<int>();
        QTest::newRow("no agent") << task(nineAndTen) << QList<TaskRunRecord>() << QDateTime()
                                  << QDateTime() << QList<int>();
        QTest::newRow("run at load")
            << task(TaskSchedule::of<TaskSchedule::RunAtLoad>()) << QList<TaskRunRecord>()
            << longAgo << QDateTime() << QList<int>();
        QTest::newRow("both passed without a run")
            << task(nineAndTen) << QList<TaskRunRecord>() << longAgo << QDateTime()
            << QList<int>{540, 600};
        QTest::newRow("a run still going since before nine")
            << task(nineAndTen) << QList<TaskRunRecord>{run(local(2025, 2, 28, 9, 0), 60)}
            << longAgo << local(2025, 3, 1, 11, 30) << QList<int>();
        QTest::newRow("first run going, nothing recorded ever")
            << task(nineAndTen) << QList<TaskRunRecord>() << longAgo << local(2025, 3, 1, 9, 30)
            << QList<int>();
        QTest::newRow("output of a run that ended is no run going")
            << task(nineAndTen) << QList<TaskRunRecord>{run(local(2025, 3, 1, 9, 1), 60)} << longAgo
            << local(2025, 3, 1, 9, 2) << QList<int>{600};
        QTest::newRow("failed run stands for its time")
            << task(nineAndTen) << QList<TaskRunRecord>{run(local(2025, 3, 1, 9, 4), 60, 1)}
            << longAgo << QDateTime() << QList<int>{600};
        QTest::newRow("a run five minutes late does not")
            << task(nineAndTen) << QList<TaskRunRecord>{run(local(2025, 3, 1, 9, 5), 60)} << longAgo
            << QDateTime() << QList<int>{540, 600};
        QTest::newRow("four minutes ago is not yet missed")
            << task(TaskSchedule::of<TaskSchedule::Daily>({{{11, 56}}})) << QList<TaskRunRecord>()
            << longAgo << QDateTime() << QList<int>();
        QTest::newRow("five minutes ago is not yet missed")
            << task(TaskSchedule::of<TaskSchedule::Daily>({{{11, 55}}})) << QList<TaskRunRecord>()
            << longAgo << QDateTime() << QList<int>();
        QTest::newRow("six minutes ago is")
            << task(TaskSchedule::of<TaskSchedule::Daily>({{{11, 54}}})) << QList<TaskRunRecord>()
            << longAgo << QDateTime() << QList<int>{714};
        QTest::newRow("later today is not")
            << task(TaskSchedule::of<TaskSchedule::Daily>({{{18, 0}}})) << QList<TaskRunRecord>()
            << longAgo << QDateTime() << QList<int>();
        QTest::newRow("weekly task on another weekday")
            << task(TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{9, 0}}}))
            << QList<TaskRunRecord>() << longAgo << QDateTime() << QList<int>();
    }

    void missedSet()
    {
        QFETCH(ScheduledTask, task);
        QFETCH(QList<TaskRunRecord>, history);
        QFETCH(QDateTime, installedAt);
        QFETCH(QDateTime, lastOutputAt);
        QFETCH(QList<int>, missed);
        AgentActivity activity;
        if (installedAt.isValid())
            activity.installedAt = installedAt;
        if (lastOutputAt.isValid())
            activity.lastOutputAt = lastOutputAt;
        const TaskRow row = taskRow(task, history, local(2025, 3, 1, 12, 0), zone, activity);
        QCOMPARE(row.missed, missed);
        // A missed time is still drawn, hollow, where it was planned.
        for (int m : missed)
            QVERIFY(starts(row.plannedMarkers).contains(double(m)));
    }

    void failedRunsLieAboveSuccesses()
    {
        const QList<TaskRunRecord> history =
            runsEvery(local(2025, 3, 1, 8, 0), 1, local(2025, 3, 1, 8, 10), {482, 487});
        const TaskRow row = taskRow(task(TaskSchedule::of<TaskSchedule::Interval>({1})), history,
                                    local(2025, 3, 1, 12, 0), zone);
        QCOMPARE(row.runs.size(), 10);
        QList<double> order;
        for (const RunMarker& marker : row.runs)
            order << marker.span.start;
        // Successes in time order, then the failed ones, which are drawn last.
        QCOMPARE(order, (QList<double>{480, 481, 483, 484, 485, 486, 488, 489, 482, 487}));
        QVERIFY(row.runs.at(8).failed && row.runs.at(9).failed && !row.runs.at(7).failed);
    }

    void rowDescription_data()
    {
        QTest::addColumn<ScheduledTask>("task");
        QTest::addColumn<QList<TaskRunRecord>>("history");
        QTest::addColumn<QDateTime>("lastOutputAt");
        QTest::addColumn<QString>("description");

        ScheduledTask waking =
            task(TaskSchedule::of<TaskSchedule::Daily>({{{6, 0}, {9, 0}, {18, 0}}}), true, true);
        QTest::newRow("planned, runs, missed and wake windows")
            << waking
            << QList<TaskRunRecord>{run(local(2025, 3, 1, 9, 1), 30, 2),
                                    run(local(2025, 3, 1, 10, 30), 30)}
            << QDateTime()
            << QStringLiteral("Planned at 06:00, 09:00 and 18:00. Runs: 09:01 failed (exit "
                              "status 2) and 10:30 succeeded. Missed: 06:00. Wake windows: "
                              "05:55 to 06:00, 08:55 to 09:00 and 17:55 to 18:00.");
        QTest::newRow("nothing today")
            << task(TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{9, 0}}}))
            << QList<TaskRunRecord>() << QDateTime()
            << QStringLiteral("Nothing planned today. No runs today.");
        QTest::newRow("a run in progress")
            << task(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}})) << QList<TaskRunRecord>()
            << local(2025, 3, 1, 11, 0)
            << QStringLiteral("Planned at 09:00. No runs today. A run is in progress.");
        QTest::newRow("many interval runs are counted, the failed ones named")
            << task(TaskSchedule::of<TaskSchedule::Interval>({1}))
            << runsEvery(local(2025, 3, 1, 8, 0), 1, local(2025, 3, 1, 8, 20), {485}) << QDateTime()
            << QStringLiteral("Runs every 1 minute. 20 runs: 19 succeeded, 1 failed: 08:05 "
                              "failed (exit status 1).");
    }

    void rowDescription()
    {
        QFETCH(ScheduledTask, task);
        QFETCH(QList<TaskRunRecord>, history);
        QFETCH(QDateTime, lastOutputAt);
        QFETCH(QString, description);
        AgentActivity activity{local(2025, 1, 1, 0, 0), std::nullopt};
        if (lastOutputAt.isValid())
            activity.lastOutputAt = lastOutputAt;
        const TaskRow row = taskRow(task, history, local(2025, 3, 1, 12, 0), zone, activity);
        QCOMPARE(describeTaskRow(task, row, QDate(2025, 3, 1)), description);
    }

    void weekdayNumbers()
    {
        QCOMPARE(weekdayNumber(QDate(2025, 3, 2)), 1); // Sunday
        QCOMPARE(weekdayNumber(QDate(2025, 3, 3)), 2); // Monday
        QCOMPARE(weekdayNumber(QDate(2025, 3, 1)), 7); // Saturday
    }

    void mapsMinutesToPoints()
    {
        QCOMPARE(xForMinute(720, 1000), 500.0);
        QCOMPARE(xForMinute(0, 1000), 0.0);
        QCOMPARE(xForMinute(1440, 720), 720.0);
        QCOMPARE(widthForMinutes(144, 1000), 100.0);
        QCOMPARE(widthForMinutes(3, 500), 2.0); // 1.04 points: the two-point minimum
        QCOMPARE(widthForMinutes(5, 1440), 5.0);
    }
};

QTEST_GUILESS_MAIN(TestTimelineMath)
#include "TestTimelineMath.moc"
