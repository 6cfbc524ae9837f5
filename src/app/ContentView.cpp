#include "ContentView.h"

#include "AppNotifications.h"
#include "DayTimelineView.h"
#include "Dialogs.h"
#include "EmptyStateView.h"
#include "Icons.h"
#include "LaunchdJobDetailView.h"
#include "PlatformTexts.h"
#include "Result.h"
#include "Sidebar.h"
#include "SidebarFilter.h"
#include "TaskDetailView.h"
#include "TaskFile.h"
#include "TaskMigration.h"
#include "TaskStore.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace {

QToolButton* toolButton(const QString& text, const QString& symbol, const QString& objectName,
                        QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAccessibleName(text);
    button->setText(text);
    if (!symbol.isEmpty()) {
        button->setIcon(Icons::symbol(symbol));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    } else {
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
    return button;
}

// The split view's divider: a one-pixel line in the palette's mid colour on a handle wide
// enough to grab.
class DividerHandle final : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(width() / 2, 0, 1, height()), palette().color(QPalette::Mid));
    }
};

class DividerSplitter final : public QSplitter {
public:
    explicit DividerSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent)
    {
        setHandleWidth(5);
    }

protected:
    QSplitterHandle* createHandle() override { return new DividerHandle(orientation(), this); }
};

} // namespace

ContentView::ContentView(TaskStore& store, Dialogs& dialogs, JobScanner scanJobs, QWidget* parent)
    : QWidget(parent), m_store(store), m_dialogs(dialogs), m_scanJobs(std::move(scanJobs))
{
    setObjectName(QStringLiteral("content-view"));
    setMinimumSize(600, 400);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_upgradeProgress = new QLabel(this);
    m_upgradeProgress->setObjectName(QStringLiteral("upgrade-progress"));
    m_upgradeProgress->setContentsMargins(8, 4, 8, 4);
    m_upgradeProgress->hide();
    layout->addWidget(m_upgradeProgress);

    m_splitter = new DividerSplitter(this);
    m_splitter->setObjectName(QStringLiteral("content-splitter"));
    m_splitter->setChildrenCollapsible(false);
    m_sidebar = new Sidebar(store, m_splitter);
    m_detailPane = new QWidget(m_splitter);
    m_detailPane->setObjectName(QStringLiteral("detail-pane"));
    m_detailLayout = new QVBoxLayout(m_detailPane);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_detailPane);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({260, 440});
    layout->addWidget(m_splitter);

    makeToolBar();

    connect(m_sidebar, &Sidebar::searchTextChanged, this, &ContentView::setSearchText);
    connect(m_sidebar, &Sidebar::sectionSelected, this,
            [this](const SidebarSection& section) { setSelection(section); });
    connect(m_sidebar, &Sidebar::headerButtonClicked, this, [this] {
        if (m_isSelectMode)
            selectAllOrNone();
        else
            enterSelectMode();
    });
    connect(m_sidebar, &Sidebar::addTaskClicked, this, &ContentView::showAddTask);
    connect(m_sidebar, &Sidebar::systemJobsHeaderClicked, this,
            [this] { setShowSystemJobs(!m_showSystemJobs); });
    connect(m_sidebar, &Sidebar::taskToggled, this, &ContentView::toggleSelected);
    connect(m_sidebar, &Sidebar::editRequested, this, &ContentView::editTask);
    connect(m_sidebar, &Sidebar::duplicateRequested, this, &ContentView::duplicateTask);
    connect(m_sidebar, &Sidebar::enabledChangeRequested, this,
            [this](bool enabled, const QUuid& id) { m_store.setEnabled(enabled, id); });
    connect(m_sidebar, &Sidebar::deleteRequested, this, &ContentView::confirmDelete);

    // The window follows the store task by task: the sidebar's rows follow the store
    // themselves, so a report touches the window only where it shows the task it concerns.
    connect(&m_store, &TaskStore::taskAdded, this,
            [this](int row) { followTask(m_store.tasks().at(row).id); });
    connect(&m_store, &TaskStore::taskChanged, this, &ContentView::followTask);
    connect(&m_store, &TaskStore::taskRemoved, this, &ContentView::followTask);
    connect(&m_store, &TaskStore::tasksReset, this, [this] {
        m_selectedTaskIDs.removeIf([this](const QUuid& id) { return !m_store.task(id); });
        refresh();
    });
    connect(&m_store, &TaskStore::changed, this, &ContentView::scheduleStoreAlerts);
    connect(&m_store, &TaskStore::scriptUpgradeChanged, this, &ContentView::refreshUpgradeProgress);
    connect(&AppNotifications::instance(), &AppNotifications::addNewTask, this,
            &ContentView::showAddTask);
    refreshUpgradeProgress();
    refresh();
    scheduleStoreAlerts();
}

void ContentView::makeToolBar()
{
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("main-toolbar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    const int iconSize = std::max(16, fontMetrics().height() * 9 / 10);
    m_toolBar->setIconSize(QSize(iconSize, iconSize));
    auto* spacer = new QWidget(m_toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(spacer);

    QToolButton* add = toolButton(QStringLiteral("Add Task"), QStringLiteral("plus"),
                                  QStringLiteral("toolbar-add-task"), m_toolBar);
    connect(add, &QToolButton::clicked, this, &ContentView::showAddTask);
    m_addAction = m_toolBar->addWidget(add);
    m_normalModeActions = {m_addAction};

    QToolButton* exportButton =
        toolButton(QStringLiteral("Export"), QStringLiteral("square.and.arrow.up"),
                   QStringLiteral("toolbar-export"), m_toolBar);
    connect(exportButton, &QToolButton::clicked, this, &ContentView::exportSelected);
    QToolButton* deleteButton = toolButton(QStringLiteral("Delete"), QStringLiteral("trash"),
                                           QStringLiteral("toolbar-delete"), m_toolBar);
    connect(deleteButton, &QToolButton::clicked, this, &ContentView::confirmDeleteSelected);
    QToolButton* done =
        toolButton(QStringLiteral("Done"), QString(), QStringLiteral("toolbar-done"), m_toolBar);
    connect(done, &QToolButton::clicked, this, &ContentView::leaveSelectMode);
    m_exportAction = m_toolBar->addWidget(exportButton);
    m_deleteAction = m_toolBar->addWidget(deleteButton);
    m_doneAction = m_toolBar->addWidget(done);
    m_selectModeActions = {m_exportAction, m_deleteAction, m_doneAction};
    refreshToolBar();
}

QList<ScheduledTask> ContentView::filteredTasks() const
{
    return SidebarFilter::filteredTasks(m_store.tasks(), m_searchText);
}

QList<LaunchdJob> ContentView::filteredSystemJobs() const
{
    return SidebarFilter::filteredSystemJobs(m_systemJobs, m_searchText);
}

void ContentView::setSelection(const std::optional<SidebarSection>& selection)
{
    m_selection = selection;
    refresh();
}

void ContentView::setSearchText(const QString& text)
{
    m_searchText = text;
    if (m_sidebar->filterField()->text() != text)
        m_sidebar->filterField()->setText(text);
    refresh();
}

void ContentView::setShowSystemJobs(bool show)
{
    m_showSystemJobs = show;
    refresh();
}

void ContentView::showAddTask()
{
    const std::optional<ScheduledTask> created = m_dialogs.addTask(window(), m_store);
    if (created)
        setSelection(SidebarSection::task(created->id));
}

void ContentView::editTask(const ScheduledTask& task)
{
    m_dialogs.editTask(window(), m_store, task);
}

void ContentView::testRunTask(const ScheduledTask& task) { m_dialogs.testRun(window(), task); }

void ContentView::duplicateTask(const ScheduledTask& task)
{
    const ScheduledTask copy = m_store.duplicateTask(task);
    setSelection(SidebarSection::task(copy.id));
}

void ContentView::confirmDelete(const ScheduledTask& task)
{
    const QString text = QStringLiteral("Are you sure you want to delete \"") + task.name +
                         QLatin1Char('"') + PlatformTexts::current().deleteSuffix;
    if (!m_dialogs.confirmDelete(window(), QStringLiteral("Delete Task"), text))
        return;
    if (m_selection == SidebarSection::task(task.id))
        m_selection.reset();
    m_store.deleteTask(task);
    refresh();
}

void ContentView::enterSelectMode()
{
    m_isSelectMode = true;
    m_selectedTaskIDs.clear();
    m_selection.reset();
    refresh();
}

void ContentView::selectAllOrNone()
{
    const QList<ScheduledTask> visible = filteredTasks();
    if (m_selectedTaskIDs.size() != visible.size()) {
        m_selectedTaskIDs.clear();
        for (const ScheduledTask& task : visible)
            m_selectedTaskIDs.insert(task.id);
    } else {
        m_selectedTaskIDs.clear();
    }
    refresh();
}

void ContentView::toggleSelected(const QUuid& id)
{
    if (!m_selectedTaskIDs.remove(id))
        m_selectedTaskIDs.insert(id);
    refresh();
}

void ContentView::leaveSelectMode()
{
    m_isSelectMode = false;
    m_selectedTaskIDs.clear();
    refresh();
}

void ContentView::confirmDeleteSelected()
{
    if (m_selectedTaskIDs.isEmpty())
        return;
    const QString count = QString::number(m_selectedTaskIDs.size());
    const QString title = QStringLiteral("Delete ") + count + QStringLiteral(" Tasks");
    const QString text = QStringLiteral("Are you sure you want to delete ") + count +
                         PlatformTexts::current().bulkDeleteSuffix;
    if (!m_dialogs.confirmDelete(window(), title, text))
        return;
    if (m_selection && m_selection->kind == SidebarSection::Kind::task &&
        m_selectedTaskIDs.contains(m_selection->taskId)) {
        m_selection.reset();
    }
    const QSet<QUuid> ids = m_selectedTaskIDs;
    m_selectedTaskIDs.clear();
    m_isSelectMode = false;
    m_store.deleteTasks(ids);
    refresh();
}

void ContentView::exportSelected()
{
    if (m_selectedTaskIDs.isEmpty())
        return;
    QList<ScheduledTask> chosen;
    for (const ScheduledTask& task : m_store.tasks()) {
        if (m_selectedTaskIDs.contains(task.id))
            chosen.append(task);
    }
    const QByteArray bytes = TaskMigration::encodeTasks(chosen);
    if (bytes.isEmpty())
        return;
    const std::optional<QString> path =
        m_dialogs.saveJsonFile(window(), QStringLiteral("BrenmorOps-tasks.json"));
    if (!path)
        return;
    // A failed write says why and leaves select mode as it was, so the user can try another
    // place; as with "Export Tasks…", a copy that is not there must not look finished.
    if (const Result<void> written = TaskFile::writeBytes(*path, bytes); !written.ok()) {
        m_dialogs.alert(window(), Dialogs::AlertStyle::warning, QStringLiteral("Export Failed"),
                        written.message());
        return;
    }
    leaveSelectMode();
}

void ContentView::rescanSystemJobs()
{
    ++m_backgroundScan; // a scan still running from showing is older than this one
    m_systemJobs = m_scanJobs ? m_scanJobs() : QList<LaunchdJob>();
    ++m_scanGeneration;
    refresh();
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The first focus goes to the list, not to the filter field, whose placeholder would
    // otherwise vanish behind a blinking cursor.
    if (!m_shownOnce)
        m_sidebar->taskList()->setFocus(Qt::OtherFocusReason);
    m_shownOnce = true;
    if (!m_scanJobs)
        return;
    // Reading every system folder's plists takes long enough to hold back the first paint.
    const int scan = ++m_backgroundScan;
    auto* watcher = new QFutureWatcher<QList<LaunchdJob>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, scan] {
        watcher->deleteLater();
        if (scan != m_backgroundScan)
            return;
        m_systemJobs = watcher->result();
        ++m_scanGeneration;
        refresh();
    });
    watcher->setFuture(QtConcurrent::run(m_scanJobs));
}

void ContentView::followTask(const QUuid& id)
{
    // Tasks removed behind the window (the command-line tool) leave the bulk selection, so the
    // counts of the bulk actions stay true.
    const bool leftSelection = !m_store.task(id) && m_selectedTaskIDs.remove(id);
    if (leftSelection || m_selection == SidebarSection::task(id)) {
        refresh();
        return;
    }
    // The pane can depend on the list as a whole (no tasks yet); when it does not, this only
    // finds that it shows the same.
    refreshDetail();
}

void ContentView::refreshUpgradeProgress()
{
    const int count = m_store.upgradingScriptCount();
    m_upgradeProgress->setVisible(count > 0);
    if (count == 0)
        return;
    const QString text = (count == 1 ? QStringLiteral("Updating %1 task script\u2026")
                                     : QStringLiteral("Updating %1 task scripts\u2026"))
                             .arg(QLocale().toString(count));
    m_upgradeProgress->setText(text);
    m_upgradeProgress->setAccessibleName(text);
}

void ContentView::refresh()
{
    SidebarState state;
    state.searchText = m_searchText;
    state.selectMode = m_isSelectMode;
    state.selectedTaskIDs = m_selectedTaskIDs;
    state.systemJobs = m_systemJobs;
    state.showSystemJobs = m_showSystemJobs;
    state.selection = m_selection;
    m_sidebar->render(state);
    refreshToolBar();
    refreshDetail();
}

void ContentView::refreshToolBar()
{
    for (QAction* action : std::as_const(m_normalModeActions))
        action->setVisible(!m_isSelectMode);
    for (QAction* action : std::as_const(m_selectModeActions))
        action->setVisible(m_isSelectMode);
    m_exportAction->setEnabled(!m_selectedTaskIDs.isEmpty());
    m_deleteAction->setEnabled(!m_selectedTaskIDs.isEmpty());
}

void ContentView::refreshDetail()
{
    // Rebuild the pane only when what it shows changed, so an unrelated store change does not
    // reset its scroll position.
    QString key;
    const ScheduledTask* task = nullptr;
    const LaunchdJob* job = nullptr;
    if (m_selection && m_selection->kind == SidebarSection::Kind::task)
        task = m_store.task(m_selection->taskId);
    if (m_selection && m_selection->kind == SidebarSection::Kind::systemJob) {
        for (const LaunchdJob& candidate : m_systemJobs) {
            if (candidate.id == m_selection->systemJobId)
                job = &candidate;
        }
    }
    if (task) {
        key = QStringLiteral("task");
    } else if (job) {
        key = QStringLiteral("job:%1:%2").arg(job->id).arg(m_scanGeneration);
    } else if (m_selection && m_selection->kind == SidebarSection::Kind::timeline) {
        // The timeline keeps its switch across scans; it takes the new jobs in place.
        key = QStringLiteral("timeline");
    } else if (m_store.tasks().isEmpty()) {
        key = QStringLiteral("no-tasks");
    } else if (m_isSelectMode) {
        key = QStringLiteral("selected:%1").arg(m_selectedTaskIDs.size());
    } else {
        key = QStringLiteral("none");
    }
    const std::optional<ScheduledTask> shownTask = task ? std::optional(*task) : std::nullopt;
    if (m_detail && key == m_detailKey && shownTask == m_detailTask) {
        if (auto* timeline = qobject_cast<DayTimelineView*>(m_detail);
            timeline && m_detailScanGeneration != m_scanGeneration) {
            m_detailScanGeneration = m_scanGeneration;
            timeline->setSystemJobs(m_systemJobs);
        }
        return;
    }
    // Another state of the task shown (enabled, edited): the detail follows its task in place
    // (it already has, when the store told it), so the user keeps their place and the chosen
    // output stream.
    if (auto* detail = qobject_cast<TaskDetailView*>(m_detail);
        detail && task && key == m_detailKey && detail->task().id == task->id) {
        m_detailTask = shownTask;
        if (detail->task() != *task)
            detail->setTask(*task);
        return;
    }
    m_detailScanGeneration = m_scanGeneration;
    m_detailKey = key;
    m_detailTask = shownTask;
    // Focus inside the pane (the enabled switch, a button) or left there by a sheet that
    // closed stays with the same control in the new pane, or goes to the task list; never to
    // the filter field, where the next Space would start a search.
    QWidget* focused = window()->focusWidget();
    const bool focusInPane = m_detail && focused && m_detail->isAncestorOf(focused);
    const QString focusedName = focusInPane ? focused->objectName() : QString();
    if (m_detail) {
        m_detailLayout->removeWidget(m_detail);
        m_detail->hide();
        m_detail->deleteLater();
    }
    if (task) {
        auto* view = new TaskDetailView(m_store, *task, m_detailPane);
        connect(view, &TaskDetailView::editRequested, this, &ContentView::editTask);
        connect(view, &TaskDetailView::testRunRequested, this, &ContentView::testRunTask);
        connect(view, &TaskDetailView::duplicateRequested, this, &ContentView::duplicateTask);
        connect(view, &TaskDetailView::deleteRequested, this, &ContentView::confirmDelete);
        m_detail = view;
    } else if (job) {
        m_detail = new LaunchdJobDetailView(*job, m_detailPane);
    } else if (m_selection && m_selection->kind == SidebarSection::Kind::timeline) {
        m_detail = new DayTimelineView(m_store, m_systemJobs, m_detailPane);
    } else if (m_store.tasks().isEmpty()) {
        auto* empty = new EmptyStateView(
            QStringLiteral("No Tasks Yet"), QStringLiteral("calendar.badge.clock"),
            QStringLiteral("Schedule CLI commands to run automatically."), m_detailPane);
        connect(empty->addButton(QStringLiteral("Add Task")), &QPushButton::clicked, this,
                &ContentView::showAddTask);
        m_detail = empty;
    } else if (m_isSelectMode) {
        const qsizetype count = m_selectedTaskIDs.size();
        const QString title = count == 0   ? QStringLiteral("No Tasks Selected")
                              : count == 1 ? QStringLiteral("1 Task Selected")
                                           : QStringLiteral("%1 Tasks Selected").arg(count);
        m_detail = new EmptyStateView(title, QStringLiteral("checkmark.circle"),
                                      QStringLiteral("Export or delete them from the toolbar."),
                                      m_detailPane);
    } else {
        m_detail = new EmptyStateView(
            QStringLiteral("No Selection"), QStringLiteral("clock.badge.questionmark"),
            QStringLiteral("Select a task from the sidebar."), m_detailPane);
    }
    m_detailLayout->addWidget(m_detail);
    if (focusInPane) {
        if (m_detailPane->isVisible())
            m_detail->show();
        QWidget* same =
            focusedName.isEmpty() ? nullptr : m_detail->findChild<QWidget*>(focusedName);
        if (same && same->focusPolicy() != Qt::NoFocus)
            same->setFocus(Qt::OtherFocusReason);
        else
            m_sidebar->taskList()->setFocus(Qt::OtherFocusReason);
    }
}

void ContentView::scheduleStoreAlerts()
{
    // The store announces errors from inside its operations; the alert waits until the
    // operation is over and the event loop runs again.
    if (m_alertsScheduled || (!m_store.lastError() && !m_store.lastWarning()))
        return;
    m_alertsScheduled = true;
    QTimer::singleShot(0, this, &ContentView::showStoreAlerts);
}

void ContentView::showStoreAlerts()
{
    m_alertsScheduled = false;
    if (m_showingAlerts)
        return;
    // Another alert or sheet is open (this timer fired inside its event loop): the store's
    // alert waits behind it instead of opening on top of it.
    if (QApplication::activeModalWidget()) {
        m_alertsScheduled = true;
        QTimer::singleShot(100, this, &ContentView::showStoreAlerts);
        return;
    }
    m_showingAlerts = true;
    while (m_store.lastError() || m_store.lastWarning()) {
        if (const std::optional<QString> error = m_store.lastError()) {
            m_dialogs.alert(window(), Dialogs::AlertStyle::warning, QStringLiteral("Error"),
                            *error);
            m_store.setLastError(std::nullopt);
        } else if (const std::optional<QString> warning = m_store.lastWarning()) {
            m_dialogs.alert(window(), Dialogs::AlertStyle::informational, QStringLiteral("Notice"),
                            *warning);
            m_store.setLastWarning(std::nullopt);
        }
    }
    m_showingAlerts = false;
}
