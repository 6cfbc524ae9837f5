#pragma once

#include "ScheduledTask.h"

#include <QDateTime>
#include <QList>
#include <QTimeZone>

#include <optional>

// One line of `brenmor-ops next`.
struct PlannedRun {
    ScheduledTask task;
    std::optional<QDateTime> next;   // in the zone asked for; none for interval, login and never
    std::optional<TimeOfDay> wakeAt; // the registered wake time of day, five minutes ahead
};

// The next runs of `tasks`, soonest first; tasks without a time of the clock follow in file
// order. Only tasks a registration pass gives a wake event carry a wake time.
QList<PlannedRun> planNextRuns(const QList<ScheduledTask>& tasks, const QDateTime& now,
                               const QTimeZone& zone);
