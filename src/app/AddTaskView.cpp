#include "AddTaskView.h"

#include "PendingSheet.h"

AddTaskView::AddTaskView(TaskStore& store, QWidget* parent) : QDialog(parent), m_store(store)
{
    setObjectName(QStringLiteral("add-task-sheet"));
    PendingSheet::build(*this, QStringLiteral("Add Task"));
}
