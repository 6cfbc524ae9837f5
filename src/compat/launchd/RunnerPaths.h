#pragma once

#include "Result.h"

#include <QString>

// Where the agent runner and launchctl meet. One runner per user: the lock and the socket live
// in a folder only the user can enter.
namespace RunnerPaths {

// $XDG_RUNTIME_DIR/brenmor-ops, or /tmp/brenmor-ops-<uid> when XDG_RUNTIME_DIR is unset.
QString runtimeFolder();
// Creates the runtime folder (0700) and makes sure it belongs to the user and nobody else can
// enter it.
Result<void> ensureRuntimeFolder();
// Whether `path` may be trusted: it fails when it is not of the expected kind (a folder when
// `folder`, else a socket), belongs to another user, or others have access to it. One that
// does not exist is fine.
Result<void> checkPrivateEntry(const QString& path, bool folder);
QString lockFile();   // holds the runner's process id while it runs
QString socketFile(); // launchctl's requests
// $XDG_STATE_HOME/brenmor-ops/agents.json (XDG_STATE_HOME defaults to ~/.local/state).
QString stateFile();
// The runner program next to launchctl; BRENMOR_OPS_AGENT_RUNNER overrides it.
QString runnerProgram(const QString& launchctlFolder);

} // namespace RunnerPaths
