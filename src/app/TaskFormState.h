#pragma once

#include "ScheduleKinds.h"
#include "ScheduledTask.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// Everything the task form edits, kept apart from the widgets so the mapping between a task and
// the form can be checked without a window. Values of hidden controls stay here while the user
// switches kinds; only saving decides which of them reach the task.
struct TaskFormState {
    QString name;
    QString command;
    QString workingDirectory;
    QString envFilePath;
    bool useLoginShell = true;
    bool wakeBeforeRun = false;
    // The chosen kind, and for each group of the kind picker the kind last chosen in it (the
    // group's first until then), so coming back to a group shows the same choice.
    TaskSchedule::Kind scheduleKind = ScheduleKinds::kindOf<TaskSchedule::Daily>;
    QHash<QString, TaskSchedule::Kind> chosenInGroup;
    QList<TimeOfDay> times = {TimeOfDay{7, 0}};
    int intervalMinutes = 5;
    int dayOfMonth = 1;
    QSet<int> weekdays = {2};
    int nthWeek = 1;
    int nthWeekday = 2;

    // The form of an existing task; fields its schedule does not carry keep the defaults above.
    static TaskFormState fromTask(const ScheduledTask& task);

    // Times sorted; fields the chosen kind does not use are dropped.
    TaskSchedule schedule() const;
    // A new enabled task with a fresh identifier, texts exactly as typed.
    ScheduledTask newTask() const;
    // `task` with the form's fields replaced; identifier, enabled state and logs kept.
    ScheduledTask applied(ScheduledTask task) const;

    // What keeps the task from being saved, said next to the field: "Enter a name" while the
    // name has no visible character (it is still stored as typed), "Enter a command".
    std::optional<QString> nameProblem() const;
    std::optional<QString> commandProblem() const;
    bool canSave() const { return !nameProblem() && !commandProblem(); }
    bool showsWakeToggle() const { return ScheduleKinds::formFields(scheduleKind).times; }
    bool showsTimes() const { return showsWakeToggle(); }

    // A kind chosen by itself (the second picker, or a task opened).
    void chooseKind(TaskSchedule::Kind kind);
    // A kind of a group chosen in the second picker: it becomes the kind while its group is
    // chosen, and is remembered for the group otherwise.
    void chooseInGroup(TaskSchedule::Kind kind);
    // An entry of the kind picker (ScheduleKinds::kindPicker()); a group brings back its kind.
    void chooseKindPickerEntry(int index);

    // Adds a day, or removes it unless it is the last one chosen.
    void toggleWeekday(int weekday);
    // Appends 9:00.
    void addTime();
    // Removes one entry while at least two are listed.
    void removeTime(int index);
    // A chosen shortcut becomes the command; it names the task only when the name is empty.
    void applyShortcut(const QString& shortcutName);
    void applyMailTemplate(const QString& mailCommand, const QString& suggestedName);
};

namespace TaskFormText {
const QList<int>& intervalChoices();
// "Every 5 min", "Every 1 hour", "Every 2 hours", "Every 1h 30m".
QString intervalLabel(int minutes);
// "shortcuts run '<name>'" with the name single-quoted.
QString shortcutCommand(const QString& shortcutName);
// The warning under a day of 29 or more; nothing for shorter days.
std::optional<QString> shortMonthsCaption(int dayOfMonth);
QString wakeCaption(const TaskFormState& state);
// The caption under "Use login shell"; `shellPath` is the shell such a run starts (empty when
// unknown).
QString loginShellCaption(bool useLoginShell, const QString& shellPath);
} // namespace TaskFormText
