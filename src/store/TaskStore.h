#pragma once

#include "LaunchdService.h"
#include "PmsetService.h"
#include "Result.h"
#include "RunHistory.h"
#include "ScheduledTask.h"
#include "TaskFile.h"
#include "TaskOperations.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ChangeObserver;
class TaskRunReader;
class QThread;

// The application's single owner of the task list: an observable cache over the task
// operations (TaskOperations), which keep tasks.json, every task's launchd agent and the
// machine's wake events in step. Reloads when the command-line tool announces a change. Lives on
// the main thread; the operations run on one worker thread, in the order they were asked for
// (or, for tests that look at each step, in the caller). Views observe the fine-grained signals
// (or `changed()` for anything).
class TaskStore final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskStore)

public:
    // Where the operations run: on the store's worker, so the window never waits for launchctl,
    // the administrator dialog or the task file's lock (the application); or in the caller,
    // each finished when its call returns.
    enum class Execution { inCaller, onWorker };

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
        Execution execution = Execution::inCaller;
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
    // then starts the script upgrade pass. The first load runs in the caller; later ones (a
    // change notification) follow the execution.
    void loadTasks();
    // Enabled tasks whose wrapper script lacks the current marker get new scripts and agents.
    // After a version change that is every task, so the pass runs on the worker; operations
    // asked for meanwhile run after it, so nothing the user does is overwritten.
    bool isUpgradingScripts() const { return m_upgrading; }
    // How many scripts the running pass is rewriting; 0 while it is still looking, or idle.
    int upgradingScriptCount() const { return m_upgradingCount; }
    // Returns when no pass runs. Timers and queued work go on meanwhile; the user's input
    // waits and then arrives in its order. For callers that run operations themselves.
    void waitForScriptUpgrade();

    // The operations. Each one's report arrives as the list, lastError and lastWarning, and by
    // the signals below.
    // Rewrites the file's own list and shows it; never writes the list in memory over a change
    // another program made.
    void saveTasks();
    void addTask(const ScheduledTask& task);
    void updateTask(const ScheduledTask& task);
    void setEnabled(bool enabled, const QUuid& id);
    void deleteTask(const ScheduledTask& task);
    void deleteTasks(const QSet<QUuid>& ids);
    // The copy (disabled, " (copy)" added to the name) that is being added.
    ScheduledTask duplicateTask(const ScheduledTask& task);
    struct ImportCounts {
        int imported = 0;
        int skipped = 0;
    };
    using ImportDone = std::function<void(const Result<ImportCounts>&)>;
    // `done` gets the counts, or why the data is no task list, once the views have the list.
    void importTasks(const QByteArray& data, ImportDone done);
    // The same for the file at `path`, read where the operation runs (so the window never waits
    // for a slow disk): only a regular file of at most `maxBytes` is read; `done` gets why
    // another is not ("<path> is not a regular file", "<path> is larger than <n> bytes", the
    // system's reason).
    void importFile(const QString& path, qint64 maxBytes, ImportDone done);
    void syncWakeSchedules();

    // Whether an operation on the task runs or waits to run.
    bool isBusy(const QUuid& id) const { return m_busy.value(id) > 0; }
    // Whether any operation runs or waits to run.
    bool isWorking() const { return m_pending > 0; }

    QString readLog(const ScheduledTask& task, LogStream stream, int lastLines) const;
    QList<TaskRunRecord> runHistory(const ScheduledTask& task) const;
    // Reads the tasks' run histories and agent file times for the views' rows, beside the
    // window; what one view asked for serves the others. A removed task's answers go with it.
    TaskRunReader& runReader() const { return *m_runReader; }

Q_SIGNALS:
    // tasks, lastError or lastWarning changed (once per operation, or per burst of reports
    // taken together; after the row-by-row signals below, so it also ends a batch of them).
    void changed();
    // The list changed in one of these ways; each is emitted after the list holds it.
    void taskAdded(int row);
    void taskChanged(const QUuid& id);
    void taskRemoved(const QUuid& id);
    // The list was replaced in another order.
    void tasksReset();
    // An operation on the task was asked for (it may wait for others), or its report arrived.
    void operationStarted(const QUuid& id);
    void operationFinished(const QUuid& id);
    // The worker went from idle to busy or back.
    void workingChanged(bool working);
    // A pass started, learned how many scripts it rewrites, or ended.
    void scriptUpgradeChanged();

private:
    class ChangeScope;
    using Operation =
        std::function<OperationResult(const TaskOperations&, const QList<ScheduledTask>&)>;
    using Finish = std::function<void(const OperationResult&)>;
    // Runs `operation` on the list shown, marking `ids` busy until its report is adopted.
    void perform(const QList<QUuid>& ids, Operation operation, Finish finish = {});
    // An import's operation, its counts or failure given to `done`.
    void performImport(Operation operation, ImportDone done);
    // A report from the worker, waiting for the main thread.
    struct Arrived {
        QList<QUuid> ids;
        OperationResult result;
        Finish finish;
    };
    void drainReports();
    // Adopts the reports in one change, then tells who waited for each.
    void takeReports(const std::vector<Arrived>& reports);
    // The report's failures and warnings, and with `withList` its list.
    void adoptReport(const OperationResult& result, bool withList);
    // Takes `tasks` as the list, telling the views row by row.
    void adopt(const QList<ScheduledTask>& tasks);
    // Posts `job` to the worker; `done` runs on the main thread after it, while the store lives.
    void onWorker(std::function<void()> job);
    void scheduleReload();
    void startScriptUpgrade();
    void finishScriptUpgrade(const QList<AgentOutcome>& results);
    int indexOf(const QUuid& id) const;

    QList<ScheduledTask> m_tasks;
    std::optional<QString> m_lastError;
    std::optional<QString> m_lastWarning;
    QString m_taskFilePath;
    int m_lockWaitMs = TaskFile::applicationLockWaitMs;
    AgentPaths m_agentPaths;
    std::shared_ptr<const LaunchdServiceProtocol> m_launchdService;
    std::shared_ptr<const PmsetServiceProtocol> m_pmsetService;
    Execution m_execution = Execution::inCaller;
    std::shared_ptr<const TaskOperations> m_operations;
    ChangeObserver* m_observer = nullptr;
    TaskRunReader* m_runReader = nullptr;
    // Nesting depth of operations; `changed()` is emitted once, when the outermost ends.
    int m_operationDepth = 0;
    bool m_reloadPending = false;
    // The worker thread and the object whose queue it works through.
    QThread* m_worker = nullptr;
    QObject* m_workerQueue = nullptr;
    // Operations asked for and not yet reported, in all and per task.
    int m_pending = 0;
    QHash<QUuid, int> m_busy;
    QMutex m_arrivedMutex;
    std::vector<Arrived> m_arrived;
    bool m_drainPosted = false;
    bool m_upgrading = false;
    int m_upgradingCount = 0;
    // A change notification during a pass: the reload follows it.
    bool m_reloadAfterUpgrade = false;
};
