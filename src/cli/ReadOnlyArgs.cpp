#include "ReadOnlyArgs.h"

#include "CLITaskStore.h"
#include "Console.h"
#include "TaskListCommand.h"
#include "TextTable.h"

std::optional<ReadOnlyArgs> parseReadOnlyArgs(const QStringList& args,
                                              const QStringList& acceptedSwitches,
                                              std::optional<int> defaultCount, const QString& usage,
                                              const Console& console)
{
    ReadOnlyArgs parsed;
    parsed.count = defaultCount.value_or(0);
    bool positionalTaken = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& word = args[i];
        if (word == QLatin1String("-n") && defaultCount) {
            bool ok = false;
            const int count = i + 1 < args.size() ? args[i + 1].toInt(&ok) : 0;
            if (!ok || count <= 0) {
                console.error(QStringLiteral("-n needs a positive whole number"));
                return std::nullopt;
            }
            parsed.count = count;
            ++i;
        } else if (word == QLatin1String("--json") && acceptedSwitches.contains(word)) {
            parsed.json = true;
        } else if (acceptedSwitches.contains(word)) {
            parsed.switches << word;
        } else if (word.startsWith(QLatin1Char('-')) || positionalTaken || word.isEmpty()) {
            console.error(usage);
            return std::nullopt;
        } else {
            parsed.nameOrId = word;
            positionalTaken = true;
        }
    }
    return parsed;
}

std::optional<ScheduledTask> lookUpTask(const QString& nameOrId, const CommandContext& context)
{
    const QList<ScheduledTask> tasks = context.store.loadTaskList();
    const qsizetype index = findTask(tasks, nameOrId);
    if (index < 0) {
        context.console.error(QStringLiteral("Task not found: ") + terminalText(nameOrId));
        return std::nullopt;
    }
    return tasks[index];
}

std::optional<TaskArgs> parseTaskArgs(const QStringList& args, const QStringList& acceptedSwitches,
                                      std::optional<int> defaultCount, const QString& usage,
                                      const CommandContext& context)
{
    const auto parsed =
        parseReadOnlyArgs(args, acceptedSwitches, defaultCount, usage, context.console);
    if (!parsed)
        return std::nullopt;
    if (parsed->nameOrId.isEmpty()) {
        context.console.error(usage);
        return std::nullopt;
    }
    auto task = lookUpTask(parsed->nameOrId, context);
    if (!task)
        return std::nullopt;
    return TaskArgs{*parsed, std::move(*task)};
}

void printJson(const QJsonDocument& document, const Console& console)
{
    console.printRaw(QString::fromUtf8(document.toJson(QJsonDocument::Indented)));
}

QString localTimeText(const QDateTime& time)
{
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
