#include "ToolPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace ToolPaths {

namespace {
QString fromEnvironment(const char* name) { return qEnvironmentVariable(name); }

QString executableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe"))
        .canonicalFilePath()
        .section(QLatin1Char('/'), 0, -2);
}

QString resolve(const char* variable, const char* macPath, const char* toolName)
{
    const QString overridden = fromEnvironment(variable);
    if (!overridden.isEmpty())
        return overridden;
#ifdef Q_OS_MACOS
    Q_UNUSED(toolName);
    return QLatin1String(macPath);
#else
    Q_UNUSED(macPath);
    return compatFolder() + QLatin1Char('/') + QLatin1String(toolName);
#endif
}
} // namespace

QString compatFolder()
{
#ifdef Q_OS_MACOS
    return {};
#else
    const QString overridden = fromEnvironment("BRENMOR_OPS_COMPAT_DIR");
    if (!overridden.isEmpty())
        return overridden;
    return builtInCompatFolder();
#endif
}

QString builtInCompatFolder()
{
#ifdef Q_OS_MACOS
    return {};
#else
    // bin/<program> -> ../libexec/brenmor-ops, in the build tree and when installed.
    return QDir::cleanPath(executableFolder() + QStringLiteral("/../") +
                           QStringLiteral(BRENMOR_LIBEXEC_SUBDIR));
#endif
}

QString launchctl() { return resolve("BRENMOR_OPS_LAUNCHCTL", "/bin/launchctl", "launchctl"); }
QString pmset() { return resolve("BRENMOR_OPS_PMSET", "/usr/bin/pmset", "pmset"); }
QString osascript() { return resolve("BRENMOR_OPS_OSASCRIPT", "/usr/bin/osascript", "osascript"); }
QString postNotification()
{
#ifdef Q_OS_MACOS
    return {};
#else
    return compatFolder() + QStringLiteral("/post-notification");
#endif
}
QString shortcuts()
{
    const QString overridden = fromEnvironment("BRENMOR_OPS_SHORTCUTS");
    if (!overridden.isEmpty())
        return overridden;
    // Linux has no Shortcuts: the path simply does not exist and the picker shows its empty state.
    return QStringLiteral("/usr/bin/shortcuts");
}

} // namespace ToolPaths
