#pragma once

#include "Result.h"

#include <QString>

#include <optional>

// Which scheduler runs the agents. macOS: launchd. Linux: a systemd user manager when one
// answers, else our agent runner; BRENMOR_OPS_ENGINE=systemd|runner forces one. Our launchctl
// records the engine it loaded the agents on, so the others can say which one is in use.
namespace AgentEngine {

enum class Kind { launchd, systemd, runner };

QString name(Kind kind);        // "launchd", "systemd", "runner"
QString displayName(Kind kind); // "launchd", "systemd user manager", "Brenmor Ops agent runner"
std::optional<Kind> fromName(const QString& name);

// The engine BRENMOR_OPS_ENGINE names; an unknown value is an error naming it.
Result<std::optional<Kind>> forced();
// Whether a systemd user manager answers: its private socket under $XDG_RUNTIME_DIR exists and
// `systemctl --user` reaches it. No value: the socket exists but `systemctl` did not end within
// the probe's limit, which on a loaded machine says nothing about the manager.
std::optional<bool> systemdManagerAnswers();
// The engine to use now: launchd on macOS; forced, else systemd when a manager answers, else
// the runner. A manager that did not answer in time keeps the recorded engine, so a slow moment
// never moves the agents from one engine to the other.
Result<Kind> chosen();

// $XDG_STATE_HOME/brenmor-ops/engine.json: the engine holding the loaded agents.
QString recordPath();
std::optional<Kind> recorded();
Result<void> record(Kind kind);

// What runs the agents: the recorded engine, or the one the next launchctl call will choose.
Kind inUse();

} // namespace AgentEngine
