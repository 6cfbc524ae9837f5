#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One launchctl command line and what it left. Our own launchctl (the Linux stand-in built with
// this program) runs inside this process: the same code, without a second process that starts
// Qt only to send one line to the agent runner. Any other launchctl (macOS's, or a program
// named by BRENMOR_OPS_LAUNCHCTL or found in BRENMOR_OPS_COMPAT_DIR) runs as a process.
namespace LaunchctlCall {

struct Outcome {
    bool finished = false; // false: it could not start, was killed or took longer than allowed
    int exitCode = -1;
    QByteArray standardOutput;
    QString standardError;
};

// Runs launchctl with `arguments` and waits at most `timeoutMs` (-1: as long as it takes).
Outcome run(const QStringList& arguments, int timeoutMs = -1);

// Whether the launchctl at `path` is the one built with this program (links followed); such a
// launchctl runs in this process.
bool isOwn(const QString& path);
// The same against the stand-ins' folder `ownFolder`.
bool isOwn(const QString& path, const QString& ownFolder);

} // namespace LaunchctlCall
