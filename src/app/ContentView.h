#pragma once

#include "LaunchdJob.h"
#include "ScheduledTask.h"
#include "SidebarSection.h"

#include <QSet>
#include <QWidget>

#include <functional>
#include <optional>

class Dialogs;
class QAction;
class QLabel;
class QSplitter;
class QToolBar;
class QVBoxLayout;
class Sidebar;
class TaskStore;

// The main window's content: the sidebar and the detail pane in a split view, the toolbar's
// task actions, and every sheet, confirmation and alert that acts on tasks from the sidebar.
// Shows what the store publishes and calls its operations; never touches files itself.
class ContentView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ContentView)

public:
    using JobScanner = std::function<QList<LaunchdJob>()>;

    ContentView(TaskStore& store, Dialogs& dialogs, JobScanner scanJobs, QWidget* parent = nullptr);

    // The window puts this toolbar at its top; its items follow the select mode.
    QToolBar* toolBar() const { return m_toolBar; }
    QSplitter* splitter() const { return m_splitter; }
    Sidebar* sidebar() const { return m_sidebar; }
    QWidget* detailPane() const { return m_detailPane; }
    // The widget the detail pane shows now (empty state, task, job or timeline).
    QWidget* currentDetail() const { return m_detail; }

    const std::optional<SidebarSection>& selection() const { return m_selection; }
    bool isSelectMode() const { return m_isSelectMode; }
    const QSet<QUuid>& selectedTaskIDs() const { return m_selectedTaskIDs; }
    const QList<LaunchdJob>& systemJobs() const { return m_systemJobs; }
    bool showSystemJobs() const { return m_showSystemJobs; }
    QList<ScheduledTask> filteredTasks() const;
    QList<LaunchdJob> filteredSystemJobs() const;

public Q_SLOTS:
    void setSelection(const std::optional<SidebarSection>& selection);
    void setSearchText(const QString& text);
    void setShowSystemJobs(bool show);
    void showAddTask();
    void editTask(const ScheduledTask& task);
    // Another view asks to try a task; the test run sheet shows it.
    void testRunTask(const ScheduledTask& task);
    void duplicateTask(const ScheduledTask& task);
    void confirmDelete(const ScheduledTask& task);
    void enterSelectMode();
    void selectAllOrNone();
    void toggleSelected(const QUuid& id);
    void leaveSelectMode();
    void confirmDeleteSelected();
    void exportSelected();
    void rescanSystemJobs();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void makeToolBar();
    void refresh();
    // The store added, changed or removed the task: the parts of the window that show it.
    void followTask(const QUuid& id);
    void refreshUpgradeProgress();
    void refreshToolBar();
    void refreshDetail();
    QWidget* makeDetail();
    void scheduleStoreAlerts();
    void showStoreAlerts();

    TaskStore& m_store;
    Dialogs& m_dialogs;
    JobScanner m_scanJobs;

    std::optional<SidebarSection> m_selection;
    QList<LaunchdJob> m_systemJobs;
    QString m_searchText;
    bool m_showSystemJobs = false;
    bool m_isSelectMode = false;
    QSet<QUuid> m_selectedTaskIDs;
    int m_scanGeneration = 0;
    int m_detailScanGeneration = 0;

    QLabel* m_upgradeProgress = nullptr;
    // Scans started at showing run on a worker; only the latest one's jobs are taken.
    int m_backgroundScan = 0;
    Sidebar* m_sidebar = nullptr;
    QSplitter* m_splitter = nullptr;
    QWidget* m_detailPane = nullptr;
    QVBoxLayout* m_detailLayout = nullptr;
    QWidget* m_detail = nullptr;
    QString m_detailKey;
    std::optional<ScheduledTask> m_detailTask;
    bool m_shownOnce = false;
    QToolBar* m_toolBar = nullptr;
    QAction* m_addAction = nullptr;
    QAction* m_exportAction = nullptr;
    QAction* m_deleteAction = nullptr;
    QAction* m_doneAction = nullptr;
    QList<QAction*> m_selectModeActions;
    QList<QAction*> m_normalModeActions;
    bool m_alertsScheduled = false;
    bool m_showingAlerts = false;
};
