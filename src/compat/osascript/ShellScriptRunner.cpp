#include "ShellScriptRunner.h"

#include "ChildProcess.h"
#include "RootProgram.h"

#include <QProcessEnvironment>

#include <pwd.h>

namespace {

constexpr int userCanceledCode = -128;
constexpr int privilegeErrorCode = -10004;
// pkexec's own statuses: 126 the dialog was dismissed, 127 not authorized or failed.
constexpr int pkexecDismissed = 126;
constexpr int pkexecRefused = 127;
// Printed by the elevated shell before the command, so a status of 126 or 127 from the command
// itself is not mistaken for pkexec refusing.
const QByteArray startedMarker = "brenmor-osascript-started\n";
const QString defaultPath =
    QStringLiteral("/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");

// As on macOS, a command run with administrator privileges gets a fixed PATH and none of the
// caller's environment: a folder the user can write must not supply the `ln` or `pmset` that
// runs as root. Only the system's folders are on it: our callers name our own stand-ins (pmset)
// by their absolute paths, and every program the command starts is checked before it runs.
const QString elevatedSystemPath = QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin");

QStringList elevatedEnvironment(bool callerIsRoot)
{
    const passwd* root = ::getpwuid(0);
    const QString home =
        root && root->pw_dir ? QString::fromLocal8Bit(root->pw_dir) : QStringLiteral("/root");
    const QString name =
        root && root->pw_name ? QString::fromLocal8Bit(root->pw_name) : QStringLiteral("root");
    QStringList variables{QStringLiteral("PATH=") + elevatedSystemPath,
                          QStringLiteral("HOME=") + home, QStringLiteral("USER=") + name,
                          QStringLiteral("LOGNAME=") + name, QStringLiteral("SHELL=/bin/sh")};
    // A caller that is root already crosses no boundary: its own settings of the pmset stand-in
    // (state file, wake alarm) still apply. Through pkexec nothing of the caller's passes.
    if (callerIsRoot) {
        const QProcessEnvironment caller = QProcessEnvironment::systemEnvironment();
        for (const QString& key : caller.keys()) {
            if (key.startsWith(QLatin1String("BRENMOR_OPS_PMSET_")))
                variables << key + QLatin1Char('=') + caller.value(key);
        }
    }
    return variables;
}

QString commandPath(const ShellScriptSettings& settings)
{
    const QString base = settings.basePath.isEmpty() ? defaultPath : settings.basePath;
    return settings.toolFolder.isEmpty() ? base : settings.toolFolder + QLatin1Char(':') + base;
}

QString trimmedEnd(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    return text.left(end);
}

OsascriptOutcome failure(int sourceLength, const QString& message, int code)
{
    return {1, QString(), executionErrorText(sourceLength, message, code) + QLatin1Char('\n')};
}

} // namespace

QString executionErrorText(int sourceLength, const QString& message, int code)
{
    return QStringLiteral("0:%1: execution error: %2 (%3)")
        .arg(sourceLength)
        .arg(message)
        .arg(code);
}

OsascriptOutcome runShellScript(const ShellScriptStatement& statement, int sourceLength,
                                const ShellScriptSettings& settings)
{
    const QString path = commandPath(settings);
    const bool elevate = statement.withAdministratorPrivileges && !settings.runningAsRoot;

    if (statement.withAdministratorPrivileges) {
        if (const auto refusal = commandRefusal(statement.command, elevatedSystemPath))
            return failure(sourceLength, *refusal, privilegeErrorCode);
    }

    QString program;
    QStringList arguments;
    ChildProcess::Options options;
    if (statement.withAdministratorPrivileges) {
        arguments << QStringLiteral("-i") << elevatedEnvironment(!elevate)
                  << QStringLiteral("/bin/sh") << QStringLiteral("-c");
        if (elevate) {
            arguments << QStringLiteral("printf '%s\\n' ") +
                             QString::fromLatin1(startedMarker.trimmed()) +
                             QStringLiteral("; exec /bin/sh -c \"$1\"")
                      << QStringLiteral("sh");
        }
        arguments << statement.command;
        program = QStringLiteral("/usr/bin/env");
        if (elevate) {
            arguments.prepend(program);
            program = settings.pkexec;
            // pkexec's own agent asks for the password on our controlling terminal when no
            // graphical agent runs (`setup-cli` typed in a terminal): in a session of its own
            // it would find none and could only refuse.
            options.session = ChildProcess::Session::caller;
        }
    } else {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), path);
        options.environment = environment;
        program = QStringLiteral("/bin/sh");
        arguments = {QStringLiteral("-c"), statement.command};
    }
    const ChildProcess::Outcome ran = ChildProcess::run(program, arguments, options);
    if (!ran.started) {
        const QString message =
            elevate ? QStringLiteral("Administrator privileges are not available: %1")
                          .arg(ran.errorString)
                    : ran.errorString;
        return failure(sourceLength, message, privilegeErrorCode);
    }

    QByteArray output = ran.standardOutput;
    const QString errorText = QString::fromUtf8(ran.standardError).trimmed();
    if (elevate) {
        if (!output.startsWith(startedMarker)) {
            if (ran.exitCode == pkexecDismissed || ran.exitCode == pkexecRefused)
                return failure(sourceLength, QStringLiteral("User canceled."), userCanceledCode);
            return failure(sourceLength,
                           errorText.isEmpty()
                               ? QStringLiteral("Administrator privileges are not available.")
                               : errorText,
                           privilegeErrorCode);
        }
        output.remove(0, startedMarker.size());
    }

    const int status = ran.finishedNormally ? ran.exitCode : 1;
    if (!ran.finishedNormally || status != 0) {
        return failure(sourceLength,
                       errorText.isEmpty()
                           ? QStringLiteral("The command exited with a non-zero status.")
                           : errorText,
                       status);
    }
    const QString result = trimmedEnd(QString::fromUtf8(output));
    return {0, result.isEmpty() ? QString() : result + QLatin1Char('\n'), QString()};
}
