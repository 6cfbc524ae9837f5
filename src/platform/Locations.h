#pragma once

#include "Result.h"

#include <QString>

// Where the system keeps its files. Tests redirect everything through HOME and XDG_DATA_HOME.
namespace Locations {

// macOS: ~/Library/Application Support/BrenmorOps; Linux: $XDG_DATA_HOME/BrenmorOps
// (~/.local/share/BrenmorOps). Empty when the system reports no such folder.
QString dataFolder();
// Creates the data folder (0700) with its parents, or makes an existing one private. The error
// names the folder: it cannot be made, or it belongs to another user, who could read the tasks'
// commands or plant tasks of their own; such a folder is never used.
Result<void> ensureDataFolder();
QString taskFilePath();        // dataFolder()/tasks.json
QString logsFolder();          // dataFolder()/Logs
QString scriptsFolder();       // dataFolder()/Scripts
QString userLaunchAgentsDir(); // ~/Library/LaunchAgents on both systems
QString globalLaunchAgentsDir();
QString globalLaunchDaemonsDir();
QString homeFolder();
// $XDG_STATE_HOME/brenmor-ops (~/.local/state/brenmor-ops): the stand-ins' and the engine's
// records.
QString stateFolder();

// Creates a folder with its parents, private to the user (0700). An existing folder with group
// or other access is tightened to 0700; one that belongs to another user is refused.
Result<void> makePrivateFolder(const QString& path);

} // namespace Locations
