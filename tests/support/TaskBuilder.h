#pragma once

#include "ScheduledTask.h"

#include <QString>
#include <QStringList>
#include <QUuid>

// A task for a test, with only what the test cares about spelled out:
//   TaskBuilder("Backup").command("rsync …").weekly({2}).disabled().wake().build()
// Unless told otherwise a task runs "true" daily at 9:00, is enabled and has a fresh id.
class TaskBuilder {
public:
    explicit TaskBuilder(QString name = QStringLiteral("Task"))
        : m_task(ScheduledTask::create(std::move(name), QStringLiteral("true"),
                                       TaskSchedule::daily({TimeOfDay{9, 0}})))
    {}

    TaskBuilder& command(QString command)
    {
        m_task.command = std::move(command);
        return *this;
    }
    // "echo <name>": a command whose output names its task.
    TaskBuilder& echoesName() { return command(QStringLiteral("echo ") + m_task.name); }
    TaskBuilder& schedule(TaskSchedule schedule)
    {
        m_task.schedule = std::move(schedule);
        return *this;
    }
    TaskBuilder& daily(QList<TimeOfDay> times)
    {
        return schedule(TaskSchedule::daily(std::move(times)));
    }
    TaskBuilder& weekly(QList<int> weekdays, QList<TimeOfDay> times)
    {
        return schedule(TaskSchedule::weekly(std::move(weekdays), std::move(times)));
    }
    TaskBuilder& every(int minutes) { return schedule(TaskSchedule::interval(minutes)); }
    TaskBuilder& atLoad() { return schedule(TaskSchedule::runAtLoad()); }
    TaskBuilder& enabled(bool enabled)
    {
        m_task.isEnabled = enabled;
        return *this;
    }
    TaskBuilder& disabled() { return enabled(false); }
    TaskBuilder& wake(bool wake = true)
    {
        m_task.wakeBeforeRun = wake;
        return *this;
    }
    TaskBuilder& loginShell(bool loginShell = true)
    {
        m_task.useLoginShell = loginShell;
        return *this;
    }
    TaskBuilder& id(const QString& id)
    {
        m_task.id = QUuid::fromString(id);
        return *this;
    }

    ScheduledTask build() const { return m_task; }
    operator ScheduledTask() const { return m_task; }

private:
    ScheduledTask m_task;
};

// The tasks' names, in the list's order.
inline QStringList namesOf(const QList<ScheduledTask>& tasks)
{
    QStringList names;
    for (const ScheduledTask& task : tasks)
        names << task.name;
    return names;
}
// The same in alphabetical order, for lists whose order is not the point.
inline QStringList sortedNamesOf(const QList<ScheduledTask>& tasks)
{
    QStringList names = namesOf(tasks);
    names.sort();
    return names;
}
