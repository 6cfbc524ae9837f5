#include "Commands.h"
#include "Console.h"

// Commands whose behaviour is not built yet. Their argument checks already hold.
namespace {
class PendingCommand final : public Command {
public:
    PendingCommand(const char* name, const char* usage) : m_name(name), m_usage(usage) {}

    int execute(const QStringList& args, CommandContext& context) override
    {
        if (m_usage && (args.isEmpty() || args.first().isEmpty())) {
            context.console.error(QLatin1String(m_usage));
            return 1;
        }
        context.console.error(QStringLiteral("'%1' is not available yet").arg(QLatin1String(m_name)));
        return 1;
    }

private:
    const char* m_name;
    const char* m_usage;
};
} // namespace

std::unique_ptr<Command> makeAddCommand() { return std::make_unique<PendingCommand>("add", nullptr); }
std::unique_ptr<Command> makeRemoveCommand()
{
    return std::make_unique<PendingCommand>("remove", "Usage: brenmor-ops remove <name-or-id>");
}
std::unique_ptr<Command> makeEnableCommand()
{
    return std::make_unique<PendingCommand>("enable", "Usage: brenmor-ops enable <name-or-id>");
}
std::unique_ptr<Command> makeDisableCommand()
{
    return std::make_unique<PendingCommand>("disable", "Usage: brenmor-ops disable <name-or-id>");
}
std::unique_ptr<Command> makeSetupCliCommand()
{
    return std::make_unique<PendingCommand>("setup-cli", nullptr);
}
