#pragma once

#include "CalendarSchedule.h"
#include "Result.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// What the runner needs of one agent property list.
struct JobSpec {
    QString label;
    QString program;       // executable; empty: look up arguments[0] on the job's PATH
    QStringList arguments; // argv, arguments[0] included
    bool runAtLoad = false;
    std::optional<int> startInterval; // seconds, > 0
    QList<CalendarEntry> calendar;    // entries that passed validation
    int rejectedCalendarEntries = 0;  // entries dropped for out-of-range or non-integer values
    QString standardOutPath;
    QString standardErrorPath;
    QString workingDirectory;
    QMap<QString, QString> environment; // EnvironmentVariables
    QStringList keys;                   // every key of the plist's dict, in its order
};

// For the runner's own diagnostics; launchctl prints launchd's fixed text instead.
struct JobSpecError {
    QString reason;
    QString message() const { return reason; }
};

// Reads an XML or binary property list. A plist that cannot be parsed, is not a dict, or lacks
// a Label or a program (ProgramArguments or Program) is an error.
Result<JobSpec, JobSpecError> parseJobSpec(const QByteArray& bytes);
