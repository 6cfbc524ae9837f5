#include "AdminRequest.h"

#include "ToolPaths.h"

#include <QProcess>
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
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, {QStringLiteral("-e"), source});
    if (!process.waitForStarted(-1))
        return failed(Error::Kind::notStarted,
                      QStringLiteral("Cannot start %1: %2").arg(program, process.errorString()));
    // The user may take as long as they like to answer the password dialog.
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
        return failed(Error::Kind::notStarted, QStringLiteral("%1 ended abnormally").arg(program));
    if (process.exitCode() != 0)
        return failed(Error::Kind::executionError,
                      errorMessage(QString::fromUtf8(process.readAllStandardError())));
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

Result<QString, Error> runShellCommand(const QString& shellCommand)
{
    return runScript(makeScript(shellCommand));
}

} // namespace AdminRequest
