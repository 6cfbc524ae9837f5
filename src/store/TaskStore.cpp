#include "TaskStore.h"

#include "ChangeNotification.h"
#include "Locations.h"
#include "Result.h"
#include "TaskFile.h"
#include "TaskMigration.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

const QString resetTasksArgument = QStringLiteral("--reset-tasks");
const QString copySuffix = QStringLiteral(" (copy)");

QString loadFailure(const QString& description)
{
    return QStringLiteral("Failed to load tasks: ") + description;
}

QString saveFailure(const QString& description)
{
    return QStringLiteral("Failed to save tasks: ") + description;
}

// A name beside the task file that no earlier copy has taken.
QString unreadableCopyPath(const QString& taskFile)
{
    const QString base = taskFile + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = base + QLatin1Char('-') + QString::number(n);
    return candidate;
}

bool scriptIsCurrent(const QString& scriptPath)
{
    QFile file(scriptPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return QString::fromUtf8(file.readAll()).contains(LaunchdService::scriptVersionMarker());
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

TaskStore::TaskStore(Options options, QObject* parent) : QObject(parent)
{
    const QString dataFolder = Locations::dataFolder();
    if (dataFolder.isEmpty() && (!options.saveURL || !options.logsDirectory)) {
        // Without a place for the task file nothing the application does could be kept.
        std::fputs("BrenmorOps cannot start: the system reports no folder for application "
                   "data (check HOME and XDG_DATA_HOME).\n",
                   stderr);
        std::exit(EXIT_FAILURE);
    }
    // Commands can hold secrets, so the folder is private; a failure shows up at the first save.
    Locations::makePrivateFolder(dataFolder);
    m_logsDirectory = options.logsDirectory.value_or(dataFolder + QStringLiteral("/Logs"));
    m_saveURL = options.saveURL.value_or(dataFolder + QStringLiteral("/tasks.json"));

    m_launchdService =
        options.launchdService
            ? options.launchdService
            : std::make_shared<const LaunchdService>(std::nullopt, std::nullopt, m_logsDirectory);
    m_pmsetService =
        options.pmsetService ? options.pmsetService : std::make_shared<const PmsetService>();

    if (options.arguments.contains(resetTasksArgument))
        QFile::remove(m_saveURL);

    loadTasks();

    m_observer = new ChangeObserver(this);
    connect(m_observer, &ChangeObserver::received, this, &TaskStore::scheduleReload);
}

TaskStore::~TaskStore()
{
    // Unregister before anything else goes, so no notification arrives half-way.
    delete m_observer;
    m_observer = nullptr;
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

void TaskStore::reportError(const QString& message) { m_lastError = message; }

void TaskStore::installReporting(const ScheduledTask& task)
{
    if (const auto error = m_launchdService->install(task))
        reportError(error->message());
}

void TaskStore::uninstallReporting(const ScheduledTask& task)
{
    if (const auto error = m_launchdService->uninstall(task))
        reportError(error->message());
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
        loadTasks();
    });
}

void TaskStore::loadTasks()
{
    ChangeScope scope(*this);
    const TaskFile::ReadResult file = TaskFile::read(m_saveURL);
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
    if (file.status != TaskFile::ReadStatus::unreadable) {
        QSet<QUuid> keeping;
        for (const ScheduledTask& task : std::as_const(m_tasks))
            keeping.insert(task.id);
        m_launchdService->removeOrphanedAgents(keeping);
    }

    // Scripts of an older generation lack the current marker; regenerate them so every
    // enabled agent runs the current wrapper. All in one batch: after a version change every
    // script is stale, and two launchctl calls per task would keep the user waiting minutes.
    QList<ScheduledTask> stale;
    for (const ScheduledTask& task : std::as_const(m_tasks)) {
        if (task.isEnabled && !scriptIsCurrent(m_launchdService->scriptURL(task)))
            stale.append(task);
    }
    if (!stale.isEmpty())
        m_launchdService->installAll(stale);
}

std::optional<QString> TaskStore::keepUnreadableTaskFile(QString* keptAs) const
{
    QFile file(m_saveURL);
    if (!file.exists())
        return std::nullopt;
    if (file.open(QIODevice::ReadOnly)) {
        const bool decodes = TaskMigration::decodeTasks(file.readAll()).ok();
        file.close();
        if (decodes)
            return std::nullopt;
    }
    const QString copy = unreadableCopyPath(m_saveURL);
    if (!file.copy(copy))
        return QStringLiteral("the existing task file cannot be read and could not be kept "
                              "as %1 (%2)")
            .arg(copy, file.errorString());
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    *keptAs = copy;
    return std::nullopt;
}

void TaskStore::saveTasks()
{
    ChangeScope scope(*this);
    // The folder may have been removed while the application ran.
    const QString folder = QFileInfo(m_saveURL).absolutePath();
    if (!Locations::makePrivateFolder(folder)) {
        reportError(saveFailure(QStringLiteral("the folder %1 cannot be created").arg(folder)));
        return;
    }

    // The tool takes the same lock around its read-modify-write, so neither replaces the file
    // in the middle of the other's change.
    const TaskFile::Lock lock(m_saveURL);
    if (!lock.isLocked()) {
        reportError(saveFailure(
            QStringLiteral("the lock %1 could not be taken").arg(TaskFile::lockPath(m_saveURL))));
        return;
    }

    // A file that cannot be decoded may still hold the user's tasks (hand edits, a newer
    // version's format): keep it before it is replaced.
    QString keptAs;
    if (const auto error = keepUnreadableTaskFile(&keptAs)) {
        reportError(saveFailure(*error));
        return;
    }
    if (const auto error = TaskFile::write(m_saveURL, m_tasks)) {
        reportError(saveFailure(*error));
        return;
    }
    if (!keptAs.isEmpty())
        reportError(QStringLiteral("The task file could not be read, so it was kept as %1 "
                                   "before your tasks were saved.")
                        .arg(keptAs));
}

void TaskStore::addTask(const ScheduledTask& added)
{
    // Copies: views may pass an element of the list itself, which the operation changes.
    const ScheduledTask task = added;
    ChangeScope scope(*this);
    m_tasks.append(task);
    if (task.isEnabled) {
        if (task.wakeBeforeRun && !syncWakeSchedules())
            m_tasks.last().isEnabled = false;
        else
            installReporting(task);
    }
    saveTasks();
}

void TaskStore::updateTask(const ScheduledTask& changed)
{
    const ScheduledTask task = changed;
    const int index = indexOf(task.id);
    if (index < 0)
        return;
    ChangeScope scope(*this);
    const ScheduledTask old = m_tasks.at(index);
    const bool wasEnabled = old.isEnabled;
    const bool hadWake = old.wakeBeforeRun;
    const bool sameSchedule = old.schedule == task.schedule;

    // Wake newly wanted (or wanted at other times) is registered before the agent changes, so
    // a refused administrator request leaves the task without wake rather than half-done.
    const bool registerFirst = task.wakeBeforeRun && task.isEnabled && (!hadWake || !sameSchedule);
    const bool needsSync = !registerFirst && (hadWake != task.wakeBeforeRun ||
                                              (hadWake && task.wakeBeforeRun && !sameSchedule));

    m_tasks[index] = task;
    if (registerFirst && !syncWakeSchedules()) {
        m_tasks[index].wakeBeforeRun = false;
        if (wasEnabled)
            uninstallReporting(task);
        if (m_tasks.at(index).isEnabled)
            installReporting(m_tasks.at(index));
        saveTasks();
        return;
    }

    if (wasEnabled)
        uninstallReporting(task);
    if (task.isEnabled)
        installReporting(m_tasks.at(index));
    if (needsSync)
        syncWakeSchedules();
    saveTasks();
}

void TaskStore::setEnabled(bool enabled, const QUuid& id)
{
    const int index = indexOf(id);
    if (index < 0)
        return;
    ChangeScope scope(*this);
    if (enabled && m_tasks.at(index).wakeBeforeRun) {
        m_tasks[index].isEnabled = true;
        if (!syncWakeSchedules()) {
            m_tasks[index].isEnabled = false;
            saveTasks();
            return;
        }
    }
    m_tasks[index].isEnabled = enabled;
    const ScheduledTask task = m_tasks.at(index);
    if (enabled) {
        installReporting(task);
    } else {
        uninstallReporting(task);
        if (task.wakeBeforeRun)
            syncWakeSchedules();
    }
    saveTasks();
}

void TaskStore::deleteTask(const ScheduledTask& deleted)
{
    const ScheduledTask task = deleted;
    ChangeScope scope(*this);
    uninstallReporting(task);
    m_tasks.removeIf([&](const ScheduledTask& element) { return element.id == task.id; });
    if (task.wakeBeforeRun)
        syncWakeSchedules();
    saveTasks();
}

void TaskStore::deleteTasks(const QSet<QUuid>& ids)
{
    ChangeScope scope(*this);
    QList<ScheduledTask> doomed;
    bool anyWake = false;
    for (const ScheduledTask& task : std::as_const(m_tasks)) {
        if (ids.contains(task.id)) {
            doomed.append(task);
            anyWake = anyWake || task.wakeBeforeRun;
        }
    }
    for (const ScheduledTask& task : std::as_const(doomed))
        uninstallReporting(task);
    m_tasks.removeIf([&](const ScheduledTask& task) { return ids.contains(task.id); });
    if (anyWake)
        syncWakeSchedules();
    saveTasks();
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

    ChangeScope scope(*this);
    QSet<QUuid> present;
    for (const ScheduledTask& task : std::as_const(m_tasks))
        present.insert(task.id);

    ImportCounts counts;
    bool anyWake = false;
    QList<ScheduledTask> toInstall;
    for (const ScheduledTask& task : decoded.value()) {
        // A second task with an identifier already taken (by the list or earlier in the same
        // file) would share the first one's agent label and files; it is skipped.
        if (present.contains(task.id)) {
            ++counts.skipped;
            continue;
        }
        present.insert(task.id);
        m_tasks.append(task);
        if (task.isEnabled)
            toInstall.append(task);
        anyWake = anyWake || task.wakeBeforeRun;
        ++counts.imported;
    }

    if (!toInstall.isEmpty())
        m_launchdService->installAll(toInstall);
    if (counts.imported > 0) {
        if (anyWake)
            syncWakeSchedules();
        saveTasks();
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
    ChangeScope scope(*this);
    const QList<ScheduledTask> registrations = wakeRegistrations(m_tasks);
    for (const ScheduledTask& task : std::as_const(registrations)) {
        if (const auto error = m_pmsetService->scheduleWake(task)) {
            reportError(error->description());
            return false;
        }
    }
    return true;
}

QString TaskStore::readLog(const ScheduledTask& task, LogStream stream, int lastLines) const
{
    const QString path = RunHistory::logPath(m_launchdService->logDir(), task.shortId(), stream);
    return RunHistory::readLogTail(path, qMax(0, lastLines));
}

QList<TaskRunRecord> TaskStore::runHistory(const ScheduledTask& task) const
{
    return RunHistory::loadRunHistory(m_launchdService->logDir(), task.shortId());
}
