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
    // Removes the repeating wake event (pmset holds one), through the administrator request.
    virtual WakeOutcome cancelRepeatingWake() const = 0;
    // Removes the one-time event scheduleWake() registers for a monthly task as it is given
    // (its next date), when the system holds it.
    virtual WakeOutcome cancelOneTimeWake(const ScheduledTask& task) const = 0;
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
    WakeOutcome cancelRepeatingWake() const override;
    // pmset refuses to cancel an event it does not hold, so the system schedule is read first:
    // an event that already passed (or never registered) needs no password.
    WakeOutcome cancelOneTimeWake(const ScheduledTask& task) const override;

    // The earliest of a schedule's times, and the minute of the day its wake falls on
    // (5 minutes before, wrapped into the day).
    static std::optional<TimeOfDay> earliestTime(const QList<TimeOfDay>& times);
    static int wakeMinutes(const TimeOfDay& earliest);
    // `pmset -g sched`, trimmed; empty when it cannot run.
    QString currentWakeSchedule() const;

private:
    // The pmset command the task's event needs (repeat or schedule), or the error. An empty
    // command means there is nothing to register (a day of the month no month has).
    Result<QString, PmsetError> wakeCommand(const ScheduledTask& task) const;
    // The moment of a monthly task's one-time event: the next wake after now.
    std::optional<QDateTime> oneTimeWakeDate(const ScheduledTask& task) const;
    WakeOutcome runPrivileged(const QString& command) const;

    Clock m_now;
    QTimeZone m_timeZone;
    PrivilegedRunner m_runner;
};

// The tasks whose wake events a full registration pass registers, in order: pmset keeps a
// single repeating event (each registration replaces the last), so only the first enabled wake
// task with a repeating schedule gets one; every enabled wake task on a specific day of the
// month then gets its one-time event. Interval and run-at-load tasks get none.
QList<ScheduledTask> wakeRegistrations(const QList<ScheduledTask>& tasks);

// What pmset must forget when the list changes from `before` to `after`, done before the
// registrations of `after`: the repeating event when `before` registers one and `after` none;
// the one-time event of every monthly wake task of `before` that `after` no longer registers
// with the same schedule (disabled, deleted, wake turned off, moved to another day or time).
// The tasks are given as they were in `before`, whose schedule names the event.
struct WakeCancellations {
    bool repeating = false;
    QList<ScheduledTask> oneTime;
    bool isEmpty() const { return !repeating && oneTime.isEmpty(); }
};
WakeCancellations wakeCancellations(const QList<ScheduledTask>& before,
                                    const QList<ScheduledTask>& after);
