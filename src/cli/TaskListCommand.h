#pragma once

#include "Command.h"
#include "Result.h"
#include "ScheduledTask.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// A command that changes the task list: checks its words, then changes the file in one
// transaction (lock, read, change, write, release, announce), and afterwards refreshes the wake
// events and prints its success line.
//
// A task file that exists but cannot be decoded stops the command before anything is changed:
// saving the list we could read would throw away every task the file holds.
//
// The change is kept once written, whatever happens to the agent or the wake events. Their
// failures are printed as errors after the success line and end the command with status 1.
class TaskListCommand : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) final;

    // The agent or wake work that goes with a change; a failure's message is printed.
    using SideEffect = std::function<Result<void>()>;

protected:
    struct Plan {
        QString successLine;
        // Wake events are registered with the whole list after the write; this may wait for the
        // administrator dialog, so it runs outside the lock.
        bool refreshWake = false;
        // Runs under the lock before the write (removing: the agent goes first, so the
        // application never sees a list without the task while its agent still runs).
        SideEffect beforeWrite;
        // Runs under the lock after the write (installing: the task is in the file before its
        // agent exists, so the application's sweep never mistakes the agent for an orphan).
        SideEffect afterWrite;
    };

    // Looks at the words before the task file is touched. Prints its own errors and returns
    // false to end the command with status 1.
    virtual bool prepare(const QStringList& args, const CommandContext& context) = 0;
    // Changes `tasks` (the file's list, in file order) and says what goes with the change.
    // Prints its own error and returns nullopt to leave the file alone and end with status 1.
    virtual std::optional<Plan> change(QList<ScheduledTask>& tasks, CommandContext& context) = 0;

    // Installing or uninstalling the task's agent, reporting launchd's message.
    static SideEffect installing(const CommandContext& context, ScheduledTask task);
    static SideEffect uninstalling(const CommandContext& context, ScheduledTask task);
};

// Base of the commands that act on one existing task named by its name or identifier prefix.
class NamedTaskCommand : public TaskListCommand {
protected:
    explicit NamedTaskCommand(QString usage) : m_usage(std::move(usage)) {}

    bool prepare(const QStringList& args, const CommandContext& context) override;
    std::optional<Plan> change(QList<ScheduledTask>& tasks, CommandContext& context) final;
    // Acts on tasks[index], the task the argument selected.
    virtual Plan changeTask(QList<ScheduledTask>& tasks, qsizetype index,
                            CommandContext& context) = 0;
    // Why the change must not be made to tasks[index] (printed as the error); nothing when it
    // may.
    virtual std::optional<QString> refusal(const QList<ScheduledTask>& tasks, qsizetype index) const
    {
        Q_UNUSED(tasks);
        Q_UNUSED(index);
        return std::nullopt;
    }

private:
    QString m_usage;
    QString m_nameOrId;
};

// Index of the first task, in file order, whose name equals `nameOrId` or whose identifier
// begins with it, both compared lower-cased; -1 when none does.
qsizetype findTask(const QList<ScheduledTask>& tasks, const QString& nameOrId);
