#pragma once

#include "ScheduledTask.h"

#include <QDialog>

class Dialogs;
class QPushButton;
class TaskFormView;
class TaskStore;

// The edit sheet for one task: the form filled from the task, and "Save", which hands the
// changed copy to the store and closes the sheet.
class EditTaskView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EditTaskView)

public:
    EditTaskView(TaskStore& store, Dialogs& dialogs, ScheduledTask task, QWidget* parent = nullptr);

    TaskFormView* form() const { return m_form; }

private:
    void save();

    TaskStore& m_store;
    ScheduledTask m_task;
    TaskFormView* m_form = nullptr;
    QPushButton* m_save = nullptr;
};
