#include "CliInstall.h"

#include "AdminRequest.h"
#include "ShellQuoting.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace CliInstall {

QString linkLocation() { return QStringLiteral("/usr/local/bin/brenmor-ops"); }

QString makeInstallScript(const QString& source, const QString& destination)
{
    // Root runs only programs named by their absolute paths.
    return AdminRequest::makeScript(QStringLiteral("/bin/ln -sf ") + shellQuoted(source) +
                                    QLatin1Char(' ') + shellQuoted(destination));
}

QString runningExecutable()
{
    const QString path = QCoreApplication::applicationFilePath();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

Result<void> install(const QString& source, const QString& destination)
{
    const auto linked = AdminRequest::runScript(makeInstallScript(source, destination));
    if (linked)
        return {};
    return Result<void>::failure(linked.message().isEmpty() ? QStringLiteral("Unknown error")
                                                            : linked.message());
}

} // namespace CliInstall
