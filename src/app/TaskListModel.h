#pragma once

#include "ScheduledTask.h"

#include <QAbstractListModel>
#include <QHash>
#include <QItemSelectionModel>
#include <QSet>
#include <QStyledItemDelegate>

class LogsWatcher;
class TaskStore;
struct TaskRunStatus;

// The sidebar's rows of tasks: every task of the store in store order, kept in step with the
// store row by row as the store tells (an added task inserts one row, a changed one updates its
// row), whether an operation on the task runs, with the
// select mode's check marks and whether each task's last recorded run failed (followed as runs
// are recorded, read beside the window by the store's TaskRunReader; a row shows no failure
// until its first reading arrives). The search filter is a proxy on top (SidebarFilterModel).
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
        // Whether the last run of the task's history records a non-zero exit status.
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
    // Checking a select mode row (a click, Space, assistive technology: all through the
    // list's TaskCheckSelectionModel) asks for the toggle.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

Q_SIGNALS:
    void checkRequested(const QUuid& id);

private:
    // Connects the store's row-by-row signals.
    void followStore();
    void onLogChanged(const QString& path);
    // Takes what was read of the task's runs before and asks for a new reading.
    void readStatus(const ScheduledTask& task);
    void onStatusRead(const TaskRunStatus& status);

    TaskStore& m_store;
    QList<ScheduledTask> m_tasks;
    bool m_selectMode = false;
    QSet<QUuid> m_checked;
    QHash<QUuid, bool> m_lastRunFailed;
    LogsWatcher* m_watcher = nullptr;
};

// The task list's selection. In select mode the rows it holds are the checked ones, so what a
// screen reader does with a row's selection (the row's "Toggle" action, selecting or clearing
// rows) checks and unchecks tasks as Space and a click do: every change asked of it becomes a
// check request on the model (Qt::CheckStateRole), and showChecks() brings it in step with the
// check marks again. Outside select mode it is a plain selection.
class TaskCheckSelectionModel final : public QItemSelectionModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskCheckSelectionModel)

public:
    using QItemSelectionModel::QItemSelectionModel;
    using QItemSelectionModel::select;

    void setChecking(bool checking) { m_checking = checking; }
    // Selects exactly the checked rows (in select mode).
    void showChecks();
    void select(const QItemSelection& selection, SelectionFlags command) override;
    void setCurrentIndex(const QModelIndex& index, SelectionFlags command) override;

private:
    bool m_checking = false;
    bool m_showing = false;
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
