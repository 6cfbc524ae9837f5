#include "EditTaskView.h"

#include "PendingSheet.h"

EditTaskView::EditTaskView(TaskStore& store, ScheduledTask task, QWidget* parent)
    : QDialog(parent), m_store(store), m_task(std::move(task))
{
    setObjectName(QStringLiteral("edit-task-sheet"));
    PendingSheet::build(*this, QStringLiteral("Edit Task"));
}
