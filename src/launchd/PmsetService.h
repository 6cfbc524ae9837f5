#pragma once

#include "Result.h"
#include "ScheduledTask.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <functional>
#include <optional>

// Why registering a wake event failed; `message()` is the text shown to the user.
struct PmsetError {
    enum class Kind { unsupportedSchedule, scriptFailed };
    Kind kind = Kind::unsupportedSchedule;
    QString detail; // scriptFailed: the administrator request's error text

    static PmsetError unsupportedSchedule() { return {Kind::unsupportedSchedule, {}}; }
    static PmsetError scriptFailed(QString detail)
    {
        return {Kind::scriptFailed, std::move(detail)};
    }

    // "This schedule type does not support wake." / "pmset failed: <detail>"
    QString message() const;
    friend bool operator==(const PmsetError&, const PmsetError&) = default;
};

// Registering one wake event: success or why it failed.
using WakeOutcome = Result<void, PmsetError>;

// Wake registration as the task store and the tool see it; tests substitute a fake.
class PmsetServiceProtocol {
public:
    virtual ~PmsetServiceProtocol() = default;
    // Registers the task's wake event.
    virtual WakeOutcome scheduleWake(const ScheduledTask& task) const = 0;
    virtual bool isWakeScheduledInSystem(const ScheduledTask& task) const = 0;
};

// Registers wake events with pmset through the administrator request. Stateless; the present
// moment and the time zone can be injected so the one-time date is tested without waiting.
class PmsetService final : public PmsetServiceProtocol {
public:
    using Clock = std::function<QDateTime()>;
    // Runs a command with administrator rights; fails with the error text.
    using PrivilegedRunner = std::function<Result<void>(const QString& command)>;

    PmsetService();
    PmsetService(Clock now, QTimeZone timeZone, PrivilegedRunner runner = {});

    WakeOutcome scheduleWake(const ScheduledTask& task) const override;
    bool isWakeScheduledInSystem(const ScheduledTask& task) const override;

    // Pieces, public for tests.
    static std::optional<TimeOfDay> earliestTime(const QList<TimeOfDay>& times);
    static int wakeMinutes(const TimeOfDay& earliest); // earliest - 5 min, wrapped into the day
    // Whether that wake time falls on the day before the run (a run just after midnight).
    static bool wakesDayBefore(const TimeOfDay& earliest);
    // pmset's day letters for waking before runs on `weekdays`: the day before each when the
    // wake time falls on the previous day.
    static QString wakeDays(const QList<int>& weekdays, bool dayBefore);
    // The pmset command the task's event needs (repeat or schedule), or the error. An empty
    // command means there is nothing to register (a day of the month no month has).
    Result<QString, PmsetError> wakeCommand(const ScheduledTask& task) const;
    // `pmset -g sched`, trimmed; empty when it cannot run.
    QString currentWakeSchedule() const;

    // pmset's day letter for a stored weekday (1 = Sunday "U" ... 7 = Saturday "S").
    static QString weekdayLetter(int weekday);
    // "pmset repeat wakeorpoweron DAYS HH:MM:00".
    static QString repeatCommand(int hour, int minute, const QString& days);
    // "pmset schedule wakeorpoweron \"MM/dd/yy HH:mm:ss\"" in the service's time zone.
    QString onceCommand(const QDateTime& at) const;
    // The first moment after now on day `day` of a month at hour:minute local time, or on the
    // day before such a day when `dayBefore`; none when no month has such a day.
    std::optional<QDateTime> nextMonthlyDate(int day, int hour, int minute,
                                             bool dayBefore = false) const;
    // The 12-hour texts `pmset -g sched` may show for a wake time (8:55AM; 12:10AM and 0:10AM).
    static QStringList wakeTimeTexts(int wakeMinutes);

    WakeOutcome scheduleRepeat(int hour, int minute, const QString& days) const;
    // Registers the next monthly occurrence; nothing (and no error) when there is none.
    WakeOutcome scheduleOnce(int day, int hour, int minute, bool dayBefore = false) const;
    WakeOutcome runPrivileged(const QString& command) const;

private:
    Clock m_now;
    QTimeZone m_timeZone;
    PrivilegedRunner m_runner;
};

// The tasks whose wake events a full registration pass registers, in order: pmset keeps a
// single repeating event (each registration replaces the last), so only the first enabled wake
// task with a repeating schedule gets one; every enabled wake task on a specific day of the
// month then gets its one-time event. Interval and run-at-load tasks get none.
QList<ScheduledTask> wakeRegistrations(const QList<ScheduledTask>& tasks);
