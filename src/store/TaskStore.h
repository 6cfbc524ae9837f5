#pragma once

#include "LaunchdService.h"
#include "PmsetService.h"
#include "Result.h"
#include "RunHistory.h"
#include "ScheduledTask.h"
#include "TaskFile.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class ChangeObserver;
class QThread;

// The application's single owner of the task list. Keeps tasks.json, every task's launchd agent
// and the machine's wake events in step with the list, and reloads when the command-line tool
// announces a change. Lives on the main thread; views observe `changed()`.
class TaskStore final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskStore)

public:
    struct Options {
        std::optional<QString> taskFilePath;
        std::optional<QString> logsDirectory;
        std::shared_ptr<const LaunchdServiceProtocol> launchdService;
        std::shared_ptr<const PmsetServiceProtocol> pmsetService;
        // Removes the task file before the first load: the list starts empty and the agents
        // of the old one go as orphans.
        bool startEmpty = false;
        // How long a load or save waits for another writer's lock before it reports failure:
        // short, as the window's thread waits (tests of many writers queueing give it more).
        int lockWaitMs = TaskFile::applicationLockWaitMs;
    };

    TaskStore();
    explicit TaskStore(Options options, QObject* parent = nullptr);
    ~TaskStore() override;

    const QList<ScheduledTask>& tasks() const { return m_tasks; }
    const ScheduledTask* task(const QUuid& id) const;
    const std::optional<QString>& lastError() const { return m_lastError; }
    const std::optional<QString>& lastWarning() const { return m_lastWarning; }
    void setLastError(std::optional<QString> error);
    void setLastWarning(std::optional<QString> warning);
    const QString& taskFilePath() const { return m_taskFilePath; }
    // Where the agents' scripts, plists, logs and run histories are.
    const AgentPaths& agentPaths() const { return m_agentPaths; }
    const PmsetServiceProtocol& pmsetService() const { return *m_pmsetService; }

    // Reads the file and removes the agents of tasks it does not hold (decided under the lock),
    // then starts the script upgrade pass.
    void loadTasks();
    // Enabled tasks whose wrapper script lacks the current marker get new scripts and agents.
    // After a version change that is every task, so the pass runs on a worker thread; every
    // operation first waits for it, so nothing the user does meanwhile is overwritten.
    bool isUpgradingScripts() const { return m_upgrade != nullptr; }
    // How many scripts the running pass is rewriting; 0 while it is still looking, or idle.
    int upgradingScriptCount() const { return m_upgradingCount; }
    // Returns when no pass runs. Timers and queued work go on meanwhile; the user's input
    // waits and then arrives in its order.
    void waitForScriptUpgrade();
    // Rewrites the file's own list and shows it; never writes the list in memory over a change
    // another program made.
    void saveTasks();
    void addTask(const ScheduledTask& task);
    void updateTask(const ScheduledTask& task);
    void setEnabled(bool enabled, const QUuid& id);
    void deleteTask(const ScheduledTask& task);
    void deleteTasks(const QSet<QUuid>& ids);
    ScheduledTask duplicateTask(const ScheduledTask& task);
    struct ImportCounts {
        int imported = 0;
        int skipped = 0;
    };
    Result<ImportCounts> importTasks(const QByteArray& data);
    bool syncWakeSchedules();
    QString readLog(const ScheduledTask& task, LogStream stream, int lastLines) const;
    QList<TaskRunRecord> runHistory(const ScheduledTask& task) const;

Q_SIGNALS:
    // tasks, lastError or lastWarning changed.
    void changed();
    // A pass started, learned how many scripts it rewrites, or ended.
    void scriptUpgradeChanged();

private:
    class ChangeScope;
    void reportError(const QString& message);
    void installReporting(const ScheduledTask& task);
    void installAllReporting(const QList<ScheduledTask>& tasks);
    void uninstallReporting(const ScheduledTask& task);
    void scheduleReload();
    void startScriptUpgrade();
    void finishScriptUpgrade(const QList<AgentOutcome>& results);
    int indexOf(const QUuid& id) const;
    // Replaces the task with `task`'s identifier; false when the list has none.
    static bool replaceTask(QList<ScheduledTask>& tasks, const ScheduledTask& task);
    // The list a change will meet: the file as it stands, or the list in memory when there is
    // no readable file. Wake registrations are made for it before the change is written.
    QList<ScheduledTask> currentList() const;
    // Applies `change` to the file in one transaction and adopts the list written. When the
    // file cannot be written the change is applied to the list in memory and the error
    // reported. Never holds the lock while a dialog may show: callers register wake events and
    // touch agents before.
    bool commit(const std::function<bool(QList<ScheduledTask>&)>& change);
    void removeTasks(const QList<ScheduledTask>& doomed);
    // Cancels the wake events `before` had and `after` no longer needs, then registers those of
    // `after`; the first failure is reported and ends the pass.
    bool syncWakeSchedules(const QList<ScheduledTask>& before, const QList<ScheduledTask>& after);

    QList<ScheduledTask> m_tasks;
    std::optional<QString> m_lastError;
    std::optional<QString> m_lastWarning;
    QString m_taskFilePath;
    int m_lockWaitMs = TaskFile::applicationLockWaitMs;
    AgentPaths m_agentPaths;
    std::shared_ptr<const LaunchdServiceProtocol> m_launchdService;
    std::shared_ptr<const PmsetServiceProtocol> m_pmsetService;
    ChangeObserver* m_observer = nullptr;
    // Nesting depth of operations; `changed()` is emitted once, when the outermost ends.
    int m_operationDepth = 0;
    bool m_reloadPending = false;
    QThread* m_upgrade = nullptr;
    int m_upgradingCount = 0;
    // A change notification during a pass: the reload follows it.
    bool m_reloadAfterUpgrade = false;
};
