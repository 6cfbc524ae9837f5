#include "SystemJobTimelineItemView.h"

#include "TimelineItemView.h"

#include <QPainter>

using namespace TimelineLayout;

SystemJobTimelineItemView::SystemJobTimelineItemView(const LaunchdJob& job, QWidget* parent)
    : QWidget(parent), m_job(job), m_markers(TimelineMath::systemJobMarkers(job))
{
    setObjectName(QStringLiteral("timeline-job-row"));
    setAccessibleName(job.label);
    setToolTip(job.label);
    setFixedHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize SystemJobTimelineItemView::sizeHint() const { return {trackIndent + 480, rowHeight}; }

void SystemJobTimelineItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintRowBase(painter, *this, m_job.label);
    const QRectF track = trackRect(width());
    QColor grey(0x8e, 0x8e, 0x93);
    grey.setAlphaF(0.5f);
    // Markers are a few points wide: their rounded corners would not show.
    for (const TimelineMath::Span& marker : m_markers)
        painter.fillRect(spanRect(marker, track), grey);
}
