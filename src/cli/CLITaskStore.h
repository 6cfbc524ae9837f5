#pragma once

#include "LaunchdService.h"
#include "PmsetService.h"
#include "ScheduledTask.h"
#include "TaskFile.h"
#include "TaskOperations.h"

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
    // Every change of the list: the file first, under its lock, with the agents, then the wake
    // events, each request made whatever happened to the others; an undecodable file is refused,
    // a written change is announced, and every other agent is checked after it. Ctrl-C and
    // SIGTERM wait while the lock is held.
    TaskOperations operations() const;

private:
    QString m_taskFilePath;
    AgentPaths m_agentPaths;
    std::shared_ptr<const LaunchdServiceProtocol> m_launchdService;
    std::shared_ptr<const PmsetServiceProtocol> m_pmsetService;
};
