#include "CalendarSchedule.h"

#include <algorithm>
#include <array>

namespace {

struct KeyRange {
    const char* name;
    int low;
    int high;
    std::optional<int> CalendarEntry::*field;
};

// launchd's own ranges; Weekday accepts 7 as a second Sunday.
const std::array<KeyRange, 5> keyRanges = {{
    {"Minute", 0, 59, &CalendarEntry::minute},
    {"Hour", 0, 23, &CalendarEntry::hour},
    {"Day", 1, 31, &CalendarEntry::day},
    {"Weekday", 0, 7, &CalendarEntry::weekday},
    {"Month", 1, 12, &CalendarEntry::month},
}};

// Eight years reach every 29 February, even across a skipped leap year such as 2100.
constexpr int searchDays = 8 * 366 + 2;
constexpr qint64 secondsPerDay = 86400;

qint64 localFieldsAsUtc(QDate date, QTime time)
{
    return QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch();
}

int offsetAt(const QTimeZone& zone, qint64 secs)
{
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()));
}

// The instants at which the wall clock in `zone` shows `date` `time`: none in a gap, two in a
// repeated hour. With `namedHour` the cron rules apply: a gap yields the gap's end, a repeat
// only its first instant.
QList<qint64> instantsOf(QDate date, QTime time, const QTimeZone& zone, bool namedHour)
{
    const qint64 local = localFieldsAsUtc(date, time);
    const int before = offsetAt(zone, local - secondsPerDay);
    const int after = offsetAt(zone, local + secondsPerDay);
    QList<qint64> instants;
    for (int offset : {before, after}) {
        const qint64 candidate = local - offset;
        if (offsetAt(zone, candidate) == offset && !instants.contains(candidate))
            instants.append(candidate);
    }
    std::sort(instants.begin(), instants.end());
    if (instants.isEmpty() && namedHour) {
        // Read with the offset from before the jump, the time lies just past the transition.
        const auto transition = zone.previousTransition(
            QDateTime::fromSecsSinceEpoch(local - before + 1, QTimeZone::utc()));
        if (transition.atUtc.isValid())
            instants.append(transition.atUtc.toSecsSinceEpoch());
    }
    if (instants.size() > 1 && namedHour)
        instants.resize(1);
    return instants;
}

QList<int> valuesOf(const std::optional<int>& field, int low, int high)
{
    if (field)
        return {*field};
    QList<int> values;
    for (int value = low; value <= high; ++value)
        values.append(value);
    return values;
}

// The first firing of `entry` on `date` strictly after `after`, if any.
std::optional<qint64> firstOnDay(const CalendarEntry& entry, QDate date, qint64 after,
                                 const QTimeZone& zone)
{
    const QList<int> hours = valuesOf(entry.hour, 0, 23);
    const QList<int> minutes = valuesOf(entry.minute, 0, 59);
    const qint64 dayStart = localFieldsAsUtc(date, QTime(0, 0));
    const int startOffset = offsetAt(zone, dayStart - secondsPerDay);
    const int endOffset = offsetAt(zone, dayStart + 2 * secondsPerDay);
    const bool steadyDay =
        startOffset == endOffset && offsetAt(zone, dayStart + secondsPerDay / 2) == startOffset;
    if (steadyDay) {
        // No transition near this day: wall time maps to instants one to one, in order.
        for (int hour : hours) {
            for (int minute : minutes) {
                const qint64 instant = dayStart + (hour * 60 + minute) * 60 - startOffset;
                if (instant > after)
                    return instant;
            }
        }
        return std::nullopt;
    }
    std::optional<qint64> best;
    for (int hour : hours) {
        for (int minute : minutes) {
            for (qint64 instant :
                 instantsOf(date, QTime(hour, minute), zone, entry.hour.has_value())) {
                if (instant > after && (!best || instant < *best))
                    best = instant;
            }
        }
    }
    return best;
}

std::optional<qint64> nextFireOf(const CalendarEntry& entry, qint64 after, const QTimeZone& zone)
{
    // A day earlier than the local date of `after` also covers a wall time repeated at a
    // fall-back transition just after midnight.
    const QDate first = QDateTime::fromSecsSinceEpoch(after, zone).date().addDays(-1);
    for (int i = 0; i < searchDays; ++i) {
        const QDate date = first.addDays(i);
        if (!entry.matchesDate(date))
            continue;
        if (const auto instant = firstOnDay(entry, date, after, zone))
            return instant;
    }
    return std::nullopt;
}

} // namespace

std::optional<CalendarEntry> CalendarEntry::fromKeys(const QMap<QString, qint64>& keys)
{
    CalendarEntry entry;
    for (const KeyRange& range : keyRanges) {
        const auto it = keys.constFind(QLatin1String(range.name));
        if (it == keys.cend())
            continue;
        if (it.value() < range.low || it.value() > range.high)
            return std::nullopt;
        entry.*range.field = static_cast<int>(it.value());
    }
    return entry;
}

bool CalendarEntry::matchesDate(QDate date) const
{
    if (month && date.month() != *month)
        return false;
    // Qt counts Monday 1 to Sunday 7; launchd Sunday 0 (or 7) to Saturday 6.
    const bool dayMatches = day && date.day() == *day;
    const bool weekdayMatches = weekday && date.dayOfWeek() % 7 == *weekday % 7;
    if (day && weekday)
        return dayMatches || weekdayMatches;
    if (day)
        return dayMatches;
    if (weekday)
        return weekdayMatches;
    return true;
}

bool CalendarEntry::matches(QDate date, QTime time) const
{
    return matchesDate(date) && (!hour || time.hour() == *hour) &&
           (!minute || time.minute() == *minute);
}

namespace CalendarSchedule {

std::optional<QDateTime> nextFire(const QList<CalendarEntry>& entries, const QDateTime& after,
                                  const QTimeZone& zone)
{
    const qint64 afterSecs = after.toSecsSinceEpoch();
    std::optional<qint64> best;
    for (const CalendarEntry& entry : entries) {
        const auto instant = nextFireOf(entry, afterSecs, zone);
        if (instant && (!best || *instant < *best))
            best = instant;
    }
    if (!best)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(*best, zone);
}

bool firesBetween(const QList<CalendarEntry>& entries, const QDateTime& from, const QDateTime& to,
                  const QTimeZone& zone)
{
    const auto next = nextFire(entries, from, zone);
    return next && *next <= to;
}

} // namespace CalendarSchedule
