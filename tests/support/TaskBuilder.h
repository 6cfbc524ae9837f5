#pragma once

#include "ScheduledTask.h"

#include <QHash>
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
                                       TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{9, 0}}})))
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
        return schedule(TaskSchedule::of<TaskSchedule::Daily>({std::move(times)}));
    }
    TaskBuilder& weekly(QList<int> weekdays, QList<TimeOfDay> times)
    {
        return schedule(
            TaskSchedule::of<TaskSchedule::Weekly>({std::move(weekdays), std::move(times)}));
    }
    TaskBuilder& every(int minutes)
    {
        return schedule(TaskSchedule::of<TaskSchedule::Interval>({minutes}));
    }
    TaskBuilder& atLoad() { return schedule(TaskSchedule::of<TaskSchedule::RunAtLoad>()); }
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

// "Name:kind:flags" with kind one of daily, weekly, monthly, lastDay, nth, interval, atLoad and
// flags holding 'e' (enabled) and/or 'w' (wake before run); the command echoes the name.
inline ScheduledTask describedTask(const QString& descriptor)
{
    const QStringList parts = descriptor.split(QLatin1Char(':'));
    const QString kind = parts.value(1, QStringLiteral("daily"));
    const QString flags = parts.value(2);
    const QList<TimeOfDay> nine{TimeOfDay{9, 0}};
    const QHash<QString, TaskSchedule> schedules{
        {QStringLiteral("daily"), TaskSchedule::of<TaskSchedule::Daily>({nine})},
        {QStringLiteral("weekly"), TaskSchedule::of<TaskSchedule::Weekly>({{2}, nine})},
        {QStringLiteral("monthly"), TaskSchedule::of<TaskSchedule::Monthly>({15, nine})},
        {QStringLiteral("lastDay"), TaskSchedule::of<TaskSchedule::MonthlyLastDay>({nine})},
        {QStringLiteral("nth"), TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, nine})},
        {QStringLiteral("interval"), TaskSchedule::of<TaskSchedule::Interval>({15})},
    };
    return TaskBuilder(parts.at(0))
        .echoesName()
        .schedule(schedules.value(kind, TaskSchedule::of<TaskSchedule::RunAtLoad>()))
        .enabled(flags.contains(QLatin1Char('e')))
        .wake(flags.contains(QLatin1Char('w')))
        .build();
}

inline QList<ScheduledTask> makeTasks(const QStringList& descriptors)
{
    QList<ScheduledTask> tasks;
    for (const QString& descriptor : descriptors)
        tasks << describedTask(descriptor);
    return tasks;
}
