#pragma once

#include "Result.h"

#include <QString>

// A shell command run with administrator rights through an AppleScript
// `do shell script "…" with administrator privileges` request, handed to osascript: the system
// shows its own password dialog (on Linux our osascript stand-in asks through pkexec).
namespace AdminRequest {

struct Error {
    enum class Kind {
        notStarted,     // osascript could not be started or did not finish normally
        executionError, // the script reported an error (cancelled, refused, command failed)
    };
    Kind kind = Kind::executionError;
    // executionError: osascript's message ("User canceled.", the command's error text, or
    // "Unknown error"); notStarted: why the request could not be made.
    QString text;
    QString message() const { return text; }
    friend bool operator==(const Error&, const Error&) = default;
};

// Text as an AppleScript string literal's content: backslashes doubled, then double quotes
// escaped. The order matters: escaping quotes first would double their new backslashes.
QString escapeForAppleScript(const QString& text);

// do shell script "<escaped command>" with administrator privileges
QString makeScript(const QString& shellCommand);

// The message of an osascript error output: the text between "execution error: " (or
// "syntax error: ") and the trailing " (code)"; "Unknown error" when there is none.
QString errorMessage(const QString& osascriptErrorOutput);

// Runs an AppleScript source with osascript and blocks until it ends (the password dialog may
// stay open for long: there is no time limit). The script's result text, trimmed.
Result<QString, Error> runScript(const QString& source);

// runScript(makeScript(shellCommand)).
Result<QString, Error> runShellCommand(const QString& shellCommand);

} // namespace AdminRequest
