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
class SidebarFilterModel;
class SystemJobListModel;
class TaskCheckSelectionModel;
class TaskListModel;
class TaskStore;

// What the sidebar shows besides the store's tasks; the window hands it over on every change.
struct SidebarState {
    QString searchText;
    bool selectMode = false;
    QSet<QUuid> selectedTaskIDs;
    QList<LaunchdJob> systemJobs; // all scanned jobs; the search filters them here
    bool showSystemJobs = false;
    std::optional<SidebarSection> selection;
};

// The window's left column: filter field, the Timeline row, the task list with its header
// button and add button, and the collapsible System Jobs section. The task rows follow the
// store through their own model, filtered by a proxy; the rest is what `render` hands over.
// Every user action goes out as a signal.
class Sidebar final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Sidebar)

public:
    explicit Sidebar(TaskStore& store, QWidget* parent = nullptr);

    void render(const SidebarState& state);
    // The task row's menu: "Edit...", "Duplicate", "Enable"/"Disable", "Delete".
    QMenu* makeTaskContextMenu(const ScheduledTask& task, QWidget* parent);

    QLineEdit* filterField() const { return m_filter; }
    QListView* taskList() const { return m_taskList; }
    QListView* systemJobList() const { return m_jobList; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

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
    void refreshCounts();
    int visibleRowOf(const QUuid& id) const;
    void onSelectionChanged(QListView* list);
    void showTaskContextMenu(const QPoint& position);

    QLineEdit* m_filter = nullptr;
    QScrollArea* m_scroll = nullptr;
    QListView* m_timeline = nullptr;
    QStandardItemModel* m_timelineModel = nullptr;
    QLabel* m_tasksHeader = nullptr;
    QPushButton* m_headerButton = nullptr;
    QListView* m_taskList = nullptr;
    TaskCheckSelectionModel* m_taskChecks = nullptr;
    TaskStore& m_store;
    TaskListModel* m_taskModel = nullptr;
    SidebarFilterModel* m_taskFilter = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_jobsHeader = nullptr;
    QLabel* m_jobsArrow = nullptr;
    QLabel* m_jobsCount = nullptr;
    QListView* m_jobList = nullptr;
    QLabel* m_jobsEmpty = nullptr;
    SystemJobListModel* m_jobModel = nullptr;
    SidebarFilterModel* m_jobFilter = nullptr;
    QSet<QUuid> m_selectedTaskIDs;
    bool m_showSystemJobs = false;
    std::optional<SidebarSection> m_shownSelection;
    bool m_selectMode = false;
    bool m_rendering = false;
    bool m_modelChanging = false;
};
