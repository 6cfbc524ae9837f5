#pragma once

#include "Result.h"

#include <QString>

// Linking the command-line tool into /usr/local/bin with administrator rights. The tool's
// `setup-cli` and the application's "Install CLI Command..." share this.
namespace CliInstall {

// "/usr/local/bin/brenmor-ops"
QString linkLocation();

// do shell script "/bin/ln -sf '<source>' '<destination>'" with administrator privileges, the shell
// command escaped for the AppleScript string.
QString makeInstallScript(const QString& source, const QString& destination);

// The running program's own executable: the link target of `setup-cli`. Symbolic links are
// resolved, so running the tool through an old link re-links the real file.
QString runningExecutable();

// Runs the install script for `source`; fails with the system's message ("Unknown error" when
// it gives none). Blocks while the password dialog is open.
Result<void> install(const QString& source, const QString& destination = linkLocation());

} // namespace CliInstall
