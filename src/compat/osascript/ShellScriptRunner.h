#pragma once

#include "ShellScriptStatement.h"

#include <QString>

// How the stand-in runs a shell command: `toolFolder` goes first on PATH so the command finds
// our other stand-ins (pmset) before anything else; `pkexec` asks for administrator rights
// when the statement wants them and the caller is not root already.
struct ShellScriptSettings {
    QString toolFolder;
    bool runningAsRoot = false;
    QString pkexec = QStringLiteral("pkexec");
    QString basePath; // PATH the command would otherwise see
};

// What osascript shows and returns for one run.
struct OsascriptOutcome {
    int exitStatus = 0;
    QString standardOutput; // the result, with its line feed, or empty
    QString standardError;  // "0:NN: execution error: <message> (<code>)" and a line feed

    friend bool operator==(const OsascriptOutcome&, const OsascriptOutcome&) = default;
};

// osascript's execution error line for a script of `sourceLength` characters.
QString executionErrorText(int sourceLength, const QString& message, int code);

OsascriptOutcome runShellScript(const ShellScriptStatement& statement, int sourceLength,
                                const ShellScriptSettings& settings);
