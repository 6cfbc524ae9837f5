#include "TaskListCommand.h"

#include "CLITaskStore.h"
#include "Console.h"
#include "TaskFile.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <memory>

namespace {
constexpr int lockWaitMs = 30000;

// QLockFile's own wait backs off to sleeps of several seconds, so with many writers queued the
// lock sits idle most of the time and late comers time out. Short, jittered retries keep the
// queue moving.
std::unique_ptr<TaskFile::Lock> acquireLock(const QString& taskFile, const Console& console)
{
    const QString lockFile = TaskFile::lockPath(taskFile);
    if (!QFileInfo(QFileInfo(taskFile).absolutePath()).isDir()) {
        console.error(QStringLiteral("Could not create the lock file %1: its folder does not exist")
                          .arg(lockFile));
        return nullptr;
    }
    const QDeadlineTimer deadline(lockWaitMs);
    for (;;) {
        auto lock = std::make_unique<TaskFile::Lock>(taskFile, 0);
        if (lock->isLocked())
            return lock;
        if (deadline.hasExpired())
            break;
        QThread::msleep(2 + QRandomGenerator::global()->bounded(10));
    }
    console.error(
        QStringLiteral("The task file is in use by another process (lock file %1)").arg(lockFile));
    return nullptr;
}
} // namespace

int TaskListCommand::execute(const QStringList& args, CommandContext& context)
{
    if (!prepare(args, context))
        return 1;

    Outcome outcome;
    {
        const QString path = context.store.saveURL();
        // Several tool runs, or the tool and the application, may change the file at once; each
        // load-change-save holds the lock so no change is lost.
        const auto lock = acquireLock(path, context.console);
        if (!lock)
            return 1;
        TaskFile::ReadResult file = context.store.readTaskFile();
        if (file.status == TaskFile::ReadStatus::unreadable) {
            context.console.error(
                QStringLiteral("Cannot read the task file %1: %2. It was left unchanged.")
                    .arg(path, file.error));
            return 1;
        }
        outcome = change(file.tasks, context);
    }
    if (outcome.status != 0)
        return outcome.status;
    if (outcome.refreshWake)
        context.store.refreshWakeSchedules(outcome.tasks);
    context.console.print(outcome.successLine);
    return 0;
}

bool TaskListCommand::save(const QList<ScheduledTask>& tasks, const CommandContext& context)
{
    const auto error = context.store.saveTaskList(tasks);
    if (!error)
        return true;
    context.console.error(
        QStringLiteral("Could not save the task file %1: %2").arg(context.store.saveURL(), *error));
    return false;
}

bool NamedTaskCommand::prepare(const QStringList& args, const CommandContext& context)
{
    // An empty argument would match every identifier and so pick the first task of the file.
    if (args.isEmpty() || args.first().isEmpty()) {
        context.console.error(m_usage);
        return false;
    }
    m_nameOrId = args.first();
    return true;
}

TaskListCommand::Outcome NamedTaskCommand::change(QList<ScheduledTask>& tasks,
                                                  CommandContext& context)
{
    const qsizetype index = findTask(tasks, m_nameOrId);
    if (index < 0) {
        context.console.error(QStringLiteral("Task not found: ") + m_nameOrId);
        return Outcome::failure();
    }
    return changeTask(tasks, index, context);
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
