#pragma once

#include "TestSupport.h"

#include <QString>
#include <QStringList>

#include <functional>

// Helpers for tests that drive the real launchctl and agent runner inside a TestHome. Every
// TestHome has its own XDG_RUNTIME_DIR, so each test talks to a runner of its own.
namespace RunnerTest {

// Generous for a loaded two-core machine; the checks poll and return as soon as they hold.
constexpr int timeoutMs = 20000;

ProcessResult launchctl(const QStringList& arguments,
                        const QProcessEnvironment& extra = QProcessEnvironment());

// An agent plist with the given program arguments and extra keys (raw XML).
QByteArray plist(const QString& label, const QStringList& arguments, const QString& extraKeys);
QString writePlist(const QString& folder, const QString& label, const QStringList& arguments,
                   const QString& extraKeys);

// Process id of this home's runner from its lock file, if that process is a live runner.
qint64 runnerPid();
bool processAlive(qint64 pid);
// Kills the runner (SIGTERM, then SIGKILL) and waits until it is gone. Its jobs go with it.
void stopRunner();
// Kills a job's whole process group.
void killGroup(qint64 pid);

// The line of `launchctl list` for `label`, split into pid, status, label; empty if absent.
QStringList listEntry(const QString& label);

bool waitFor(const std::function<bool()>& condition, int timeout = timeoutMs);

} // namespace RunnerTest
