#pragma once

#include "LaunchctlEngine.h"
#include "SystemdUnits.h"

// launchctl on a systemd user manager: each agent becomes brenmor-ops-<label>.service and, when
// it has a schedule, .timer in the user's unit folder. One launchctl call reloads the manager
// once, however many agents it (un)loads.
class SystemdEngine final : public LaunchctlEngine {
public:
    // $XDG_CONFIG_HOME/systemd/user (~/.config/systemd/user), where the manager reads them.
    static QString unitFolder();

    AgentEngine::Kind kind() const override { return AgentEngine::Kind::systemd; }
    int load(const QStringList& paths, QTextStream& err) override;
    int unload(const QStringList& paths, QTextStream& err) override;
    int list(QTextStream& out, QTextStream& err) override;
    int start(const QString& label, QTextStream& err) override;

    Result<QList<LoadedAgent>> loadedAgents() override;
    Result<void> canAdopt(const QList<LoadedAgent>& agents) override;
    Result<void> adopt(const QList<LoadedAgent>& agents) override;
    Result<void> release(const QList<LoadedAgent>& agents) override;

private:
    // Writes, enables and starts the units of every agent; on a failure of the manager none
    // of them stays.
    Result<void> install(const QList<SystemdUnits::Units>& units);
    // Stops, disables and removes the units of the labels; the labels without units are
    // not loaded.
    Result<void> remove(const QStringList& labels);
    QStringList loadedLabels() const;
};
