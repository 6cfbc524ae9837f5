#pragma once

#include "Result.h"

#include <QString>

// The one AppleScript statement the stand-in understands:
//   do shell script "<string>" [with administrator privileges]
// Keywords are case-insensitive, as in AppleScript; the string takes AppleScript's escapes.
struct ShellScriptStatement {
    QString command;
    bool withAdministratorPrivileges = false;
};

// A compile error as osascript reports it: "<from>:<to>: syntax error: <message> (<code>)".
struct AppleScriptSyntaxError {
    int from = 0;
    int to = 0;
    QString what;
    int code = -2741;

    QString message() const;
};

Result<ShellScriptStatement, AppleScriptSyntaxError>
parseShellScriptStatement(const QString& source);
