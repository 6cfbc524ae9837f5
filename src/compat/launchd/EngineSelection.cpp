#include "EngineSelection.h"

#include "SystemdEngine.h"

namespace EngineSelection {

namespace {

using Selected = Result<std::unique_ptr<LaunchctlEngine>>;

// Moves every agent of `from` to `to`; false leaves them all on `from`.
bool moveAgents(LaunchctlEngine& from, LaunchctlEngine& to, QTextStream& err)
{
    const auto staying = [&](const QString& reason) {
        err << "launchctl: the agents stay on the " << AgentEngine::displayName(from.kind()) << ": "
            << reason << '\n';
        return false;
    };
    const Result<QList<LoadedAgent>> agents = from.loadedAgents();
    if (!agents)
        return staying(agents.error());
    if (const Result<void> fits = to.canAdopt(*agents); !fits.ok())
        return staying(fits.error());
    if (const Result<void> released = from.release(*agents); !released.ok())
        return staying(released.error());
    if (const Result<void> adopted = to.adopt(*agents); !adopted.ok()) {
        // Nothing may be lost: what left the old engine goes back to it.
        (void)from.adopt(*agents);
        return staying(adopted.error());
    }
    return true;
}

} // namespace

std::unique_ptr<LaunchctlEngine> make(AgentEngine::Kind kind, const QString& programFolder)
{
    if (kind == AgentEngine::Kind::systemd)
        return std::make_unique<SystemdEngine>();
    return Launchctl::makeRunnerEngine(programFolder);
}

Selected select(const QString& programFolder, QTextStream& err)
{
    const Result<AgentEngine::Kind> chosen = AgentEngine::chosen();
    if (!chosen)
        return Selected::failure(chosen.error());
    const std::optional<AgentEngine::Kind> recorded = AgentEngine::recorded();
    // Before engines were recorded, every agent was loaded on the runner.
    const AgentEngine::Kind previous = recorded.value_or(AgentEngine::Kind::runner);
    std::unique_ptr<LaunchctlEngine> engine = make(*chosen, programFolder);
    if (previous != *chosen) {
        std::unique_ptr<LaunchctlEngine> old = make(previous, programFolder);
        if (!moveAgents(*old, *engine, err))
            return Selected(std::move(old));
    }
    if (recorded != *chosen) {
        if (const Result<void> written = AgentEngine::record(*chosen); !written.ok())
            err << "launchctl: " << written.error() << '\n';
    }
    return Selected(std::move(engine));
}

} // namespace EngineSelection
