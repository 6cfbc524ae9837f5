#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class CLITaskStore;
class Console;

struct CommandContext {
    CLITaskStore& store;
    const Console& console;
};

// One command of the tool. `args` are the words after the command word.
class Command {
public:
    virtual ~Command() = default;
    virtual int execute(const QStringList& args, CommandContext& context) = 0;
};

struct CommandEntry {
    QStringList words;
    std::unique_ptr<Command> (*make)();
};

// The command table, in lookup order.
const QList<CommandEntry>& commandTable();

// Parses the words after the program name, looks the command up and runs it.
int runTool(const QStringList& words, CommandContext& context);
