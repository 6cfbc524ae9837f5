#pragma once

#include "ScheduledTask.h"

#include <QAbstractListModel>
#include <QHash>
#include <QSet>
#include <QStyledItemDelegate>

class LogsWatcher;
class TaskStore;

// The sidebar's rows of tasks: every task of the store in store order, kept in step with the
// store row by row as the store tells (an added task inserts one row, a changed one updates its
// row), whether an operation on the task runs, with the
// select mode's check marks and whether each task's last recorded run failed (followed as runs
// are recorded). The search filter is a proxy on top (SidebarFilterModel).
class TaskListModel final : public QAbstractListModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskListModel)

public:
    enum Role {
        TaskIdRole = Qt::UserRole + 1,
        SummaryRole,
        EnabledRole,
        SelectModeRole,
        CheckedRole,
        // Whether the last line of the task's run history records a non-zero exit status.
        LastRunFailedRole,
        // Whether an operation on the task runs or waits to run.
        BusyRole,
    };

    explicit TaskListModel(TaskStore& store, QObject* parent = nullptr);

    // What a row (and the detail) shows while an operation on its task runs.
    static QString busyText() { return QStringLiteral("Working\u2026"); }

    void setSelectMode(bool selectMode, QSet<QUuid> checked);
    const QList<ScheduledTask>& tasks() const { return m_tasks; }
    int rowOf(const QUuid& id) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Checking a select mode row (Space, assistive technology) asks for the toggle.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

Q_SIGNALS:
    void checkRequested(const QUuid& id);

private:
    // Connects the store's row-by-row signals.
    void followStore();
    void onLogChanged(const QString& path);
    // Reads the last line of the task's run history (a bounded read from the file's end).
    bool readLastRunFailed(const ScheduledTask& task) const;

    TaskStore& m_store;
    QList<ScheduledTask> m_tasks;
    bool m_selectMode = false;
    QSet<QUuid> m_checked;
    QHash<QUuid, bool> m_lastRunFailed;
    LogsWatcher* m_watcher = nullptr;
};

// Draws one task row: the enabled dot (a warning triangle when the last run failed, so the cue
// does not rest on colour alone), the name and the schedule summary, and in select mode the
// check mark in front.
class TaskRowView final : public QStyledItemDelegate {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskRowView)

public:
    explicit TaskRowView(QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};
