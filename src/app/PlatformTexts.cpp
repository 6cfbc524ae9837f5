#include "PlatformTexts.h"

#include "ToolPaths.h"

#include <QFileInfo>

const PlatformTexts& PlatformTexts::forMac()
{
    static const PlatformTexts texts{
        QStringLiteral("Wake Mac for this task"),
        QStringLiteral("Wakes your Mac"),
        QStringLiteral("Wakes Mac 5 min before"),
        QStringLiteral("? This will also remove the launchd job."),
        QStringLiteral(" tasks? This will also remove their launchd jobs."),
        QStringLiteral("Create a shortcut in the Shortcuts app first."),
        QStringLiteral("Create a shortcut in the Shortcuts app first."),
    };
    return texts;
}

const PlatformTexts& PlatformTexts::forLinux()
{
    static const PlatformTexts texts{
        QStringLiteral("Wake computer for this task"),
        QStringLiteral("Wakes your computer"),
        QStringLiteral("Wakes your computer 5 min before"),
        QStringLiteral("? This will also remove its scheduled job."),
        QStringLiteral(" tasks? This will also remove their scheduled jobs."),
        QStringLiteral("Create a shortcut with the `shortcuts` command first."),
        QStringLiteral("The `shortcuts` command is not installed"),
    };
    return texts;
}

const PlatformTexts& PlatformTexts::current()
{
#ifdef Q_OS_MACOS
    return forMac();
#else
    return forLinux();
#endif
}

bool shortcutsToolAvailable()
{
    const QFileInfo tool(ToolPaths::shortcuts());
    return tool.isFile() && tool.isExecutable();
}
