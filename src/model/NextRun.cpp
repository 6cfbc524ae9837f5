#include "NextRun.h"

#include "ScheduleKinds.h"

#include <QTime>

#include <algorithm>

namespace {

constexpr qint64 secondsPerDay = 86400;
// Long enough for the sparsest schedule (a fifth weekday can be three months away, day 31 two)
// and bounded for schedules that never fire.
constexpr int searchDays = 4 * 366;

constexpr qint64 unixEpochJulianDay = 2440588;

// Seconds since the epoch of `date` `time` read as UTC: pure arithmetic, no zone involved.
qint64 utcSecs(QDate date, const QTime& time)
{
    return (date.toJulianDay() - unixEpochJulianDay) * secondsPerDay +
           time.msecsSinceStartOfDay() / 1000;
}

// The instant the agent fires for the wall time `date` `time` in `zone`: of a repeated time
// the first, of a time skipped by a gap the end of the gap.
std::optional<qint64> firingInstant(QDate date, const TimeOfDay& time, const CachedZone& zone)
{
    const QTime wall(time.hour, time.minute);
    if (!wall.isValid())
        return std::nullopt;
    const qint64 local = utcSecs(date, wall);
    const int before = zone.offsetAt(local - secondsPerDay);
    const int after = zone.offsetAt(local + secondsPerDay);
    std::optional<qint64> first;
    for (int offset : {before, after}) {
        const qint64 candidate = local - offset;
        if (zone.offsetAt(candidate) == offset && (!first || candidate < *first))
            first = candidate;
    }
    if (first)
        return first;
    // Read with the offset from before the jump, the wall time lies just past the transition.
    if (const std::optional<qint64> transition = zone.transitionBefore(local - before + 1))
        return transition;
    return local - after;
}

} // namespace

bool runsOnDate(const TaskSchedule& schedule, QDate date)
{
    return ScheduleKinds::visit(
        schedule, [date](auto traits, const auto& s) { return traits.runsOn(s, date); });
}

int weekdayNumber(QDate date) { return ScheduleKinds::Text::weekdayNumber(date); }

CachedZone nextRunZone(const QTimeZone& zone, qint64 nowSecs)
{
    // From the day before today (a repeated time after midnight) to past the last day searched,
    // with a day's margin either side for the offsets read around each wall time.
    return CachedZone(zone, nowSecs - 3 * secondsPerDay,
                      nowSecs + (searchDays + 3) * secondsPerDay);
}

std::optional<QDateTime> nextRun(const TaskSchedule& schedule, const QDateTime& now,
                                 const QTimeZone& zone)
{
    const qint64 nowSecs = now.toSecsSinceEpoch();
    return nextRun(schedule, nowSecs, nextRunZone(zone, nowSecs));
}

std::optional<QDateTime> nextRun(const TaskSchedule& schedule, qint64 nowSecs,
                                 const CachedZone& zone)
{
    if (!ScheduleKinds::isCalendar(schedule.kind()))
        return std::nullopt;
    const QList<TimeOfDay> times = schedule.times();
    if (times.isEmpty())
        return std::nullopt;
    const qint64 after = nowSecs;
    // A day early too: a wall time repeated just after midnight may still lie ahead.
    const qint64 wallNow = nowSecs + zone.offsetAt(nowSecs);
    const qint64 today =
        wallNow >= 0 ? wallNow / secondsPerDay : -((-wallNow + secondsPerDay - 1) / secondsPerDay);
    const QDate first = QDate::fromJulianDay(today + unixEpochJulianDay).addDays(-1);
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
            return QDateTime::fromSecsSinceEpoch(*best, zone.zone());
    }
    return std::nullopt;
}
