#include "CLITaskStore.h"
#include "Commands.h"
#include "TaskListCommand.h"

namespace {
class RemoveCommand final : public NamedTaskCommand {
public:
    RemoveCommand() : NamedTaskCommand(QStringLiteral("Usage: brenmor-ops remove <name-or-id>")) {}

protected:
    Plan changeTask(QList<ScheduledTask>& tasks, qsizetype index, CommandContext& context) override
    {
        const ScheduledTask task = tasks.takeAt(index);
        // The agent goes before the write, so the application never sees a list without the
        // task while its agent still runs.
        return {QStringLiteral("Removed task: ") + task.name,
                task.wakeBeforeRun,
                uninstalling(context, task),
                {}};
    }
};
} // namespace

std::unique_ptr<Command> makeRemoveCommand() { return std::make_unique<RemoveCommand>(); }
