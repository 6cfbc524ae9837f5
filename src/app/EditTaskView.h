#pragma once

#include "ScheduledTask.h"

#include <QDialog>

class TaskStore;

// The edit sheet for one task. Until the task form exists it only says so.
class EditTaskView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EditTaskView)

public:
    EditTaskView(TaskStore& store, ScheduledTask task, QWidget* parent = nullptr);

private:
    TaskStore& m_store;
    ScheduledTask m_task;
};
