#pragma once

#include "ScheduledTask.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>

// Mistakes in a task that only show when launchd runs it: a command the agent cannot find, a
// missing working folder or .env file, a time the clocks skip or repeat. Each finding is one
// sentence that says what to change. Reads the file system only; runs nothing.
namespace Preflight {

// The search path launchd gives an agent.
QString agentSearchPath();

struct Environment {
    QString userPath;   // the user's own PATH, for tasks that load the login shell profile
    QString home;       // launchd starts agents here; relative command paths resolve from it
    QDateTime now;      // "today" for the clock-change check
    QTimeZone timeZone; // the zone launchd's calendar follows
    // The process's PATH and home, the current time and the system zone.
    static Environment current();
};

// The field of the task form a finding is about.
enum class Field { command, workingDirectory, envFile, schedule };

struct Finding {
    Field field;
    QString text;
    friend bool operator==(const Finding&, const Finding&) = default;
};

// In the order of the form: command, working directory, .env file, schedule.
QList<Finding> findings(const ScheduledTask& task, const Environment& environment);
inline QList<Finding> findings(const ScheduledTask& task)
{
    return findings(task, Environment::current());
}

// The texts of findings().
QStringList check(const ScheduledTask& task, const Environment& environment);
inline QStringList check(const ScheduledTask& task) { return check(task, Environment::current()); }

} // namespace Preflight
