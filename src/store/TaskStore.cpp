#include "TaskStore.h"

#include "AtomicFile.h"
#include "ChangeNotification.h"
#include "Locations.h"
#include "Result.h"
#include "TaskFile.h"
#include "TaskFileTransaction.h"
#include "TaskMigration.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace {

const QString copySuffix = QStringLiteral(" (copy)");

QString loadFailure(const QString& description)
{
    return QStringLiteral("Failed to load tasks: ") + description;
}

QString saveFailure(const QString& description)
{
    return QStringLiteral("Failed to save tasks: ") + description;
}

} // namespace

// Emits `changed()` once when the outermost operation ends and tasks, lastError or lastWarning
// differ from what they were when it began. Nested operations (duplicate calls add, every
// operation calls save) therefore produce one signal.
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
    m_agentPaths = AgentPaths(std::nullopt, std::nullopt, options.logsDirectory);

    m_launchdService = options.launchdService
                           ? options.launchdService
                           : std::make_shared<const LaunchdService>(m_agentPaths);
    m_pmsetService =
        options.pmsetService ? options.pmsetService : std::make_shared<const PmsetService>();

    if (options.startEmpty)
        QFile::remove(m_taskFilePath);

    loadTasks();

    m_observer = new ChangeObserver(this);
    connect(m_observer, &ChangeObserver::received, this, &TaskStore::scheduleReload);
}

TaskStore::~TaskStore()
{
    // Unregister before anything else goes, so no notification arrives half-way.
    delete m_observer;
    m_observer = nullptr;
    // The pass writes files through the shared service; it ends before the store does, and its
    // queued reports to the store are dropped with it.
    if (m_upgrade) {
        m_upgrade->wait();
        delete m_upgrade;
    }
}

const ScheduledTask* TaskStore::task(const QUuid& id) const
{
    const int index = indexOf(id);
    return index < 0 ? nullptr : &m_tasks.at(index);
}

bool TaskStore::replaceTask(QList<ScheduledTask>& tasks, const ScheduledTask& task)
{
    for (ScheduledTask& stored : tasks) {
        if (stored.id == task.id) {
            stored = task;
            return true;
        }
    }
    return false;
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

void TaskStore::reportError(const QString& message) { m_lastError = message; }

void TaskStore::installReporting(const ScheduledTask& task)
{
    if (const AgentOutcome installed = m_launchdService->install(task); !installed.ok())
        reportError(installed.message());
}

void TaskStore::installAllReporting(const QList<ScheduledTask>& tasks)
{
    for (const AgentOutcome& installed : m_launchdService->installAll(tasks)) {
        if (!installed.ok())
            reportError(installed.message());
    }
}

void TaskStore::uninstallReporting(const ScheduledTask& task)
{
    if (const AgentOutcome removed = m_launchdService->uninstall(task); !removed.ok())
        reportError(removed.message());
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
        if (m_upgrade)
            m_reloadAfterUpgrade = true;
        else
            loadTasks();
    });
}

void TaskStore::waitForScriptUpgrade()
{
    while (m_upgrade)
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
    // wait for it, so the service is used by one thread at a time.
    const std::shared_ptr<const LaunchdServiceProtocol> service = m_launchdService;
    auto results = std::make_shared<QList<AgentOutcome>>();
    m_upgrade = QThread::create([this, service, paths = m_agentPaths, enabled, results] {
        QList<ScheduledTask> stale;
        for (const ScheduledTask& task : enabled) {
            if (!LaunchdService::scriptIsCurrent(paths.scriptPath(task)))
                stale.append(task);
        }
        if (stale.isEmpty())
            return;
        const int count = int(stale.size());
        QMetaObject::invokeMethod(
            this,
            [this, count] {
                m_upgradingCount = count;
                Q_EMIT scriptUpgradeChanged();
            },
            Qt::QueuedConnection);
        *results = service->upgradeAll(stale);
    });
    connect(m_upgrade, &QThread::finished, this,
            [this, results] { finishScriptUpgrade(*results); });
    m_upgrade->start(QThread::LowPriority);
    Q_EMIT scriptUpgradeChanged();
}

void TaskStore::finishScriptUpgrade(const QList<AgentOutcome>& results)
{
    ChangeScope scope(*this);
    m_upgrade->wait();
    delete m_upgrade;
    m_upgrade = nullptr;
    m_upgradingCount = 0;
    for (const AgentOutcome& installed : results) {
        if (!installed.ok()) {
            reportError(installed.message());
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
    waitForScriptUpgrade();
    ChangeScope scope(*this);
    {
        // The sweep decides from the file as it stands while no other writer can change it, so
        // the agent of a task the tool has just added is never taken for an orphan. Without
        // the lock the load goes on and the sweep waits for the next one.
        const TaskFile::Lock lock(m_taskFilePath, m_lockWaitMs);
        const TaskFile::ReadResult file = TaskFile::read(m_taskFilePath);
        switch (file.status) {
        case TaskFile::ReadStatus::loaded:
            m_tasks = file.tasks;
            break;
        case TaskFile::ReadStatus::missing:
            break;
        case TaskFile::ReadStatus::unreadable:
            reportError(loadFailure(file.error));
            break;
        }

        // A file that exists but cannot be read says nothing about which tasks exist: sweeping
        // against the list in memory would unload every agent the file still names.
        // The agents are brought in step with the file: a change the tool or this program
        // did not finish (killed between the file write and the agent change) is completed
        // here, and what an interrupted write left behind goes.
        if (lock.isLocked() && file.status != TaskFile::ReadStatus::unreadable) {
            AtomicFile::removeAbandonedTemporaries(QFileInfo(m_taskFilePath).absolutePath(),
                                                   QFileInfo(m_taskFilePath).fileName());
            // Older scripts are left to the upgrade pass, which rewrites them beside the window.
            if (const AgentOutcome reconciled = m_launchdService->reconcile(
                    m_tasks, LaunchdServiceProtocol::OlderScripts::leave);
                !reconciled.ok())
                reportError(reconciled.message());
        }
    }

    // Scripts of an older generation lack the current marker; regenerate them so every
    // enabled agent runs the current wrapper.
    startScriptUpgrade();
}

QList<ScheduledTask> TaskStore::currentList() const
{
    const TaskFile::ReadResult file = TaskFile::read(m_taskFilePath);
    return file.status == TaskFile::ReadStatus::loaded ? file.tasks : m_tasks;
}

bool TaskStore::commit(const TaskFileTransaction::Change& change)
{
    // The folder may have been removed while the application ran.
    const QString folder = QFileInfo(m_taskFilePath).absolutePath();
    QString failure; // why nothing was saved
    if (!Locations::makePrivateFolder(folder).ok()) {
        failure = QStringLiteral("the folder %1 cannot be created").arg(folder);
    } else {
        TaskFileTransaction::Options options;
        options.lockWaitMs = m_lockWaitMs;
        // A file that cannot be decoded may still hold the user's tasks (hand edits, a newer
        // version's format): it is kept aside before it is replaced.
        options.unreadableFile = TaskFileTransaction::UnreadableFile::keepCopy;
        options.fallback = m_tasks;
        const TaskFileTransaction::Outcome outcome =
            TaskFileTransaction::run(m_taskFilePath, options, change);
        switch (outcome.status) {
        case TaskFileTransaction::Status::written:
        case TaskFileTransaction::Status::unchanged:
            m_tasks = outcome.tasks;
            if (!outcome.keptAs.isEmpty())
                reportError(QStringLiteral("The task file could not be read, so it was kept as "
                                           "%1 before your tasks were saved.")
                                .arg(outcome.keptAs));
            return true;
        case TaskFileTransaction::Status::lockFailed:
        case TaskFileTransaction::Status::unreadable:
        case TaskFileTransaction::Status::keepFailed:
        case TaskFileTransaction::Status::writeFailed:
            failure = outcome.error;
            break;
        }
    }
    // The change stays on screen, so the user can see what was not saved and try again.
    change(m_tasks);
    reportError(saveFailure(failure));
    return false;
}

void TaskStore::saveTasks()
{
    waitForScriptUpgrade();
    ChangeScope scope(*this);
    // Rewrites what the file holds; the list in memory may be older than a change the tool made.
    commit([](QList<ScheduledTask>&) { return true; });
}

void TaskStore::addTask(const ScheduledTask& added)
{
    waitForScriptUpgrade();
    // A copy: views may pass an element of the list itself, which the operation changes.
    ScheduledTask task = added;
    ChangeScope scope(*this);
    if (task.isEnabled) {
        const QList<ScheduledTask> before = currentList();
        if (task.wakeBeforeRun && !syncWakeSchedules(before, QList(before) << task))
            task.isEnabled = false;
        else
            installReporting(task);
    }
    commit([&task](QList<ScheduledTask>& tasks) {
        tasks.append(task);
        return true;
    });
}

void TaskStore::updateTask(const ScheduledTask& changed)
{
    ScheduledTask task = changed;
    waitForScriptUpgrade();
    const int index = indexOf(task.id);
    if (index < 0)
        return;
    ChangeScope scope(*this);
    const ScheduledTask old = m_tasks.at(index);
    const bool wasEnabled = old.isEnabled;
    const auto wakes = [](const ScheduledTask& t) { return t.isEnabled && t.wakeBeforeRun; };
    const bool hadWake = old.wakeBeforeRun;
    const bool sameSchedule = old.schedule == task.schedule;

    // Wake newly wanted (or wanted at other times) is registered before the agent changes, so
    // a refused administrator request leaves the task without wake rather than half-done.
    const bool registerFirst = wakes(task) && (!wakes(old) || !sameSchedule);
    // Otherwise a change of the wake flag or of a wake task's schedule, or a wake task being
    // disabled, resyncs after: the events it no longer needs are cancelled.
    const bool needsSync = !registerFirst && (hadWake != task.wakeBeforeRun ||
                                              (hadWake && task.wakeBeforeRun && !sameSchedule) ||
                                              (wakes(old) && !wakes(task)));

    const QList<ScheduledTask> before = currentList();
    QList<ScheduledTask> projected = before;
    replaceTask(projected, task);
    if (registerFirst && !syncWakeSchedules(before, projected))
        task.wakeBeforeRun = false;
    if (wasEnabled)
        uninstallReporting(task);
    if (task.isEnabled)
        installReporting(task);
    if (needsSync)
        syncWakeSchedules(before, projected);
    commit([&task](QList<ScheduledTask>& tasks) { return replaceTask(tasks, task); });
}

void TaskStore::setEnabled(bool enabled, const QUuid& id)
{
    waitForScriptUpgrade();
    const int index = indexOf(id);
    if (index < 0)
        return;
    ChangeScope scope(*this);
    ScheduledTask task = m_tasks.at(index);
    task.isEnabled = enabled;
    const QList<ScheduledTask> before = currentList();
    QList<ScheduledTask> projected = before;
    replaceTask(projected, task);
    if (const ScheduledTask* twin = enabled ? shortIdTwin(projected, task) : nullptr) {
        reportError(shortIdCollisionMessage(task, *twin));
        return;
    }
    if (enabled && task.wakeBeforeRun && !syncWakeSchedules(before, projected)) {
        task.isEnabled = false;
    } else if (enabled) {
        installReporting(task);
    } else {
        uninstallReporting(task);
        // Its events go with it (and another task may need the repeating one).
        if (task.wakeBeforeRun)
            syncWakeSchedules(before, projected);
    }
    commit([&task](QList<ScheduledTask>& tasks) {
        for (ScheduledTask& stored : tasks) {
            if (stored.id == task.id) {
                stored.isEnabled = task.isEnabled;
                return true;
            }
        }
        return false;
    });
}

void TaskStore::deleteTask(const ScheduledTask& deleted)
{
    waitForScriptUpgrade();
    ChangeScope scope(*this);
    removeTasks({deleted});
}

void TaskStore::deleteTasks(const QSet<QUuid>& ids)
{
    waitForScriptUpgrade();
    ChangeScope scope(*this);
    QList<ScheduledTask> doomed;
    for (const ScheduledTask& task : std::as_const(m_tasks)) {
        if (ids.contains(task.id))
            doomed.append(task);
    }
    removeTasks(doomed);
}

void TaskStore::removeTasks(const QList<ScheduledTask>& doomed)
{
    QSet<QUuid> ids;
    bool anyWake = false;
    for (const ScheduledTask& task : doomed) {
        uninstallReporting(task);
        ids.insert(task.id);
        anyWake = anyWake || task.wakeBeforeRun;
    }
    const auto removing = [&ids](QList<ScheduledTask>& tasks) {
        tasks.removeIf([&](const ScheduledTask& task) { return ids.contains(task.id); });
        return true;
    };
    if (anyWake) {
        const QList<ScheduledTask> before = currentList();
        QList<ScheduledTask> projected = before;
        removing(projected);
        syncWakeSchedules(before, projected);
    }
    commit(removing);
}

ScheduledTask TaskStore::duplicateTask(const ScheduledTask& task)
{
    ScheduledTask copy = task;
    copy.id = QUuid::createUuid();
    copy.name = task.name + copySuffix;
    copy.isEnabled = false;
    copy.logs.clear();
    addTask(copy);
    return copy;
}

Result<TaskStore::ImportCounts> TaskStore::importTasks(const QByteArray& data)
{
    const auto decoded = TaskMigration::decodeTasks(data);
    if (!decoded)
        return Result<ImportCounts>::failure(decoded.error());

    waitForScriptUpgrade();
    ChangeScope scope(*this);
    QList<ScheduledTask> projected = currentList();
    QSet<QUuid> present;
    for (const ScheduledTask& task : std::as_const(projected))
        present.insert(task.id);

    ImportCounts counts;
    QList<ScheduledTask> imported;
    bool anyWake = false;
    QList<ScheduledTask> toInstall;
    for (const ScheduledTask& task : decoded.value()) {
        // A second task with an identifier already taken (by the list or earlier in the same
        // file) would share the first one's agent label and files; it is skipped.
        if (present.contains(task.id)) {
            ++counts.skipped;
            continue;
        }
        // One whose short ID another task has would share that task's files: refused.
        if (const ScheduledTask* twin = shortIdTwin(projected + imported, task)) {
            if (!m_lastError)
                reportError(shortIdCollisionMessage(task, *twin));
            ++counts.skipped;
            continue;
        }
        present.insert(task.id);
        imported.append(task);
        if (task.isEnabled)
            toInstall.append(task);
        anyWake = anyWake || task.wakeBeforeRun;
        ++counts.imported;
    }

    if (!toInstall.isEmpty())
        installAllReporting(toInstall);
    if (!imported.isEmpty()) {
        if (anyWake)
            syncWakeSchedules(projected, QList(projected) << imported);
        commit([&imported](QList<ScheduledTask>& tasks) {
            QSet<QUuid> ids;
            for (const ScheduledTask& task : std::as_const(tasks))
                ids.insert(task.id);
            for (const ScheduledTask& task : std::as_const(imported)) {
                if (!ids.contains(task.id))
                    tasks.append(task);
            }
            return true;
        });
    }
    if (counts.skipped > 0) {
        const bool one = counts.skipped == 1;
        m_lastWarning = QStringLiteral("Skipped %1 task%2 with ID%2 already present.")
                            .arg(counts.skipped)
                            .arg(one ? QString() : QStringLiteral("s"));
    }
    return counts;
}

bool TaskStore::syncWakeSchedules()
{
    waitForScriptUpgrade();
    return syncWakeSchedules(m_tasks, m_tasks);
}

bool TaskStore::syncWakeSchedules(const QList<ScheduledTask>& before,
                                  const QList<ScheduledTask>& after)
{
    ChangeScope scope(*this);
    // The events `after` no longer needs go first: a one-time event of a task moved to another
    // day, or the repeating event when no repeating wake task is left.
    const WakeCancellations cancellations = wakeCancellations(before, after);
    if (cancellations.repeating) {
        if (const WakeOutcome cancelled = m_pmsetService->cancelRepeatingWake(); !cancelled.ok()) {
            reportError(cancelled.message());
            return false;
        }
    }
    for (const ScheduledTask& task : cancellations.oneTime) {
        if (const WakeOutcome cancelled = m_pmsetService->cancelOneTimeWake(task);
            !cancelled.ok()) {
            reportError(cancelled.message());
            return false;
        }
    }
    const QList<ScheduledTask> registrations = wakeRegistrations(after);
    for (const ScheduledTask& task : std::as_const(registrations)) {
        if (const WakeOutcome woken = m_pmsetService->scheduleWake(task); !woken.ok()) {
            reportError(woken.message());
            return false;
        }
    }
    return true;
}

QString TaskStore::readLog(const ScheduledTask& task, LogStream stream, int lastLines) const
{
    const QString path = RunHistory::logPath(m_agentPaths.logDir, task.shortId(), stream);
    return RunHistory::readLogTail(path, qMax(0, lastLines));
}

QList<TaskRunRecord> TaskStore::runHistory(const ScheduledTask& task) const
{
    return RunHistory::loadRunHistory(m_agentPaths.logDir, task.shortId());
}
