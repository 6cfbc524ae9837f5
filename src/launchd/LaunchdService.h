#pragma once

#include "ScheduledTask.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

template <typename T> class Result;

// Why installing or removing an agent failed; `message()` is the text shown to the user.
struct LaunchdError {
    enum class Kind { installFailed, launchctlFailed };
    Kind kind = Kind::installFailed;
    QString text;        // installFailed: the file error's description
    QString command;     // launchctlFailed: first launchctl argument (may be empty)
    qint32 exitCode = 0; // launchctlFailed

    static LaunchdError installFailed(QString text);
    static LaunchdError launchctlFailed(QString command, qint32 exitCode);

    // "Failed to install task: <text>" / "launchctl <command> failed (exit code <n>)"
    QString message() const;
    friend bool operator==(const LaunchdError&, const LaunchdError&) = default;
};

// What the task store and the tool need from the agent installer; tests substitute a fake.
class LaunchdServiceProtocol {
public:
    virtual ~LaunchdServiceProtocol() = default;
    virtual std::optional<LaunchdError> install(const ScheduledTask& task) const = 0;
    virtual std::optional<LaunchdError> uninstall(const ScheduledTask& task) const = 0;
    virtual void removeOrphanedAgents(const QSet<QUuid>& keeping) const = 0;
    virtual QString scriptURL(const ScheduledTask& task) const = 0;
    virtual QString plistURL(const ScheduledTask& task) const = 0;
    virtual QString stdoutLogPath(const ScheduledTask& task) const = 0;
    virtual QString stderrLogPath(const ScheduledTask& task) const = 0;
    virtual QString runHistoryPath(const ScheduledTask& task) const = 0;
    virtual QString logDir() const = 0;
};

// Writes wrapper scripts and agent plists and (un)loads agents with launchctl.
// A plain value: three folders, nothing else.
class LaunchdService final : public LaunchdServiceProtocol {
public:
    static constexpr int scriptVersion = 4;
    static QString scriptVersionMarker(); // "# BrenmorOps script v4"
    static QString labelPrefix();         // "com.brenmor-ops.task."

    // Each folder left empty takes its default: ~/Library/LaunchAgents, <data>/Scripts,
    // <data>/Logs.
    explicit LaunchdService(std::optional<QString> launchAgentsDir = std::nullopt,
                            std::optional<QString> scriptsDir = std::nullopt,
                            std::optional<QString> logDir = std::nullopt);

    const QString& launchAgentsDir() const { return m_launchAgentsDir; }
    const QString& scriptsDir() const { return m_scriptsDir; }
    QString logDir() const override { return m_logDir; }

    // Names and paths; no disk access.
    static QString label(const ScheduledTask& task);
    QString plistURL(const ScheduledTask& task) const override;
    QString scriptURL(const ScheduledTask& task) const override;
    QString legacyScriptURL(const ScheduledTask& task) const;
    QString stdoutLogPath(const ScheduledTask& task) const override;
    QString stderrLogPath(const ScheduledTask& task) const override;
    QString runHistoryPath(const ScheduledTask& task) const override;

    // The wrapper script text (byte for byte; see the tests' data files).
    QString scriptContent(const ScheduledTask& task) const;
    // Creates the folders, writes the script atomically with mode 0700, returns its path or
    // the file error's description.
    Result<QString> writeScript(const ScheduledTask& task) const;
    // The agent plist text; creates logDir as a side effect.
    QString plistContent(const ScheduledTask& task, const QString& scriptPath) const;

    std::optional<LaunchdError> install(const ScheduledTask& task) const override;
    std::optional<LaunchdError> uninstall(const ScheduledTask& task) const override;
    void removeOrphanedAgents(const QSet<QUuid>& keeping) const override;
    // Runs the platform's launchctl and waits; "cannot start" is exit code -1.
    std::optional<LaunchdError> runLaunchctl(const QStringList& arguments) const;

private:
    QString m_launchAgentsDir;
    QString m_scriptsDir;
    QString m_logDir;
};
