#pragma once

#include "CachedZone.h"
#include "TaskSchedule.h"

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <optional>

// Weekday number of the model: 1 = Sunday ... 7 = Saturday.
int weekdayNumber(QDate date);

// Whether a schedule lets a run through on `date`: the days launchd fires and the wrapper's
// guard keeps (interval: every day; run at load: never).
bool runsOnDate(const TaskSchedule& schedule, QDate date);

// When a schedule runs next: the first moment strictly after `now` at which the agent fires
// and the wrapper lets the command through, read on the wall clock of `zone`. The result is
// expressed in `zone`.
//
// - runAtLoad: nothing (it runs at the next login, which is no time of the clock).
// - interval: nothing. launchd counts a StartInterval from the moment it loaded the agent,
//   which no file records; any time shown would be off by up to a whole interval. Callers
//   describe interval schedules by their period instead.
// - monthly on day 29 to 31: months without that day are skipped, as launchd skips them (it
//   never moves the run to the month's last day).
// - last day of month and Nth weekday: the days the wrapper's guard lets through (tomorrow is
//   the 1st; the weekday falls in days 7(n-1)+1 to 7n).
// - Clock changes follow the calendar rules of launchd (those of cron, for entries that name
//   the hour, as ours all do): a time skipped by a spring-forward gap runs once at the end of
//   the gap; a time that occurs twice at the fall-back runs only the first time.
// - Nothing, too, for a schedule that can never fire: no times, no weekdays, a day outside
//   1 to 31, an ordinal outside 1 to 5 or a weekday outside 1 to 7.
std::optional<QDateTime> nextRun(const TaskSchedule& schedule, const QDateTime& now,
                                 const QTimeZone& zone);

// The zone's offsets over the span nextRun() searches from `nowSecs` (seconds since the epoch):
// made once, it serves every schedule of a plan.
CachedZone nextRunZone(const QTimeZone& zone, qint64 nowSecs);

// nextRun() for many schedules: the moment strictly after `nowSecs`, through one cached zone.
std::optional<QDateTime> nextRun(const TaskSchedule& schedule, qint64 nowSecs,
                                 const CachedZone& zone);
