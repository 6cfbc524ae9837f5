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
    if (ScheduleKinds::isCalendar(schedule.kind()))
        state.times = schedule.times();
    ScheduleKinds::visit(schedule, [&state](auto traits, const auto& value) {
        state.chooseKind(ScheduleKinds::kindOf<typename decltype(traits)::Case>);
        traits.toForm(value, state);
    });
    return state;
}

TaskSchedule TaskFormState::schedule() const
{
    const QList<TimeOfDay> sorted = sortedTimes(times);
    TaskSchedule chosen;
    ScheduleKinds::forEachKind([&]<typename Case>() {
        if (ScheduleKinds::kindOf<Case> == scheduleKind)
            chosen = ScheduleKinds::Traits<Case>::fromForm(*this, sorted);
    });
    return chosen;
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

void TaskFormState::chooseKind(TaskSchedule::Kind kind)
{
    scheduleKind = kind;
    const std::string_view group = ScheduleKinds::formPlace(kind).group;
    if (!group.empty())
        chosenInGroup.insert(QString::fromUtf8(group.data(), qsizetype(group.size())), kind);
}

void TaskFormState::chooseInGroup(TaskSchedule::Kind kind)
{
    const std::string_view group = ScheduleKinds::formPlace(kind).group;
    if (group == ScheduleKinds::formPlace(scheduleKind).group)
        chooseKind(kind);
    else if (!group.empty())
        chosenInGroup.insert(QString::fromUtf8(group.data(), qsizetype(group.size())), kind);
}

void TaskFormState::chooseKindPickerEntry(int index)
{
    const QList<ScheduleKinds::PickerEntry>& entries = ScheduleKinds::kindPicker();
    if (index < 0 || index >= entries.size())
        return;
    const ScheduleKinds::PickerEntry& entry = entries.at(index);
    scheduleKind = entry.grouped ? chosenInGroup.value(entry.label, entry.kinds.constFirst())
                                 : entry.kinds.constFirst();
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
    const std::optional<QString> note = ScheduleKinds::visit(
        state.schedule(), [](auto traits, const auto& value) { return traits.wakeNote(value); });
    if (note)
        return PlatformTexts::current().wakes + *note;
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
