#include "CLITaskStore.h"
#include "Commands.h"
#include "TaskListCommand.h"

namespace {
class RemoveCommand final : public NamedTaskCommand {
public:
    RemoveCommand() : NamedTaskCommand(QStringLiteral("Usage: brenmor-ops remove <name-or-id>")) {}

protected:
    OperationResult perform(const TaskOperations& operations) override
    {
        return operations.remove(selector());
    }
    QString successLine(const OperationReport& report) const override
    {
        return QStringLiteral("Removed task: ") + report.stored.constFirst().name;
    }
};
} // namespace

std::unique_ptr<Command> makeRemoveCommand() { return std::make_unique<RemoveCommand>(); }
