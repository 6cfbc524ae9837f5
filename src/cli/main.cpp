#include "AddOptions.h"
#include "CLITaskStore.h"
#include "Command.h"
#include "Console.h"
#include "Locations.h"

#include <QCoreApplication>

#include <malloc.h>

int main(int argc, char** argv)
{
    // A command lives for milliseconds, and on a virtual machine every fresh page costs it tens
    // of microseconds: memory it frees is kept for its next allocations (the task file's text,
    // once decoded, holds the table's rows) instead of going back to the system.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    QCoreApplication app(argc, argv);
    // argv as given, byte for byte: QCoreApplication::arguments() would turn bytes that are not
    // UTF-8 into U+FFFD, and a task would then be stored with a command nobody wrote.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << AddOptions::decodeArgument(QByteArray(argv[i]));
    const Console console;
    // Every command but help, version and setup-cli reads or writes the task file: none of them
    // may use a data folder someone else owns.
    static const QStringList folderFree = {
        QStringLiteral("help"),    QStringLiteral("--help"),    QStringLiteral("-h"),
        QStringLiteral("version"), QStringLiteral("--version"), QStringLiteral("setup-cli")};
    if (!words.isEmpty() && !folderFree.contains(words.first())) {
        if (const Result<void> usable = Locations::ensureDataFolder(); !usable.ok()) {
            console.error(usable.message());
            return 1;
        }
    }
    CLITaskStore store;
    CommandContext context{store, console};
    return runTool(words, context);
}
