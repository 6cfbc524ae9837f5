#pragma once

#include "LaunchdJob.h"
#include "TimelineItemView.h"
#include "TimelineMath.h"

#include <QWidget>

// One system job's row: its label and, in grey, the times it is planned to start each day.
// Takes keyboard focus; its accessible description (and tooltip) says when the job starts.
class SystemJobTimelineItemView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SystemJobTimelineItemView)

public:
    explicit SystemJobTimelineItemView(const LaunchdJob& job, QWidget* parent = nullptr);

    const LaunchdJob& job() const { return m_job; }
    const QList<TimelineMath::Span>& markers() const { return m_markers; }
    // The name column's width; the view gives every row the same one.
    int nameWidth() const { return m_nameWidth; }
    void setNameWidth(int width);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    LaunchdJob m_job;
    QList<TimelineMath::Span> m_markers;
    int m_nameWidth = 0;
    TimelineLayout::RowCache m_cache;
};
