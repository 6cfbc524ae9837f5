#include "CLITaskStore.h"
#include "Commands.h"
#include "TaskListCommand.h"

namespace {
class DisableCommand final : public NamedTaskCommand {
public:
    DisableCommand() : NamedTaskCommand(QStringLiteral("Usage: brenmor-ops disable <name-or-id>"))
    {}

protected:
    Outcome changeTask(QList<ScheduledTask>& tasks, qsizetype index,
                       CommandContext& context) override
    {
        tasks[index].isEnabled = false;
        if (!save(tasks, context))
            return Outcome::failure();
        const ScheduledTask& task = tasks[index];
        context.store.launchdService().uninstall(task);
        // The remaining wake tasks may need the repeating event this one held.
        return {0, QStringLiteral("Disabled task: ") + task.name, task.wakeBeforeRun, tasks};
    }
};
} // namespace

std::unique_ptr<Command> makeDisableCommand() { return std::make_unique<DisableCommand>(); }
