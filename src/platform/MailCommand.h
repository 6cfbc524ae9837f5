#pragma once

#include <QString>

#include <optional>

// The shell step that mails a message through a Gmail account over SMTPS. The command never
// holds the password: at run time it reads it from the keychain item the mail sheet stored.
namespace MailCommand {

// How the command reads the app password back at run time.
enum class PasswordLookup {
    securityTool, // macOS: security find-generic-password (the login keychain)
    secretTool,   // Linux: secret-tool lookup (the Secret Service)
};
// The lookup of the system the program runs on.
PasswordLookup nativePasswordLookup();

// Service name of the keychain item ("com.brenmor-ops.gmail"); the account is the address.
QString keychainService();
QString smtpHost();
// The provider's page where app passwords are made.
QString appPasswordsPage();

// Leading and trailing spaces and tabs removed; other white space is kept.
QString trimSpacesAndTabs(const QString& text);

// Whether an address can stand in the command: local@domain, made of letters, digits and
// . _ % + - only. The command writes it inside double quotes and, for the password lookup,
// bare, so anything a shell reads specially is refused.
bool isUsableAddress(const QString& address);

// The subject as the mail header carries it: every line break (and the white space around it)
// becomes one space, so a pasted subject cannot add headers; then trimmed.
QString subjectLine(const QString& subject);

// The here-document terminator: "BRENMORMAIL", or that name with the first free number
// appended when a line of the body equals it.
QString terminatorFor(const QString& body);

// The command text (lines joined by line feeds, no trailing one); nothing when the sender or
// the recipient is not usable. The body goes in exactly as typed.
std::optional<QString> buildMailCommand(const QString& sender, const QString& recipient,
                                        const QString& subject, const QString& body,
                                        PasswordLookup lookup = nativePasswordLookup());

} // namespace MailCommand
