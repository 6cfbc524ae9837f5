// osascript for Linux. Runs `osascript -e 'do shell script "…" [with administrator privileges]'`
// the way macOS does: the command's output on success, osascript's error line otherwise.
#include "ShellScriptRunner.h"
#include "ShellScriptStatement.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

int usage()
{
    QTextStream(stderr) << "usage: osascript -e 'do shell script \"command\" [with administrator "
                           "privileges]'\n";
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2 || args.at(0) != QLatin1String("-e"))
        return usage();

    const QString& source = args.at(1);
    const auto parsed = parseShellScriptStatement(source);
    if (!parsed) {
        QTextStream(stderr) << parsed.message() << '\n';
        return 1;
    }

    ShellScriptSettings settings;
    settings.toolFolder = QCoreApplication::applicationDirPath();
    settings.runningAsRoot = geteuid() == 0;
    settings.basePath = qEnvironmentVariable("PATH");
    const QString pkexec = qEnvironmentVariable("BRENMOR_OPS_PKEXEC");
    if (!pkexec.isEmpty())
        settings.pkexec = pkexec;

    const OsascriptOutcome outcome = runShellScript(parsed.value(), int(source.size()), settings);
    QTextStream(stdout) << outcome.standardOutput;
    QTextStream(stderr) << outcome.standardError;
    return outcome.exitStatus;
}
