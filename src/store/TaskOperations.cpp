#include "TaskOperations.h"

#include "AtomicFile.h"
#include "Locations.h"
#include "TaskMigration.h"

#include <QFileInfo>

namespace {

const QString copySuffix = QStringLiteral(" (copy)");

qsizetype indexOfId(const QList<ScheduledTask>& tasks, const QUuid& id)
{
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        if (tasks.at(i).id == id)
            return i;
    }
    return -1;
}

void replaceById(QList<ScheduledTask>& tasks, const ScheduledTask& task)
{
    if (const qsizetype i = indexOfId(tasks, task.id); i >= 0)
        tasks[i] = task;
}

OperationError errorOf(OperationError::Kind kind, QString text)
{
    OperationError error;
    error.kind = kind;
    error.text = std::move(text);
    return error;
}

OperationError notFound(const QString& what)
{
    return errorOf(OperationError::Kind::notFound, QStringLiteral("Task not found: ") + what);
}

void collect(QStringList& failures, const QList<AgentOutcome>& outcomes)
{
    for (const AgentOutcome& outcome : outcomes) {
        if (!outcome.ok())
            failures << outcome.message();
    }
}

QSet<QUuid> idsOf(const QList<ScheduledTask>& tasks)
{
    QSet<QUuid> ids;
    for (const ScheduledTask& task : tasks)
        ids.insert(task.id);
    return ids;
}

// One task: uninstall() unloads even an agent whose plist went missing; several: one batch.
void uninstall(const LaunchdServiceProtocol& launchd, const QList<ScheduledTask>& tasks,
               QStringList& failures)
{
    if (tasks.size() == 1)
        collect(failures, {launchd.uninstall(tasks.constFirst())});
    else if (!tasks.isEmpty())
        collect(failures, launchd.uninstallAll(tasks));
}

} // namespace

TaskSelector TaskSelector::byIds(const QSet<QUuid>& ids)
{
    TaskSelector selector;
    selector.m_ids = ids;
    return selector;
}

TaskSelector TaskSelector::byName(const QString& nameOrId)
{
    TaskSelector selector;
    selector.m_nameOrId = nameOrId;
    selector.m_byName = true;
    return selector;
}

QList<qsizetype> TaskSelector::find(const QList<ScheduledTask>& tasks) const
{
    if (m_byName) {
        const qsizetype index = findTask(tasks, m_nameOrId);
        return index < 0 ? QList<qsizetype>() : QList<qsizetype>{index};
    }
    QList<qsizetype> found;
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        if (m_ids.contains(tasks.at(i).id))
            found.append(i);
    }
    return found;
}

qsizetype findTask(const QList<ScheduledTask>& tasks, const QString& nameOrId)
{
    const QString wanted = nameOrId.toLower();
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        const ScheduledTask& task = tasks[i];
        if (task.name.toLower() == wanted || task.idString().toLower().startsWith(wanted))
            return i;
    }
    return -1;
}

// One operation's part inside the transaction, and what it leaves for the steps after it.
struct TaskOperations::Plan {
    // Changes the file's list; false leaves the file alone (with `refusal` set when that is a
    // failure).
    std::function<bool(QList<ScheduledTask>&)> change;
    QList<ScheduledTask> removing;     // agents of removed tasks: before the write
    QList<ScheduledTask> uninstalling; // agents of tasks kept disabled: after the write
    QList<ScheduledTask> installing;   // after the write, after the uninstalls
    QList<ScheduledTask> stored;
    QList<QUuid> removed;
    // The wake events follow the change after the transaction.
    bool wakeAfter = false;
    std::optional<OperationError> refusal;
    QStringList failures;       // of the steps before the transaction
    QStringList changeFailures; // found while changing the list

    QStringList warnings;
    int imported = 0;
    int skipped = 0;
};

TaskOperations::TaskOperations(Context context) : m_context(std::move(context)) {}

QList<ScheduledTask> TaskOperations::current(const QList<ScheduledTask>& shown) const
{
    const TaskFile::ReadResult file = TaskFile::read(m_context.taskFilePath);
    return file.status == TaskFile::ReadStatus::loaded ? file.tasks : shown;
}

QStringList TaskOperations::syncWake(const QList<ScheduledTask>& before,
                                     const QList<ScheduledTask>& after) const
{
    const bool stopAtFirst = m_context.wakeRefusal == WakeRefusal::keepDisabled;
    QStringList failures;
    const auto note = [&failures, stopAtFirst](const WakeOutcome& outcome) {
        if (!outcome.ok())
            failures << outcome.message();
        return outcome.ok() || !stopAtFirst;
    };
    // What `after` no longer needs goes first: a one-time event of a task moved to another day
    // (registered again when a remaining task shares it), or the repeating event when no
    // repeating wake task is left.
    const WakeCancellations cancellations = wakeCancellations(before, after);
    if (cancellations.repeating && !note(m_context.pmset->cancelRepeatingWake()))
        return failures;
    for (const ScheduledTask& task : cancellations.oneTime) {
        if (!note(m_context.pmset->cancelOneTimeWake(task)))
            return failures;
    }
    for (const ScheduledTask& task : wakeRegistrations(after)) {
        if (!note(m_context.pmset->scheduleWake(task)))
            return failures;
    }
    return failures;
}

OperationResult TaskOperations::run(Plan& plan, const QList<ScheduledTask>& shown) const
{
    const auto failed = [&](TaskFileTransaction::Status status, const QString& text,
                            const QStringList& failures) {
        OperationError error = errorOf(OperationError::Kind::file, text);
        error.status = status;
        error.failures = failures;
        error.unsaved = shown;
        Plan unsaved;
        unsaved.change = plan.change;
        (void)unsaved.change(error.unsaved);
        return OperationResult::failure(error);
    };

    // The folder may have been removed meanwhile (commands can hold secrets: it is private).
    const QString folder = QFileInfo(m_context.taskFilePath).absolutePath();
    if (!Locations::makePrivateFolder(folder).ok())
        return failed(TaskFileTransaction::Status::writeFailed,
                      QStringLiteral("the folder %1 cannot be created").arg(folder), plan.failures);

    TaskFileTransaction::Options options;
    options.lockWaitMs = m_context.lockWaitMs;
    options.unreadableFile = m_context.unreadableFile;
    options.fallback = shown;
    options.announce = m_context.announce;

    QStringList failures = plan.failures;
    if (!m_context.agentsUnderLock) {
        // The agents follow the change as it applies to the file as it stands now.
        QList<ScheduledTask> projected = current(shown);
        const bool changing = plan.change(projected);
        failures << plan.changeFailures;
        if (changing) {
            uninstall(*m_context.launchd, plan.removing + plan.uninstalling, failures);
            if (!plan.installing.isEmpty())
                collect(failures, m_context.launchd->installAll(plan.installing));
        }
    }
    const bool agentsUnderLock = m_context.agentsUnderLock;
    QList<ScheduledTask> before; // the file's list before the change
    std::shared_ptr<void> guard;
    const TaskFileTransaction::Outcome outcome = TaskFileTransaction::run(
        m_context.taskFilePath, options,
        [&](QList<ScheduledTask>& tasks) {
            if (m_context.whileLocked && !guard)
                guard = m_context.whileLocked();
            before = tasks;
            const bool changing = plan.change(tasks);
            if (agentsUnderLock)
                failures << plan.changeFailures;
            if (!changing || !agentsUnderLock)
                return changing;
            // A removed task's agent goes before the write, so the other program never sees a
            // list without the task while its agent still runs.
            uninstall(*m_context.launchd, plan.removing, failures);
            return true;
        },
        [&](const QList<ScheduledTask>& written) {
            if (!agentsUnderLock)
                return;
            // A disabled task is saved before its agent goes, and a task is in the file before
            // its agent exists, so no sweep takes the agent for an orphan.
            uninstall(*m_context.launchd, plan.uninstalling, failures);
            if (!plan.installing.isEmpty())
                collect(failures, m_context.launchd->installAll(plan.installing));
            if (m_context.checkOtherAgents) {
                const QFileInfo taskFile(m_context.taskFilePath);
                AtomicFile::removeAbandonedTemporaries(taskFile.absolutePath(),
                                                       taskFile.fileName());
                const AgentOutcome checked = m_context.launchd->reconcileAfterChange(
                    written, idsOf(plan.installing + plan.uninstalling + plan.removing));
                if (!checked.ok() && failures.isEmpty())
                    failures << checked.message();
            }
        });
    guard.reset();

    switch (outcome.status) {
    case TaskFileTransaction::Status::written:
    case TaskFileTransaction::Status::unchanged:
        break;
    case TaskFileTransaction::Status::lockFailed:
    case TaskFileTransaction::Status::unreadable:
    case TaskFileTransaction::Status::keepFailed:
    case TaskFileTransaction::Status::writeFailed:
        return failed(outcome.status, outcome.error, failures);
    }
    if (plan.refusal)
        return OperationResult::failure(*plan.refusal);

    OperationReport report;
    report.tasks = outcome.tasks;
    report.written = outcome.written();
    report.stored = plan.stored;
    report.removed = plan.removed;
    report.warnings = plan.warnings;
    report.imported = plan.imported;
    report.skipped = plan.skipped;
    if (!outcome.keptAs.isEmpty())
        failures << QStringLiteral("The task file could not be read, so it was kept as %1 "
                                   "before your tasks were saved.")
                        .arg(outcome.keptAs);
    // The wake step's failure is its first refusal (under saveAndReport the other requests
    // were still made).
    if (report.written && plan.wakeAfter) {
        if (const QStringList refused = syncWake(before, outcome.tasks); !refused.isEmpty())
            failures << refused.constFirst();
    }
    report.failures = failures;
    return report;
}

OperationResult TaskOperations::add(const ScheduledTask& added,
                                    const QList<ScheduledTask>& shown) const
{
    ScheduledTask task = added;
    Plan plan;
    const bool saveAndReport = m_context.wakeRefusal == WakeRefusal::saveAndReport;
    if (!saveAndReport && task.isEnabled && task.wakeBeforeRun) {
        const QList<ScheduledTask> before = current(shown);
        plan.failures = syncWake(before, QList(before) << task);
        if (!plan.failures.isEmpty())
            task.isEnabled = false;
    }
    plan.change = [&](QList<ScheduledTask>& tasks) {
        // A new identifier never shares its short form (which names the files) with another.
        while (shortIdTwin(tasks, task))
            task.id = QUuid::createUuid();
        tasks.append(task);
        plan.stored = {task};
        plan.installing.clear();
        if (task.isEnabled)
            plan.installing = {task};
        plan.wakeAfter = saveAndReport && task.wakeBeforeRun;
        return true;
    };
    return run(plan, shown);
}

OperationResult TaskOperations::update(const ScheduledTask& changed,
                                       const QList<ScheduledTask>& shown) const
{
    ScheduledTask task = changed;
    const QList<ScheduledTask> before = current(shown);
    const qsizetype index = indexOfId(before, task.id);
    if (index < 0)
        return OperationResult::failure(notFound(task.name));
    const ScheduledTask& old = before.at(index);
    const auto wakes = [](const ScheduledTask& t) { return t.isEnabled && t.wakeBeforeRun; };
    const bool sameSchedule = old.schedule == task.schedule;
    // Wake newly wanted (or wanted at other times) is registered before the agent changes, so
    // a refused administrator request leaves the task without wake rather than half-done.
    const bool registerFirst = wakes(task) && (!wakes(old) || !sameSchedule);
    // Otherwise a change of the wake flag or of a wake task's schedule, or a wake task being
    // disabled, resyncs after: the events it no longer needs are cancelled.
    const bool needsSync =
        !registerFirst && (old.wakeBeforeRun != task.wakeBeforeRun ||
                           (old.wakeBeforeRun && task.wakeBeforeRun && !sameSchedule) ||
                           (wakes(old) && !wakes(task)));
    const bool saveAndReport = m_context.wakeRefusal == WakeRefusal::saveAndReport;

    Plan plan;
    if (!saveAndReport && registerFirst) {
        QList<ScheduledTask> projected = before;
        replaceById(projected, task);
        plan.failures = syncWake(before, projected);
        if (!plan.failures.isEmpty())
            task.wakeBeforeRun = false;
    }
    plan.change = [&](QList<ScheduledTask>& tasks) {
        const qsizetype i = indexOfId(tasks, task.id);
        if (i < 0) {
            plan.refusal = notFound(task.name);
            return false;
        }
        plan.uninstalling.clear();
        plan.installing.clear();
        if (tasks.at(i).isEnabled)
            plan.uninstalling = {task};
        if (task.isEnabled)
            plan.installing = {task};
        tasks[i] = task;
        plan.stored = {task};
        plan.wakeAfter = needsSync || (saveAndReport && registerFirst);
        return true;
    };
    return run(plan, shown);
}

OperationResult TaskOperations::setEnabled(const TaskSelector& selector, bool enabled,
                                           const QList<ScheduledTask>& shown) const
{
    const bool saveAndReport = m_context.wakeRefusal == WakeRefusal::saveAndReport;
    const auto twinRefusal = [](const QList<ScheduledTask>& tasks,
                                const ScheduledTask& task) -> std::optional<OperationError> {
        // Two tasks with one short ID would share their script, log and history.
        if (const ScheduledTask* twin = shortIdTwin(tasks, task))
            return errorOf(OperationError::Kind::refused, shortIdCollisionMessage(task, *twin));
        return std::nullopt;
    };

    Plan plan;
    bool wakeRefused = false;
    if (!saveAndReport && enabled) {
        const QList<ScheduledTask> before = current(shown);
        const QList<qsizetype> found = selector.find(before);
        if (found.isEmpty())
            return OperationResult::failure(notFound(selector.nameOrId()));
        ScheduledTask task = before.at(found.constFirst());
        task.isEnabled = true;
        QList<ScheduledTask> projected = before;
        replaceById(projected, task);
        if (std::optional<OperationError> refused = twinRefusal(projected, task))
            return OperationResult::failure(*refused);
        if (task.wakeBeforeRun) {
            plan.failures = syncWake(before, projected);
            wakeRefused = !plan.failures.isEmpty();
        }
    }
    plan.change = [&](QList<ScheduledTask>& tasks) {
        const QList<qsizetype> found = selector.find(tasks);
        if (found.isEmpty()) {
            plan.refusal = notFound(selector.nameOrId());
            return false;
        }
        ScheduledTask& task = tasks[found.constFirst()];
        if (enabled) {
            if ((plan.refusal = twinRefusal(tasks, task)))
                return false;
        }
        plan.uninstalling.clear();
        plan.installing.clear();
        // A refused wake keeps the task as it was: disabled.
        task.isEnabled = enabled && !wakeRefused;
        if (task.isEnabled)
            plan.installing = {task};
        else if (!enabled)
            plan.uninstalling = {task};
        plan.stored = {task};
        // Disabling: the remaining wake tasks may need the repeating event this one held.
        plan.wakeAfter = task.wakeBeforeRun && (saveAndReport || !enabled);
        return true;
    };
    return run(plan, shown);
}

OperationResult TaskOperations::remove(const TaskSelector& selector,
                                       const QList<ScheduledTask>& shown) const
{
    Plan plan;
    plan.change = [&](QList<ScheduledTask>& tasks) {
        const QList<qsizetype> found = selector.find(tasks);
        if (found.isEmpty() && selector.required()) {
            plan.refusal = notFound(selector.nameOrId());
            return false;
        }
        plan.removing.clear();
        plan.removed.clear();
        plan.stored.clear();
        plan.wakeAfter = false;
        for (const qsizetype i : found) {
            const ScheduledTask& task = tasks.at(i);
            plan.removing.append(task);
            plan.removed.append(task.id);
            // Its events go with it (and another task may need the repeating one).
            plan.wakeAfter = plan.wakeAfter || task.wakeBeforeRun;
        }
        // Reported as the tasks were, for the success line.
        plan.stored = plan.removing;
        for (qsizetype k = found.size() - 1; k >= 0; --k)
            tasks.removeAt(found.at(k));
        return true;
    };
    return run(plan, shown);
}

ScheduledTask TaskOperations::copyOf(const ScheduledTask& task)
{
    ScheduledTask copy = task;
    copy.id = QUuid::createUuid();
    copy.name = task.name + copySuffix;
    copy.isEnabled = false;
    copy.logs.clear();
    return copy;
}

OperationResult TaskOperations::duplicate(const ScheduledTask& task,
                                          const QList<ScheduledTask>& shown) const
{
    return add(copyOf(task), shown);
}

OperationResult TaskOperations::import(const QByteArray& data,
                                       const QList<ScheduledTask>& shown) const
{
    const auto decoded = TaskMigration::decodeTasks(data);
    if (!decoded)
        return OperationResult::failure(
            errorOf(OperationError::Kind::undecodable, decoded.error()));

    Plan plan;
    plan.change = [&](QList<ScheduledTask>& tasks) {
        QSet<QUuid> present = idsOf(tasks);
        QList<ScheduledTask> imported;
        plan.imported = 0;
        plan.skipped = 0;
        plan.changeFailures.clear();
        plan.warnings.clear();
        for (const ScheduledTask& task : decoded.value()) {
            // A second task with an identifier already taken (by the list or earlier in the
            // same data) would share the first one's agent label and files; it is skipped.
            if (present.contains(task.id)) {
                ++plan.skipped;
                continue;
            }
            // One whose short ID another task has would share that task's files: refused.
            if (const ScheduledTask* twin = shortIdTwin(tasks + imported, task)) {
                if (plan.changeFailures.isEmpty())
                    plan.changeFailures << shortIdCollisionMessage(task, *twin);
                ++plan.skipped;
                continue;
            }
            present.insert(task.id);
            imported.append(task);
            ++plan.imported;
        }
        if (plan.skipped > 0) {
            const bool one = plan.skipped == 1;
            plan.warnings << QStringLiteral("Skipped %1 task%2 with ID%2 already present.")
                                 .arg(plan.skipped)
                                 .arg(one ? QString() : QStringLiteral("s"));
        }
        plan.installing.clear();
        plan.wakeAfter = false;
        for (const ScheduledTask& task : std::as_const(imported)) {
            if (task.isEnabled)
                plan.installing.append(task);
            plan.wakeAfter = plan.wakeAfter || task.wakeBeforeRun;
        }
        plan.stored = imported;
        tasks += imported;
        return !imported.isEmpty();
    };
    return run(plan, shown);
}

OperationResult TaskOperations::save(const QList<ScheduledTask>& shown) const
{
    Plan plan;
    plan.change = [](QList<ScheduledTask>&) { return true; };
    return run(plan, shown);
}
