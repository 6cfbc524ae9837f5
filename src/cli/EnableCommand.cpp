#include "CLITaskStore.h"
#include "Commands.h"
#include "TaskListCommand.h"

namespace {
// enable and disable: one command with the state it sets.
class EnableCommand final : public NamedTaskCommand {
public:
    explicit EnableCommand(bool enable)
        : NamedTaskCommand(QStringLiteral("Usage: brenmor-ops %1 <name-or-id>")
                               .arg(enable ? QStringLiteral("enable") : QStringLiteral("disable"))),
          m_enable(enable)
    {}

protected:
    OperationResult perform(const TaskOperations& operations) override
    {
        return operations.setEnabled(selector(), m_enable);
    }
    QString successLine(const OperationReport& report) const override
    {
        return (m_enable ? QStringLiteral("Enabled task: ") : QStringLiteral("Disabled task: ")) +
               report.stored.constFirst().name;
    }

private:
    bool m_enable;
};
} // namespace

std::unique_ptr<Command> makeEnableCommand() { return std::make_unique<EnableCommand>(true); }
std::unique_ptr<Command> makeDisableCommand() { return std::make_unique<EnableCommand>(false); }
