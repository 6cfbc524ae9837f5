#include "TaskStore.h"

#include "AtomicFile.h"
#include "ChangeNotification.h"
#include "Locations.h"
#include "RegularFile.h"
#include "Result.h"
#include "TaskFile.h"
#include "TaskRunReader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace {

QString loadFailure(const QString& description)
{
    return QStringLiteral("Failed to load tasks: ") + description;
}

QString saveFailure(const QString& description)
{
    return QStringLiteral("Failed to save tasks: ") + description;
}

// What a load found: the file, and the outcome of bringing the agents in step with it (nothing
// when the lock could not be had or the file not read).
struct LoadOutcome {
    TaskFile::ReadResult file;
    std::optional<AgentOutcome> reconciled;
};

// `shown`: the list in memory, which a missing file leaves as it is.
LoadOutcome readAndReconcile(const QString& taskFilePath, int lockWaitMs,
                             const LaunchdServiceProtocol& launchd,
                             const QList<ScheduledTask>& shown)
{
    // The sweep decides from the file as it stands while no other writer can change it, so the
    // agent of a task the tool has just added is never taken for an orphan. Without the lock
    // the load goes on and the sweep waits for the next one.
    LoadOutcome outcome;
    const TaskFile::Lock lock(taskFilePath, lockWaitMs);
    outcome.file = TaskFile::read(taskFilePath);
    // A file that exists but cannot be read says nothing about which tasks exist: sweeping
    // against the list in memory would unload every agent the file still names. The agents are
    // brought in step with the file: a change the tool or this program did not finish (killed
    // between the file write and the agent change) is completed here, and what an interrupted
    // write left behind goes.
    if (lock.isLocked() && outcome.file.status != TaskFile::ReadStatus::unreadable) {
        AtomicFile::removeAbandonedTemporaries(QFileInfo(taskFilePath).absolutePath(),
                                               QFileInfo(taskFilePath).fileName());
        // Older scripts are left to the upgrade pass, which rewrites them beside the window.
        const bool loaded = outcome.file.status == TaskFile::ReadStatus::loaded;
        outcome.reconciled = launchd.reconcile(loaded ? outcome.file.tasks : shown,
                                               LaunchdServiceProtocol::OlderScripts::leave);
    }
    return outcome;
}

} // namespace

// Emits `changed()` once when the outermost operation ends and tasks, lastError or lastWarning
// differ from what they were when it began.
class TaskStore::ChangeScope {
public:
    explicit ChangeScope(TaskStore& store)
        : m_store(store), m_tasks(store.m_tasks), m_error(store.m_lastError),
          m_warning(store.m_lastWarning)
    {
        ++m_store.m_operationDepth;
    }
    ~ChangeScope()
    {
        if (--m_store.m_operationDepth > 0)
            return;
        if (m_store.m_tasks != m_tasks || m_store.m_lastError != m_error ||
            m_store.m_lastWarning != m_warning)
            Q_EMIT m_store.changed();
    }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

private:
    TaskStore& m_store;
    QList<ScheduledTask> m_tasks;
    std::optional<QString> m_error;
    std::optional<QString> m_warning;
};

TaskStore::TaskStore() : TaskStore(Options()) {}

TaskStore::TaskStore(Options options, QObject* parent) : QObject(parent)
{
    // Commands can hold secrets, so the folder is private; a failure shows up at the first save.
    // Without a data folder (the application refuses to start then) only given paths are used.
    if (const QString dataFolder = Locations::dataFolder(); !dataFolder.isEmpty())
        (void)Locations::makePrivateFolder(dataFolder);
    m_taskFilePath = options.taskFilePath.value_or(Locations::taskFilePath());
    m_lockWaitMs = options.lockWaitMs;
    m_execution = options.execution;
    m_agentPaths = AgentPaths(std::nullopt, std::nullopt, options.logsDirectory);

    m_launchdService = options.launchdService
                           ? options.launchdService
                           : std::make_shared<const LaunchdService>(m_agentPaths);
    m_pmsetService =
        options.pmsetService ? options.pmsetService : std::make_shared<const PmsetService>();

    TaskOperations::Context context;
    context.taskFilePath = m_taskFilePath;
    context.launchd = m_launchdService;
    context.pmset = m_pmsetService;
    context.wakeRefusal = TaskOperations::WakeRefusal::keepDisabled;
    context.agentsUnderLock = false;
    context.lockWaitMs = m_lockWaitMs;
    // A file that cannot be decoded may still hold the user's tasks (hand edits, a newer
    // version's format): it is kept aside before it is replaced.
    context.unreadableFile = TaskFileTransaction::UnreadableFile::keepCopy;
    m_operations = std::make_shared<const TaskOperations>(std::move(context));

    m_runReader = new TaskRunReader(m_agentPaths, this);
    connect(this, &TaskStore::taskRemoved, m_runReader, &TaskRunReader::forget);

    m_worker = new QThread(this);
    m_worker->setObjectName(QStringLiteral("TaskStore worker"));
    m_workerQueue = new QObject;
    m_workerQueue->moveToThread(m_worker);
    connect(m_worker, &QThread::finished, m_workerQueue, &QObject::deleteLater);
    m_worker->start();

    if (options.startEmpty)
        QFile::remove(m_taskFilePath);

    // The first list is there before the window shows.
    const Execution execution = m_execution;
    m_execution = Execution::inCaller;
    loadTasks();
    m_execution = execution;

    m_observer = new ChangeObserver(this);
    connect(m_observer, &ChangeObserver::received, this, &TaskStore::scheduleReload);
}

TaskStore::~TaskStore()
{
    // Unregister before anything else goes, so no notification arrives half-way.
    delete m_observer;
    m_observer = nullptr;
    // The job running ends before the store does (it writes files through the shared
    // services); the jobs waiting and their reports to the store are dropped.
    m_worker->quit();
    m_worker->wait();
}

const ScheduledTask* TaskStore::task(const QUuid& id) const
{
    const int index = indexOf(id);
    return index < 0 ? nullptr : &m_tasks.at(index);
}

int TaskStore::indexOf(const QUuid& id) const
{
    for (qsizetype i = 0; i < m_tasks.size(); ++i) {
        if (m_tasks.at(i).id == id)
            return int(i);
    }
    return -1;
}

void TaskStore::setLastError(std::optional<QString> error)
{
    ChangeScope scope(*this);
    m_lastError = std::move(error);
}

void TaskStore::setLastWarning(std::optional<QString> warning)
{
    ChangeScope scope(*this);
    m_lastWarning = std::move(warning);
}

void TaskStore::onWorker(std::function<void()> job)
{
    QMetaObject::invokeMethod(m_workerQueue, std::move(job), Qt::QueuedConnection);
}

void TaskStore::adopt(const QList<ScheduledTask>& tasks)
{
    if (tasks == m_tasks)
        return;
    QSet<QUuid> kept;
    for (const ScheduledTask& task : tasks)
        kept.insert(task.id);
    for (qsizetype i = m_tasks.size() - 1; i >= 0; --i) {
        if (!kept.contains(m_tasks.at(i).id)) {
            const QUuid id = m_tasks.takeAt(i).id;
            Q_EMIT taskRemoved(id);
        }
    }
    // The tasks both lists hold must keep their order for the rows to be changed in place.
    QList<QUuid> remaining;
    for (const ScheduledTask& task : std::as_const(m_tasks))
        remaining.append(task.id);
    QList<QUuid> arriving;
    for (const ScheduledTask& task : tasks) {
        if (remaining.contains(task.id))
            arriving.append(task.id);
    }
    if (remaining != arriving) {
        m_tasks = tasks;
        Q_EMIT tasksReset();
        return;
    }
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        const ScheduledTask& task = tasks.at(i);
        if (i < m_tasks.size() && m_tasks.at(i).id == task.id) {
            if (m_tasks.at(i) != task) {
                m_tasks[i] = task;
                Q_EMIT taskChanged(task.id);
            }
        } else {
            m_tasks.insert(i, task);
            Q_EMIT taskAdded(int(i));
        }
    }
}

void TaskStore::adoptReport(const OperationResult& result, bool withList)
{
    // The later failure is the one shown, as every failure is in the report.
    if (result) {
        if (withList)
            adopt(result->tasks);
        for (const QString& failure : result->failures)
            m_lastError = failure;
        for (const QString& warning : result->warnings)
            m_lastWarning = warning;
        return;
    }
    const OperationError& error = result.error();
    switch (error.kind) {
    case OperationError::Kind::notFound:
    case OperationError::Kind::undecodable:
        // Nothing to show: the task went meanwhile, or the caller reports the data.
        break;
    case OperationError::Kind::refused:
        m_lastError = error.text;
        break;
    case OperationError::Kind::file:
        // The change stays on screen, so the user can see what was not saved and try again.
        if (withList)
            adopt(error.unsaved);
        for (const QString& failure : error.failures)
            m_lastError = failure;
        m_lastError = saveFailure(error.text);
        break;
    }
}

void TaskStore::perform(const QList<QUuid>& ids, Operation operation, Finish finish)
{
    ++m_pending;
    if (m_pending == 1)
        Q_EMIT workingChanged(true);
    for (const QUuid& id : ids) {
        ++m_busy[id];
        Q_EMIT operationStarted(id);
    }
    const QList<ScheduledTask> shown = m_tasks;
    if (m_execution == Execution::inCaller) {
        waitForScriptUpgrade();
        std::vector<Arrived> arrived;
        arrived.push_back({ids, operation(*m_operations, shown), finish});
        takeReports(arrived);
        return;
    }
    onWorker(
        [this, operations = m_operations, operation = std::move(operation), shown, ids, finish] {
            Arrived arrived{ids, operation(*operations, shown), finish};
            // Reports that arrive while the window is busy are taken together, so a burst of them
            // (the queue behind an administrator dialog) costs the views one update.
            bool post = false;
            {
                const QMutexLocker locker(&m_arrivedMutex);
                m_arrived.push_back(std::move(arrived));
                post = !std::exchange(m_drainPosted, true);
            }
            if (post)
                QMetaObject::invokeMethod(this, &TaskStore::drainReports, Qt::QueuedConnection);
        });
}

void TaskStore::drainReports()
{
    std::vector<Arrived> arrived;
    {
        const QMutexLocker locker(&m_arrivedMutex);
        arrived.swap(m_arrived);
        m_drainPosted = false;
    }
    takeReports(arrived);
}

void TaskStore::takeReports(const std::vector<Arrived>& reports)
{
    {
        ChangeScope scope(*this);
        // Each report holds the whole list as it left it: the last one's list is the one to
        // show, the others bring their failures and warnings.
        for (std::size_t i = 0; i < reports.size(); ++i)
            adoptReport(reports[i].result, i + 1 == reports.size());
    }
    for (const Arrived& arrived : reports) {
        if (arrived.finish)
            arrived.finish(arrived.result);
        for (const QUuid& id : arrived.ids) {
            if (--m_busy[id] <= 0)
                m_busy.remove(id);
            Q_EMIT operationFinished(id);
        }
        if (--m_pending == 0)
            Q_EMIT workingChanged(false);
    }
}

void TaskStore::scheduleReload()
{
    // The reload runs as its own step on the main thread, never inside the delivery; several
    // notifications before it runs need only one reload. The timer is bound to the store, so
    // it is dropped if the store goes first.
    if (m_reloadPending)
        return;
    m_reloadPending = true;
    QTimer::singleShot(0, this, [this] {
        m_reloadPending = false;
        // Waiting here would hold the user's input back for the rest of the pass.
        if (m_upgrading)
            m_reloadAfterUpgrade = true;
        else
            loadTasks();
    });
}

void TaskStore::waitForScriptUpgrade()
{
    while (m_upgrading)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents |
                                        QEventLoop::ExcludeUserInputEvents);
}

void TaskStore::startScriptUpgrade()
{
    QList<ScheduledTask> enabled;
    for (const ScheduledTask& task : std::as_const(m_tasks)) {
        if (task.isEnabled)
            enabled.append(task);
    }
    if (enabled.isEmpty())
        return;
    // The worker gets copies and the service; it never touches the store itself. Operations
    // run on the same worker after it (or, run in the caller, wait for it), so the service is
    // used by one thread at a time.
    m_upgrading = true;
    onWorker([this, service = m_launchdService, paths = m_agentPaths, enabled] {
        QList<ScheduledTask> stale;
        for (const ScheduledTask& task : enabled) {
            if (!LaunchdService::scriptIsCurrent(paths.scriptPath(task)))
                stale.append(task);
        }
        QList<AgentOutcome> results;
        if (!stale.isEmpty()) {
            const int count = int(stale.size());
            QMetaObject::invokeMethod(
                this,
                [this, count] {
                    m_upgradingCount = count;
                    Q_EMIT scriptUpgradeChanged();
                },
                Qt::QueuedConnection);
            results = service->upgradeAll(stale);
        }
        QMetaObject::invokeMethod(
            this, [this, results] { finishScriptUpgrade(results); }, Qt::QueuedConnection);
    });
    Q_EMIT scriptUpgradeChanged();
}

void TaskStore::finishScriptUpgrade(const QList<AgentOutcome>& results)
{
    ChangeScope scope(*this);
    m_upgrading = false;
    m_upgradingCount = 0;
    for (const AgentOutcome& installed : results) {
        if (!installed.ok()) {
            m_lastError = installed.message();
            break;
        }
    }
    Q_EMIT scriptUpgradeChanged();
    if (m_reloadAfterUpgrade) {
        m_reloadAfterUpgrade = false;
        scheduleReload();
    }
}

void TaskStore::loadTasks()
{
    const auto adoptLoad = [this](const LoadOutcome& outcome) {
        {
            ChangeScope scope(*this);
            switch (outcome.file.status) {
            case TaskFile::ReadStatus::loaded:
                adopt(outcome.file.tasks);
                break;
            case TaskFile::ReadStatus::missing:
                break;
            case TaskFile::ReadStatus::unreadable:
                m_lastError = loadFailure(outcome.file.error);
                break;
            }
            if (outcome.reconciled && !outcome.reconciled->ok())
                m_lastError = outcome.reconciled->message();
        }
        // Scripts of an older generation lack the current marker; regenerate them so every
        // enabled agent runs the current wrapper.
        startScriptUpgrade();
    };
    if (m_execution == Execution::inCaller) {
        waitForScriptUpgrade();
        adoptLoad(readAndReconcile(m_taskFilePath, m_lockWaitMs, *m_launchdService, m_tasks));
        return;
    }
    onWorker([this, path = m_taskFilePath, wait = m_lockWaitMs, service = m_launchdService,
              shown = m_tasks, adoptLoad] {
        const LoadOutcome outcome = readAndReconcile(path, wait, *service, shown);
        QMetaObject::invokeMethod(
            this, [adoptLoad, outcome] { adoptLoad(outcome); }, Qt::QueuedConnection);
    });
}

void TaskStore::saveTasks()
{
    perform({}, [](const TaskOperations& operations, const QList<ScheduledTask>& shown) {
        return operations.save(shown);
    });
}

void TaskStore::addTask(const ScheduledTask& task)
{
    // A copy: views may pass an element of the list itself, which the operation changes.
    perform({task.id}, [task](const TaskOperations& operations, const QList<ScheduledTask>& shown) {
        return operations.add(task, shown);
    });
}

void TaskStore::updateTask(const ScheduledTask& task)
{
    if (indexOf(task.id) < 0)
        return;
    perform({task.id}, [task](const TaskOperations& operations, const QList<ScheduledTask>& shown) {
        return operations.update(task, shown);
    });
}

void TaskStore::setEnabled(bool enabled, const QUuid& id)
{
    if (indexOf(id) < 0)
        return;
    perform({id},
            [id, enabled](const TaskOperations& operations, const QList<ScheduledTask>& shown) {
                return operations.setEnabled(TaskSelector::byId(id), enabled, shown);
            });
}

void TaskStore::deleteTask(const ScheduledTask& task) { deleteTasks({task.id}); }

void TaskStore::deleteTasks(const QSet<QUuid>& ids)
{
    perform(ids.values(),
            [ids](const TaskOperations& operations, const QList<ScheduledTask>& shown) {
                return operations.remove(TaskSelector::byIds(ids), shown);
            });
}

ScheduledTask TaskStore::duplicateTask(const ScheduledTask& task)
{
    const ScheduledTask copy = TaskOperations::copyOf(task);
    addTask(copy);
    return copy;
}

void TaskStore::importTasks(const QByteArray& data, ImportDone done)
{
    performImport(
        [data](const TaskOperations& operations, const QList<ScheduledTask>& shown) {
            return operations.import(data, shown);
        },
        std::move(done));
}

void TaskStore::importFile(const QString& path, qint64 maxBytes, ImportDone done)
{
    performImport(
        [path, maxBytes](const TaskOperations& operations, const QList<ScheduledTask>& shown) {
            const Result<QByteArray> data = RegularFile::read(path, maxBytes);
            if (!data) {
                OperationError error;
                error.kind = OperationError::Kind::undecodable;
                error.text = data.error();
                return OperationResult::failure(std::move(error));
            }
            return operations.import(*data, shown);
        },
        std::move(done));
}

void TaskStore::performImport(Operation operation, ImportDone done)
{
    perform({}, std::move(operation), [done](const OperationResult& result) {
        if (!done)
            return;
        if (!result && result.error().kind == OperationError::Kind::undecodable) {
            done(Result<ImportCounts>::failure(result.error().text));
            return;
        }
        ImportCounts counts;
        if (result) {
            counts.imported = result->imported;
            counts.skipped = result->skipped;
        }
        done(counts);
    });
}

void TaskStore::syncWakeSchedules()
{
    perform({}, [](const TaskOperations& operations, const QList<ScheduledTask>& shown) {
        OperationReport report;
        report.tasks = shown;
        report.failures = operations.syncWake(shown, shown);
        return OperationResult(report);
    });
}

QString TaskStore::readLog(const ScheduledTask& task, LogStream stream, int lastLines) const
{
    const QString path = stream == LogStream::stderrStream ? m_agentPaths.stderrLogPath(task)
                                                           : m_agentPaths.stdoutLogPath(task);
    return RunHistory::readLogTail(path, qMax(0, lastLines));
}

QList<TaskRunRecord> TaskStore::runHistory(const ScheduledTask& task) const
{
    return RunHistory::loadHistoryFile(m_agentPaths.runHistoryPath(task));
}
