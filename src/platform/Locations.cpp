#include "Locations.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace Locations {

QString homeFolder() { return QDir::homePath(); }

QString dataFolder()
{
#ifdef Q_OS_MACOS
    const QString base = QDir::homePath() + QStringLiteral("/Library/Application Support");
#else
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
#endif
    return base + QStringLiteral("/BrenmorOps");
}

bool makePrivateFolder(const QString& path)
{
    if (path.isEmpty())
        return false;
    if (QDir(path).exists())
        return true;
    if (!QDir().mkpath(path))
        return false;
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

bool ensureDataFolder() { return makePrivateFolder(dataFolder()); }

QString taskFilePath() { return dataFolder() + QStringLiteral("/tasks.json"); }
QString logsFolder() { return dataFolder() + QStringLiteral("/Logs"); }
QString scriptsFolder() { return dataFolder() + QStringLiteral("/Scripts"); }
QString userLaunchAgentsDir() { return QDir::homePath() + QStringLiteral("/Library/LaunchAgents"); }
QString globalLaunchAgentsDir() { return QStringLiteral("/Library/LaunchAgents"); }
QString globalLaunchDaemonsDir() { return QStringLiteral("/Library/LaunchDaemons"); }

} // namespace Locations
