#include "TaskDetailView.h"

#include <QLabel>
#include <QVBoxLayout>

TaskDetailView::TaskDetailView(TaskStore& store, const ScheduledTask& task, QWidget* parent)
    : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("task-detail"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    auto* name = new QLabel(task.name, this);
    name->setObjectName(QStringLiteral("task-detail-name"));
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont font = name->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    name->setFont(font);
    auto* summary = new QLabel(task.schedule.summary(), this);
    summary->setObjectName(QStringLiteral("task-detail-summary"));
    summary->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(name);
    layout->addWidget(summary);
    layout->addStretch();
}
