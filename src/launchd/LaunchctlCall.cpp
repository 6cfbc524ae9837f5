#include "LaunchctlCall.h"

#include "ChildProcess.h"
#include "ToolPaths.h"

#include <QFileInfo>
#include <QTextStream>

#ifndef Q_OS_MACOS
#include "Launchctl.h"
#endif

namespace LaunchctlCall {

namespace {

Outcome runProcess(const QString& program, const QStringList& arguments, int timeoutMs)
{
    const ChildProcess::Outcome child =
        ChildProcess::run(program, arguments, ChildProcess::Options(timeoutMs));
    Outcome outcome;
    if (!child.started || child.timedOut)
        return outcome;
    outcome.finished = child.finishedNormally;
    outcome.exitCode = child.exitCode;
    outcome.standardOutput = child.standardOutput;
    outcome.standardError = QString::fromLocal8Bit(child.standardError);
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
