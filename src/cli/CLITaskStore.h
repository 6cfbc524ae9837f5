#pragma once

#include "LaunchdService.h"
#include "PmsetService.h"
#include "ScheduledTask.h"
#include "TaskFile.h"
#include "TaskFileTransaction.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

// The tool's store: no tasks in memory between operations, one load and one save per command.
class CLITaskStore {
public:
    // Creates the data folder; taskFilePath defaults to tasks.json inside it. The agents are
    // installed by a LaunchdService whose logs go to the data folder's "Logs", wake events are
    // registered by a default PmsetService.
    explicit CLITaskStore(std::optional<QString> taskFilePath = std::nullopt);
    // The same with substitutes for the two services (tests).
    CLITaskStore(std::optional<QString> taskFilePath,
                 std::shared_ptr<const LaunchdServiceProtocol> launchdService,
                 std::shared_ptr<const PmsetServiceProtocol> pmsetService);

    const QString& taskFilePath() const { return m_taskFilePath; }
    // Where the agents' scripts, plists and logs are.
    const AgentPaths& agentPaths() const { return m_agentPaths; }
    const LaunchdServiceProtocol& launchdService() const { return *m_launchdService; }
    const PmsetServiceProtocol& pmsetService() const { return *m_pmsetService; }

    // The list in file order; a missing, unreadable or undecodable file gives an empty list.
    QList<ScheduledTask> loadTaskList() const;
    // The file as it stands, with the reason when it exists but cannot be decoded.
    TaskFile::ReadResult readTaskFile() const { return TaskFile::read(m_taskFilePath); }
    // One change of the file under its lock (see TaskFileTransaction); an undecodable file is
    // refused, a written change is announced.
    TaskFileTransaction::Outcome change(const TaskFileTransaction::Change& change,
                                        const TaskFileTransaction::AfterWrite& afterWrite) const;

    // Brings the agents in step with `tasks` (the list just written, under the lock) and
    // removes abandoned temporaries of the task file.
    AgentOutcome reconcile(const QList<ScheduledTask>& tasks) const;

    // After a change from `before` to `after`: cancels the events `after` no longer needs (see
    // wakeCancellations()), then re-registers the wake events the enabled wake tasks of `after`
    // need. pmset holds a single repeating event, so only the first task with a repeating
    // schedule gets one; every monthly-day task gets its own one-time event. A failure does not
    // stop the other requests; the first one's message is the failure.
    Result<void> refreshWakeSchedules(const QList<ScheduledTask>& before,
                                      const QList<ScheduledTask>& after) const;

private:
    QString m_taskFilePath;
    AgentPaths m_agentPaths;
    std::shared_ptr<const LaunchdServiceProtocol> m_launchdService;
    std::shared_ptr<const PmsetServiceProtocol> m_pmsetService;
};
