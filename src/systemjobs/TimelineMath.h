#pragma once

#include "LaunchdJob.h"
#include "RunHistory.h"
#include "ScheduledTask.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QTimeZone>

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
    friend bool operator==(const RunMarker&, const RunMarker&) = default;
};

// Everything a task row draws, bottom layer first.
struct TaskRow {
    MarkerColour colour = MarkerColour::green;
    QList<Span> wakeWindows;    // only when the task wakes the machine
    QList<Span> plannedMarkers; // those no run of today stands for
    QList<RunMarker> runs;      // runs that started today
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
// A run's marker: at its start minute, as wide as it lasted but at least one minute.
RunMarker runMarker(const TaskRunRecord& run, const QTimeZone& zone);

TaskRow taskRow(const ScheduledTask& task, const QList<TaskRunRecord>& history,
                const QDateTime& now, const QTimeZone& zone);
// The same with the history read from the task's run-history file in `logDir`.
TaskRow loadTaskRow(const ScheduledTask& task, const QString& logDir, const QDateTime& now,
                    const QTimeZone& zone);
// A system job's markers: 3 minutes wide at each planned minute.
QList<Span> systemJobMarkers(const LaunchdJob& job);

// Mapping onto a track `trackWidth` points wide for a day of `totalMinutes`.
double xForMinute(double minute, double trackWidth, double totalMinutes = minutesPerDay);
double widthForMinutes(double minutes, double trackWidth, double totalMinutes = minutesPerDay);

} // namespace TimelineMath
