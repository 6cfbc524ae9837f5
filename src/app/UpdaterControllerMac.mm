// Sparkle's standard updater controller, created already started, without delegates.
#include "UpdaterController.h"

#import <Sparkle/Sparkle.h>

namespace {

class SparkleUpdater final : public Updater {
public:
    SparkleUpdater()
        : m_controller([[SPUStandardUpdaterController alloc] initWithStartingUpdater:YES
                                                                     updaterDelegate:nil
                                                                  userDriverDelegate:nil])
    {}
    bool canCheckForUpdates() const override { return m_controller.updater.canCheckForUpdates; }
    void checkForUpdates() override { [m_controller checkForUpdates:nil]; }

private:
    SPUStandardUpdaterController* m_controller;
};

} // namespace

std::unique_ptr<Updater> makePlatformUpdater()
{
    return std::make_unique<SparkleUpdater>();
}
