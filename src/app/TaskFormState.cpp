#include "TaskFormState.h"

#include "PlatformTexts.h"

#include "ShellQuoting.h"

#include <algorithm>

TaskFormState TaskFormState::fromTask(const ScheduledTask& task)
{
    TaskFormState state;
    state.name = task.name;
    state.command = task.command;
    state.workingDirectory = task.workingDirectory.value_or(QString());
    state.envFilePath = task.envFilePath.value_or(QString());
    state.useLoginShell = task.useLoginShell;
    state.wakeBeforeRun = task.wakeBeforeRun;
    const TaskSchedule& schedule = task.schedule;
    if (schedule.kind() != TaskSchedule::Kind::runAtLoad &&
        schedule.kind() != TaskSchedule::Kind::interval)
        state.times = schedule.times();
    if (schedule.as<TaskSchedule::RunAtLoad>()) {
        state.scheduleType = ScheduleType::runAtLoad;
    } else if (const auto* interval = schedule.as<TaskSchedule::Interval>()) {
        state.scheduleType = ScheduleType::interval;
        state.intervalMinutes = interval->minutes;
    } else if (schedule.as<TaskSchedule::Daily>()) {
        state.scheduleType = ScheduleType::daily;
    } else if (const auto* weekly = schedule.as<TaskSchedule::Weekly>()) {
        state.scheduleType = ScheduleType::weekly;
        state.weekdays = QSet<int>(weekly->weekdays.cbegin(), weekly->weekdays.cend());
    } else {
        state.scheduleType = ScheduleType::monthly;
        if (const auto* monthly = schedule.as<TaskSchedule::Monthly>()) {
            state.monthlyType = MonthlyType::specificDay;
            state.dayOfMonth = monthly->day;
        } else if (schedule.as<TaskSchedule::MonthlyLastDay>()) {
            state.monthlyType = MonthlyType::lastDay;
        } else if (const auto* nth = schedule.as<TaskSchedule::MonthlyNthWeekday>()) {
            state.monthlyType = MonthlyType::nthWeekday;
            state.nthWeek = nth->nth;
            state.nthWeekday = nth->weekday;
        }
    }
    return state;
}

TaskSchedule TaskFormState::schedule() const
{
    const QList<TimeOfDay> sorted = sortedTimes(times);
    switch (scheduleType) {
    case ScheduleType::runAtLoad:
        return TaskSchedule::runAtLoad();
    case ScheduleType::interval:
        return TaskSchedule::interval(intervalMinutes);
    case ScheduleType::daily:
        return TaskSchedule::daily(sorted);
    case ScheduleType::weekly: {
        QList<int> days(weekdays.cbegin(), weekdays.cend());
        std::sort(days.begin(), days.end());
        return TaskSchedule::weekly(days, sorted);
    }
    case ScheduleType::monthly:
        break;
    }
    switch (monthlyType) {
    case MonthlyType::specificDay:
        return TaskSchedule::monthly(dayOfMonth, sorted);
    case MonthlyType::lastDay:
        return TaskSchedule::monthlyLastDay(sorted);
    case MonthlyType::nthWeekday:
        break;
    }
    return TaskSchedule::monthlyNthWeekday(nthWeek, nthWeekday, sorted);
}

namespace {
std::optional<QString> unlessEmpty(const QString& text)
{
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}
} // namespace

ScheduledTask TaskFormState::newTask() const
{
    ScheduledTask task = ScheduledTask::create(name, command, TaskSchedule());
    task.isEnabled = true;
    task.logs.clear();
    return applied(std::move(task));
}

ScheduledTask TaskFormState::applied(ScheduledTask task) const
{
    task.name = name;
    task.command = command;
    task.workingDirectory = unlessEmpty(workingDirectory);
    task.envFilePath = unlessEmpty(envFilePath);
    task.useLoginShell = useLoginShell;
    // The toggle is hidden for run-at-load and interval tasks; the stored flag still passes
    // through unchanged because the form copied it on opening.
    task.wakeBeforeRun = wakeBeforeRun;
    task.schedule = schedule();
    return task;
}

std::optional<QString> TaskFormState::nameProblem() const
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("Enter a name");
    return std::nullopt;
}

std::optional<QString> TaskFormState::commandProblem() const
{
    if (command.isEmpty())
        return QStringLiteral("Enter a command");
    return std::nullopt;
}

void TaskFormState::toggleWeekday(int weekday)
{
    if (weekdays.contains(weekday)) {
        if (weekdays.size() > 1)
            weekdays.remove(weekday);
    } else {
        weekdays.insert(weekday);
    }
}

void TaskFormState::addTime() { times.append(TimeOfDay{9, 0}); }

void TaskFormState::removeTime(int index)
{
    if (times.size() > 1 && index >= 0 && index < times.size())
        times.removeAt(index);
}

void TaskFormState::applyShortcut(const QString& shortcutName)
{
    applyMailTemplate(TaskFormText::shortcutCommand(shortcutName), shortcutName);
}

void TaskFormState::applyMailTemplate(const QString& mailCommand, const QString& suggestedName)
{
    command = mailCommand;
    if (name.isEmpty())
        name = suggestedName;
}

namespace TaskFormText {

QString scheduleTypeLabel(ScheduleType type)
{
    switch (type) {
    case ScheduleType::runAtLoad:
        return QStringLiteral("Run at load (login / reboot)");
    case ScheduleType::interval:
        return QStringLiteral("Every N minutes");
    case ScheduleType::daily:
        return QStringLiteral("Daily");
    case ScheduleType::weekly:
        return QStringLiteral("Weekly");
    case ScheduleType::monthly:
        return QStringLiteral("Monthly");
    }
    return {};
}

QString monthlyTypeLabel(MonthlyType type)
{
    switch (type) {
    case MonthlyType::specificDay:
        return QStringLiteral("Specific day");
    case MonthlyType::lastDay:
        return QStringLiteral("Last day of month");
    case MonthlyType::nthWeekday:
        return QStringLiteral("Nth weekday");
    }
    return {};
}

const QList<int>& intervalChoices()
{
    static const QList<int> choices = {1,  2,  3,  5,   10,  15,  20,  30,
                                       45, 60, 90, 120, 180, 360, 720, 1440};
    return choices;
}

QString intervalLabel(int minutes)
{
    if (minutes < 60)
        return QStringLiteral("Every %1 min").arg(minutes);
    const int hours = minutes / 60;
    const int rest = minutes % 60;
    if (rest == 0)
        return QStringLiteral("Every %1 hour%2")
            .arg(hours)
            .arg(minutes >= 120 ? QStringLiteral("s") : QString());
    return QStringLiteral("Every %1h %2m").arg(hours).arg(rest);
}

QString shortcutCommand(const QString& shortcutName)
{
    return QStringLiteral("shortcuts run ") + shellQuoted(shortcutName);
}

std::optional<QString> shortMonthsCaption(int dayOfMonth)
{
    if (dayOfMonth < 29)
        return std::nullopt;
    return QStringLiteral("This task won't run in months with fewer than %1 days.").arg(dayOfMonth);
}

QString wakeCaption(const TaskFormState& state)
{
    if (state.scheduleType == ScheduleType::monthly && state.monthlyType == MonthlyType::lastDay) {
        return PlatformTexts::current().wakes +
               QStringLiteral(" every day from the 28th to the 31st, 5 minutes before the "
                              "scheduled time. The task only runs on the actual last day.");
    }
    if (state.scheduleType == ScheduleType::monthly &&
        state.monthlyType == MonthlyType::nthWeekday) {
        return (PlatformTexts::current().wakes +
                QStringLiteral(" every %1 5 minutes before the scheduled time. The task only runs "
                               "on the %2 occurrence."))
            .arg(ScheduleText::weekdayName(state.nthWeekday), ScheduleText::ordinal(state.nthWeek));
    }
    return PlatformTexts::current().wakes +
           QStringLiteral(" 5 minutes before the scheduled time so the task can run even during "
                          "sleep.");
}

QString loginShellCaption(bool useLoginShell, const QString& shellPath)
{
    QString caption =
        QStringLiteral("Load your shell profile to inherit env vars (e.g. $PATH, $HOME). ");
    if (useLoginShell) {
        const QString shell = shellPath.isEmpty() ? QStringLiteral("unknown")
                                                  : shellPath.section(QLatin1Char('/'), -1);
        caption += QStringLiteral("Using ") + shell;
    }
    return caption;
}

} // namespace TaskFormText
