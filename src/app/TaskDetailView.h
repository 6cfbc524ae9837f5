#pragma once

#include "ScheduledTask.h"

#include <QWidget>

class TaskStore;

// The detail pane of one task. For now it shows the task's name and schedule; the full detail
// (state, script, logs, history) replaces the body. The three actions are the window's.
class TaskDetailView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskDetailView)

public:
    TaskDetailView(TaskStore& store, const ScheduledTask& task, QWidget* parent = nullptr);

Q_SIGNALS:
    void editRequested(const ScheduledTask& task);
    void duplicateRequested(const ScheduledTask& task);
    void deleteRequested(const ScheduledTask& task);

private:
    TaskStore& m_store;
};
