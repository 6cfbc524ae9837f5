#pragma once

#include "Command.h"
#include "ScheduledTask.h"

#include <QJsonDocument>
#include <QString>
#include <QStringList>

#include <optional>

// Words of the commands that only read: one optional positional word (the task) and flags.
struct ReadOnlyArgs {
    QString nameOrId;     // empty when none was given
    int count = 0;        // -n N, or the command's default
    bool json = false;    // --json
    QStringList switches; // other words starting with "--" or "-" that the command accepts

    bool has(const QString& flag) const { return switches.contains(flag); }
};

// Parses `args` against the accepted switches. "-n" takes a positive whole number. Words the
// command does not know are an error: a typo such as "-f" for a command that cannot follow must
// not be read as a task name. Prints "Error: <usage>" and returns nothing on a mistake.
std::optional<ReadOnlyArgs> parseReadOnlyArgs(const QStringList& args,
                                              const QStringList& acceptedSwitches,
                                              std::optional<int> defaultCount, const QString& usage,
                                              const Console& console);

// The task the word names (see findTask), from a fresh read of the task file. Prints
// "Error: Task not found: <word>" when there is none.
std::optional<ScheduledTask> lookUpTask(const QString& nameOrId, const CommandContext& context);

// The words of a command about one task that must be named, and that task.
struct TaskArgs {
    ReadOnlyArgs args;
    ScheduledTask task;
};
// parseReadOnlyArgs, then lookUpTask; a missing name is the usage error.
std::optional<TaskArgs> parseTaskArgs(const QStringList& args, const QStringList& acceptedSwitches,
                                      std::optional<int> defaultCount, const QString& usage,
                                      const CommandContext& context);

// Prints one JSON document, indented, ended by a line feed.
void printJson(const QJsonDocument& document, const Console& console);

// "2026-03-01 09:00:05" in the local time zone.
QString localTimeText(const QDateTime& time);
