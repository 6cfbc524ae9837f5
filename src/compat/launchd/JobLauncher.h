#pragma once

#include "JobSpec.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// Starting one run of a job the way launchd does: a reduced environment, standard input from
// /dev/null, output appended to the job's log files, the home folder as working folder, and a
// session of its own so the runner can stop the job's whole process group.
namespace JobLauncher {

// launchd's search path for agents.
QString defaultPath();

// The user as launchd describes them to a job.
struct UserInfo {
    QString home;
    QString user;
    QString shell;
    QString tmpdir;
};
// From the runner's own environment, with the password database for what it lacks.
UserInfo currentUser();

// The environment of a job: HOME, USER, LOGNAME, SHELL, PATH, TMPDIR, then the session
// variables a Linux desktop program needs to reach the user's bus and data folders, taken from
// the runner's environment when set, and last the plist's EnvironmentVariables. Sorted
// "NAME=value" entries.
QStringList environmentFor(const UserInfo& user, const QMap<QString, QString>& runnerEnvironment,
                           const QMap<QString, QString>& jobVariables);

// The executable for a job: Program, else arguments[0] as a path, else arguments[0] looked up
// on the job's PATH. Empty when nothing executable is found.
QString resolveExecutable(const JobSpec& definition, const QString& searchPath);

struct Started {
    pid_t pid = -1; // -1: the run could not start
    QString error;  // why it could not start
};

// Starts one run. A log path that cannot be opened leaves that stream on /dev/null; the run
// still happens.
Started start(const JobSpec& definition, const UserInfo& user, const QStringList& environment);

} // namespace JobLauncher
