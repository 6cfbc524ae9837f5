#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "ReadOnlyArgs.h"
#include "TextTable.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {
void printTasksJson(const QList<ScheduledTask>& tasks, const Console& console)
{
    QJsonArray array;
    for (const ScheduledTask& task : tasks)
        array.append(QJsonObject{{QStringLiteral("id"), task.idString()},
                                 {QStringLiteral("shortId"), task.shortId()},
                                 {QStringLiteral("name"), task.name},
                                 {QStringLiteral("command"), task.command},
                                 {QStringLiteral("schedule"), task.schedule.summary()},
                                 {QStringLiteral("enabled"), task.isEnabled},
                                 {QStringLiteral("wake"), task.wakeBeforeRun}});
    printJson(QJsonDocument(QJsonObject{{QStringLiteral("tasks"), array}}), console);
}

class ListCommand final : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) override
    {
        const QList<ScheduledTask> tasks = context.store.loadTaskList();
        if (args.contains(QStringLiteral("--json"))) {
            printTasksJson(tasks, context.console);
            return 0;
        }
        if (tasks.isEmpty()) {
            context.console.print(QStringLiteral("No tasks configured."));
            return 0;
        }
        const QString enabled(QChar(0x25CF)), disabled(QChar(0x25CB));
        QList<QStringList> rows;
        rows.reserve(tasks.size());
        for (const ScheduledTask& task : tasks) {
            rows << QStringList{task.isEnabled ? enabled : disabled, terminalText(task.name),
                                task.schedule.summary(),
                                task.wakeBeforeRun ? QStringLiteral("wake") : QString(),
                                task.shortId()};
        }
        const QStringList headers = {QString(), QStringLiteral("Name"), QStringLiteral("Schedule"),
                                     QStringLiteral("Wake"), QStringLiteral("ID")};
        context.console.printRaw(formatTable(headers, rows));
        return 0;
    }
};
} // namespace

std::unique_ptr<Command> makeListCommand() { return std::make_unique<ListCommand>(); }
