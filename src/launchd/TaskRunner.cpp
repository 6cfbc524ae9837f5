#include "TaskRunner.h"

#include "ShellQuoting.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

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

// The command runs in a process group of its own so that ending the run reaches what the shell
// started too; otherwise a shell stopped while waiting for `sleep` or a build would leave that
// child running unseen after the sheet reported the run over.
void askToEnd(QProcess* process)
{
#ifdef Q_OS_UNIX
    if (process->processId() > 0 && ::kill(-pid_t(process->processId()), SIGTERM) == 0)
        return;
#endif
    process->terminate();
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
}

QString TaskRunner::commandLine(const QString& command,
                                const std::optional<QString>& workingDirectory,
                                const std::optional<QString>& envFilePath)
{
    QStringList parts;
    if (envFilePath && !envFilePath->isEmpty()) {
        parts << QStringLiteral("set -a && ") + sourceCommand + shellQuoted(*envFilePath) +
                     QStringLiteral(" && set +a");
    }
    if (workingDirectory && !workingDirectory->isEmpty())
        parts << QStringLiteral("cd ") + shellQuoted(*workingDirectory);
    parts << command;
    return parts.join(QStringLiteral(" && "));
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
#ifdef Q_OS_UNIX
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    process->setProgram(shell.program);
    process->setArguments(shell.leadingArguments +
                          QStringList{commandLine(command, workingDirectory, envFilePath)});
    connect(process, &QProcess::readyRead, this,
            [this, process] { appendIfText(process->readAll()); });
    connect(process, &QProcess::finished, this, [this, process](int code, QProcess::ExitStatus) {
        appendIfText(process->readAll());
        finish(code);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_output += QStringLiteral("Could not start %1: %2\n")
                        .arg(process->program(), process->errorString());
        finish(127);
    });
    process->start();
    // A command that reads its input sees the end at once instead of waiting for a user who
    // cannot type into the sheet, or taking the terminal the application was started from.
    process->closeWriteChannel();
}

void TaskRunner::stop()
{
    if (m_process && m_process->state() != QProcess::NotRunning)
        askToEnd(m_process);
}

void TaskRunner::appendIfText(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    // A read that is not UTF-8 is dropped whole; later reads are shown again.
    if (decoder.hasError())
        return;
    m_output += text;
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
