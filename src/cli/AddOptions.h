#pragma once

#include "Result.h"
#include "TaskSchedule.h"
#include "TimeOfDay.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Parsing of the words after `add`. Errors of the schedule parse are collected in the order the
// tool prints them; they do not end the parse by themselves.
namespace AddOptions {

// Everything but the schedule. A value is the next word, taken verbatim even when it starts
// with "--"; an option that is the last word resets its value.
struct Options {
    std::optional<QString> name;
    std::optional<QString> command;
    std::optional<QString> workingDirectory;
    std::optional<QString> envFile;
    bool wake = false;
};
Options parseOptions(const QStringList& words);
// Fails with "--command must be valid UTF-8" (and the same for --name, --working-dir and
// --env-file) when an option's value held bytes that are not UTF-8; a task keeps the user's
// bytes or is refused.
Result<void> checkDecodable(const Options& options);

// One program argument as text. Bytes that are not UTF-8 become lone surrogates (U+DC80 to
// U+DCFF, one per byte) instead of U+FFFD, so they stay recognisable and nothing is silently
// replaced.
QString decodeArgument(const QByteArray& bytes);
// Whether the text came from valid UTF-8 (holds no lone surrogate).
bool isValidText(const QString& text);

struct ScheduleResult {
    std::optional<TaskSchedule> schedule;
    QStringList messages;
};
// The first word that is a schedule option decides alone, whatever it yields; later schedule
// options are never looked at. Every word counts, even those taken as option values.
ScheduleResult parseSchedule(const QStringList& words);

QString scheduleRequiredMessage();
// The usage lines of the schedule options, each ended by a line feed.
QString scheduleUsage();

} // namespace AddOptions
