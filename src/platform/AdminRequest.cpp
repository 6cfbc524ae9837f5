#include "AdminRequest.h"

#include "ChildProcess.h"
#include "ToolPaths.h"

#include <QRegularExpression>

namespace AdminRequest {

QString escapeForAppleScript(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return escaped;
}

QString makeScript(const QString& shellCommand)
{
    return QStringLiteral("do shell script \"") + escapeForAppleScript(shellCommand) +
           QStringLiteral("\" with administrator privileges");
}

QString errorMessage(const QString& osascriptErrorOutput)
{
    // osascript writes "<from>:<to>: execution error: <message> (<code>)"; the message itself
    // may span lines (a command's standard error), so everything up to the final code counts.
    static const QRegularExpression pattern(
        QStringLiteral("(?:execution|syntax) error: (.*?)(?: \\(-?\\d+\\))?\\s*$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = pattern.match(osascriptErrorOutput);
    if (!match.hasMatch())
        return QStringLiteral("Unknown error");
    const QString message = match.captured(1).trimmed();
    return message.isEmpty() ? QStringLiteral("Unknown error") : message;
}

Result<QString, Error> runScript(const QString& source)
{
    const auto failed = [](Error::Kind kind, QString text) {
        return Result<QString, Error>::failure({kind, std::move(text)});
    };
    const QString program = ToolPaths::osascript();
    ChildProcess::Options options;
#ifndef Q_OS_MACOS
    // Our osascript asks for the password through pkexec, whose own agent, when no graphical
    // one runs, asks on the controlling terminal (it opens /dev/tty, not its standard input).
    // A child in a session of its own has no terminal to hand down, and `setup-cli` typed in a
    // terminal could then never be authorized. macOS shows its own dialog: the rule applies.
    options.session = ChildProcess::Session::caller;
#endif
    // The user may take as long as they like to answer the password dialog.
    const ChildProcess::Outcome outcome =
        ChildProcess::run(program, {QStringLiteral("-e"), source}, options);
    if (!outcome.started)
        return failed(Error::Kind::notStarted,
                      QStringLiteral("Cannot start %1: %2").arg(program, outcome.errorString));
    if (!outcome.finishedNormally)
        return failed(Error::Kind::notStarted, QStringLiteral("%1 ended abnormally").arg(program));
    if (outcome.exitCode != 0)
        return failed(Error::Kind::executionError,
                      errorMessage(QString::fromUtf8(outcome.standardError)));
    return QString::fromUtf8(outcome.standardOutput).trimmed();
}

Result<QString, Error> runShellCommand(const QString& shellCommand)
{
    return runScript(makeScript(shellCommand));
}

} // namespace AdminRequest
