#include "Commands.h"
#include "Console.h"
#include "Usage.h"

namespace {
class HelpCommand final : public Command {
public:
    int execute(const QStringList&, CommandContext& context) override
    {
        context.console.printRaw(usageText());
        return 0;
    }
};

class VersionCommand final : public Command {
public:
    int execute(const QStringList&, CommandContext& context) override
    {
        context.console.print(versionText());
        return 0;
    }
};
} // namespace

std::unique_ptr<Command> makeHelpCommand() { return std::make_unique<HelpCommand>(); }
std::unique_ptr<Command> makeVersionCommand() { return std::make_unique<VersionCommand>(); }
