#pragma once

#include "LaunchdJob.h"
#include "ScheduledTask.h"

#include <QList>
#include <QSortFilterProxyModel>
#include <QString>

// The sidebar's search: a case-insensitive "contains" under the user's locale, over a task's
// name and command and over a job's label and command line. An empty search keeps everything.
namespace SidebarFilter {

bool matches(const QString& text, const QString& searchText);
QList<ScheduledTask> filteredTasks(const QList<ScheduledTask>& tasks, const QString& searchText);
QList<LaunchdJob> filteredSystemJobs(const QList<LaunchdJob>& jobs, const QString& searchText);

} // namespace SidebarFilter

// The sidebar lists' filter: keeps the rows one of whose search texts (the rows'
// RowPainting::SearchTextRole) matches the search under SidebarFilter::matches.
class SidebarFilterModel final : public QSortFilterProxyModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SidebarFilterModel)

public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setSearchText(const QString& text);
    const QString& searchText() const { return m_searchText; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString m_searchText;
};
