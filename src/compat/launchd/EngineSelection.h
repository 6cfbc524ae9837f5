#pragma once

#include "LaunchctlEngine.h"

// Which engine carries out one launchctl call. When the engine found now (AgentEngine::chosen)
// is not the one recorded, the loaded agents move first: unloaded from the old one, loaded on
// the new one, and the new one recorded. Agents the new engine cannot run keep every agent
// where it is, with a warning saying why.
namespace EngineSelection {

std::unique_ptr<LaunchctlEngine> make(AgentEngine::Kind kind, const QString& programFolder);

Result<std::unique_ptr<LaunchctlEngine>> select(const QString& programFolder, QTextStream& err);

} // namespace EngineSelection
