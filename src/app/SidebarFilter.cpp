#include "SidebarFilter.h"

#include "RowPainting.h"

#include <QLocale>

#include <algorithm>

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

void SidebarFilterModel::setSearchText(const QString& text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    invalidateFilter();
}

bool SidebarFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (m_searchText.isEmpty())
        return true;
    const QStringList texts = sourceModel()
                                  ->index(sourceRow, 0, sourceParent)
                                  .data(RowPainting::SearchTextRole)
                                  .toStringList();
    return std::any_of(texts.begin(), texts.end(), [this](const QString& text) {
        return SidebarFilter::matches(text, m_searchText);
    });
}
