#pragma once

#include "LaunchdJob.h"

#include <QDate>
#include <QFont>
#include <QHash>
#include <QList>
#include <QRectF>
#include <QUuid>
#include <QWidget>

class LogsWatcher;
class QLabel;
class QTimer;
class QVBoxLayout;
struct ScheduledTask;
struct TaskRunStatus;
class TaskStore;
class TimelineItemView;
class ToggleSwitch;

// Today on one 24-hour axis: a row per enabled task with its planned times, wake windows and
// runs, and, while the switch is on, a row per scheduled system job. Task rows follow the
// store one task at a time (a task added, changed or removed touches its own row only; the
// others stay the same widgets), rows of the scanned jobs follow each scan, recorded runs are
// taken up within a second, and the screen moves to the new day at midnight. A line marks the
// present moment.
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

    // An hour label of the axis: its box holds the whole text in hourLabelFont(…, strong).
    struct HourLabel {
        int hour;
        bool strong; // every sixth hour
        QRectF box;
    };
    static QFont hourLabelFont(const QFont& base, bool strong);
    // The labels of an axis `axisWidth` wide whose track starts at `indent` (the rows' name
    // column and gap): every hour, or every 2nd, 3rd or 6th where the track is too narrow for
    // each to fit in its part.
    static QList<HourLabel> hourLabels(int axisWidth, const QFont& base, int indent);
    // Where the axis and every row's track start: after the name column that holds the names
    // shown in the view's font.
    int trackIndent() const;
    // The axis's height for `base`: its tallest label with room to spare.
    static int hourAxisHeight(const QFont& base);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Every row anew: the first build, a new day, the list in another order, the system jobs.
    void rebuild();
    // The store's row-by-row changes.
    void onTaskAdded(int row);
    void onTaskChanged(const QUuid& id);
    void onTaskRemoved(const QUuid& id);
    // A row for the store's task, placed among the others in store order.
    void insertTaskRow(const ScheduledTask& task);
    void removeTaskRow(const QUuid& id);
    // The "MY TASKS" title while task rows stand, else the "No enabled tasks" caption (unless
    // the system jobs are shown).
    void settleRows();
    // The tab order and the name column follow the rows, once after many changes of them.
    void finishRows();
    void setTabOrder();
    void onLogChanged(const QString& path);
    // A task's history and agent file times, read beside the window.
    void onStatusRead(const TaskRunStatus& status);
    void scheduleTick();
    void applyNameWidth();
    void showHeaderSymbol();

    TaskStore& m_store;
    QList<LaunchdJob> m_systemJobs;
    bool m_showSystemJobs = false;
    QDate m_day;
    QWidget* m_rows = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    QLabel* m_icon = nullptr;
    QLabel* m_title = nullptr;
    QWidget* m_axis = nullptr;
    QWidget* m_nowLine = nullptr;
    QWidget* m_tasksTitle = nullptr;
    QWidget* m_noTasks = nullptr;
    QHash<QUuid, TimelineItemView*> m_taskRows;
    bool m_rowsUnsettled = false;
    int m_nameWidth = 0;
    ToggleSwitch* m_switch = nullptr;
    LogsWatcher* m_watcher = nullptr;
    QTimer* m_clock = nullptr;
};
