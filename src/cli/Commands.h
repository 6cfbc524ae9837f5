#pragma once

#include "Command.h"

// One factory per command; each lives in its own file.
std::unique_ptr<Command> makeListCommand();
std::unique_ptr<Command> makeAddCommand();
std::unique_ptr<Command> makeRemoveCommand();
std::unique_ptr<Command> makeEnableCommand();
std::unique_ptr<Command> makeDisableCommand();
std::unique_ptr<Command> makeStatusCommand();
std::unique_ptr<Command> makeSetupCliCommand();
std::unique_ptr<Command> makeHistoryCommand();
std::unique_ptr<Command> makeLogsCommand();
std::unique_ptr<Command> makeRunCommand();
std::unique_ptr<Command> makeJobsCommand();
std::unique_ptr<Command> makeNextCommand();
std::unique_ptr<Command> makeHelpCommand();
std::unique_ptr<Command> makeVersionCommand();
