#pragma once

#include "ScheduledTask.h"
#include "TimelineMath.h"

#include <QColor>
#include <QDateTime>
#include <QTimeZone>
#include <QWidget>

// Geometry and colours shared by the timeline's rows and its hour axis.
namespace TimelineLayout {

inline constexpr int rowHeight = 28;
inline constexpr int trackHeight = 20;
inline constexpr int nameWidth = 130;
// The name column and the gap after it: where every track (and the axis) starts.
inline constexpr int trackIndent = 138;

QColor kindColour(TimelineMath::MarkerColour colour);
QColor wakeColour();
QColor failedColour();
// A faint tint of the text colour: the empty track on light and dark palettes alike.
QColor trackFill(const QPalette& palette);
// The track of a row `width` points wide and `rowHeight` high.
QRectF trackRect(int width);
// The horizontal stretch of a span of minutes on `track`, at least the minimum marker width.
QRectF spanRect(const TimelineMath::Span& span, const QRectF& track);
// The name column and the empty track; the caller draws the markers on top.
void paintRowBase(QPainter& painter, const QWidget& row, const QString& name);

} // namespace TimelineLayout

// One task's row: its name, and on the track its wake windows, planned times and today's runs.
// Planned times that passed with no run recorded are drawn hollow.
class TimelineItemView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TimelineItemView)

public:
    TimelineItemView(const ScheduledTask& task, const QList<TaskRunRecord>& runHistory,
                     const QDateTime& now, const QTimeZone& zone, QWidget* parent = nullptr);

    const ScheduledTask& task() const { return m_task; }
    const TimelineMath::TaskRow& row() const { return m_row; }
    // Takes a freshly read history (a run was recorded).
    void setRunHistory(const QList<TaskRunRecord>& runHistory);
    // Moves "now" within the same day: planned times that passed turn hollow.
    void setNow(const QDateTime& now);
    // Planned minutes that passed with no run standing for them.
    QList<int> missedMinutes() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    ScheduledTask m_task;
    QDateTime m_now;
    QTimeZone m_zone;
    TimelineMath::TaskRow m_row;
};
