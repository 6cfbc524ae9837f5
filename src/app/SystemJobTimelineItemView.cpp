#include "SystemJobTimelineItemView.h"

#include "TimelineItemView.h"

#include <QEvent>
#include <QPainter>

using namespace TimelineLayout;

SystemJobTimelineItemView::SystemJobTimelineItemView(const LaunchdJob& job, QWidget* parent)
    : QWidget(parent), m_job(job), m_markers(TimelineMath::systemJobMarkers(job))
{
    setObjectName(QStringLiteral("timeline-job-row"));
    setAccessibleName(job.label);
    const QString description = TimelineMath::describeSystemJobRow(job);
    setAccessibleDescription(description);
    setToolTip(job.label + QLatin1Char('\n') + description);
    setFocusPolicy(Qt::StrongFocus);
    setFixedHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_nameWidth = nameColumnWidth(font(), {job.label});
}

void SystemJobTimelineItemView::setNameWidth(int width)
{
    if (width == m_nameWidth)
        return;
    m_nameWidth = width;
    m_cache.invalidate();
    updateGeometry();
    update();
}

QSize SystemJobTimelineItemView::sizeHint() const
{
    return {m_nameWidth + nameGap + 480, rowHeight};
}

void SystemJobTimelineItemView::resizeEvent(QResizeEvent* event)
{
    m_cache.invalidate();
    QWidget::resizeEvent(event);
}

void SystemJobTimelineItemView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange)
        m_cache.invalidate();
    QWidget::changeEvent(event);
}

void SystemJobTimelineItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_cache.paint(painter, *this, [this](QPainter& cached) {
        paintRowBase(cached, *this, m_job.label, m_nameWidth);
        cached.setRenderHint(QPainter::Antialiasing, false);
        const QRectF track = trackRect(width(), m_nameWidth);
        QColor grey(0x8e, 0x8e, 0x93);
        grey.setAlphaF(0.5f);
        // Markers are a few points wide: their rounded corners would not show.
        for (const TimelineMath::Span& marker : m_markers)
            cached.fillRect(spanRect(marker, track), grey);
    });
    paintFocus(painter, *this);
}
