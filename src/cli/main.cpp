#include "CLITaskStore.h"
#include "Command.h"
#include "Console.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList words = app.arguments().mid(1);
    CLITaskStore store;
    const Console console;
    CommandContext context{store, console};
    return runTool(words, context);
}
