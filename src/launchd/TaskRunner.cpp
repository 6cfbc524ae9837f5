#include "TaskRunner.h"

#include "ChildProcess.h"
#include "ShellQuoting.h"

#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <utility>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace {

// Reads the .env file into the shell. macOS's /bin/sh is bash and knows `source`; elsewhere
// /bin/sh may be dash, which only has the POSIX spelling, so a plain-shell run there would
// stop at "source: not found" before the command.
#ifdef Q_OS_MACOS
constexpr QLatin1StringView sourceCommand("source ");
#else
constexpr QLatin1StringView sourceCommand(". ");
#endif

bool isExecutable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// The command leads a session of its own (see run), whose process group has the shell's
// identifier: ending the run reaches what the shell started too, so a shell stopped while
// waiting for `sleep` or a build leaves nothing running unseen after the sheet reported the run
// over.
void askToEnd(QProcess* process)
{
#ifdef Q_OS_UNIX
    if (process->processId() > 0 && ::kill(-pid_t(process->processId()), SIGTERM) == 0)
        return;
#endif
    process->terminate();
}

// Kills what is left of the group `group` (the shell's identifier); false when nothing was.
bool killGroup(qint64 group)
{
#ifdef Q_OS_UNIX
    return group > 0 && ::kill(-pid_t(group), SIGKILL) == 0;
#else
    Q_UNUSED(group);
    return false;
#endif
}

} // namespace

TaskRunner::TaskRunner(QObject* parent) : QObject(parent) {}

TaskRunner::~TaskRunner()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    // Closing the sheet must not wait for the child: it is asked to end and cleans up after
    // itself, and nothing it still writes reaches a runner that is gone.
    QProcess* process = m_process;
    process->disconnect(this);
    process->setParent(nullptr);
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    askToEnd(process);
    QTimer::singleShot(killDelayMs, process, [group = process->processId()] { killGroup(group); });
}

QString TaskRunner::commandLine(const QString& command,
                                const std::optional<QString>& workingDirectory,
                                const std::optional<QString>& envFilePath)
{
    // `exit` without a number ends with the failed step's status. The command follows at the top
    // level of the input exactly as stored: joined to the steps by "&&" only its first line
    // would depend on them.
    QStringList lines;
    if (envFilePath && !envFilePath->isEmpty()) {
        lines << QStringLiteral("set -a")
              << sourceCommand + shellQuoted(*envFilePath) + QStringLiteral(" || exit")
              << QStringLiteral("set +a");
    }
    if (workingDirectory && !workingDirectory->isEmpty())
        lines << QStringLiteral("cd ") + shellQuoted(*workingDirectory) +
                     QStringLiteral(" || exit");
    lines << command;
    return lines.join(QLatin1Char('\n'));
}

TaskRunner::Shell TaskRunner::shellFor(bool useLoginShell)
{
    if (!useLoginShell)
        return {QStringLiteral("/bin/sh"), {QStringLiteral("-c")}};
    const QStringList flags = {QStringLiteral("-l"), QStringLiteral("-i"), QStringLiteral("-c")};
    QString program = QStringLiteral("/bin/zsh");
    if (!isExecutable(program)) {
        program = qEnvironmentVariable("SHELL");
        if (program.isEmpty() || !isExecutable(program))
            program = QStringLiteral("/bin/bash");
    }
    return {program, flags};
}

void TaskRunner::run(const QString& command, const std::optional<QString>& workingDirectory,
                     const std::optional<QString>& envFilePath, bool useLoginShell)
{
    if (m_isRunning)
        return;
    m_isRunning = true;
    m_output.clear();
    m_outputTotal = 0;
    m_outputCut = false;
    ++m_runNumber;
    m_killScheduled = false;
    m_decoder.resetState();
    m_exitCode.reset();
    const Shell shell = shellFor(useLoginShell);
    m_shellProgram = shell.program;
    Q_EMIT changed();

    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
    }
    auto* process = new QProcess(this);
    m_process = process;
    process->setProcessChannelMode(QProcess::MergedChannels);
    // A session of its own: an interactive shell that finds the terminal the application was
    // started from would try to take it over and be stopped by the terminal for good.
    ChildProcess::startInOwnSession(*process);
    process->setProgram(shell.program);
    process->setArguments(shell.leadingArguments +
                          QStringList{commandLine(command, workingDirectory, envFilePath)});
    connect(process, &QProcess::readyRead, this, [this, process] { decode(process->readAll()); });
    connect(process, &QProcess::finished, this, [this, process](int code, QProcess::ExitStatus) {
        decode(process->readAll());
        // The output ended inside a character: its bytes are not text.
        if (m_decoder.midCharacter()) {
            m_decoder.resetState();
            append(QString(QChar::ReplacementCharacter));
        }
        finish(code);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        append(QStringLiteral("Could not start %1: %2\n")
                   .arg(process->program(), process->errorString()));
        finish(127);
    });
    process->start();
    // A command that reads its input sees the end at once instead of waiting for a user who
    // cannot type into the sheet, or taking the terminal the application was started from.
    process->closeWriteChannel();
}

void TaskRunner::stop()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    askToEnd(m_process);
    if (std::exchange(m_killScheduled, true))
        return;
    // A command that ignores SIGTERM (or a child that outlives its shell) must not keep the run
    // going for good. The group is the one of this run, also when Run Again started another.
    QTimer::singleShot(
        killDelayMs, this,
        [this, process = QPointer<QProcess>(m_process), group = m_process->processId()] {
            if (!killGroup(group))
                return;
            // The note belongs to this run's output only.
            if (process && process == m_process) {
                const bool newLine = !m_output.isEmpty() && !m_output.endsWith(QLatin1Char('\n'));
                append(QStringLiteral("%1The command did not end within 3 seconds "
                                      "of Stop, so it was killed (SIGKILL).\n")
                           .arg(newLine ? QStringLiteral("\n") : QString()));
            }
        });
}

void TaskRunner::decode(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    // Bytes that are not UTF-8 become U+FFFD; the rest of the read is kept.
    append(m_decoder.decode(bytes));
}

void TaskRunner::append(const QString& text)
{
    if (text.isEmpty())
        return;
    m_output += text;
    m_outputTotal += text.size();
    // Cut in steps of a quarter of what is kept, at a line's start where one is near, so a
    // long output costs one cut per half megabyte instead of one per read.
    if (m_output.size() > keptOutputChars + keptOutputChars / 4) {
        qsizetype cut = m_output.size() - keptOutputChars;
        const qsizetype lineStart = m_output.indexOf(QLatin1Char('\n'), cut);
        if (lineStart >= 0 && lineStart - cut < keptOutputChars / 4)
            cut = lineStart + 1;
        m_output.remove(0, cut);
        m_outputCut = true;
    }
    Q_EMIT changed();
}

void TaskRunner::finish(int exitCode)
{
    if (!m_isRunning)
        return;
    m_exitCode = exitCode;
    m_isRunning = false;
    Q_EMIT changed();
}
