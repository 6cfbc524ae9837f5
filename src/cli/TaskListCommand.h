#pragma once

#include "Command.h"
#include "TaskOperations.h"

#include <QString>

// A command that changes the task list: checks its words, then performs one task operation
// (see TaskOperations) and prints its success line, then every failure of a later step.
//
// A task file that exists but cannot be decoded stops the command before anything is changed:
// saving the list we could read would throw away every task the file holds.
//
// The change is kept once written, whatever happens to the agent or the wake events. Their
// failures are printed as errors after the success line and end the command with status 1.
class TaskListCommand : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) final;

protected:
    // Looks at the words before the task file is touched. Prints its own errors and returns
    // false to end the command with status 1.
    virtual bool prepare(const QStringList& args, const CommandContext& context) = 0;
    virtual OperationResult perform(const TaskOperations& operations) = 0;
    // The line printed when the file was changed.
    virtual QString successLine(const OperationReport& report) const = 0;
};

// Base of the commands that act on one existing task named by its name or identifier prefix.
class NamedTaskCommand : public TaskListCommand {
protected:
    explicit NamedTaskCommand(QString usage) : m_usage(std::move(usage)) {}

    bool prepare(const QStringList& args, const CommandContext& context) final;
    TaskSelector selector() const { return TaskSelector::byName(m_nameOrId); }

private:
    QString m_usage;
    QString m_nameOrId;
};
