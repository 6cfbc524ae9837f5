#include "TaskListCommand.h"

#include "CLITaskStore.h"
#include "Console.h"
#include "TaskFileTransaction.h"
#include "TextTable.h"

#include <csignal>
#include <optional>

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

int TaskListCommand::execute(const QStringList& args, CommandContext& context)
{
    if (!prepare(args, context))
        return 1;

    std::optional<Plan> plan;
    QList<ScheduledTask> before; // the file's list before the change
    QStringList failures;
    const auto collect = [&failures](const SideEffect& effect) {
        if (!effect)
            return;
        if (const Result<void> done = effect(); !done.ok())
            failures << done.message();
    };
    // Ctrl-C or SIGTERM between the file write and the agent change would leave an agent that
    // does not follow the file: once the lock is held they wait until the change, its agent
    // work and the reconciliation are done, and then take effect. (kill -9 cannot wait; the
    // reconciliation of the next change or of the application's start repairs what it leaves.)
    std::optional<SignalDeferral> deferral;
    // Several tool runs, or the tool and the application, may change the file at once; each
    // change is applied to the list on disk under the lock, so no change is lost.
    const TaskFileTransaction::Outcome outcome = context.store.change(
        [&](QList<ScheduledTask>& tasks) {
            deferral.emplace();
            before = tasks;
            plan = change(tasks, context);
            if (!plan)
                return false;
            collect(plan->beforeWrite);
            return true;
        },
        [&](const QList<ScheduledTask>& written) {
            collect(plan->afterWrite);
            // Every other agent too: what an earlier interrupted run left is repaired.
            const AgentOutcome reconciled = context.store.reconcile(written);
            if (!reconciled.ok() && failures.isEmpty())
                failures << reconciled.message();
        });
    deferral.reset();

    const QString& path = context.store.taskFilePath();
    switch (outcome.status) {
    case TaskFileTransaction::Status::written:
        break;
    case TaskFileTransaction::Status::unchanged:
        return 1; // the command printed why
    case TaskFileTransaction::Status::unreadable:
        context.console.error(
            QStringLiteral("Cannot read the task file %1: %2. It was left unchanged.")
                .arg(path, outcome.error));
        return 1;
    case TaskFileTransaction::Status::writeFailed:
        context.console.error(
            QStringLiteral("Could not save the task file %1: %2").arg(path, outcome.error));
        return 1;
    case TaskFileTransaction::Status::lockFailed:
    case TaskFileTransaction::Status::keepFailed:
        context.console.error(outcome.error);
        return 1;
    }

    if (plan->refreshWake) {
        if (const Result<void> woken = context.store.refreshWakeSchedules(before, outcome.tasks);
            !woken.ok())
            failures << woken.message();
    }
    // Names and paths come from the task file, which an import or a hand edit may fill.
    context.console.print(terminalText(plan->successLine));
    for (const QString& failure : std::as_const(failures))
        context.console.error(terminalText(failure));
    return failures.isEmpty() ? 0 : 1;
}

namespace {
using AgentCall = AgentOutcome (LaunchdServiceProtocol::*)(const ScheduledTask&) const;

TaskListCommand::SideEffect agentCall(const CommandContext& context, AgentCall call,
                                      ScheduledTask task)
{
    return [&store = context.store, call, task = std::move(task)]() -> Result<void> {
        if (const AgentOutcome done = (store.launchdService().*call)(task); !done.ok())
            return Result<void>::failure(done.message());
        return {};
    };
}
} // namespace

TaskListCommand::SideEffect TaskListCommand::installing(const CommandContext& context,
                                                        ScheduledTask task)
{
    return agentCall(context, &LaunchdServiceProtocol::install, std::move(task));
}

TaskListCommand::SideEffect TaskListCommand::uninstalling(const CommandContext& context,
                                                          ScheduledTask task)
{
    return agentCall(context, &LaunchdServiceProtocol::uninstall, std::move(task));
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

std::optional<TaskListCommand::Plan> NamedTaskCommand::change(QList<ScheduledTask>& tasks,
                                                              CommandContext& context)
{
    const qsizetype index = findTask(tasks, m_nameOrId);
    if (index < 0) {
        context.console.error(QStringLiteral("Task not found: ") + terminalText(m_nameOrId));
        return std::nullopt;
    }
    if (const std::optional<QString> refused = refusal(tasks, index)) {
        context.console.error(terminalText(*refused));
        return std::nullopt;
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
