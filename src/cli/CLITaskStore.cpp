#include "CLITaskStore.h"

#include "AtomicFile.h"
#include "ChangeNotification.h"
#include "Locations.h"

#include <QFileInfo>

CLITaskStore::CLITaskStore(std::optional<QString> taskFilePath)
    : CLITaskStore(std::move(taskFilePath), std::make_shared<LaunchdService>(),
                   std::make_shared<PmsetService>())
{}

CLITaskStore::CLITaskStore(std::optional<QString> taskFilePath,
                           std::shared_ptr<const LaunchdServiceProtocol> launchdService,
                           std::shared_ptr<const PmsetServiceProtocol> pmsetService)
    : m_launchdService(std::move(launchdService)), m_pmsetService(std::move(pmsetService))
{
    // A folder that cannot be used fails the first read or write, which says why.
    (void)Locations::ensureDataFolder();
    m_taskFilePath = taskFilePath.value_or(Locations::taskFilePath());
}

QList<ScheduledTask> CLITaskStore::loadTaskList() const
{
    return TaskFile::read(m_taskFilePath).tasks;
}

TaskFileTransaction::Outcome
CLITaskStore::change(const TaskFileTransaction::Change& change,
                     const TaskFileTransaction::AfterWrite& afterWrite) const
{
    TaskFileTransaction::Options options;
    options.lockWaitMs = TaskFile::toolLockWaitMs;
    // Tests that queue dozens of tools on a loaded machine give each a longer wait.
    bool valid = false;
    const int wait = qEnvironmentVariableIntValue("BRENMOR_OPS_LOCK_WAIT_MS", &valid);
    if (valid && wait > 0)
        options.lockWaitMs = wait;
    options.unreadableFile = TaskFileTransaction::UnreadableFile::refuse;
    options.announce = &ChangeNotification::postTasksDidChange;
    return TaskFileTransaction::run(m_taskFilePath, options, change, afterWrite);
}

Result<void> CLITaskStore::refreshWakeSchedules(const QList<ScheduledTask>& before,
                                                const QList<ScheduledTask>& after) const
{
    // A declined password dialog for one event does not keep the others from registering.
    Result<void> first;
    const auto note = [&first](const WakeOutcome& outcome) {
        if (!outcome.ok() && first.ok())
            first = Result<void>::failure(outcome.message());
    };
    // What `after` no longer needs goes first, so a one-time event shared with a remaining task
    // is registered again.
    const WakeCancellations cancellations = wakeCancellations(before, after);
    if (cancellations.repeating)
        note(m_pmsetService->cancelRepeatingWake());
    for (const ScheduledTask& task : cancellations.oneTime)
        note(m_pmsetService->cancelOneTimeWake(task));
    for (const ScheduledTask& task : wakeRegistrations(after))
        note(m_pmsetService->scheduleWake(task));
    return first;
}

AgentOutcome CLITaskStore::reconcile(const QList<ScheduledTask>& tasks) const
{
    const QFileInfo taskFile(m_taskFilePath);
    AtomicFile::removeAbandonedTemporaries(taskFile.absolutePath(), taskFile.fileName());
    return m_launchdService->reconcile(tasks);
}
