#pragma once

#include "LaunchdService.h"
#include "PmsetService.h"
#include "Result.h"
#include "ScheduledTask.h"
#include "TaskFileTransaction.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

// What an operation did when the task file was changed (or, for an import of tasks all
// present, left as it was): every later step's failure is in `failures`, in the order the steps
// ran, none overwriting another.
struct OperationReport {
    // The list as the file holds it after the operation.
    QList<ScheduledTask> tasks;
    // The tasks the operation added or changed, as they were stored (an added task whose wake
    // registration was refused may be stored disabled), and the identifiers it removed.
    QList<ScheduledTask> stored;
    QList<QUuid> removed;
    bool written = false;
    // Each step's failure with its message (agents, wake events, the kept copy of an unreadable
    // file), and what the user should know besides.
    QStringList failures;
    QStringList warnings;
    // An import: how many tasks were added and how many were left out.
    int imported = 0;
    int skipped = 0;

    bool ok() const { return failures.isEmpty(); }
};

// Why an operation changed nothing in the file.
struct OperationError {
    enum class Kind {
        notFound,    // the selected task is not in the file
        refused,     // the change must not be made (two tasks would share their files)
        undecodable, // import data that is not a task list, or a file that could not be read
        file,        // the task file could not be locked, read or written; see `status`
    };
    Kind kind = Kind::file;
    TaskFileTransaction::Status status = TaskFileTransaction::Status::unchanged;
    // The reason, as the file layer or the check said it.
    QString text;
    // The list the change would have produced from the list the caller shows, so a program that
    // keeps unsaved changes on screen can.
    QList<ScheduledTask> unsaved;
    // Failures of steps made before the file was reached (wake events registered first).
    QStringList failures;

    QString message() const { return text; }
};

using OperationResult = Result<OperationReport, OperationError>;

// Which tasks an operation acts on: the tasks with the given identifiers (missing ones are
// passed over), or the first whose name equals `nameOrId` or whose identifier begins with it,
// both compared lower-cased (missing: the operation fails).
class TaskSelector {
public:
    static TaskSelector byId(const QUuid& id) { return byIds({id}); }
    static TaskSelector byIds(const QSet<QUuid>& ids);
    static TaskSelector byName(const QString& nameOrId);

    // Indexes into `tasks`, in list order.
    QList<qsizetype> find(const QList<ScheduledTask>& tasks) const;
    // Whether finding nothing is a failure.
    bool required() const { return m_byName; }
    const QString& nameOrId() const { return m_nameOrId; }

private:
    QSet<QUuid> m_ids;
    QString m_nameOrId;
    bool m_byName = false;
};

// Index of the first task, in file order, whose name equals `nameOrId` or whose identifier
// begins with it, both compared lower-cased; -1 when none does.
qsizetype findTask(const QList<ScheduledTask>& tasks, const QString& nameOrId);

// Every change both programs make to the task list, each as one sequence: wake events that must
// be registered first (see WakeRefusal), the task file changed in one transaction with the
// agent changes it brings (removals before the write, installs after it, batched, under the
// lock), then the wake events the new list no longer needs or needs again. QtCore only: the
// tool runs it on its thread, the application on its worker.
class TaskOperations {
public:
    // What a refused wake registration (a declined administrator dialog) means for a task being
    // added or enabled.
    enum class WakeRefusal {
        // Registered before the change; refused, the task is stored disabled (or, on an update,
        // without wake), and the first failure ends the registrations. The application.
        keepDisabled,
        // The change is stored as asked; the events are registered after it, each request
        // whatever happened to the others, and a refusal is reported. The tool.
        saveAndReport,
    };

    struct Context {
        QString taskFilePath;
        std::shared_ptr<const LaunchdServiceProtocol> launchd;
        std::shared_ptr<const PmsetServiceProtocol> pmset;
        WakeRefusal wakeRefusal = WakeRefusal::saveAndReport;
        int lockWaitMs = TaskFile::toolLockWaitMs;
        TaskFileTransaction::UnreadableFile unreadableFile =
            TaskFileTransaction::UnreadableFile::refuse;
        // Announces a written change to the other program.
        std::function<void()> announce;
        // After every change, the other agents are checked too (cheaply: presence and loaded
        // state) and repaired, so what an interrupted run left does not last. The application
        // does this when it loads instead.
        bool checkOtherAgents = false;
        // The agents change inside the transaction, under the lock (the tool), or before it
        // (the application: a tool run meanwhile never waits for launchctl behind the window).
        bool agentsUnderLock = true;
        // Called once the lock is held; what it returns is held until the transaction ends
        // (the tool holds its termination signals back meanwhile).
        std::function<std::shared_ptr<void>()> whileLocked;
    };

    explicit TaskOperations(Context context);

    const Context& context() const { return m_context; }

    // `shown` is the list the caller has: the one changed when there is no task file yet.
    OperationResult add(const ScheduledTask& task, const QList<ScheduledTask>& shown = {}) const;
    // Replaces the task with `task`'s identifier.
    OperationResult update(const ScheduledTask& task, const QList<ScheduledTask>& shown = {}) const;
    // Enabling an enabled task installs it again: that repairs a missing or stale agent.
    OperationResult setEnabled(const TaskSelector& selector, bool enabled,
                               const QList<ScheduledTask>& shown = {}) const;
    OperationResult remove(const TaskSelector& selector,
                           const QList<ScheduledTask>& shown = {}) const;
    // Adds a disabled copy named "<name> (copy)" with a new identifier.
    OperationResult duplicate(const ScheduledTask& task,
                              const QList<ScheduledTask>& shown = {}) const;
    // Adds the tasks of exported `data` whose identifiers (and short IDs) are not taken.
    OperationResult import(const QByteArray& data, const QList<ScheduledTask>& shown = {}) const;
    // Writes the file's own list again (nothing else).
    OperationResult save(const QList<ScheduledTask>& shown = {}) const;

    // Cancels the wake events `before` had and `after` no longer needs, then registers those of
    // `after`. Under keepDisabled the first failure ends the pass; otherwise every request is
    // made. The failures' messages, in order.
    QStringList syncWake(const QList<ScheduledTask>& before,
                         const QList<ScheduledTask>& after) const;

    // The copy duplicate() adds.
    static ScheduledTask copyOf(const ScheduledTask& task);

private:
    struct Plan;
    OperationResult run(Plan& plan, const QList<ScheduledTask>& shown) const;
    // The file's list as it stands, or `shown` when there is no readable file.
    QList<ScheduledTask> current(const QList<ScheduledTask>& shown) const;

    Context m_context;
};
