#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTime>

#include <optional>

// The power events pmset keeps: at most one repeating event and any number of one-time events.
struct RepeatingEvent {
    QString type; // wake, poweron, wakeorpoweron
    QString days; // letters of MTWRFSU in that order (Monday ... Sunday)
    QTime time;
    friend bool operator==(const RepeatingEvent&, const RepeatingEvent&) = default;
};

struct OneTimeEvent {
    QString type;
    QDateTime at; // UTC
    QString owner;
    friend bool operator==(const OneTimeEvent&, const OneTimeEvent&) = default;
};

struct PmsetSchedule {
    std::optional<RepeatingEvent> repeating;
    QList<OneTimeEvent> scheduled; // sorted by time

    // Adds the event unless the same one is already there; keeps the list sorted.
    void add(const OneTimeEvent& event);
    // Drops the one-time events that are not after `now`.
    void dropPast(const QDateTime& now);
    // The first moment after `now` at which any event fires; none when there is no event.
    std::optional<QDateTime> nextEvent(const QDateTime& now) const;

    QJsonObject toJson() const;
    // Nothing when the object does not describe a schedule.
    static std::optional<PmsetSchedule> fromJson(const QJsonObject& json);

    friend bool operator==(const PmsetSchedule&, const PmsetSchedule&) = default;
};

namespace PmsetText {
// Event types the stand-in accepts.
bool isWakeType(const QString& type);
// The weekday letters in canonical order, or none when `letters` holds anything else.
std::optional<QString> parseDays(const QString& letters);
// HH:mm:ss (24 hours).
std::optional<QTime> parseTime(const QString& text);
// "MM/dd/yy HH:mm:ss" (or a four-digit year) in local time.
std::optional<QDateTime> parseDate(const QString& text);
// "every day", "weekdays only", "weekends only", "Monday", ... or "Some days".
QString daysText(const QString& days);
// 12-hour time as pmset writes it: 8:55AM, 12:10PM, and 0:10AM for the hour after midnight.
QString clockText(const QTime& time);
// The whole `pmset -g sched` text, ending in a line feed; local times.
QString scheduleText(const PmsetSchedule& schedule);
} // namespace PmsetText
