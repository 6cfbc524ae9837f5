#include "TimelineItemView.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTime>
#include <QToolTip>

#include <algorithm>
#include <cmath>

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

QFont nameFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.85);
    font.setWeight(QFont::Medium);
    return font;
}

int nameColumnWidth(const QFont& base, const QStringList& names)
{
    const QFontMetricsF metrics(nameFont(base));
    const double character = metrics.averageCharWidth();
    double widest = 0;
    for (const QString& name : names)
        widest = std::max(widest, metrics.horizontalAdvance(name));
    const double most = std::max(130.0, 24 * character);
    return int(std::ceil(std::clamp(widest, 10 * character, most)));
}

QString shownName(const QFont& base, const QString& name, int width)
{
    return QFontMetrics(nameFont(base)).elidedText(name, Qt::ElideRight, width);
}

QRectF trackRect(int width, int nameWidth)
{
    const int indent = nameWidth + nameGap;
    return {double(indent), (rowHeight - trackHeight) / 2.0, std::max(0.0, double(width - indent)),
            double(trackHeight)};
}

QRectF spanRect(const TimelineMath::Span& span, const QRectF& track)
{
    const double x = track.left() + TimelineMath::xForMinute(span.start, track.width());
    const double width = TimelineMath::widthForMinutes(span.width, track.width());
    return {x, track.top(), width, track.height()};
}

void paintRowBase(QPainter& painter, const QWidget& row, const QString& name, int nameWidth)
{
    painter.setFont(nameFont(row.font()));
    painter.setPen(row.palette().color(QPalette::WindowText));
    const QRect nameRect(0, 0, nameWidth, rowHeight);
    painter.drawText(nameRect, Qt::AlignRight | Qt::AlignVCenter,
                     shownName(row.font(), name, nameWidth));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackFill(row.palette()));
    painter.drawRoundedRect(trackRect(row.width(), nameWidth), 3, 3);
}

void RowCache::paint(QPainter& painter, const QWidget& row,
                     const std::function<void(QPainter&)>& paint)
{
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize pixels = row.size() * ratio;
    if (!m_valid || m_pixmap.size() != pixels || m_pixmap.devicePixelRatio() != ratio) {
        m_pixmap = QPixmap(pixels);
        m_pixmap.setDevicePixelRatio(ratio);
        m_pixmap.fill(Qt::transparent);
        QPainter cached(&m_pixmap);
        paint(cached);
        m_valid = true;
    }
    painter.drawPixmap(0, 0, m_pixmap);
}

void paintFocus(QPainter& painter, const QWidget& row)
{
    if (!row.hasFocus())
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(row.palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(1, 1, row.width() - 2, row.height() - 2), 4, 4);
}

} // namespace TimelineLayout

using namespace TimelineLayout;

namespace {

// A missed time's outline: a frame of filled strips, which needs no stroking. It needs room to
// read as empty, so a narrow marker grows around its place.
constexpr double hollowMinimumWidth = 6;
constexpr double hollowEdge = 1.5;

void fillFrame(QPainter& painter, const QRectF& rect, const QColor& colour)
{
    painter.fillRect(QRectF(rect.left(), rect.top(), rect.width(), hollowEdge), colour);
    painter.fillRect(QRectF(rect.left(), rect.bottom() - hollowEdge, rect.width(), hollowEdge),
                     colour);
    painter.fillRect(QRectF(rect.left(), rect.top(), hollowEdge, rect.height()), colour);
    painter.fillRect(QRectF(rect.right() - hollowEdge, rect.top(), hollowEdge, rect.height()),
                     colour);
}

} // namespace

TimelineItemView::TimelineItemView(const ScheduledTask& task,
                                   const QList<TaskRunRecord>& runHistory, const QDateTime& now,
                                   const QTimeZone& zone,
                                   const TimelineMath::AgentActivity& activity, QWidget* parent)
    : QWidget(parent), m_task(task), m_now(now), m_zone(zone), m_activity(activity)
{
    setObjectName(QStringLiteral("timeline-task-row"));
    setAccessibleName(task.name);
    setFocusPolicy(Qt::StrongFocus);
    setFixedHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_nameWidth = nameColumnWidth(font(), {task.name});
    setRunHistory(runHistory);
}

void TimelineItemView::setNameWidth(int width)
{
    if (width == m_nameWidth)
        return;
    m_nameWidth = width;
    m_cache.invalidate();
    updateGeometry();
    update();
}

void TimelineItemView::setTask(const ScheduledTask& task,
                               const TimelineMath::AgentActivity& activity)
{
    const bool renamed = task.name != m_task.name;
    m_task = task;
    m_activity = activity;
    if (renamed) {
        setAccessibleName(task.name);
        // The name is drawn from the cache too.
        m_cache.invalidate();
        update();
    }
    recompute();
}

void TimelineItemView::setRunHistory(const QList<TaskRunRecord>& runHistory)
{
    m_history = TimelineMath::historyForRow(runHistory, m_now, m_zone);
    recompute();
}

void TimelineItemView::setActivity(const TimelineMath::AgentActivity& activity)
{
    m_activity = activity;
    recompute();
}

void TimelineItemView::setRunStatus(const QList<TaskRunRecord>& runHistory,
                                    const TimelineMath::AgentActivity& activity)
{
    QList<TaskRunRecord> history = TimelineMath::historyForRow(runHistory, m_now, m_zone);
    const auto sameRun = [](const TaskRunRecord& a, const TaskRunRecord& b) {
        return a.startedAt == b.startedAt && a.endedAt == b.endedAt && a.exitCode == b.exitCode;
    };
    // A reading that found what the row shows (most of a burst of new rows) costs nothing.
    if (std::equal(history.cbegin(), history.cend(), m_history.cbegin(), m_history.cend(),
                   sameRun) &&
        activity.installedAt == m_activity.installedAt &&
        activity.lastOutputAt == m_activity.lastOutputAt)
        return;
    m_history = std::move(history);
    m_activity = activity;
    recompute();
}

void TimelineItemView::setNow(const QDateTime& now)
{
    m_now = now;
    recompute();
}

void TimelineItemView::recompute()
{
    TimelineMath::TaskRow row = TimelineMath::taskRow(m_task, m_history, m_now, m_zone, m_activity);
    const QString description =
        TimelineMath::describeTaskRow(m_task, row, m_now.toTimeZone(m_zone).date());
    const bool sameDrawing =
        row.wakeWindows == m_row.wakeWindows && row.plannedMarkers == m_row.plannedMarkers &&
        row.missed == m_row.missed && row.runs == m_row.runs && row.colour == m_row.colour;
    m_row = std::move(row);
    if (description != m_description) {
        m_description = description;
        setAccessibleDescription(description);
        setToolTip(description);
    }
    if (!sameDrawing) {
        m_cache.invalidate();
        update();
    }
}

QSize TimelineItemView::sizeHint() const { return {m_nameWidth + nameGap + 480, rowHeight}; }

void TimelineItemView::resizeEvent(QResizeEvent* event)
{
    m_cache.invalidate();
    QWidget::resizeEvent(event);
}

void TimelineItemView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange)
        m_cache.invalidate();
    QWidget::changeEvent(event);
}

void TimelineItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_cache.paint(painter, *this, [this](QPainter& cached) { paintRow(cached); });
    paintFocus(painter, *this);
}

void TimelineItemView::paintRow(QPainter& painter) const
{
    paintRowBase(painter, *this, m_task.name, m_nameWidth);
    // Every marker is an axis-aligned rectangle: filled without antialiasing, nothing stroked
    // but the wake windows' dashed edge.
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRectF track = trackRect(width(), m_nameWidth);
    const QColor kind = kindColour(m_row.colour);

    if (!m_row.wakeWindows.isEmpty()) {
        QColor wakeFill = wakeColour();
        wakeFill.setAlphaF(0.2f);
        QColor wakeEdge = wakeColour();
        wakeEdge.setAlphaF(0.5f);
        QPen dashed(wakeEdge, 0);
        dashed.setDashPattern({3, 2});
        painter.setBrush(Qt::NoBrush);
        painter.setPen(dashed);
        for (const TimelineMath::Span& window : m_row.wakeWindows) {
            const QRectF rect = spanRect(window, track);
            painter.fillRect(rect, wakeFill);
            painter.drawRect(rect.adjusted(0.5, 0.5, -0.5, -0.5));
        }
    }

    for (const TimelineMath::Span& marker : m_row.plannedMarkers) {
        const QRectF rect = spanRect(marker, track);
        if (m_row.missed.contains(int(marker.start))) {
            const QRectF ring = rect.width() >= hollowMinimumWidth
                                    ? rect
                                    : QRectF(rect.center().x() - hollowMinimumWidth / 2, rect.top(),
                                             hollowMinimumWidth, rect.height());
            fillFrame(painter, ring, kind);
        } else {
            painter.fillRect(rect, kind);
        }
    }

    QColor succeeded = kind;
    succeeded.setAlphaF(0.8f);
    QColor failed = failedColour();
    failed.setAlphaF(0.7f);
    // Failed runs come last in the row, so they lie above the successes around them.
    for (const TimelineMath::RunMarker& run : m_row.runs) {
        QRectF rect = spanRect(run.span, track);
        if (rect.width() < TimelineMath::minimumRunPoints)
            rect.setWidth(TimelineMath::minimumRunPoints);
        painter.fillRect(rect, run.failed ? failed : succeeded);
    }
}

QString TimelineItemView::toolTipAt(const QPoint& pos) const
{
    const QRectF track = trackRect(width(), m_nameWidth);
    for (int minute : m_row.missed) {
        const QRectF rect = spanRect({double(minute), TimelineMath::plannedMarkerMinutes}, track)
                                .adjusted(-2, 0, 2, 0);
        if (rect.contains(pos))
            return QStringLiteral("No run recorded at ") + TimelineMath::clockText(minute);
    }
    if (pos.x() < m_nameWidth && shownName(font(), m_task.name, m_nameWidth) != m_task.name)
        return m_task.name;
    return m_description;
}

bool TimelineItemView::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    QToolTip::showText(help->globalPos(), toolTipAt(help->pos()), this);
    return true;
}
