#include "UpdaterController.h"

UpdaterController::UpdaterController(std::unique_ptr<Updater> updater, QObject* parent)
    : QObject(parent), m_updater(updater ? std::move(updater) : makePlatformUpdater())
{}

UpdaterController::~UpdaterController() = default;

#ifndef BRENMOR_HAVE_SPARKLE
namespace {

// No update feed is configured for this platform: a check can never run.
class FeedlessUpdater final : public Updater {
public:
    bool isAvailable() const override { return false; }
    bool canCheckForUpdates() const override { return false; }
    void checkForUpdates() override {}
};

} // namespace

std::unique_ptr<Updater> makePlatformUpdater() { return std::make_unique<FeedlessUpdater>(); }
#endif
