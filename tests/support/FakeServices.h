#pragma once

#include "LaunchdService.h"
#include "PmsetService.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// One ordered record of every launchd and wake call both fakes receive, so a test sees the
// order across the two services ("wake Backup" before "install Backup"). The store's script
// upgrade calls the launchd fake from a worker thread: calls are recorded under the lock, and a
// test reads them once the store has settled.
struct CallRecorder {
    QStringList calls;
    QSet<QUuid> lastKept;          // what the last sweep was told to keep
    QSet<QString> failingInstalls; // task names whose install fails
    QSet<QString> failingUninstalls;
    QSet<QString> failingWakes;
    bool cancelsFail = false; // every cancellation fails as a declined password dialog does
    std::optional<LaunchdError> everyInstallFails; // for tests that fail whatever is installed
    // Runs inside install(), before it returns: lets a test act while an operation is half-way.
    // Possibly on the store's upgrade thread.
    std::function<void(const ScheduledTask&)> duringInstall;
    // Runs as each call ("wake Backup", "install Backup") is recorded, before the fake answers:
    // lets a test hold an operation on the store's worker.
    std::function<void(const QString&)> duringCall;

    void record(const QString& call)
    {
        {
            const QMutexLocker locker(&m_mutex);
            calls << call;
        }
        if (duringCall)
            duringCall(call);
    }

private:
    QMutex m_mutex;
};

// Agents are never really installed: calls are recorded by task name.
class FakeLaunchdService final : public LaunchdServiceProtocol {
public:
    explicit FakeLaunchdService(
        std::shared_ptr<CallRecorder> recorder = std::make_shared<CallRecorder>())
        : m_recorder(std::move(recorder))
    {}

    CallRecorder& recorder() const { return *m_recorder; }

    AgentOutcome install(const ScheduledTask& task) const override
    {
        m_recorder->record(QStringLiteral("install ") + task.name);
        if (m_recorder->duringInstall)
            m_recorder->duringInstall(task);
        if (m_recorder->everyInstallFails)
            return AgentOutcome::failure(*m_recorder->everyInstallFails);
        if (m_recorder->failingInstalls.contains(task.name))
            return AgentOutcome::failure(LaunchdError::launchctlFailed(QStringLiteral("load"), 5));
        return {};
    }
    AgentOutcome uninstall(const ScheduledTask& task) const override
    {
        m_recorder->record(QStringLiteral("uninstall ") + task.name);
        if (m_recorder->failingUninstalls.contains(task.name))
            return AgentOutcome::failure(
                LaunchdError::launchctlFailed(QStringLiteral("unload"), 3));
        return {};
    }
    void removeOrphanedAgents(const QSet<QUuid>& keeping) const override
    {
        m_recorder->record(QStringLiteral("sweep"));
        m_recorder->lastKept = keeping;
    }

private:
    std::shared_ptr<CallRecorder> m_recorder;
};

// Wake registrations are recorded by task name; the names in failingWakes fail the way a
// cancelled administrator prompt does.
class FakePmsetService final : public PmsetServiceProtocol {
public:
    explicit FakePmsetService(
        std::shared_ptr<CallRecorder> recorder = std::make_shared<CallRecorder>())
        : m_recorder(std::move(recorder))
    {}

    CallRecorder& recorder() const { return *m_recorder; }

    WakeOutcome scheduleWake(const ScheduledTask& task) const override
    {
        m_recorder->record(QStringLiteral("wake ") + task.name);
        if (m_recorder->failingWakes.contains(task.name))
            return WakeOutcome::failure(PmsetError::scriptFailed(QStringLiteral("User canceled.")));
        return {};
    }
    bool isWakeScheduledInSystem(const ScheduledTask&) const override { return false; }
    WakeOutcome cancelRepeatingWake() const override
    {
        m_recorder->record(QStringLiteral("cancel repeating wake"));
        return cancelled();
    }
    WakeOutcome cancelOneTimeWake(const ScheduledTask& task) const override
    {
        m_recorder->record(QStringLiteral("cancel wake ") + task.name);
        return cancelled();
    }

private:
    WakeOutcome cancelled() const
    {
        if (m_recorder->cancelsFail)
            return WakeOutcome::failure(PmsetError::scriptFailed(QStringLiteral("User canceled.")));
        return {};
    }

    std::shared_ptr<CallRecorder> m_recorder;
};
