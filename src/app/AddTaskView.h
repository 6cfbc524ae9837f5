#pragma once

#include "ScheduledTask.h"

#include <QDialog>

class Dialogs;
class QPushButton;
class TaskFormView;
class TaskStore;

// The add sheet: a new task's form, "Test Run" of the unsaved command, and "Add Task", which
// hands the task to the store, emits `created` with it and closes the sheet.
class AddTaskView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AddTaskView)

public:
    AddTaskView(TaskStore& store, Dialogs& dialogs, QWidget* parent = nullptr);

    TaskFormView* form() const { return m_form; }

Q_SIGNALS:
    void created(const ScheduledTask& task);

private:
    void refreshButtons();
    void add();
    void testRun();

    TaskStore& m_store;
    Dialogs& m_dialogs;
    TaskFormView* m_form = nullptr;
    QPushButton* m_testRun = nullptr;
    QPushButton* m_add = nullptr;
};
