#include "CLITaskStore.h"
#include "Commands.h"
#include "TaskListCommand.h"

namespace {
class DisableCommand final : public NamedTaskCommand {
public:
    DisableCommand() : NamedTaskCommand(QStringLiteral("Usage: brenmor-ops disable <name-or-id>"))
    {}

protected:
    Plan changeTask(QList<ScheduledTask>& tasks, qsizetype index, CommandContext& context) override
    {
        tasks[index].isEnabled = false;
        const ScheduledTask& task = tasks[index];
        // The remaining wake tasks may need the repeating event this one held.
        return {QStringLiteral("Disabled task: ") + task.name,
                task.wakeBeforeRun,
                {},
                uninstalling(context, task)};
    }
};
} // namespace

std::unique_ptr<Command> makeDisableCommand() { return std::make_unique<DisableCommand>(); }
