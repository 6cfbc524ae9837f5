#pragma once

#include "LaunchdJob.h"
#include "ScheduledTask.h"
#include "SidebarSection.h"

#include <QSet>
#include <QWidget>

#include <optional>

class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;
class QScrollArea;
class QStandardItemModel;
class SystemJobListModel;
class TaskListModel;

// What the sidebar shows; the window computes it from its state on every change.
struct SidebarState {
    QList<ScheduledTask> filteredTasks;
    qsizetype taskCount = 0; // all tasks of the store, not only the filtered ones
    bool selectMode = false;
    QSet<QUuid> selectedTaskIDs;
    QList<LaunchdJob> filteredSystemJobs;
    qsizetype systemJobCount = 0; // all scanned jobs, not only the filtered ones
    bool showSystemJobs = false;
    std::optional<SidebarSection> selection;
};

// The window's left column: filter field, the Timeline row, the task list with its header
// button and add button, and the collapsible System Jobs section. It keeps no state of its own
// beyond what `render` hands it; every user action goes out as a signal.
class Sidebar final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Sidebar)

public:
    explicit Sidebar(QWidget* parent = nullptr);

    void render(const SidebarState& state);
    // The task row's menu: "Edit...", "Duplicate", "Enable"/"Disable", "Delete".
    QMenu* makeTaskContextMenu(const ScheduledTask& task, QWidget* parent);

    QLineEdit* filterField() const { return m_filter; }
    QListView* taskList() const { return m_taskList; }
    QListView* systemJobList() const { return m_jobList; }

Q_SIGNALS:
    void searchTextChanged(const QString& text);
    void sectionSelected(const SidebarSection& section);
    void headerButtonClicked();
    void addTaskClicked();
    void systemJobsHeaderClicked();
    void taskToggled(const QUuid& id);
    void editRequested(const ScheduledTask& task);
    void duplicateRequested(const ScheduledTask& task);
    void enabledChangeRequested(bool enabled, const QUuid& id);
    void deleteRequested(const ScheduledTask& task);

private:
    QWidget* makeSystemJobsHeader();
    void applySelection(const std::optional<SidebarSection>& selection);
    void scrollToSelection();
    void fitHeight(QListView* list);
    void onSelectionChanged(QListView* list);
    void showTaskContextMenu(const QPoint& position);

    QLineEdit* m_filter = nullptr;
    QScrollArea* m_scroll = nullptr;
    QListView* m_timeline = nullptr;
    QStandardItemModel* m_timelineModel = nullptr;
    QLabel* m_tasksHeader = nullptr;
    QPushButton* m_headerButton = nullptr;
    QListView* m_taskList = nullptr;
    TaskListModel* m_taskModel = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_jobsHeader = nullptr;
    QLabel* m_jobsCount = nullptr;
    QListView* m_jobList = nullptr;
    SystemJobListModel* m_jobModel = nullptr;
    std::optional<SidebarSection> m_shownSelection;
    bool m_selectMode = false;
    bool m_rendering = false;
};
