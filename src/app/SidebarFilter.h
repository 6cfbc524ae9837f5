#pragma once

#include "LaunchdJob.h"
#include "ScheduledTask.h"

#include <QList>
#include <QString>

// The sidebar's search: a case-insensitive "contains" under the user's locale, over a task's
// name and command and over a job's label and command line. An empty search keeps everything.
namespace SidebarFilter {

bool matches(const QString& text, const QString& searchText);
QList<ScheduledTask> filteredTasks(const QList<ScheduledTask>& tasks, const QString& searchText);
QList<LaunchdJob> filteredSystemJobs(const QList<LaunchdJob>& jobs, const QString& searchText);

} // namespace SidebarFilter
