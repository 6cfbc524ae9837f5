#pragma once

#include "ScheduledTask.h"
#include "TaskBuilder.h"
#include "TestSupport.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUuid>

// Runs the real brenmor-ops in a private home with recording stand-ins for launchctl and
// osascript. Both append to one calls log, so the order between agent work and wake
// registrations is visible:
//   "launchctl <verb> <task id>"   (the id taken from the plist name)
//   "osascript <AppleScript source>"
// At every launchctl call the stand-in also copies tasks.json aside, so a test can see what the
// file held at that moment (was the list saved before or after the agent was touched?).
class CliHarness {
public:
    CliHarness();

    const TestHome& home() const { return m_home; }
    QString taskFile() const { return m_home.taskFile(); }

    ProcessResult run(const QStringList& args,
                      const QProcessEnvironment& extra = QProcessEnvironment()) const;

    // The calls log, one entry per call.
    QStringList calls() const;
    void clearCalls() const;
    // tasks.json as it was at the n-th launchctl call (1-based); nullopt when it did not exist.
    std::optional<QList<ScheduledTask>> snapshotAtLaunchctlCall(int n) const;

    // Makes osascript fail (execution error "User canceled.") when the source contains `text`.
    static QProcessEnvironment failOsascriptWhen(const QString& text);
    // Makes launchctl exit with `status`.
    static QProcessEnvironment launchctlStatus(int status);

    // Writes the task file with these tasks (creating the data folder).
    void seed(const QList<ScheduledTask>& tasks) const;
    void seedBytes(const QByteArray& bytes) const;
    QByteArray taskFileBytes() const { return TestSupport::readFile(taskFile()); }
    QList<ScheduledTask> storedTasks() const;

    QString plistPath(const ScheduledTask& task) const;
    QString scriptPath(const ScheduledTask& task) const;

private:
    TestHome m_home;
    QString m_fakes;
};

// Standard error without the "Warning: " lines add prints about what the first run would meet
// (a program missing on this machine, a folder that does not exist here).
QString withoutWarnings(const QString& err);

// A task as the tool writes one: this identifier, a command that echoes the name, the login
// shell.
TaskBuilder storedTask(const QString& name, const QString& id);

// The pmset registration the wake code sends for a repeating event, as osascript receives it.
QString repeatWakeCall(const QString& days, const QString& time);
