#include "MailCommand.h"

#include <QRegularExpression>
#include <QStringList>

namespace MailCommand {

namespace {

QString passwordLookup(const QString& sender, PasswordLookup lookup)
{
    // The sender stands bare here; isUsableAddress keeps it to characters no shell reads.
    switch (lookup) {
    case PasswordLookup::securityTool:
        return QStringLiteral("security find-generic-password -s %1 -a %2 -w")
            .arg(keychainService(), sender);
    case PasswordLookup::secretTool:
        return QStringLiteral("secret-tool lookup service %1 account %2")
            .arg(keychainService(), sender);
    }
    return {};
}

} // namespace

PasswordLookup nativePasswordLookup()
{
#ifdef Q_OS_MACOS
    return PasswordLookup::securityTool;
#else
    return PasswordLookup::secretTool;
#endif
}

QString keychainService() { return QStringLiteral("com.brenmor-ops.gmail"); }
QString smtpHost() { return QStringLiteral("smtp.gmail.com"); }
QString appPasswordsPage() { return QStringLiteral("https://myaccount.google.com/apppasswords"); }

QString trimSpacesAndTabs(const QString& text)
{
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

bool isUsableAddress(const QString& address)
{
    // A leading '-' would read as an option to the password lookup.
    static const QRegularExpression plain(
        QStringLiteral("\\A[A-Za-z0-9._%+][A-Za-z0-9._%+-]*@[A-Za-z0-9.-]+\\z"));
    return plain.match(address).hasMatch();
}

QString subjectLine(const QString& subject)
{
    static const QRegularExpression lineBreaks(QStringLiteral(
        "[ \\t]*[\\r\\n\\v\\f\\x{85}\\x{2028}\\x{2029}][\\s\\x{85}\\x{2028}\\x{2029}]*"));
    QString folded = subject;
    folded.replace(lineBreaks, QStringLiteral(" "));
    return trimSpacesAndTabs(folded);
}

QString terminatorFor(const QString& body)
{
    const QStringList lines = body.split(QLatin1Char('\n'));
    const QString base = QStringLiteral("BRENMORMAIL");
    QString terminator = base;
    for (int number = 1; lines.contains(terminator); ++number)
        terminator = base + QLatin1Char('_') + QString::number(number);
    return terminator;
}

std::optional<QString> buildMailCommand(const QString& sender, const QString& recipient,
                                        const QString& subject, const QString& body,
                                        PasswordLookup lookup)
{
    if (!isUsableAddress(sender) || !isUsableAddress(recipient))
        return std::nullopt;
    const QString terminator = terminatorFor(body);
    // The here-document is quoted, so nothing in the subject or body is expanded or unescaped:
    // both reach the mail exactly as written. --crlf sends the lines with the CR LF endings
    // SMTP requires, which also lets curl escape a body line that is a lone ".".
    // The password never stands in a process's arguments, where any local user could read it:
    // the lookup prints it into a variable, a builtin printf writes curl's "user" setting into
    // a pipe and curl reads that as its config. Backslashes and double quotes are escaped for
    // the config's quoted string.
    const QStringList lines = {
        QStringLiteral("_smtp_pass=$(%1)").arg(passwordLookup(sender, lookup)),
        QStringLiteral("_smtp_pass=${_smtp_pass//\\\\/\\\\\\\\}"),
        QStringLiteral("_smtp_pass=${_smtp_pass//\\\"/\\\\\\\"}"),
        QStringLiteral("_smtp_code=$(curl -s -o /dev/null -w '%{http_code}' --ssl-reqd --crlf "
                       "--url \"smtps://%1:465\" \\")
            .arg(smtpHost()),
        QStringLiteral("  --config <(printf 'user = \"%s:%s\"\\n' \"%1\" \"$_smtp_pass\") \\")
            .arg(sender),
        QStringLiteral("  --mail-from \"%1\" \\").arg(sender),
        QStringLiteral("  --mail-rcpt \"%1\" \\").arg(recipient),
        QStringLiteral("  -T - <<'%1'").arg(terminator),
        QStringLiteral("Subject: ") + subjectLine(subject),
        QStringLiteral("From: ") + sender,
        QStringLiteral("To: ") + recipient,
        QStringLiteral("Content-Type: text/plain; charset=UTF-8"),
        QString(),
        body,
        terminator,
        QStringLiteral(")"),
        QStringLiteral("_smtp_status=$?"),
        QStringLiteral("unset _smtp_pass"),
        QString(),
        QStringLiteral("if [ $_smtp_status -eq 0 ]; then"),
        QStringLiteral("  echo \"[$_smtp_code] Email sent to %1\"").arg(recipient),
        QStringLiteral("else"),
        QStringLiteral("  echo \"Failed to send email\" >&2"),
        QStringLiteral("  exit 1"),
        QStringLiteral("fi"),
    };
    return lines.join(QLatin1Char('\n'));
}

} // namespace MailCommand
