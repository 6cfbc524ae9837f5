#include "CLITaskStore.h"
#include "Commands.h"
#include "TaskListCommand.h"

namespace {
class EnableCommand final : public NamedTaskCommand {
public:
    EnableCommand() : NamedTaskCommand(QStringLiteral("Usage: brenmor-ops enable <name-or-id>")) {}

protected:
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
