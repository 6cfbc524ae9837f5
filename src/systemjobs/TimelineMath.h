#pragma once

#include "LaunchdJob.h"
#include "RunHistory.h"
#include "ScheduledTask.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QTimeZone>

#include <optional>

// The day timeline's arithmetic, free of drawing: which rows exist, and where on the day (in
// minutes since local midnight) every wake window, planned marker and run marker lies. The
// view only maps minutes to points. "Now" and the time zone are passed in, so a test can
// stand on any day.
namespace TimelineMath {

inline constexpr int minutesPerDay = 1440;
// The wake event fires this long before a planned run.
inline constexpr int wakeLeadMinutes = 5;
// A run that starts this close to a planned time stands for it: the planned marker is hidden.
inline constexpr int plannedRunTolerance = 5;
inline constexpr double plannedMarkerMinutes = 3;
inline constexpr double minimumRunMinutes = 1;
// No marker is drawn narrower than this, however wide the track.
inline constexpr double minimumMarkerPoints = 2;
// Runs are drawn at least this wide, so a run of a task that starts every minute still reads
// as a mark of its own (a failed one among successes above all).
inline constexpr double minimumRunPoints = 4;

// The colour family of a task's markers, by schedule kind.
enum class MarkerColour { green, blue, purple };
MarkerColour markerColour(TaskSchedule::Kind kind);

// Weekday number of the model: 1 = Sunday ... 7 = Saturday.
int weekdayNumber(QDate date);

// Today's planned minutes of a schedule, in stored order.
QList<int> occurrenceMinutes(const TaskSchedule& schedule, QDate today);
QList<int> occurrenceMinutes(const ScheduledTask& task, QDate today);
// A system job's planned minutes; calendar jobs show every day at Hour:Minute.
QList<int> occurrenceMinutes(const LaunchdJob& job);

// Rows: enabled tasks that are not run-at-load, in the given order.
bool taskHasRow(const ScheduledTask& task);
QList<ScheduledTask> tasksWithRows(const QList<ScheduledTask>& tasks);
// Rows while system jobs are shown: enabled, not our own task agents, with an interval or a
// calendar; in the given order.
bool systemJobHasRow(const LaunchdJob& job);
QList<LaunchdJob> systemJobsWithRows(const QList<LaunchdJob>& jobs);

// A stretch of the track: starts at `start`, `width` long, both in minutes.
struct Span {
    double start = 0;
    double width = 0;
    friend bool operator==(const Span&, const Span&) = default;
};

struct RunMarker {
    Span span;
    bool failed = false; // non-zero exit status: drawn red whatever the kind
    QDateTime startedAt;
    qint32 exitCode = 0;
    friend bool operator==(const RunMarker&, const RunMarker&) = default;
};

// What the agent's files tell beside the run history.
struct AgentActivity {
    // Since when the agent has run with the task's present schedule: when its plist was last
    // written (every install, enable and schedule change rewrites it). None: no agent.
    std::optional<QDateTime> installedAt;
    // The latest write to the task's output logs. Output newer than the end of the last
    // recorded run means a run is still going (the history gains its line when a run ends).
    std::optional<QDateTime> lastOutputAt;
};

// Everything a task row draws, bottom layer first.
struct TaskRow {
    MarkerColour colour = MarkerColour::green;
    QList<Span> wakeWindows; // only when the task wakes the machine
    // Calendar schedules only: today's planned times no run stands for. Interval schedules
    // have none: launchd counts their runs from when it loaded the agent, not from midnight.
    QList<Span> plannedMarkers;
    // The planned minutes that passed with no run (see missedMinutes()).
    QList<int> missed;
    // Runs that started today: successes first, failed runs last, so they are drawn on top.
    QList<RunMarker> runs;
    // A run that no history line records yet is going.
    bool runGoing = false;
};

// Whole minutes since local midnight of a moment, in `zone`.
int minuteOfDay(const QDateTime& moment, const QTimeZone& zone);
// The runs of the history that started on the local date of `now`.
QList<TaskRunRecord> runsOfToday(const QList<TaskRunRecord>& history, const QDateTime& now,
                                 const QTimeZone& zone);
// Wake windows: from m - 5 (never before midnight) for 5 minutes.
QList<Span> wakeWindows(const QList<int>& plannedMinutes);
// The planned minutes no run stands for (|run start - m| < 5, both in whole minutes).
QList<int> plannedNotRun(const QList<int>& plannedMinutes, const QList<int>& runStartMinutes);
// Whether a run is going: output was written after the last recorded run ended (or with no
// run recorded at all).
bool runGoing(const QList<TaskRunRecord>& history, const AgentActivity& activity);
// Of `notRun` (planned minutes today that no run stands for), those missed: the task is
// enabled with a calendar schedule, its agent was installed at the planned moment, the moment
// is more than the tolerance in the past, and no run that is still going covers it (one that
// started after the last recorded run ended; launchd starts no second run meanwhile).
QList<int> missedMinutes(const ScheduledTask& task, const QList<int>& notRun,
                         const QList<TaskRunRecord>& history, const QDateTime& now,
                         const QTimeZone& zone, const AgentActivity& activity);
// A run's marker: at its start minute, as wide as it lasted but at least one minute.
RunMarker runMarker(const TaskRunRecord& run, const QTimeZone& zone);

// A task's row for the day of `now`. Without `activity` the agent counts as not installed,
// so nothing is missed.
TaskRow taskRow(const ScheduledTask& task, const QList<TaskRunRecord>& history,
                const QDateTime& now, const QTimeZone& zone, const AgentActivity& activity = {});
// The same with the history read from the task's run-history file in `logDir`.
TaskRow loadTaskRow(const ScheduledTask& task, const QString& logDir, const QDateTime& now,
                    const QTimeZone& zone, const AgentActivity& activity = {});
// The part of a history a row needs: today's runs and the run that ended last.
QList<TaskRunRecord> historyForRow(const QList<TaskRunRecord>& history, const QDateTime& now,
                                   const QTimeZone& zone);

// "HH:MM" of a minute of the day.
QString clockText(int minute);
// What a row shows, in words: the planned times, today's runs with their status, the missed
// times, a run in progress and the wake windows. The row's accessible description and tooltip.
QString describeTaskRow(const ScheduledTask& task, const TaskRow& row, const QDate& today);
// The same for a system job row: when the job is planned to start.
QString describeSystemJobRow(const LaunchdJob& job);
// A system job's markers: 3 minutes wide at each planned minute.
QList<Span> systemJobMarkers(const LaunchdJob& job);

// Mapping onto a track `trackWidth` points wide for a day of `totalMinutes`.
double xForMinute(double minute, double trackWidth, double totalMinutes = minutesPerDay);
double widthForMinutes(double minutes, double trackWidth, double totalMinutes = minutesPerDay);

} // namespace TimelineMath
