#pragma once

#include "ScheduledTask.h"

#include <QDialog>

class TaskStore;

// The add sheet. Until the task form exists it only says so; it keeps the sheet's contract:
// `created` is emitted with the task it added to the store, then the sheet closes.
class AddTaskView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AddTaskView)

public:
    explicit AddTaskView(TaskStore& store, QWidget* parent = nullptr);

Q_SIGNALS:
    void created(const ScheduledTask& task);

private:
    TaskStore& m_store;
};
