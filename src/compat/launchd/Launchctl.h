#pragma once

#include "Result.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

// The launchctl stand-in: load, unload and list, carried out by the user's agent runner,
// which is started on demand.
namespace Launchctl {

// launchd's own words, which callers and users recognise.
QString loadFailedMessage(); // "Load failed: 5: Input/output error"
QString notFoundMessage();   // "Could not find specified service"
constexpr int loadFailedStatus = 5;

// Runs one launchctl command line (without the program name); returns the exit status.
int run(const QStringList& arguments, QTextStream& out, QTextStream& err,
        const QString& programFolder);

// Sends one request to the runner, starting it when none answers; fails when the runner cannot
// be reached.
Result<QJsonObject> request(const QJsonObject& message, const QString& programFolder);

} // namespace Launchctl
