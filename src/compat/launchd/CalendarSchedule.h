#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QTime>
#include <QTimeZone>

#include <optional>

// One StartCalendarInterval entry. A key that is absent is a wildcard. Weekday follows
// launchd's numbering: 0 and 7 are both Sunday, 1 is Monday.
struct CalendarEntry {
    std::optional<int> minute;
    std::optional<int> hour;
    std::optional<int> day;
    std::optional<int> weekday;
    std::optional<int> month;

    // Builds an entry from the integer keys of one dict. Unknown keys are ignored (launchd
    // ignores them too); a value outside its key's range rejects the whole entry.
    static std::optional<CalendarEntry> fromKeys(const QMap<QString, qint64>& keys);

    // Whether the local date and time (seconds ignored) fall on this entry. When both Day and
    // Weekday are given, either one matching is enough, as in cron.
    bool matches(QDate date, QTime time) const;
    bool matchesDate(QDate date) const;

    friend bool operator==(const CalendarEntry&, const CalendarEntry&) = default;
};

namespace CalendarSchedule {

// The first instant strictly after `after` at which one of `entries` fires, reading wall-clock
// fields in `zone`. Instants are whole minutes. Daylight-saving rules, as cron applies them:
// a time skipped by a spring-forward gap fires once at the end of the gap when the entry names
// its hour, and not at all for an entry with a wildcard hour; a time that occurs twice at the
// fall-back fires once (the first time) when the entry names its hour, and both times otherwise.
// Nothing when no entry fires within the next eight years (for instance 31 February).
std::optional<QDateTime> nextFire(const QList<CalendarEntry>& entries, const QDateTime& after,
                                  const QTimeZone& zone);

// Whether some firing of `entries` lies in the interval (from, to].
bool firesBetween(const QList<CalendarEntry>& entries, const QDateTime& from, const QDateTime& to,
                  const QTimeZone& zone);

} // namespace CalendarSchedule
