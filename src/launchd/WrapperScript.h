#pragma once

#include "ScheduleKinds.h"
#include "ScheduledTask.h"

#include <QString>

// The text of a task's wrapper script. launchd starts the wrapper; it adds the two schedule
// rules launchd's calendar cannot express, runs the user's part in a child shell and appends
// one run-history line with that shell's status.
namespace WrapperScript {

// `date` spells "tomorrow" differently on BSD (macOS) and GNU (Linux); the last-day guard is
// the only line of the wrapper that differs between the two systems.
using DateDialect = ScheduleKinds::DateDialect;

// The dialect of the system this program was built for.
DateDialect nativeDateDialect();

// The user's part of a run as shell input, one step a line: the login profile (zsh tasks), the
// .env file (its variables exported), the working folder (a folder that cannot be entered ends
// the input with cd's status), then the command exactly as stored, read as top-level input.
QString userPart(const ScheduledTask& task);

// The whole script, lines joined by line feeds and ended by exactly one line feed.
QString text(const ScheduledTask& task, const QString& runHistoryPath, DateDialect dialect);

} // namespace WrapperScript
