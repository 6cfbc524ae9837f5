#include "RunnerPaths.h"

#include "Locations.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace RunnerPaths {

QString runtimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/brenmor-ops");
    return QStringLiteral("/tmp/brenmor-ops-%1").arg(getuid());
}

namespace {

// What the user can do when another user made the shared fallback folder in /tmp first.
QString takenFolderAdvice(const QString& folder)
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return {};
    return QStringLiteral("; another user made it first, so no agent can be started safely. Set "
                          "XDG_RUNTIME_DIR to a private folder of yours (a login session "
                          "normally does), or ask an administrator to remove %1")
        .arg(folder);
}

} // namespace

Result<void> ensureRuntimeFolder()
{
    const auto failed = [](const QString& reason) { return Result<void>::failure(reason); };
    const QString folder = runtimeFolder();
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return failed(QStringLiteral("cannot create %1: %2")
                          .arg(folder, QString::fromLocal8Bit(strerror(errno))));
    struct stat info {};
    // lstat: a symbolic link planted in /tmp by someone else must not be followed.
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return failed(QStringLiteral("%1 is not a folder").arg(folder));
    if (info.st_uid != getuid())
        return failed(QStringLiteral("%1 belongs to another user").arg(folder) +
                      takenFolderAdvice(folder));
    if ((info.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return failed(QStringLiteral("cannot make %1 private").arg(folder));
    return {};
}

Result<void> checkPrivateEntry(const QString& path, bool folder)
{
    const auto failed = [](const QString& reason) { return Result<void>::failure(reason); };
    struct stat info {};
    // lstat: a symbolic link planted by someone else must not be followed.
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT ? Result<void>()
                               : failed(QStringLiteral("cannot check %1: %2")
                                            .arg(path, QString::fromLocal8Bit(strerror(errno))));
    if (folder ? !S_ISDIR(info.st_mode) : !S_ISSOCK(info.st_mode))
        return failed(QStringLiteral("%1 is not a %2")
                          .arg(path, folder ? QLatin1String("folder") : QLatin1String("socket")));
    if (info.st_uid != getuid())
        return failed(
            QStringLiteral("%1 belongs to another user (uid %2)").arg(path).arg(info.st_uid) +
            (path == runtimeFolder() ? takenFolderAdvice(path) : QString()));
    if ((info.st_mode & 077) != 0)
        return failed(QStringLiteral("%1 is open to other users (mode %2)")
                          .arg(path)
                          .arg(info.st_mode & 0777, 4, 8, QLatin1Char('0')));
    return {};
}

QString lockFile() { return runtimeFolder() + QStringLiteral("/agent-runner.lock"); }

QString socketFile() { return runtimeFolder() + QStringLiteral("/agent-runner.sock"); }

QString stateFile() { return Locations::stateFolder() + QStringLiteral("/agents.json"); }

QString runnerProgram(const QString& launchctlFolder)
{
    const QString overridden = qEnvironmentVariable("BRENMOR_OPS_AGENT_RUNNER");
    if (!overridden.isEmpty())
        return overridden;
    return launchctlFolder + QStringLiteral("/brenmor-agent-runner");
}

} // namespace RunnerPaths
