#include "AddTaskView.h"

#include "Dialogs.h"
#include "Icons.h"
#include "TaskFormView.h"
#include "TaskStore.h"

#include <QHBoxLayout>
#include <QPushButton>

AddTaskView::AddTaskView(TaskStore& store, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_store(store), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("add-task-sheet"));
    setWindowTitle(QStringLiteral("Add Task"));
    m_form = new TaskFormView(dialogs, TaskFormState(), this);

    auto* buttons = new QHBoxLayout;
    QPushButton* cancel =
        TaskFormView::sheetButton(QStringLiteral("Cancel"), QStringLiteral("form-cancel"), this);
    m_testRun = TaskFormView::sheetButton(QStringLiteral("Test Run"),
                                          QStringLiteral("form-test-run"), this);
    m_testRun->setIcon(Icons::symbol(QStringLiteral("play.fill")));
    m_add = TaskFormView::sheetButton(QStringLiteral("Add Task"), QStringLiteral("form-add-task"),
                                      this);
    m_add->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addStretch();
    buttons->addWidget(m_testRun);
    buttons->addWidget(m_add);
    m_form->placeInSheet(*this, buttons);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_testRun, &QPushButton::clicked, this, &AddTaskView::testRun);
    connect(m_add, &QPushButton::clicked, this, &AddTaskView::add);
    connect(m_form, &TaskFormView::stateChanged, this, &AddTaskView::refreshButtons);
    refreshButtons();
}

void AddTaskView::refreshButtons()
{
    m_testRun->setEnabled(!m_form->state().command.isEmpty());
    m_add->setEnabled(m_form->state().canSave());
}

void AddTaskView::add()
{
    // Return reaches the default button even while it is disabled.
    if (!m_form->state().canSave())
        return;
    const ScheduledTask task = m_form->state().newTask();
    m_store.addTask(task);
    Q_EMIT created(task);
    accept();
}

void AddTaskView::testRun()
{
    if (m_form->state().command.isEmpty())
        return;
    m_dialogs.testRun(this, m_form->state().newTask());
}
