#pragma once

#include "CalendarSchedule.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>

// A reading of the two clocks the schedule uses: the wall clock for calendar entries and a
// clock that keeps counting through suspend (CLOCK_BOOTTIME) for intervals, which launchd
// measures from the load and never aligns to the wall clock.
struct ClockReading {
    QDateTime wall;
    qint64 bootMs = 0;
};

// When each loaded job is due. Pure bookkeeping: the caller reads the clocks, asks what is due,
// starts those jobs and sleeps until nextWake().
class JobScheduler {
public:
    // An interval run later than this behind its time was missed while the machine slept (or
    // the runner was stopped) and is skipped rather than run late.
    static constexpr qint64 missedIntervalSlackMs = 5000;
    // A wall clock that steps back further than this restarts calendar planning from the new
    // time; smaller steps keep the plan so that no minute fires twice.
    static constexpr qint64 clockStepBackMs = 60000;

    explicit JobScheduler(QTimeZone zone) : m_zone(std::move(zone)) {}

    // Adds or replaces a job. Its first interval run is one interval after `now`.
    void add(const QString& label, std::optional<int> intervalSeconds,
             const QList<CalendarEntry>& calendar, const ClockReading& now);
    void remove(const QString& label);
    bool contains(const QString& label) const { return m_jobs.contains(label); }

    // The jobs whose time has come by `now`, sorted by label, each at most once however many of
    // its calendar times passed (a machine that slept through several runs makes up one).
    // Interval times missed by more than the slack are skipped. Plans the following times.
    QStringList due(const ClockReading& now);

    // When due() must be called next, as a wall-clock time; nothing when no job has a schedule.
    std::optional<QDateTime> nextWake(const ClockReading& now) const;

private:
    struct Plan {
        std::optional<int> intervalSeconds;
        qint64 loadBootMs = 0;
        qint64 nextIntervalBootMs = 0;
        QList<CalendarEntry> calendar;
        std::optional<QDateTime> nextCalendar;
        QDateTime lastCheck;
    };
    void advanceInterval(Plan& plan, qint64 bootMs) const;

    QTimeZone m_zone;
    QHash<QString, Plan> m_jobs;
};
