#include "TimelineMath.h"

#include "FailureAlert.h"
#include "NextRun.h"
#include "ScheduleKinds.h"

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
    switch (ScheduleKinds::cadence(kind)) {
    case ScheduleKinds::Cadence::monthly:
        return MarkerColour::purple;
    case ScheduleKinds::Cadence::weekly:
        return MarkerColour::blue;
    case ScheduleKinds::Cadence::daily:
        return MarkerColour::green;
    }
    return MarkerColour::green;
}

int weekdayNumber(QDate date) { return ::weekdayNumber(date); }

QList<int> occurrenceMinutes(const TaskSchedule& schedule, QDate today)
{
    if (const std::optional<int> every = ScheduleKinds::everyMinutes(schedule))
        return everyNMinutes(*every);
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
    return task.isEnabled && !ScheduleKinds::runsAtLoad(task.schedule);
}

QList<ScheduledTask> tasksWithRows(const QList<ScheduledTask>& tasks)
{
    QList<ScheduledTask> rows;
    std::copy_if(tasks.cbegin(), tasks.cend(), std::back_inserter(rows), taskHasRow);
    return rows;
}

bool systemJobHasRow(const LaunchdJob& job)
{
    return !FailureAlert::isTaskLabel(job.label) && !job.disabled &&
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
    return {{double(start), width}, run.exitCode != 0, run.startedAt, run.exitCode};
}

namespace {

std::optional<QDateTime> lastRecordedEnd(const QList<TaskRunRecord>& history)
{
    std::optional<QDateTime> last;
    for (const TaskRunRecord& run : history) {
        if (!last || run.endedAt > *last)
            last = run.endedAt;
    }
    return last;
}

using ScheduleKinds::isCalendar;

} // namespace

bool runGoing(const QList<TaskRunRecord>& history, const AgentActivity& activity)
{
    if (!activity.lastOutputAt)
        return false;
    const std::optional<QDateTime> lastEnd = lastRecordedEnd(history);
    return !lastEnd || *activity.lastOutputAt > *lastEnd;
}

QList<int> missedMinutes(const ScheduledTask& task, const QList<int>& notRun,
                         const QList<TaskRunRecord>& history, const QDateTime& now,
                         const QTimeZone& zone, const AgentActivity& activity)
{
    QList<int> missed;
    if (!task.isEnabled || !isCalendar(task.schedule.kind()) || !activity.installedAt)
        return missed;
    const QDate today = now.toTimeZone(zone).date();
    const bool going = runGoing(history, activity);
    const std::optional<QDateTime> lastEnd = lastRecordedEnd(history);
    for (int m : notRun) {
        const QDateTime planned(today, QTime(m / 60, m % 60), zone);
        // The agent came (or came back) after this time: nothing was due to run then.
        if (*activity.installedAt > planned)
            continue;
        // A run may start a little late and is recorded only when it ends.
        if (planned.secsTo(now) <= plannedRunTolerance * 60)
            continue;
        // The run that is going stands for it, or launchd held it back while that one ran.
        if (going && (!lastEnd || planned >= *lastEnd))
            continue;
        missed.append(m);
    }
    return missed;
}

TaskRow taskRow(const ScheduledTask& task, const QList<TaskRunRecord>& history,
                const QDateTime& now, const QTimeZone& zone, const AgentActivity& activity)
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
    // Failed runs last: drawn above the successes around them.
    std::stable_partition(row.runs.begin(), row.runs.end(),
                          [](const RunMarker& run) { return !run.failed; });
    row.runGoing = runGoing(history, activity);
    if (isCalendar(task.schedule.kind())) {
        const QList<int> notRun = plannedNotRun(planned, runStarts);
        for (int m : notRun)
            row.plannedMarkers.append({double(m), plannedMarkerMinutes});
        row.missed = missedMinutes(task, notRun, history, now, zone, activity);
    }
    return row;
}

TaskRow loadTaskRow(const ScheduledTask& task, const QString& logDir, const QDateTime& now,
                    const QTimeZone& zone, const AgentActivity& activity)
{
    return taskRow(task, RunHistory::loadRunHistory(logDir, task.shortId()), now, zone, activity);
}

QList<TaskRunRecord> historyForRow(const QList<TaskRunRecord>& history, const QDateTime& now,
                                   const QTimeZone& zone)
{
    QList<TaskRunRecord> kept = runsOfToday(history, now, zone);
    const TaskRunRecord* last = nullptr;
    for (const TaskRunRecord& run : history) {
        if (!last || run.endedAt > last->endedAt)
            last = &run;
    }
    const bool lastKept = last && std::any_of(kept.cbegin(), kept.cend(), [last](const auto& run) {
                              return run.id == last->id;
                          });
    if (last && !lastKept)
        kept.append(*last);
    return kept;
}

QString clockText(int minute)
{
    return QStringLiteral("%1:%2")
        .arg(minute / 60, 2, 10, QLatin1Char('0'))
        .arg(minute % 60, 2, 10, QLatin1Char('0'));
}

namespace {

// "a, b and c"
QString listText(const QStringList& items)
{
    if (items.size() <= 1)
        return items.value(0);
    return QStringList(items.mid(0, items.size() - 1)).join(QStringLiteral(", ")) +
           QStringLiteral(" and ") + items.last();
}

QString runText(const RunMarker& run)
{
    const QString at = clockText(int(run.span.start));
    return run.failed ? QStringLiteral("%1 failed (exit status %2)").arg(at).arg(run.exitCode)
                      : QStringLiteral("%1 succeeded").arg(at);
}

// Beyond this many runs a row's text counts them and names only the failed ones.
constexpr int runsListedOneByOne = 12;

} // namespace

QString describeTaskRow(const ScheduledTask& task, const TaskRow& row, const QDate& today)
{
    QStringList sentences;
    if (const std::optional<int> every = ScheduleKinds::everyMinutes(task.schedule)) {
        sentences << QStringLiteral("Runs every %1 minute%2.")
                         .arg(*every)
                         .arg(*every == 1 ? QString() : QStringLiteral("s"));
    } else {
        QStringList planned;
        for (int m : occurrenceMinutes(task, today))
            planned << clockText(m);
        sentences << (planned.isEmpty() ? QStringLiteral("Nothing planned today.")
                                        : QStringLiteral("Planned at %1.").arg(listText(planned)));
    }

    QList<RunMarker> runs = row.runs;
    std::sort(runs.begin(), runs.end(),
              [](const RunMarker& a, const RunMarker& b) { return a.startedAt < b.startedAt; });
    if (runs.isEmpty()) {
        sentences << QStringLiteral("No runs today.");
    } else if (runs.size() <= runsListedOneByOne) {
        QStringList listed;
        for (const RunMarker& run : std::as_const(runs))
            listed << runText(run);
        sentences << QStringLiteral("Runs: %1.").arg(listText(listed));
    } else {
        QStringList failed;
        for (const RunMarker& run : std::as_const(runs)) {
            if (run.failed)
                failed << runText(run);
        }
        sentences << QStringLiteral("%1 runs: %2 succeeded, %3 failed%4.")
                         .arg(runs.size())
                         .arg(runs.size() - failed.size())
                         .arg(failed.size())
                         .arg(failed.isEmpty() ? QString()
                                               : QStringLiteral(": ") + listText(failed));
    }
    if (row.runGoing)
        sentences << QStringLiteral("A run is in progress.");
    if (!row.missed.isEmpty()) {
        QStringList missed;
        for (int m : row.missed)
            missed << clockText(m);
        sentences << QStringLiteral("Missed: %1.").arg(listText(missed));
    }
    if (!row.wakeWindows.isEmpty()) {
        QStringList windows;
        for (const Span& window : row.wakeWindows) {
            windows << QStringLiteral("%1 to %2")
                           .arg(clockText(int(window.start)),
                                clockText(int(window.start + window.width)));
        }
        sentences << QStringLiteral("Wake windows: %1.").arg(listText(windows));
    }
    return sentences.join(QLatin1Char(' '));
}

QString describeSystemJobRow(const LaunchdJob& job)
{
    if (job.startInterval) {
        const qint64 seconds = *job.startInterval;
        if (seconds % 60 == 0) {
            return QStringLiteral("Starts every %1 minute%2.")
                .arg(seconds / 60)
                .arg(seconds == 60 ? QString() : QStringLiteral("s"));
        }
        return QStringLiteral("Starts every %1 seconds.").arg(seconds);
    }
    const QList<int> minutes = occurrenceMinutes(job);
    if (minutes.isEmpty())
        return QStringLiteral("Nothing planned.");
    return QStringLiteral("Starts at %1.").arg(clockText(minutes.first()));
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
