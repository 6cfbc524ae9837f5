#include "CLITaskStore.h"

#include "ChangeNotification.h"
#include "Locations.h"

CLITaskStore::CLITaskStore(std::optional<QString> saveURL)
{
    Locations::ensureDataFolder();
    m_saveURL = saveURL.value_or(Locations::taskFilePath());
}

QList<ScheduledTask> CLITaskStore::loadTaskList() const
{
    return TaskFile::read(m_saveURL).tasks;
}

std::optional<QString> CLITaskStore::saveTaskList(const QList<ScheduledTask>& tasks) const
{
    const auto error = TaskFile::write(m_saveURL, tasks);
    ChangeNotification::postTasksDidChange();
    return error;
}
