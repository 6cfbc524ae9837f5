#include "TaskListCommand.h"

#include "CLITaskStore.h"
#include "Console.h"
#include "TextTable.h"

int TaskListCommand::execute(const QStringList& args, CommandContext& context)
{
    if (!prepare(args, context))
        return 1;

    // Several tool runs, or the tool and the application, may change the file at once; each
    // change is applied to the list on disk under the lock, so no change is lost.
    const OperationResult result = perform(context.store.operations());
    if (!result) {
        const OperationError& error = result.error();
        const QString& path = context.store.taskFilePath();
        switch (error.status) {
        case TaskFileTransaction::Status::unreadable:
            context.console.error(
                QStringLiteral("Cannot read the task file %1: %2. It was left unchanged.")
                    .arg(path, error.text));
            break;
        case TaskFileTransaction::Status::writeFailed:
            context.console.error(
                QStringLiteral("Could not save the task file %1: %2").arg(path, error.text));
            break;
        case TaskFileTransaction::Status::written:
        case TaskFileTransaction::Status::unchanged:
        case TaskFileTransaction::Status::lockFailed:
        case TaskFileTransaction::Status::keepFailed:
            // Names come from the task file or the command line.
            context.console.error(terminalText(error.text));
            break;
        }
        return 1;
    }
    // Names and paths come from the task file, which an import or a hand edit may fill.
    context.console.print(terminalText(successLine(*result)));
    for (const QString& failure : std::as_const(result->failures))
        context.console.error(terminalText(failure));
    return result->ok() ? 0 : 1;
}

bool NamedTaskCommand::prepare(const QStringList& args, const CommandContext& context)
{
    // An empty argument would match every identifier and so pick the first task of the file.
    if (args.isEmpty() || args.first().isEmpty()) {
        context.console.error(m_usage);
        return false;
    }
    m_nameOrId = args.first();
    return true;
}
