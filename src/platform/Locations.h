#pragma once

#include <QString>

// Where the system keeps its files. Tests redirect everything through HOME and XDG_DATA_HOME.
namespace Locations {

// macOS: ~/Library/Application Support/BrenmorOps; Linux: $XDG_DATA_HOME/BrenmorOps
// (~/.local/share/BrenmorOps). Empty when the system reports no such folder.
QString dataFolder();
// Creates the data folder (0700) with its parents; false on failure.
bool ensureDataFolder();
QString taskFilePath();        // dataFolder()/tasks.json
QString logsFolder();          // dataFolder()/Logs
QString scriptsFolder();       // dataFolder()/Scripts
QString userLaunchAgentsDir(); // ~/Library/LaunchAgents on both systems
QString globalLaunchAgentsDir();
QString globalLaunchDaemonsDir();
QString homeFolder();

// Creates a folder with its parents, private to the user where it is newly made.
bool makePrivateFolder(const QString& path);

} // namespace Locations
