#pragma once

#include "Result.h"
#include "ScheduledTask.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <atomic>
#include <optional>

// Why installing or removing an agent failed; `message()` is the text shown to the user.
struct LaunchdError {
    enum class Kind { installFailed, launchctlFailed };
    Kind kind = Kind::installFailed;
    QString text;        // installFailed: the file error's description; launchctlFailed: why,
                         // when launchctl said (may be empty)
    QString command;     // launchctlFailed: first launchctl argument (may be empty)
    qint32 exitCode = 0; // launchctlFailed

    static LaunchdError installFailed(QString text);
    static LaunchdError launchctlFailed(QString command, qint32 exitCode);

    // "Failed to install task: <text>" / "launchctl <command> failed (exit code <n>)", then
    // ": <text>" when launchctl said why
    QString message() const;
    friend bool operator==(const LaunchdError&, const LaunchdError&) = default;
};

// Where a task's agent files live: path arithmetic over three folders, no disk access. Each
// folder left empty takes its default: ~/Library/LaunchAgents, <data>/Scripts, <data>/Logs.
struct AgentPaths {
    explicit AgentPaths(std::optional<QString> launchAgentsDir = std::nullopt,
                        std::optional<QString> scriptsDir = std::nullopt,
                        std::optional<QString> logDir = std::nullopt);

    QString plistPath(const ScheduledTask& task) const;
    QString scriptPath(const ScheduledTask& task) const;
    // Where scripts of older versions lived; removed with the agent.
    QString legacyScriptPath(const ScheduledTask& task) const;
    QString stdoutLogPath(const ScheduledTask& task) const;
    QString stderrLogPath(const ScheduledTask& task) const;
    QString runHistoryPath(const ScheduledTask& task) const;

    QString launchAgentsDir;
    QString scriptsDir;
    QString logDir;
};

// Installing or removing one agent: success or why it failed.
using AgentOutcome = Result<void, LaunchdError>;

// What the task store and the tool need from the agent installer; tests substitute a fake.
class LaunchdServiceProtocol {
public:
    virtual ~LaunchdServiceProtocol() = default;
    virtual AgentOutcome install(const ScheduledTask& task) const = 0;
    virtual AgentOutcome uninstall(const ScheduledTask& task) const = 0;
    // The same for many tasks at once; one result per task, in order. Substitutes that have no
    // cheaper way do them one by one.
    virtual QList<AgentOutcome> installAll(const QList<ScheduledTask>& tasks) const;
    virtual QList<AgentOutcome> uninstallAll(const QList<ScheduledTask>& tasks) const;
    // Brings the agents of tasks whose scripts are of an older generation up to date, one
    // result per task. An installer that can tell leaves an agent whose plist would not change
    // loaded as it is; the others install every task again.
    virtual QList<AgentOutcome> upgradeAll(const QList<ScheduledTask>& tasks) const
    {
        return installAll(tasks);
    }
    virtual void removeOrphanedAgents(const QSet<QUuid>& keeping) const = 0;
    // What reconcile() does with a script of an older generation (without the current version
    // marker): rewrites it, or leaves it to a pass of its own (the application's, on a worker).
    enum class OlderScripts { rewrite, leave };
    // Brings the agents in step with `tasks`, the whole list as the task file holds it: every
    // enabled task's script and plist current and its agent loaded, nothing left of a disabled
    // or deleted task, abandoned temporaries of the agents' folders removed. Repairs what an
    // interrupted change left. The first failure, if any. Substitutes without agents only
    // remove the orphans.
    virtual AgentOutcome reconcile(const QList<ScheduledTask>& tasks,
                                   OlderScripts olderScripts = OlderScripts::rewrite) const;
    // The check after a change that installed or removed the agents of `changed`: orphans go,
    // and of the other tasks only an enabled one without its files or not loaded is installed,
    // and a disabled one with files or loaded is removed; no file is read. Substitutes do what
    // reconcile() does.
    virtual AgentOutcome reconcileAfterChange(const QList<ScheduledTask>& tasks,
                                              const QSet<QUuid>& changed) const
    {
        Q_UNUSED(changed);
        return reconcile(tasks);
    }
};

// Writes wrapper scripts and agent plists and (un)loads agents with launchctl.
// A plain value: the agents' folders, nothing else.
class LaunchdService final : public LaunchdServiceProtocol {
public:
    static constexpr int scriptVersion = 6;
    static QString scriptVersionMarker(); // "# BrenmorOps script v6"
    static QString labelPrefix();         // "com.brenmor-ops.task."
    // Whether the script at `path` is of the current generation: its second line is the
    // current marker. Reads only the first bytes, however long the user's command.
    static bool scriptIsCurrent(const QString& path);

    explicit LaunchdService(AgentPaths paths = AgentPaths()) : m_paths(std::move(paths)) {}

    const AgentPaths& paths() const { return m_paths; }
    static QString label(const ScheduledTask& task);

    // The wrapper script text (byte for byte; see the tests' data files).
    QString scriptContent(const ScheduledTask& task) const;
    // Creates the folders, writes the script atomically with mode 0700, returns its path or
    // the file error's description.
    Result<QString> writeScript(const ScheduledTask& task) const;
    // The agent plist text; creates logDir as a side effect (once per service).
    QString plistContent(const ScheduledTask& task, const QString& scriptPath) const;

    AgentOutcome install(const ScheduledTask& task) const override;
    AgentOutcome uninstall(const ScheduledTask& task) const override;
    // Every script and plist written first, then one launchctl unload for the agents that have
    // a plist and one load for all: two processes however many tasks.
    QList<AgentOutcome> installAll(const QList<ScheduledTask>& tasks) const override;
    // Every script rewritten; a plist only when its bytes change, and only those agents are
    // unloaded and loaded again: the plist does not carry the script's generation, and
    // launchd starts the script by its path, so a rewritten script is used at the next run.
    QList<AgentOutcome> upgradeAll(const QList<ScheduledTask>& tasks) const override;
    // One unload for the agents that have a plist (one without cannot be loaded), then the
    // files go.
    QList<AgentOutcome> uninstallAll(const QList<ScheduledTask>& tasks) const override;
    void removeOrphanedAgents(const QSet<QUuid>& keeping) const override;
    AgentOutcome reconcile(const QList<ScheduledTask>& tasks,
                           OlderScripts olderScripts = OlderScripts::rewrite) const override;
    AgentOutcome reconcileAfterChange(const QList<ScheduledTask>& tasks,
                                      const QSet<QUuid>& changed) const override;
    // The labels launchctl lists as loaded; nothing when it cannot tell.
    std::optional<QSet<QString>> loadedLabels() const;
    // Runs the platform's launchctl and waits; "cannot start" is exit code -1.
    AgentOutcome runLaunchctl(const QStringList& arguments) const;
    // Runs `command` (load or unload) once for several plists; one result per path. A message
    // on standard error that names a path is that path's failure; a failure that names none
    // counts for every path of the call.
    QList<AgentOutcome> runLaunchctlBatch(const QString& command, const QStringList& paths) const;

    // What one launchctl process left: a failure to start or a non-zero status, and its
    // standard error by lines.
    struct LaunchctlRun {
        AgentOutcome status;
        QStringList errorLines;
    };

private:
    // How reconcilePass() tells that an enabled task's agent fits: its files' contents, or
    // only that they are there.
    enum class Check { contents, presence };
    AgentOutcome reconcilePass(const QList<ScheduledTask>& tasks, const QSet<QUuid>& skipping,
                               Check check, OlderScripts olderScripts) const;
    enum class Reload { always, whenPlistChanges };
    QList<AgentOutcome> installAll(const QList<ScheduledTask>& tasks, Reload reload) const;
    LaunchctlRun runLaunchctlProcess(const QStringList& arguments) const;
    void removeFiles(const ScheduledTask& task) const;
    // A folder's entries by name, from one listing: whether each leads to something (a link
    // to nothing does not). Folders inside are left out.
    using FolderEntries = QHash<QString, bool>;
    static FolderEntries folderEntries(const QString& folder);
    void removeOrphans(const QSet<QUuid>& keeping, const FolderEntries& agents,
                       const FolderEntries& scripts) const;

    // Whether plistContent() has made the log folder; copies start over.
    struct Once {
        std::atomic<bool> done{false};
        Once() = default;
        Once(const Once&) {}
        Once& operator=(const Once&) { return *this; }
    };

    AgentPaths m_paths;
    mutable Once m_logFolderMade;
};
