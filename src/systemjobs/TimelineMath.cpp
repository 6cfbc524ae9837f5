#include "TimelineMath.h"

#include "NextRun.h"

#include <algorithm>
#include <cmath>

namespace TimelineMath {

namespace {

// Times outside the day cannot be placed on the track; they are left out rather than drawn
// past its end.
void appendIfOnDay(QList<int>& minutes, qint64 minute)
{
    if (minute >= 0 && minute < minutesPerDay)
        minutes.append(static_cast<int>(minute));
}

QList<int> minutesOf(const QList<TimeOfDay>& times)
{
    QList<int> minutes;
    minutes.reserve(times.size());
    for (const TimeOfDay& time : times)
        appendIfOnDay(minutes, time.totalMinutes());
    return minutes;
}

QList<int> everyNMinutes(qint64 step)
{
    QList<int> minutes;
    // A step of zero or less would never leave midnight; such a schedule has no markers.
    if (step <= 0)
        return minutes;
    for (qint64 m = 0; m < minutesPerDay; m += step)
        minutes.append(static_cast<int>(m));
    return minutes;
}

} // namespace

MarkerColour markerColour(TaskSchedule::Kind kind)
{
    switch (kind) {
    case TaskSchedule::Kind::monthly:
    case TaskSchedule::Kind::monthlyLastDay:
    case TaskSchedule::Kind::monthlyNthWeekday:
        return MarkerColour::purple;
    case TaskSchedule::Kind::weekly:
        return MarkerColour::blue;
    case TaskSchedule::Kind::interval:
    case TaskSchedule::Kind::daily:
    case TaskSchedule::Kind::runAtLoad:
        return MarkerColour::green;
    }
    return MarkerColour::green;
}

int weekdayNumber(QDate date) { return ::weekdayNumber(date); }

QList<int> occurrenceMinutes(const TaskSchedule& schedule, QDate today)
{
    if (const auto* interval = schedule.as<TaskSchedule::Interval>())
        return everyNMinutes(interval->minutes);
    return runsOnDate(schedule, today) ? minutesOf(schedule.times()) : QList<int>();
}

QList<int> occurrenceMinutes(const ScheduledTask& task, QDate today)
{
    return occurrenceMinutes(task.schedule, today);
}

QList<int> occurrenceMinutes(const LaunchdJob& job)
{
    if (job.startInterval) {
        // Jobs more often than once a minute would fill the track; they get no markers.
        if (*job.startInterval < 60)
            return {};
        return everyNMinutes(*job.startInterval / 60);
    }
    if (job.startCalendarInterval) {
        // Day, Weekday and Month are ignored: the job is shown on every day.
        const auto& calendar = *job.startCalendarInterval;
        QList<int> minutes;
        appendIfOnDay(minutes, calendar.value(QStringLiteral("Hour"), 0) * 60 +
                                   calendar.value(QStringLiteral("Minute"), 0));
        return minutes;
    }
    return {};
}

bool taskHasRow(const ScheduledTask& task)
{
    return task.isEnabled && task.schedule.kind() != TaskSchedule::Kind::runAtLoad;
}

QList<ScheduledTask> tasksWithRows(const QList<ScheduledTask>& tasks)
{
    QList<ScheduledTask> rows;
    std::copy_if(tasks.cbegin(), tasks.cend(), std::back_inserter(rows), taskHasRow);
    return rows;
}

bool systemJobHasRow(const LaunchdJob& job)
{
    return !job.label.startsWith(QLatin1String("com.brenmor-ops.task.")) && !job.disabled &&
           (job.startInterval || job.startCalendarInterval);
}

QList<LaunchdJob> systemJobsWithRows(const QList<LaunchdJob>& jobs)
{
    QList<LaunchdJob> rows;
    std::copy_if(jobs.cbegin(), jobs.cend(), std::back_inserter(rows), systemJobHasRow);
    return rows;
}

int minuteOfDay(const QDateTime& moment, const QTimeZone& zone)
{
    const QTime time = moment.toTimeZone(zone).time();
    return time.hour() * 60 + time.minute();
}

QList<TaskRunRecord> runsOfToday(const QList<TaskRunRecord>& history, const QDateTime& now,
                                 const QTimeZone& zone)
{
    const QDate today = now.toTimeZone(zone).date();
    QList<TaskRunRecord> runs;
    for (const TaskRunRecord& run : history) {
        if (run.startedAt.toTimeZone(zone).date() == today)
            runs.append(run);
    }
    return runs;
}

QList<Span> wakeWindows(const QList<int>& plannedMinutes)
{
    QList<Span> windows;
    windows.reserve(plannedMinutes.size());
    // Clamped at midnight, not wrapped to the evening before: the timeline shows one day.
    for (int m : plannedMinutes)
        windows.append({double(std::max(0, m - wakeLeadMinutes)), double(wakeLeadMinutes)});
    return windows;
}

QList<int> plannedNotRun(const QList<int>& plannedMinutes, const QList<int>& runStartMinutes)
{
    QList<int> shown;
    for (int m : plannedMinutes) {
        const bool ran =
            std::any_of(runStartMinutes.cbegin(), runStartMinutes.cend(),
                        [m](int start) { return std::abs(start - m) < plannedRunTolerance; });
        if (!ran)
            shown.append(m);
    }
    return shown;
}

RunMarker runMarker(const TaskRunRecord& run, const QTimeZone& zone)
{
    const int start = minuteOfDay(run.startedAt, zone);
    double width = std::max(double(run.durationSeconds()) / 60.0, minimumRunMinutes);
    // A run past midnight ends at the track's end instead of running off it.
    width = std::max(std::min(width, double(minutesPerDay - start)), minimumRunMinutes);
    return {{double(start), width}, run.exitCode != 0, run.startedAt};
}

TaskRow taskRow(const ScheduledTask& task, const QList<TaskRunRecord>& history,
                const QDateTime& now, const QTimeZone& zone)
{
    TaskRow row;
    row.colour = markerColour(task.schedule.kind());
    const QList<int> planned = occurrenceMinutes(task, now.toTimeZone(zone).date());
    if (task.wakeBeforeRun)
        row.wakeWindows = wakeWindows(planned);
    QList<int> runStarts;
    for (const TaskRunRecord& run : runsOfToday(history, now, zone)) {
        row.runs.append(runMarker(run, zone));
        runStarts.append(minuteOfDay(run.startedAt, zone));
    }
    for (int m : plannedNotRun(planned, runStarts))
        row.plannedMarkers.append({double(m), plannedMarkerMinutes});
    return row;
}

TaskRow loadTaskRow(const ScheduledTask& task, const QString& logDir, const QDateTime& now,
                    const QTimeZone& zone)
{
    return taskRow(task, RunHistory::loadRunHistory(logDir, task.shortId()), now, zone);
}

QList<Span> systemJobMarkers(const LaunchdJob& job)
{
    QList<Span> markers;
    for (int m : occurrenceMinutes(job))
        markers.append({double(m), plannedMarkerMinutes});
    return markers;
}

double xForMinute(double minute, double trackWidth, double totalMinutes)
{
    return totalMinutes > 0 ? minute / totalMinutes * trackWidth : 0;
}

double widthForMinutes(double minutes, double trackWidth, double totalMinutes)
{
    return std::max(xForMinute(minutes, trackWidth, totalMinutes), minimumMarkerPoints);
}

} // namespace TimelineMath
