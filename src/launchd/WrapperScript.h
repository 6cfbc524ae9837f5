#pragma once

#include "ScheduledTask.h"

#include <QString>

// The text of a task's wrapper script. launchd starts the wrapper; it adds the two schedule
// rules launchd's calendar cannot express, runs the command and appends one run-history line.
namespace WrapperScript {

// `date` spells "tomorrow" differently on BSD (macOS) and GNU (Linux); the last-day guard is
// the only line of the wrapper that differs between the two systems.
enum class DateDialect { bsd, gnu };

// The dialect of the system this program was built for.
DateDialect nativeDateDialect();

// The whole script, lines joined by line feeds and ended by exactly one line feed.
QString text(const ScheduledTask& task, const QString& runHistoryPath, DateDialect dialect);

} // namespace WrapperScript
