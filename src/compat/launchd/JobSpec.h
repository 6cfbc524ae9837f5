#pragma once

#include "CalendarSchedule.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

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
};

struct JobSpecError {
    QString reason; // for the runner's own diagnostics; launchctl prints launchd's fixed text
};

// Reads an XML or binary property list. A plist that cannot be parsed, is not a dict, or lacks
// a Label or a program (ProgramArguments or Program) is an error.
std::variant<JobSpec, JobSpecError> parseJobSpec(const QByteArray& bytes);
