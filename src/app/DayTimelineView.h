#pragma once

#include "LaunchdJob.h"

#include <QDate>
#include <QList>
#include <QWidget>

class LogsWatcher;
class QLabel;
class QTimer;
class QVBoxLayout;
class TaskStore;
class TimelineItemView;
class ToggleSwitch;

// Today on one 24-hour axis: a row per enabled task with its planned times, wake windows and
// runs, and, while the switch is on, a row per scheduled system job. Rows follow the store and
// the scanned jobs, take up a recorded run within a second, and the screen moves to the new
// day at midnight. A line marks the present moment.
class DayTimelineView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DayTimelineView)

public:
    DayTimelineView(TaskStore& store, QList<LaunchdJob> systemJobs, QWidget* parent = nullptr);

    bool showSystemJobs() const { return m_showSystemJobs; }
    void setShowSystemJobs(bool show);
    void setSystemJobs(QList<LaunchdJob> jobs);
    // The day shown and the moment the now line stands at.
    QDate day() const { return m_day; }
    // Takes the clock's present moment: moves the now line, or rebuilds for a new day.
    void tick();
    // Axis, section titles and rows, top to bottom (the now line lies over them).
    QWidget* rowsArea() const { return m_rows; }
    QList<TimelineItemView*> taskRows() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void onLogChanged(const QString& path);
    void scheduleTick();

    TaskStore& m_store;
    QList<LaunchdJob> m_systemJobs;
    bool m_showSystemJobs = false;
    QDate m_day;
    QWidget* m_rows = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    QWidget* m_nowLine = nullptr;
    ToggleSwitch* m_switch = nullptr;
    LogsWatcher* m_watcher = nullptr;
    QTimer* m_clock = nullptr;
};
