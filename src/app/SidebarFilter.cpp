#include "SidebarFilter.h"

#include <QLocale>

namespace SidebarFilter {

bool matches(const QString& text, const QString& searchText)
{
    const QLocale locale;
    return locale.toLower(text).contains(locale.toLower(searchText));
}

QList<ScheduledTask> filteredTasks(const QList<ScheduledTask>& tasks, const QString& searchText)
{
    if (searchText.isEmpty())
        return tasks;
    QList<ScheduledTask> result;
    for (const ScheduledTask& task : tasks) {
        if (matches(task.name, searchText) || matches(task.command, searchText))
            result.append(task);
    }
    return result;
}

QList<LaunchdJob> filteredSystemJobs(const QList<LaunchdJob>& jobs, const QString& searchText)
{
    if (searchText.isEmpty())
        return jobs;
    QList<LaunchdJob> result;
    for (const LaunchdJob& job : jobs) {
        if (matches(job.label, searchText) || matches(job.commandLine(), searchText))
            result.append(job);
    }
    return result;
}

} // namespace SidebarFilter
