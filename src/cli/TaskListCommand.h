#pragma once

#include "Command.h"
#include "ScheduledTask.h"

#include <QList>
#include <QString>

// A command that changes the task list: checks its words, then, holding the task-file lock,
// loads the list, changes it and saves it, and after the lock is released refreshes the wake
// events and prints its success line.
//
// A task file that exists but cannot be decoded stops the command before anything is changed:
// saving the list we could read would throw away every task the file holds.
class TaskListCommand : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) final;

protected:
    struct Outcome {
        int status = 0;
        QString successLine;
        // Wake events are registered with the whole list after the save; this may wait for the
        // administrator dialog, so it runs outside the lock.
        bool refreshWake = false;
        QList<ScheduledTask> tasks;

        static Outcome failure() { return {1, {}, false, {}}; }
    };

    // Looks at the words before the task file is touched. Prints its own errors and returns
    // false to end the command with status 1.
    virtual bool prepare(const QStringList& args, const CommandContext& context) = 0;
    // Changes `tasks` (the file's list, in file order) and runs the command's side effects in
    // their order, saving through save().
    virtual Outcome change(QList<ScheduledTask>& tasks, CommandContext& context) = 0;

    // Saves the list and posts the change notification. A failed write is reported, because the
    // change it carried is lost; returns false then.
    static bool save(const QList<ScheduledTask>& tasks, const CommandContext& context);
};

// Base of the commands that act on one existing task named by its name or identifier prefix.
class NamedTaskCommand : public TaskListCommand {
protected:
    explicit NamedTaskCommand(QString usage) : m_usage(std::move(usage)) {}

    bool prepare(const QStringList& args, const CommandContext& context) override;
    Outcome change(QList<ScheduledTask>& tasks, CommandContext& context) final;
    // Acts on tasks[index], the task the argument selected.
    virtual Outcome changeTask(QList<ScheduledTask>& tasks, qsizetype index,
                               CommandContext& context) = 0;

private:
    QString m_usage;
    QString m_nameOrId;
};

// Index of the first task, in file order, whose name equals `nameOrId` or whose identifier
// begins with it, both compared lower-cased; -1 when none does.
qsizetype findTask(const QList<ScheduledTask>& tasks, const QString& nameOrId);
