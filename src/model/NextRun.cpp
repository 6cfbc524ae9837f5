#include "NextRun.h"

#include <QTime>

#include <algorithm>

namespace {

constexpr qint64 secondsPerDay = 86400;
// Long enough for the sparsest schedule (a fifth weekday can be three months away, day 31 two)
// and bounded for schedules that never fire.
constexpr int searchDays = 4 * 366;

int offsetAt(const QTimeZone& zone, qint64 secs)
{
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()));
}

// The instant the agent fires for the wall time `date` `time` in `zone`: of a repeated time
// the first, of a time skipped by a gap the end of the gap.
std::optional<qint64> firingInstant(QDate date, const TimeOfDay& time, const QTimeZone& zone)
{
    const QTime wall(time.hour, time.minute);
    if (!wall.isValid())
        return std::nullopt;
    const qint64 local = QDateTime(date, wall, QTimeZone::utc()).toSecsSinceEpoch();
    const int before = offsetAt(zone, local - secondsPerDay);
    const int after = offsetAt(zone, local + secondsPerDay);
    std::optional<qint64> first;
    for (int offset : {before, after}) {
        const qint64 candidate = local - offset;
        if (offsetAt(zone, candidate) == offset && (!first || candidate < *first))
            first = candidate;
    }
    if (first)
        return first;
    // Read with the offset from before the jump, the wall time lies just past the transition.
    const QTimeZone::OffsetData transition = zone.previousTransition(
        QDateTime::fromSecsSinceEpoch(local - before + 1, QTimeZone::utc()));
    if (transition.atUtc.isValid())
        return transition.atUtc.toSecsSinceEpoch();
    return local - after;
}

} // namespace

bool runsOnDate(const TaskSchedule& schedule, QDate date)
{
    using S = TaskSchedule;
    switch (schedule.kind()) {
    case S::Kind::runAtLoad:
        return false;
    case S::Kind::interval:
    case S::Kind::daily:
        return true;
    case S::Kind::weekly:
        return schedule.as<S::Weekly>()->weekdays.contains(weekdayNumber(date));
    case S::Kind::monthly:
        return date.day() == schedule.as<S::Monthly>()->day;
    case S::Kind::monthlyLastDay:
        return date.addDays(1).day() == 1;
    case S::Kind::monthlyNthWeekday: {
        const auto* nth = schedule.as<S::MonthlyNthWeekday>();
        return weekdayNumber(date) == nth->weekday && (date.day() - 1) / 7 + 1 == nth->nth;
    }
    }
    return false;
}

int weekdayNumber(QDate date)
{
    // Qt counts Monday = 1 ... Sunday = 7; the model counts Sunday = 1 ... Saturday = 7.
    return date.dayOfWeek() % 7 + 1;
}

std::optional<QDateTime> nextRun(const TaskSchedule& schedule, const QDateTime& now,
                                 const QTimeZone& zone)
{
    const TaskSchedule::Kind kind = schedule.kind();
    if (kind == TaskSchedule::Kind::runAtLoad || kind == TaskSchedule::Kind::interval)
        return std::nullopt;
    const QList<TimeOfDay> times = schedule.times();
    if (times.isEmpty())
        return std::nullopt;
    const qint64 after = now.toSecsSinceEpoch();
    // A day early too: a wall time repeated just after midnight may still lie ahead.
    const QDate first = now.toTimeZone(zone).date().addDays(-1);
    for (int i = 0; i < searchDays; ++i) {
        const QDate date = first.addDays(i);
        if (!runsOnDate(schedule, date))
            continue;
        std::optional<qint64> best;
        for (const TimeOfDay& time : times) {
            const std::optional<qint64> instant = firingInstant(date, time, zone);
            if (instant && *instant > after && (!best || *instant < *best))
                best = instant;
        }
        if (best)
            return QDateTime::fromSecsSinceEpoch(*best, zone);
    }
    return std::nullopt;
}
