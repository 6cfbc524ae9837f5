#include "AddOptions.h"
#include "CLITaskStore.h"
#include "Command.h"
#include "Console.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // argv as given, byte for byte: QCoreApplication::arguments() would turn bytes that are not
    // UTF-8 into U+FFFD, and a task would then be stored with a command nobody wrote.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << AddOptions::decodeArgument(QByteArray(argv[i]));
    CLITaskStore store;
    const Console console;
    CommandContext context{store, console};
    return runTool(words, context);
}
