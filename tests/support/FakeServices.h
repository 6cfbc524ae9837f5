#pragma once

#include "LaunchdService.h"
#include "PmsetService.h"
#include "RunHistory.h"

#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// One ordered record of every launchd and wake call both fakes receive, so a test sees the
// order across the two services ("wake Backup" before "install Backup").
struct CallRecorder {
    QStringList calls;
    QSet<QUuid> lastKept;          // what the last sweep was told to keep
    QSet<QString> failingInstalls; // task names whose install fails
    QSet<QString> failingUninstalls;
    QSet<QString> failingWakes;
    std::optional<LaunchdError> everyInstallFails; // for tests that fail whatever is installed
    // Runs inside install(), before it returns: lets a test act while an operation is half-way.
    std::function<void(const ScheduledTask&)> duringInstall;
};

// Agents are never really installed: calls are recorded by task name. The paths are the real
// layout under a folder of the test's own, so a history or log a test writes at
// runHistoryPath()/stdoutLogPath() is the one the application reads.
class FakeLaunchdService final : public LaunchdServiceProtocol {
public:
    explicit FakeLaunchdService(
        QString root, std::shared_ptr<CallRecorder> recorder = std::make_shared<CallRecorder>())
        : m_recorder(std::move(recorder)), m_root(std::move(root))
    {}

    CallRecorder& recorder() const { return *m_recorder; }

    std::optional<LaunchdError> install(const ScheduledTask& task) const override
    {
        m_recorder->calls << QStringLiteral("install ") + task.name;
        if (m_recorder->duringInstall)
            m_recorder->duringInstall(task);
        if (m_recorder->everyInstallFails)
            return m_recorder->everyInstallFails;
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
    QString scriptURL(const ScheduledTask& task) const override
    {
        return scriptsDir() + QStringLiteral("/BrenmorOps_") + task.shortId() +
               QStringLiteral(".sh");
    }
    QString plistURL(const ScheduledTask& task) const override
    {
        return m_root + QStringLiteral("/LaunchAgents/") + LaunchdService::label(task) +
               QStringLiteral(".plist");
    }
    QString stdoutLogPath(const ScheduledTask& task) const override
    {
        return RunHistory::logPath(logDir(), task.shortId(), LogStream::stdoutStream);
    }
    QString stderrLogPath(const ScheduledTask& task) const override
    {
        return RunHistory::logPath(logDir(), task.shortId(), LogStream::stderrStream);
    }
    QString runHistoryPath(const ScheduledTask& task) const override
    {
        return RunHistory::historyPath(logDir(), task.shortId());
    }
    QString logDir() const override { return m_root + QStringLiteral("/Logs"); }
    QString scriptsDir() const { return m_root + QStringLiteral("/Scripts"); }

private:
    std::shared_ptr<CallRecorder> m_recorder;
    QString m_root;
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
