#include "TimelineItemView.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTime>
#include <QToolTip>

namespace TimelineLayout {

QColor kindColour(TimelineMath::MarkerColour colour)
{
    switch (colour) {
    case TimelineMath::MarkerColour::purple:
        return {0xaf, 0x52, 0xde};
    case TimelineMath::MarkerColour::blue:
        return {0x00, 0x7a, 0xff};
    case TimelineMath::MarkerColour::green:
        break;
    }
    return QColor::fromRgbF(0.29f, 0.49f, 0.34f);
}

QColor wakeColour() { return {0xff, 0x95, 0x00}; }

QColor failedColour() { return {0xff, 0x3b, 0x30}; }

QColor trackFill(const QPalette& palette)
{
    QColor fill = palette.color(QPalette::WindowText);
    fill.setAlphaF(0.08f);
    return fill;
}

QRectF trackRect(int width)
{
    return {double(trackIndent), (rowHeight - trackHeight) / 2.0,
            std::max(0.0, double(width - trackIndent)), double(trackHeight)};
}

QRectF spanRect(const TimelineMath::Span& span, const QRectF& track)
{
    const double x = track.left() + TimelineMath::xForMinute(span.start, track.width());
    const double width = TimelineMath::widthForMinutes(span.width, track.width());
    return {x, track.top(), width, track.height()};
}

void paintRowBase(QPainter& painter, const QWidget& row, const QString& name)
{
    QFont font = row.font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(row.palette().color(QPalette::WindowText));
    const QRect nameRect(0, 0, nameWidth, rowHeight);
    painter.drawText(nameRect, Qt::AlignRight | Qt::AlignVCenter,
                     QFontMetrics(font).elidedText(name, Qt::ElideRight, nameWidth));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackFill(row.palette()));
    painter.drawRoundedRect(trackRect(row.width()), 3, 3);
}

} // namespace TimelineLayout

using namespace TimelineLayout;

namespace {

constexpr double hollowMinimumWidth = 6;

// Corners of a few points' radius cannot show on a marker this narrow; a plain rectangle
// looks the same and is far cheaper to fill, which counts on a track of a hundred markers.
void fillMarker(QPainter& painter, const QRectF& rect, const QColor& colour, double radius)
{
    if (rect.width() < 3 * radius) {
        painter.fillRect(rect, colour);
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(rect, radius, radius);
}

} // namespace

TimelineItemView::TimelineItemView(const ScheduledTask& task,
                                   const QList<TaskRunRecord>& runHistory, const QDateTime& now,
                                   const QTimeZone& zone, QWidget* parent)
    : QWidget(parent), m_task(task), m_now(now), m_zone(zone)
{
    setObjectName(QStringLiteral("timeline-task-row"));
    setAccessibleName(task.name);
    setFixedHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setRunHistory(runHistory);
}

void TimelineItemView::setRunHistory(const QList<TaskRunRecord>& runHistory)
{
    m_row = TimelineMath::taskRow(m_task, runHistory, m_now, m_zone);
    update();
}

void TimelineItemView::setNow(const QDateTime& now)
{
    m_now = now;
    update();
}

QList<int> TimelineItemView::missedMinutes() const
{
    // A run is written to the history when it ends; until the tolerance has passed, a planned
    // time may still be running.
    const int nowMinute = TimelineMath::minuteOfDay(m_now, m_zone);
    QList<int> missed;
    for (const TimelineMath::Span& marker : m_row.plannedMarkers) {
        if (marker.start + TimelineMath::plannedRunTolerance <= nowMinute)
            missed.append(int(marker.start));
    }
    return missed;
}

QSize TimelineItemView::sizeHint() const { return {trackIndent + 480, rowHeight}; }

void TimelineItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintRowBase(painter, *this, m_task.name);
    const QRectF track = trackRect(width());
    const QColor kind = kindColour(m_row.colour);

    QColor wakeFill = wakeColour();
    wakeFill.setAlphaF(0.2f);
    QColor wakeEdge = wakeColour();
    wakeEdge.setAlphaF(0.5f);
    QPen dashed(wakeEdge, 1);
    dashed.setDashPattern({3, 2});
    for (const TimelineMath::Span& window : m_row.wakeWindows) {
        const QRectF rect = spanRect(window, track);
        painter.setPen(Qt::NoPen);
        painter.setBrush(wakeFill);
        painter.drawRoundedRect(rect, 2, 2);
        painter.setPen(dashed);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    }

    const QList<int> missed = missedMinutes();
    for (const TimelineMath::Span& marker : m_row.plannedMarkers) {
        const QRectF rect = spanRect(marker, track);
        if (missed.contains(int(marker.start))) {
            // An outline needs room to read as empty; a narrow marker grows around its place.
            const QRectF ring = rect.width() >= hollowMinimumWidth
                                    ? rect
                                    : QRectF(rect.center().x() - hollowMinimumWidth / 2, rect.top(),
                                             hollowMinimumWidth, rect.height());
            painter.setPen(QPen(kind, 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(ring.adjusted(0.75, 0.75, -0.75, -0.75), 1, 1);
        } else {
            fillMarker(painter, rect, kind, 1);
        }
    }

    for (const TimelineMath::RunMarker& run : m_row.runs) {
        QColor colour = run.failed ? failedColour() : kind;
        colour.setAlphaF(run.failed ? 0.7f : 0.8f);
        fillMarker(painter, spanRect(run.span, track), colour, 2);
    }
}

bool TimelineItemView::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QRectF track = trackRect(width());
    for (int minute : missedMinutes()) {
        const QRectF rect = spanRect({double(minute), TimelineMath::plannedMarkerMinutes}, track)
                                .adjusted(-2, 0, 2, 0);
        if (rect.contains(help->pos())) {
            QToolTip::showText(
                help->globalPos(),
                QStringLiteral("No run recorded at ") +
                    QTime(minute / 60, minute % 60).toString(QStringLiteral("HH:mm")),
                this);
            return true;
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}
