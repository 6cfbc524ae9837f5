#pragma once

#include <QObject>

#include <memory>

// The updater the application drives: can a check run now, and run one. On macOS it is
// Sparkle's standard updater, started at once; elsewhere there is no update feed, so it
// answers that no check can run.
class Updater {
public:
    virtual ~Updater() = default;
    // Whether this platform has an update feed at all; without one the menu leaves the check
    // out instead of showing it greyed out for ever.
    virtual bool isAvailable() const { return true; }
    virtual bool canCheckForUpdates() const = 0;
    virtual void checkForUpdates() = 0;
};

// Owns the one updater of the process.
class UpdaterController final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdaterController)

public:
    // Without an updater, the platform's own is created.
    explicit UpdaterController(std::unique_ptr<Updater> updater = nullptr,
                               QObject* parent = nullptr);
    ~UpdaterController() override;

    Updater& updater() const { return *m_updater; }
    bool isAvailable() const { return m_updater->isAvailable(); }
    bool canCheckForUpdates() const { return m_updater->canCheckForUpdates(); }
    void checkForUpdates() { m_updater->checkForUpdates(); }

private:
    std::unique_ptr<Updater> m_updater;
};

// The platform's updater (UpdaterControllerMac.mm on macOS with Sparkle).
std::unique_ptr<Updater> makePlatformUpdater();
