#include "Command.h"

#include "Commands.h"
#include "Console.h"
#include "Usage.h"

const QList<CommandEntry>& commandTable()
{
    static const QList<CommandEntry> table = {
        {{QStringLiteral("list"), QStringLiteral("ls")}, &makeListCommand},
        {{QStringLiteral("add")}, &makeAddCommand},
        {{QStringLiteral("remove"), QStringLiteral("rm")}, &makeRemoveCommand},
        {{QStringLiteral("enable")}, &makeEnableCommand},
        {{QStringLiteral("disable")}, &makeDisableCommand},
        {{QStringLiteral("status")}, &makeStatusCommand},
        {{QStringLiteral("setup-cli")}, &makeSetupCliCommand},
        {{QStringLiteral("history")}, &makeHistoryCommand},
        {{QStringLiteral("logs")}, &makeLogsCommand},
        {{QStringLiteral("run")}, &makeRunCommand},
        {{QStringLiteral("next")}, &makeNextCommand},
        {{QStringLiteral("jobs")}, &makeJobsCommand},
        {{QStringLiteral("help"), QStringLiteral("--help"), QStringLiteral("-h")},
         &makeHelpCommand},
        {{QStringLiteral("version"), QStringLiteral("--version")}, &makeVersionCommand},
    };
    return table;
}

int runTool(const QStringList& words, CommandContext& context)
{
    if (words.isEmpty()) {
        context.console.printRaw(usageText());
        return 0;
    }
    const QString& word = words.first();
    for (const CommandEntry& entry : commandTable()) {
        if (entry.words.contains(word))
            return entry.make()->execute(words.mid(1), context);
    }
    context.console.error(QStringLiteral("Unknown command: ") + word);
    context.console.printRaw(usageText());
    return 1;
}
