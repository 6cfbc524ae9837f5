#include "CLITaskStore.h"

#include "ChangeNotification.h"
#include "Locations.h"

CLITaskStore::CLITaskStore(std::optional<QString> saveURL)
    : CLITaskStore(
          std::move(saveURL),
          std::make_shared<LaunchdService>(std::nullopt, std::nullopt, Locations::logsFolder()),
          std::make_shared<PmsetService>())
{}

CLITaskStore::CLITaskStore(std::optional<QString> saveURL,
                           std::shared_ptr<const LaunchdServiceProtocol> launchdService,
                           std::shared_ptr<const PmsetServiceProtocol> pmsetService)
    : m_launchdService(std::move(launchdService)), m_pmsetService(std::move(pmsetService))
{
    Locations::ensureDataFolder();
    m_saveURL = saveURL.value_or(Locations::taskFilePath());
}

QList<ScheduledTask> CLITaskStore::loadTaskList() const { return TaskFile::read(m_saveURL).tasks; }

std::optional<QString> CLITaskStore::saveTaskList(const QList<ScheduledTask>& tasks) const
{
    const auto error = TaskFile::write(m_saveURL, tasks);
    ChangeNotification::postTasksDidChange();
    return error;
}

void CLITaskStore::refreshWakeSchedules(const QList<ScheduledTask>& tasks) const
{
    // Failures (a declined password dialog too) are ignored: the other events still register.
    for (const ScheduledTask& task : wakeRegistrations(tasks))
        m_pmsetService->scheduleWake(task);
}
