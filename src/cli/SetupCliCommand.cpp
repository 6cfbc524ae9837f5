#include "CliInstall.h"
#include "Commands.h"
#include "Console.h"

namespace {
class SetupCliCommand final : public Command {
public:
    int execute(const QStringList&, CommandContext& context) override
    {
        const QString destination = CliInstall::linkLocation();
        if (const Result<void> installed =
                CliInstall::install(CliInstall::runningExecutable(), destination);
            !installed.ok()) {
            context.console.error(QStringLiteral("Setup failed: ") + installed.message());
            return 1;
        }
        context.console.print(QStringLiteral("CLI installed at ") + destination);
        return 0;
    }
};
} // namespace

std::unique_ptr<Command> makeSetupCliCommand() { return std::make_unique<SetupCliCommand>(); }
