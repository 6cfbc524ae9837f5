#include "AgentEngine.h"
#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "ReadOnlyArgs.h"

#include <QJsonObject>

#include <algorithm>

namespace {
class StatusCommand final : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) override
    {
        const QList<ScheduledTask> tasks = context.store.loadTaskList();
        const auto enabled = std::count_if(tasks.begin(), tasks.end(),
                                           [](const ScheduledTask& t) { return t.isEnabled; });
        const AgentEngine::Kind engine = AgentEngine::inUse();
        if (args.contains(QStringLiteral("--json"))) {
            printJson(
                QJsonDocument(QJsonObject{{QStringLiteral("total"), tasks.size()},
                                          {QStringLiteral("enabled"), qint64(enabled)},
                                          {QStringLiteral("engine"), AgentEngine::name(engine)}}),
                context.console);
            return 0;
        }
        context.console.print(QStringLiteral("Brenmor Ops Status"));
        context.console.print(QString(18, QChar(0x2500)));
        context.console.print(
            QStringLiteral("Tasks:    %1 total, %2 enabled").arg(tasks.size()).arg(enabled));
        context.console.print(QStringLiteral("Engine:   %1").arg(AgentEngine::displayName(engine)));
        return 0;
    }
};
} // namespace

std::unique_ptr<Command> makeStatusCommand() { return std::make_unique<StatusCommand>(); }
