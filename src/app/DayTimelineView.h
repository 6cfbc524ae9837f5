#pragma once

#include "LaunchdJob.h"

#include <QList>
#include <QWidget>

class TaskStore;

// The day timeline of tasks, runs and system jobs. For now it shows its title; the tracks
// are drawn into the body.
class DayTimelineView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DayTimelineView)

public:
    DayTimelineView(TaskStore& store, QList<LaunchdJob> systemJobs, QWidget* parent = nullptr);

private:
    TaskStore& m_store;
    QList<LaunchdJob> m_systemJobs;
};
