#pragma once

#include "AgentEngine.h"
#include "Result.h"
#include "RunnerProtocol.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

// A loaded agent as an engine gives it up when the agents move to another engine: its plist's
// path, the plist and the label.
using LoadedAgent = RunnerProtocol::JobRequest;

// What carries out launchctl's subcommands: our agent runner or a systemd user manager. Each
// subcommand writes launchd's messages and returns launchctl's exit status.
class LaunchctlEngine {
public:
    virtual ~LaunchctlEngine() = default;
    virtual AgentEngine::Kind kind() const = 0;

    virtual int load(const QStringList& paths, QTextStream& err) = 0;
    virtual int unload(const QStringList& paths, QTextStream& err) = 0;
    virtual int list(QTextStream& out, QTextStream& err) = 0;
    virtual int start(const QString& label, QTextStream& err) = 0;

    // Moving the agents between engines: what is loaded, whether all of it could be loaded
    // here, loading it here and letting it go there.
    virtual Result<QList<LoadedAgent>> loadedAgents() = 0;
    virtual Result<void> canAdopt(const QList<LoadedAgent>& agents) = 0;
    virtual Result<void> adopt(const QList<LoadedAgent>& agents) = 0;
    virtual Result<void> release(const QList<LoadedAgent>& agents) = 0;
};

namespace Launchctl {
// The agent runner's side: the runner program lives in `programFolder` (beside launchctl).
std::unique_ptr<LaunchctlEngine> makeRunnerEngine(const QString& programFolder);
} // namespace Launchctl
