#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>

class QSettings;
struct ScheduledTask;

// What both programs need to tell the user that a scheduled run failed: the agent runner while
// the application is closed, the application while it is open.
namespace FailureAlert {

// "Backup failed (exit 3) at 03:00"; a run ended by a signal (negative status, as launchctl
// list shows it) reads "(signal 9)". The time is local wall-clock time.
QString message(const QString& taskName, int exitStatus, const QDateTime& endedAt);

// The application's preferences, opened with fixed names so that the runner, a process of
// another name, reads the same file.
std::unique_ptr<QSettings> openPreferences();
// Preference key; absent means on.
QString notifyOnFailureKey();
bool notifyOnFailure();

// The session-bus name the running application owns; while it has an owner the application
// reports failures itself.
QString applicationBusName();

// Whether the label is one of our task agents'.
bool isTaskLabel(const QString& label);
// The task an agent label names ("com.brenmor-ops.task." + identifier), else nothing.
const ScheduledTask* taskForLabel(const QList<ScheduledTask>& tasks, const QString& label);
// The task's name, or the label when no task of the list carries it.
QString nameForLabel(const QList<ScheduledTask>& tasks, const QString& label);

} // namespace FailureAlert
