#include "CLITaskStore.h"
#include "Commands.h"
#include "TaskListCommand.h"

namespace {
class RemoveCommand final : public NamedTaskCommand {
public:
    RemoveCommand() : NamedTaskCommand(QStringLiteral("Usage: brenmor-ops remove <name-or-id>")) {}

protected:
    Outcome changeTask(QList<ScheduledTask>& tasks, qsizetype index,
                       CommandContext& context) override
    {
        const ScheduledTask task = tasks.takeAt(index);
        // The agent goes first, so the application never sees a list without the task while its
        // agent still runs.
        context.store.launchdService().uninstall(task);
        if (!save(tasks, context))
            return Outcome::failure();
        return {0, QStringLiteral("Removed task: ") + task.name, task.wakeBeforeRun, tasks};
    }
};
} // namespace

std::unique_ptr<Command> makeRemoveCommand() { return std::make_unique<RemoveCommand>(); }
