#include "DayTimelineView.h"

#include "Icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

DayTimelineView::DayTimelineView(TaskStore& store, QList<LaunchdJob> systemJobs, QWidget* parent)
    : QWidget(parent), m_store(store), m_systemJobs(std::move(systemJobs))
{
    setObjectName(QStringLiteral("day-timeline"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    auto* header = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(
        Icons::pixmap(QStringLiteral("clock.badge.checkmark"), 18, devicePixelRatioF()));
    auto* title = new QLabel(QStringLiteral("Timeline"), this);
    title->setObjectName(QStringLiteral("timeline-title"));
    QFont font = title->font();
    font.setBold(true);
    title->setFont(font);
    header->addWidget(icon);
    header->addWidget(title);
    header->addStretch();
    layout->addLayout(header);
    layout->addStretch();
}
