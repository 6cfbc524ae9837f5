#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What root may run. A program a user can change (its file, or any folder above it, owned by
// someone else than root or writable by group or others) could be swapped between the request
// and the run, so it never runs with administrator rights.

// The program each simple command of a shell command starts: the first word after `;`, `&`,
// `|`, a line feed or a parenthesis, past variable assignments and the shell's keywords. Quotes
// and backslashes are removed as the shell would; a word that is only known at run time (it
// holds `$` or a backquote) is returned as written.
QStringList programsOfCommand(const QString& command);

// Why root must not run `path` (a message naming the file and the reason), or nothing when it
// may. Symbolic links on the way are followed and their targets checked too.
std::optional<QString> rootRefusal(const QString& path);

// Why root must not run `command` with the search path `searchPath` (names without a slash are
// looked up there; names found nowhere are the shell's own commands), or nothing when it may.
std::optional<QString> commandRefusal(const QString& command, const QString& searchPath);
