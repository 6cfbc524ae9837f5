#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace ChildProcess {

namespace {

void applyOutput(QProcess& process, Output output)
{
    switch (output) {
    case Output::captured:
        process.setProcessChannelMode(QProcess::SeparateChannels);
        break;
    case Output::merged:
        process.setProcessChannelMode(QProcess::MergedChannels);
        break;
    case Output::discarded:
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        break;
    case Output::forwarded:
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        break;
    }
}

// Kills the child and, when it leads its own session, everything in its process group: a
// grandchild left holding the output pipes would outlive the time limit. Then reaps it.
void killAndReap(QProcess& process, Session session)
{
#ifdef Q_OS_UNIX
    const qint64 pid = process.processId();
    if (session == Session::own && pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
#else
    Q_UNUSED(session);
#endif
    process.kill();
    process.waitForFinished(-1);
}

} // namespace

void startInOwnSession(QProcess& process)
{
#ifdef Q_OS_UNIX
    process.setChildProcessModifier([] { ::setsid(); });
#else
    Q_UNUSED(process);
#endif
}

Outcome run(const QString& program, const QStringList& arguments, const Options& options)
{
    Outcome outcome;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    applyOutput(process, options.output);
    if (options.environment)
        process.setProcessEnvironment(*options.environment);
    if (options.session == Session::own)
        startInOwnSession(process);

    const QDeadlineTimer deadline = options.timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                          : QDeadlineTimer(options.timeoutMs);
    process.start(program, arguments);
    if (!process.waitForStarted(int(deadline.remainingTime()))) {
        outcome.errorString = process.errorString();
        if (process.state() != QProcess::NotRunning) {
            outcome.timedOut = true;
            killAndReap(process, options.session);
        }
        return outcome;
    }
    outcome.started = true;
    if (!process.waitForFinished(int(deadline.remainingTime()))) {
        outcome.timedOut = true;
        killAndReap(process, options.session);
        return outcome;
    }
    outcome.finishedNormally = process.exitStatus() == QProcess::NormalExit;
    outcome.exitCode = outcome.finishedNormally ? process.exitCode() : -1;
    if (options.output == Output::captured || options.output == Output::merged)
        outcome.standardOutput = process.readAllStandardOutput();
    if (options.output == Output::captured)
        outcome.standardError = process.readAllStandardError();
    return outcome;
}

} // namespace ChildProcess
