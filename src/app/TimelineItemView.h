#pragma once

#include "ScheduledTask.h"
#include "TimelineMath.h"

#include <QColor>
#include <QDateTime>
#include <QPixmap>
#include <QTimeZone>
#include <QWidget>

#include <functional>

// Geometry and colours shared by the timeline's rows and its hour axis.
namespace TimelineLayout {

inline constexpr int rowHeight = 28;
inline constexpr int trackHeight = 20;
// The gap between the name column and the tracks.
inline constexpr int nameGap = 8;

// The names' type: caption size, medium weight, from the rows' font.
QFont nameFont(const QFont& base);
// The name column for `names` in `base`'s type: as wide as the widest of them, at least 10 and
// at most 24 average characters of the names' type (the most never below 130 points), so it
// grows with the font and a name of 20 characters always fits. A longer name is elided; its
// row's tooltip names it in full.
int nameColumnWidth(const QFont& base, const QStringList& names);
// `name` as a column `width` wide shows it: whole, or elided at its end.
QString shownName(const QFont& base, const QString& name, int width);

QColor kindColour(TimelineMath::MarkerColour colour);
QColor wakeColour();
QColor failedColour();
// A faint tint of the text colour: the empty track on light and dark palettes alike.
QColor trackFill(const QPalette& palette);
// The track of a row `width` points wide and `rowHeight` high whose name column is
// `nameWidth` wide: every track (and the axis) starts at nameWidth + nameGap.
QRectF trackRect(int width, int nameWidth);
// The horizontal stretch of a span of minutes on `track`, at least the minimum marker width.
QRectF spanRect(const TimelineMath::Span& span, const QRectF& track);
// The name column and the empty track; the caller draws the markers on top.
void paintRowBase(QPainter& painter, const QWidget& row, const QString& name, int nameWidth);
// A row's drawing is kept in a pixmap and drawn again only when the row, its size or its
// palette changes: scrolling and the moving now line then cost one copy per row.
class RowCache {
public:
    // Draws the row from the cache, filling it first with `paint` when it is out of date.
    void paint(QPainter& painter, const QWidget& row, const std::function<void(QPainter&)>& paint);
    void invalidate() { m_valid = false; }

private:
    QPixmap m_pixmap;
    bool m_valid = false;
};
// The keyboard focus mark around a focused row's track.
void paintFocus(QPainter& painter, const QWidget& row);

} // namespace TimelineLayout

// One task's row: its name, and on the track its wake windows, planned times and today's runs.
// Planned times that were missed are drawn hollow. The row takes keyboard focus; its
// accessible description (and tooltip) says in words what the track shows.
class TimelineItemView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TimelineItemView)

public:
    TimelineItemView(const ScheduledTask& task, const QList<TaskRunRecord>& runHistory,
                     const QDateTime& now, const QTimeZone& zone,
                     const TimelineMath::AgentActivity& activity = {}, QWidget* parent = nullptr);

    const ScheduledTask& task() const { return m_task; }
    // Takes another state of the same task (renamed, rescheduled) and what its agent's files
    // say now; the row stays the same widget, so focus and place are kept.
    void setTask(const ScheduledTask& task, const TimelineMath::AgentActivity& activity);
    const TimelineMath::TaskRow& row() const { return m_row; }
    // Takes a freshly read history (a run was recorded).
    void setRunHistory(const QList<TaskRunRecord>& runHistory);
    // Takes what the agent's files say now (its plist or logs were written).
    void setActivity(const TimelineMath::AgentActivity& activity);
    const TimelineMath::AgentActivity& activity() const { return m_activity; }
    // Takes a fresh reading of both at once.
    void setRunStatus(const QList<TaskRunRecord>& runHistory,
                      const TimelineMath::AgentActivity& activity);
    // Moves "now" within the same day: planned times that passed turn hollow.
    void setNow(const QDateTime& now);
    // Planned minutes that were missed (see TimelineMath::missedMinutes()).
    QList<int> missedMinutes() const { return m_row.missed; }
    // The row in words: its accessible description and tooltip.
    QString description() const { return m_description; }
    // The name column's width; the view gives every row the same one.
    int nameWidth() const { return m_nameWidth; }
    void setNameWidth(int width);
    // The tooltip at `pos`: a missed time's, the full name over an elided one, else the
    // description.
    QString toolTipAt(const QPoint& pos) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void recompute();
    void paintRow(QPainter& painter) const;

    ScheduledTask m_task;
    QDateTime m_now;
    QTimeZone m_zone;
    TimelineMath::AgentActivity m_activity;
    QList<TaskRunRecord> m_history; // today's runs and the one that ended last
    TimelineMath::TaskRow m_row;
    QString m_description;
    int m_nameWidth = 0;
    TimelineLayout::RowCache m_cache;
};
