#include "CLITaskStore.h"

#include "ChangeNotification.h"
#include "Locations.h"

#include <csignal>

namespace {

// Holds back SIGINT, SIGTERM and SIGHUP while it lives; one that came meanwhile is delivered
// (and ends the tool as usual) when it goes.
class SignalDeferral {
public:
    SignalDeferral()
    {
        sigset_t deferred;
        sigemptyset(&deferred);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&deferred, signal);
        ::sigprocmask(SIG_BLOCK, &deferred, &m_previous);
    }
    ~SignalDeferral() { ::sigprocmask(SIG_SETMASK, &m_previous, nullptr); }
    SignalDeferral(const SignalDeferral&) = delete;
    SignalDeferral& operator=(const SignalDeferral&) = delete;

private:
    sigset_t m_previous;
};

} // namespace

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

TaskOperations CLITaskStore::operations() const
{
    TaskOperations::Context context;
    context.taskFilePath = m_taskFilePath;
    context.launchd = m_launchdService;
    context.pmset = m_pmsetService;
    context.wakeRefusal = TaskOperations::WakeRefusal::saveAndReport;
    context.lockWaitMs = TaskFile::toolLockWaitMs;
    // Tests that queue dozens of tools on a loaded machine give each a longer wait.
    bool valid = false;
    const int wait = qEnvironmentVariableIntValue("BRENMOR_OPS_LOCK_WAIT_MS", &valid);
    if (valid && wait > 0)
        context.lockWaitMs = wait;
    context.unreadableFile = TaskFileTransaction::UnreadableFile::refuse;
    context.announce = &ChangeNotification::postTasksDidChange;
    // What an earlier interrupted run left is repaired with every change.
    context.checkOtherAgents = true;
    // Ctrl-C or SIGTERM between the file write and the agent change would leave an agent that
    // does not follow the file: once the lock is held they wait until the change and its agent
    // work are done. (kill -9 cannot wait; the check of the next change or of the
    // application's start repairs what it leaves.)
    context.whileLocked = [] { return std::make_shared<SignalDeferral>(); };
    return TaskOperations(std::move(context));
}
