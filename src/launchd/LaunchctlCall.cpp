#include "LaunchctlCall.h"

#include "ToolPaths.h"

#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

#ifndef Q_OS_MACOS
#include "Launchctl.h"
#endif

namespace LaunchctlCall {

namespace {

Outcome runProcess(const QString& program, const QStringList& arguments, int timeoutMs)
{
    Outcome outcome;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return outcome;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return outcome;
    }
    outcome.finished = process.exitStatus() == QProcess::NormalExit;
    outcome.exitCode = outcome.finished ? process.exitCode() : -1;
    outcome.standardOutput = process.readAllStandardOutput();
    outcome.standardError = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

} // namespace

bool isOwn(const QString& path, const QString& ownFolder)
{
    if (ownFolder.isEmpty())
        return false;
    const QString own = QFileInfo(ownFolder + QStringLiteral("/launchctl")).canonicalFilePath();
    return !own.isEmpty() && QFileInfo(path).canonicalFilePath() == own;
}

bool isOwn(const QString& path) { return isOwn(path, ToolPaths::builtInCompatFolder()); }

Outcome run(const QStringList& arguments, int timeoutMs)
{
    const QString program = ToolPaths::launchctl();
#ifndef Q_OS_MACOS
    if (isOwn(program)) {
        Outcome outcome;
        QString out;
        QTextStream outStream(&out);
        QTextStream errStream(&outcome.standardError);
        outcome.exitCode =
            Launchctl::run(arguments, outStream, errStream, QFileInfo(program).canonicalPath());
        outStream.flush();
        errStream.flush();
        outcome.finished = true;
        outcome.standardOutput = out.toUtf8();
        return outcome;
    }
#endif
    return runProcess(program, arguments, timeoutMs);
}

} // namespace LaunchctlCall
