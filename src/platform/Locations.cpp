#include "Locations.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace Locations {

QString homeFolder() { return QDir::homePath(); }

QString stateFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/brenmor-ops");
}

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

Result<void> makePrivateFolder(const QString& path)
{
    const auto fail = [](const QString& reason) { return Result<void>::failure(reason); };
    if (path.isEmpty())
        return fail(QStringLiteral("no folder was given"));
    if (!QFileInfo::exists(path) && !QDir().mkpath(path))
        return fail(QStringLiteral("%1 cannot be created").arg(path));
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    // stat, not lstat: a data folder that is a link to another disk is the user's choice; what
    // counts is who owns the folder it leads to.
    if (::stat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return fail(QStringLiteral("%1 is not a folder").arg(path));
    if (info.st_uid != geteuid())
        return fail(
            QStringLiteral("%1 belongs to another user (uid %2)").arg(path).arg(info.st_uid));
    if ((info.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return fail(QStringLiteral("%1 cannot be made private: %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return {};
}

Result<void> ensureDataFolder()
{
    const Result<void> made = makePrivateFolder(dataFolder());
    if (made.ok())
        return made;
    return Result<void>::failure(QStringLiteral("The data folder cannot be used: ") + made.error());
}

QString taskFilePath() { return dataFolder() + QStringLiteral("/tasks.json"); }
QString logsFolder() { return dataFolder() + QStringLiteral("/Logs"); }
QString scriptsFolder() { return dataFolder() + QStringLiteral("/Scripts"); }
QString userLaunchAgentsDir() { return QDir::homePath() + QStringLiteral("/Library/LaunchAgents"); }
QString globalLaunchAgentsDir() { return QStringLiteral("/Library/LaunchAgents"); }
QString globalLaunchDaemonsDir() { return QStringLiteral("/Library/LaunchDaemons"); }

} // namespace Locations
