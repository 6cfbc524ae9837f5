#include "CLITaskStore.h"
#include "Commands.h"
#include "TaskListCommand.h"

namespace {
class EnableCommand final : public NamedTaskCommand {
public:
    EnableCommand() : NamedTaskCommand(QStringLiteral("Usage: brenmor-ops enable <name-or-id>")) {}

protected:
    // Two tasks with one short ID would share their script, log and history.
    std::optional<QString> refusal(const QList<ScheduledTask>& tasks,
                                   qsizetype index) const override
    {
        if (const ScheduledTask* twin = shortIdTwin(tasks, tasks.at(index)))
            return shortIdCollisionMessage(tasks.at(index), *twin);
        return std::nullopt;
    }

    Plan changeTask(QList<ScheduledTask>& tasks, qsizetype index, CommandContext& context) override
    {
        // Enabling an enabled task still reinstalls it: that repairs a missing or stale agent.
        tasks[index].isEnabled = true;
        const ScheduledTask& task = tasks[index];
        return {QStringLiteral("Enabled task: ") + task.name,
                task.wakeBeforeRun,
                {},
                installing(context, task)};
    }
};
} // namespace

std::unique_ptr<Command> makeEnableCommand() { return std::make_unique<EnableCommand>(); }
