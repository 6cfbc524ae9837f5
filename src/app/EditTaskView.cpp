#include "EditTaskView.h"

#include "TaskFormView.h"
#include "TaskStore.h"

#include <QHBoxLayout>
#include <QPushButton>

EditTaskView::EditTaskView(TaskStore& store, Dialogs& dialogs, ScheduledTask task, QWidget* parent)
    : QDialog(parent), m_store(store), m_task(std::move(task))
{
    setObjectName(QStringLiteral("edit-task-sheet"));
    setWindowTitle(QStringLiteral("Edit Task"));
    m_form = new TaskFormView(dialogs, TaskFormState::fromTask(m_task), this);

    auto* buttons = new QHBoxLayout;
    QPushButton* cancel =
        TaskFormView::sheetButton(QStringLiteral("Cancel"), QStringLiteral("form-cancel"), this);
    m_save = TaskFormView::sheetButton(QStringLiteral("Save"), QStringLiteral("form-save"), this);
    m_save->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addStretch();
    buttons->addWidget(m_save);
    m_form->placeInSheet(*this, buttons);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &EditTaskView::save);
    const auto refresh = [this] { m_save->setEnabled(m_form->state().canSave()); };
    connect(m_form, &TaskFormView::stateChanged, this, refresh);
    refresh();
}

void EditTaskView::save()
{
    if (!m_form->state().canSave())
        return;
    m_store.updateTask(m_form->state().applied(m_task));
    accept();
}
