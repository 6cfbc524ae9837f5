#pragma once

#include "LaunchdService.h"
#include "PmsetService.h"

#include <QSet>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>

// One ordered record of every launchd and wake call both fakes receive, so a test sees the
// order across the two services ("wake Backup" before "install Backup").
struct CallRecorder {
    QStringList calls;
    QSet<QUuid> lastKept;          // what the last sweep was told to keep
    QSet<QString> failingInstalls; // task names whose install fails
    QSet<QString> failingUninstalls;
    QSet<QString> failingWakes;
    // Runs inside install(), before it returns: lets a test act while an operation is half-way.
    std::function<void(const ScheduledTask&)> duringInstall;
};

// Records calls by task name.
class FakeLaunchd final : public LaunchdServiceProtocol {
public:
    explicit FakeLaunchd(std::shared_ptr<CallRecorder> recorder) : m_recorder(std::move(recorder))
    {}

    std::optional<LaunchdError> install(const ScheduledTask& task) const override
    {
        m_recorder->calls << QStringLiteral("install ") + task.name;
        if (m_recorder->duringInstall)
            m_recorder->duringInstall(task);
        if (m_recorder->failingInstalls.contains(task.name))
            return LaunchdError::launchctlFailed(QStringLiteral("load"), 5);
        return std::nullopt;
    }
    std::optional<LaunchdError> uninstall(const ScheduledTask& task) const override
    {
        m_recorder->calls << QStringLiteral("uninstall ") + task.name;
        if (m_recorder->failingUninstalls.contains(task.name))
            return LaunchdError::launchctlFailed(QStringLiteral("unload"), 3);
        return std::nullopt;
    }
    void removeOrphanedAgents(const QSet<QUuid>& keeping) const override
    {
        m_recorder->calls << QStringLiteral("sweep");
        m_recorder->lastKept = keeping;
    }

private:
    std::shared_ptr<CallRecorder> m_recorder;
};

class FakePmset final : public PmsetServiceProtocol {
public:
    explicit FakePmset(std::shared_ptr<CallRecorder> recorder) : m_recorder(std::move(recorder)) {}

    std::optional<PmsetError> scheduleWake(const ScheduledTask& task) const override
    {
        m_recorder->calls << QStringLiteral("wake ") + task.name;
        if (m_recorder->failingWakes.contains(task.name))
            return PmsetError::scriptFailed(QStringLiteral("User canceled."));
        return std::nullopt;
    }
    bool isWakeScheduledInSystem(const ScheduledTask&) const override { return false; }

private:
    std::shared_ptr<CallRecorder> m_recorder;
};
