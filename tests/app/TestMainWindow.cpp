// The main window driven through its object names, over a store whose launchd and wake services
// are fakes and whose dialogs are answered by the test.
#include "AppFakes.h"
#include "ContentView.h"
#include "EmptyStateView.h"
#include "ExportImportCommands.h"
#include "MainWindow.h"
#include "PlatformTexts.h"
#include "Result.h"
#include "Sidebar.h"
#include "TaskBuilder.h"
#include "TaskListModel.h"
#include "TaskMigration.h"
#include "TestSupport.h"
#include "UpdaterController.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include <atomic>

class TestMainWindow : public MainWindowTest {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void emptyStoreShowsFirstTaskTexts();
    void addingFirstTaskFlipsButtonAndSelectsIt();
    void filterMatchesNameAndCommand_data();
    void filterMatchesNameAndCommand();
    void selectAllUnderFilterSelectsOnlyVisible();
    void headerButtonFollowsSelection();
    void deletingFromContextMenu_data();
    void deletingFromContextMenu();
    void cancelledDeleteKeepsTask();
    void bulkDeleteConfirmsWithCount();
    void systemJobsCountIgnoresFilter();
    void newTaskShortcutFromSystemJob();
    void contextMenuDuplicateSelectsCopy();
    void contextMenuEnablesDisabledTask();
    void selectModeNeverOpensDetail();
    void exportSelectionWritesOnlySelected();
    void exportSelectionCancelledStaysInSelectMode();
    void storeErrorShowsAlertThenClears();
    void removedTaskLeavesBulkSelection();
    void bulkSelectionFollowsTaskChanges_data();
    void bulkSelectionFollowsTaskChanges();
    void selectedTaskShowsWhenItsAddArrives();
    void missingSelectedTaskFallsBackToNoSelection();
    void checkForUpdatesDisabledWithoutFeed_data();
    void checkForUpdatesDisabledWithoutFeed();
    void upgradeProgressShownWhileScriptsUpdate();

private:
    Sidebar* sidebar() const { return content()->sidebar(); }
    QPushButton* button(const char* name) const
    {
        return m_window->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QToolButton* toolButton(const char* name) const
    {
        return m_window->findChild<QToolButton*>(QString::fromLatin1(name));
    }
    QString detailTitle() const
    {
        QWidget* detail = content()->currentDetail();
        auto* title = detail->findChild<QLabel*>(QStringLiteral("empty-state-title"));
        if (!title)
            title = detail->findChild<QLabel*>(QStringLiteral("task-detail-name"));
        if (title)
            return title->text();
        if (auto* label = detail->findChild<QTextEdit*>(QStringLiteral("job-detail-label")))
            return label->toPlainText();
        return detail->objectName();
    }
    QStringList visibleTaskNames() const
    {
        QStringList names;
        QAbstractItemModel* model = sidebar()->taskList()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            names << model->index(row, 0).data().toString();
        return names;
    }
    void clickTaskRow(int row)
    {
        QListView* list = sidebar()->taskList();
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    QMenu* contextMenuFor(int row)
    {
        const ScheduledTask task = m_fixture->store->tasks().at(row);
        QMenu* menu = sidebar()->makeTaskContextMenu(task, m_window.get());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        return menu;
    }
    QAction* menuAction(QMenu* menu, const char* name)
    {
        return menu->findChild<QAction*>(QString::fromLatin1(name));
    }
};

void TestMainWindow::init() { setUpWindow(); }

void TestMainWindow::cleanup() { tearDownWindow(); }

void TestMainWindow::emptyStoreShowsFirstTaskTexts()
{
    makeWindow();
    QCOMPARE(button("sidebar-add-task")->text(), QStringLiteral("Add your first task"));
    // The identifier is the object name; a screen reader says the visible label.
    QVERIFY(button("sidebar-add-task")->accessibleName().isEmpty() ||
            button("sidebar-add-task")->accessibleName() == button("sidebar-add-task")->text());
    QCOMPARE(detailTitle(), QStringLiteral("No Tasks Yet"));
    QVERIFY(!button("sidebar-select-button")->isVisible());
    QVERIFY(!m_window->exportImportCommands()->exportAction()->isEnabled());
    QVERIFY(m_window->exportImportCommands()->importAction()->isEnabled());
    QVERIFY(toolButton("toolbar-add-task")->isVisible());
    QVERIFY(!toolButton("toolbar-done")->isVisible());
}

void TestMainWindow::addingFirstTaskFlipsButtonAndSelectsIt()
{
    makeWindow();
    const ScheduledTask task =
        TaskBuilder(QStringLiteral("Backup")).command(QStringLiteral("rsync -a")).build();
    m_dialogs.taskToAdd = task;
    QTest::mouseClick(button("sidebar-add-task"), Qt::LeftButton);
    QCOMPARE(m_dialogs.addSheets, 1);
    QCOMPARE(button("sidebar-add-task")->text(), QStringLiteral("Add Task"));
    QCOMPARE(content()->selection(), SidebarSection::task(task.id));
    QCOMPARE(detailTitle(), QStringLiteral("Backup"));
    QVERIFY(m_window->exportImportCommands()->exportAction()->isEnabled());
    QVERIFY(button("sidebar-select-button")->isVisible());

    // A cancelled sheet changes nothing.
    m_dialogs.taskToAdd.reset();
    QTest::mouseClick(toolButton("toolbar-add-task"), Qt::LeftButton);
    QCOMPARE(m_dialogs.addSheets, 2);
    QCOMPARE(content()->selection(), SidebarSection::task(task.id));
}

void TestMainWindow::filterMatchesNameAndCommand_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("expected");
    const QStringList all{QStringLiteral("Nightly Backup"), QStringLiteral("Report"),
                          QStringLiteral("Cleanup")};
    QTest::newRow("empty keeps all") << QString() << all;
    QTest::newRow("name, other case")
        << QStringLiteral("BACKUP") << QStringList{QStringLiteral("Nightly Backup")};
    QTest::newRow("word only in a command")
        << QStringLiteral("rsync") << QStringList{QStringLiteral("Nightly Backup")};
    QTest::newRow("name and command of two tasks")
        << QStringLiteral("rep")
        << QStringList{QStringLiteral("Report"), QStringLiteral("Cleanup")};
    QTest::newRow("no match") << QStringLiteral("zzz") << QStringList();
}

void TestMainWindow::filterMatchesNameAndCommand()
{
    QFETCH(QString, search);
    QFETCH(QStringList, expected);
    makeWindow({TaskBuilder(QStringLiteral("Nightly Backup"))
                    .command(QStringLiteral("rsync -a ~/d /b"))
                    .build(),
                TaskBuilder(QStringLiteral("Report")).command(QStringLiteral("./make.sh")).build(),
                TaskBuilder(QStringLiteral("Cleanup"))
                    .command(QStringLiteral("rm -rf ~/tmp/reports"))
                    .build()});
    QLineEdit* filter = m_window->findChild<QLineEdit*>(QStringLiteral("sidebar-filter"));
    QCOMPARE(filter->placeholderText(), QStringLiteral("Filter..."));
    QTest::keyClicks(filter, search);
    QCOMPARE(visibleTaskNames(), expected);
    // The add button stays below the list whatever the filter hides.
    QVERIFY(button("sidebar-add-task")->isVisible());
    QCOMPARE(button("sidebar-add-task")->text(), QStringLiteral("Add Task"));
}

void TestMainWindow::selectAllUnderFilterSelectsOnlyVisible()
{
    const ScheduledTask a =
        TaskBuilder(QStringLiteral("Alpha")).command(QStringLiteral("echo a")).build();
    const ScheduledTask b =
        TaskBuilder(QStringLiteral("Beta")).command(QStringLiteral("echo b")).build();
    const ScheduledTask c =
        TaskBuilder(QStringLiteral("Alpine")).command(QStringLiteral("echo c")).build();
    makeWindow({a, b, c});
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    QVERIFY(content()->isSelectMode());
    content()->setSearchText(QStringLiteral("alp"));
    QCOMPARE(button("sidebar-select-button")->text(), QStringLiteral("Select All"));
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    QCOMPARE(content()->selectedTaskIDs(), (QSet<QUuid>{a.id, c.id}));
    QCOMPARE(button("sidebar-select-button")->text(), QStringLiteral("Deselect All"));
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    QVERIFY(content()->selectedTaskIDs().isEmpty());
}

void TestMainWindow::headerButtonFollowsSelection()
{
    makeWindow({TaskBuilder(QStringLiteral("One")).command(QStringLiteral("true")).build(),
                TaskBuilder(QStringLiteral("Two")).command(QStringLiteral("true")).build()});
    QCOMPARE(button("sidebar-select-button")->text(), QStringLiteral("Select"));
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    // The toolbar shows and hides its items when it lays itself out again.
    QTRY_VERIFY(toolButton("toolbar-done")->isVisible());
    QTRY_VERIFY(!toolButton("toolbar-add-task")->isVisible());
    QVERIFY(!toolButton("toolbar-export")->isEnabled());
    QVERIFY(!toolButton("toolbar-delete")->isEnabled());
    clickTaskRow(0);
    QVERIFY(toolButton("toolbar-export")->isEnabled());
    QCOMPARE(button("sidebar-select-button")->text(), QStringLiteral("Select All"));
    clickTaskRow(1);
    QCOMPARE(button("sidebar-select-button")->text(), QStringLiteral("Deselect All"));
    QTest::mouseClick(toolButton("toolbar-done"), Qt::LeftButton);
    QVERIFY(!content()->isSelectMode());
    QVERIFY(content()->selectedTaskIDs().isEmpty());
    QCOMPARE(button("sidebar-select-button")->text(), QStringLiteral("Select"));
}

void TestMainWindow::deletingFromContextMenu_data()
{
    QTest::addColumn<int>("selectedRow");
    QTest::addColumn<int>("deletedRow");
    QTest::addColumn<QString>("detailAfter");
    QTest::newRow("the selected task") << 0 << 0 << QStringLiteral("No Selection");
    QTest::newRow("another task") << 0 << 1 << QStringLiteral("First");
}

void TestMainWindow::deletingFromContextMenu()
{
    QFETCH(int, selectedRow);
    QFETCH(int, deletedRow);
    QFETCH(QString, detailAfter);
    makeWindow({TaskBuilder(QStringLiteral("First")).command(QStringLiteral("true")).build(),
                TaskBuilder(QStringLiteral("Second")).command(QStringLiteral("true")).build()});
    clickTaskRow(selectedRow);
    QCOMPARE(detailTitle(), QStringLiteral("First"));
    const QString deletedName = m_fixture->store->tasks().at(deletedRow).name;
    QMenu* menu = contextMenuFor(deletedRow);
    menuAction(menu, "task-menu-delete")->trigger();
    menu->close();
    QCOMPARE(m_dialogs.confirmations.size(), 1);
    QCOMPARE(m_dialogs.confirmations.at(0).title, QStringLiteral("Delete Task"));
    QCOMPARE(m_dialogs.confirmations.at(0).text,
             QStringLiteral("Are you sure you want to delete \"") + deletedName + QLatin1Char('"') +
                 PlatformTexts::current().deleteSuffix);
    QCOMPARE(m_fixture->store->tasks().size(), 1);
    QCOMPARE(detailTitle(), detailAfter);
}

void TestMainWindow::cancelledDeleteKeepsTask()
{
    makeWindow({TaskBuilder(QStringLiteral("Keep")).command(QStringLiteral("true")).build()});
    clickTaskRow(0);
    m_dialogs.answerDelete = false;
    QMenu* menu = contextMenuFor(0);
    menuAction(menu, "task-menu-delete")->trigger();
    menu->close();
    QCOMPARE(m_fixture->store->tasks().size(), 1);
    QCOMPARE(detailTitle(), QStringLiteral("Keep"));
}

void TestMainWindow::bulkDeleteConfirmsWithCount()
{
    const ScheduledTask a =
        TaskBuilder(QStringLiteral("A")).command(QStringLiteral("true")).build();
    const ScheduledTask b =
        TaskBuilder(QStringLiteral("B")).command(QStringLiteral("true")).build();
    const ScheduledTask c =
        TaskBuilder(QStringLiteral("C")).command(QStringLiteral("true")).build();
    makeWindow({a, b, c});
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    clickTaskRow(0);
    clickTaskRow(2);
    m_dialogs.answerDelete = false;
    QTest::mouseClick(toolButton("toolbar-delete"), Qt::LeftButton);
    QCOMPARE(m_dialogs.confirmations.constLast().title, QStringLiteral("Delete 2 Tasks"));
    QCOMPARE(m_dialogs.confirmations.constLast().text,
             QStringLiteral("Are you sure you want to delete 2") +
                 PlatformTexts::current().bulkDeleteSuffix);
    // Cancel keeps the tasks and the selection.
    QCOMPARE(m_fixture->store->tasks().size(), 3);
    QVERIFY(content()->isSelectMode());
    QCOMPARE(content()->selectedTaskIDs().size(), 2);

    m_dialogs.answerDelete = true;
    QTest::mouseClick(toolButton("toolbar-delete"), Qt::LeftButton);
    QCOMPARE(m_fixture->store->tasks().size(), 1);
    QCOMPARE(m_fixture->store->tasks().at(0).id, b.id);
    QVERIFY(!content()->isSelectMode());
    QVERIFY(content()->selectedTaskIDs().isEmpty());
}

void TestMainWindow::systemJobsCountIgnoresFilter()
{
    makeWindow({},
               {makeAgentJob(QStringLiteral("com.example.alpha"), {QStringLiteral("/bin/alpha")}),
                makeAgentJob(QStringLiteral("com.example.beta"), {QStringLiteral("/bin/beta")}),
                makeAgentJob(QStringLiteral("org.other.gamma"), {QStringLiteral("/bin/gamma")})});
    auto* count = m_window->findChild<QLabel*>(QStringLiteral("sidebar-system-jobs-count"));
    // The scan runs on a worker once the window shows, so the first paint does not wait.
    QTRY_COMPARE(count->text(), QStringLiteral("3"));
    QVERIFY(!sidebar()->systemJobList()->isVisible());
    QTest::mouseClick(button("sidebar-system-jobs-header"), Qt::LeftButton);
    QVERIFY(sidebar()->systemJobList()->isVisible());
    content()->setSearchText(QStringLiteral("gamma"));
    QCOMPARE(sidebar()->systemJobList()->model()->rowCount(), 1);
    QCOMPARE(count->text(), QStringLiteral("3"));
    QTest::mouseClick(button("sidebar-system-jobs-header"), Qt::LeftButton);
    QVERIFY(!sidebar()->systemJobList()->isVisible());
}

void TestMainWindow::newTaskShortcutFromSystemJob()
{
    const LaunchdJob job =
        makeAgentJob(QStringLiteral("com.example.job"), {QStringLiteral("/bin/x")});
    makeWindow({TaskBuilder(QStringLiteral("Task")).command(QStringLiteral("true")).build()},
               {job});
    content()->setShowSystemJobs(true);
    QListView* jobs = sidebar()->systemJobList();
    // The first scan runs on a worker thread.
    QTRY_COMPARE(jobs->model()->rowCount(), 1);
    QTest::mouseClick(jobs->viewport(), Qt::LeftButton, {},
                      jobs->visualRect(jobs->model()->index(0, 0)).center());
    QCOMPARE(content()->selection(), SidebarSection::systemJob(job.id));
    QCOMPARE(detailTitle(), job.label);
    QTest::keySequence(m_window.get(), QKeySequence::New);
    QCOMPARE(m_dialogs.addSheets, 1);
}

void TestMainWindow::contextMenuDuplicateSelectsCopy()
{
    const ScheduledTask task =
        TaskBuilder(QStringLiteral("Report")).command(QStringLiteral("./r.sh")).build();
    makeWindow({task});
    QMenu* menu = contextMenuFor(0);
    QStringList titles;
    for (QAction* action : menu->actions())
        titles << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(titles, (QStringList{QStringLiteral("Edit..."), QStringLiteral("Duplicate"),
                                  QStringLiteral("-"), QStringLiteral("Disable"),
                                  QStringLiteral("-"), QStringLiteral("Delete")}));
    menuAction(menu, "task-menu-duplicate")->trigger();
    menu->close();
    QCOMPARE(m_fixture->store->tasks().size(), 2);
    const ScheduledTask copy = m_fixture->store->tasks().at(1);
    QCOMPARE(copy.name, QStringLiteral("Report (copy)"));
    QCOMPARE(content()->selection(), SidebarSection::task(copy.id));
    QCOMPARE(detailTitle(), QStringLiteral("Report (copy)"));

    menu = contextMenuFor(0);
    menuAction(menu, "task-menu-edit")->trigger();
    menu->close();
    QCOMPARE(m_dialogs.editedTasks.size(), 1);
    QCOMPARE(m_dialogs.editedTasks.at(0).id, task.id);
}

void TestMainWindow::contextMenuEnablesDisabledTask()
{
    makeWindow(
        {TaskBuilder(QStringLiteral("Paused")).command(QStringLiteral("true")).disabled().build()});
    QAbstractItemModel* model = sidebar()->taskList()->model();
    QCOMPARE(model->index(0, 0).data(TaskListModel::EnabledRole).toBool(), false);
    QMenu* menu = contextMenuFor(0);
    QAction* toggle = menuAction(menu, "task-menu-toggle-enabled");
    QCOMPARE(toggle->text(), QStringLiteral("Enable"));
    toggle->trigger();
    menu->close();
    QVERIFY(m_fixture->store->tasks().at(0).isEnabled);
    QCOMPARE(model->index(0, 0).data(TaskListModel::EnabledRole).toBool(), true);
}

void TestMainWindow::selectModeNeverOpensDetail()
{
    const ScheduledTask task =
        TaskBuilder(QStringLiteral("Only")).command(QStringLiteral("true")).build();
    makeWindow({task});
    clickTaskRow(0);
    QCOMPARE(detailTitle(), QStringLiteral("Only"));
    // Entering select mode clears the selection.
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    QVERIFY(!content()->selection());
    // In select mode the pane counts the checked tasks.
    QCOMPARE(detailTitle(), QStringLiteral("No Tasks Selected"));
    clickTaskRow(0);
    QCOMPARE(content()->selectedTaskIDs(), QSet<QUuid>{task.id});
    QVERIFY(!content()->selection());
    QCOMPARE(detailTitle(), QStringLiteral("1 Task Selected"));
    clickTaskRow(0);
    QVERIFY(content()->selectedTaskIDs().isEmpty());
    QVERIFY(!content()->selection());
    QCOMPARE(detailTitle(), QStringLiteral("No Tasks Selected"));
    QVERIFY(sidebar()->taskList()->selectionModel()->selectedIndexes().isEmpty());
}

void TestMainWindow::exportSelectionWritesOnlySelected()
{
    const ScheduledTask a =
        TaskBuilder(QStringLiteral("A")).command(QStringLiteral("echo a")).build();
    const ScheduledTask b =
        TaskBuilder(QStringLiteral("B")).command(QStringLiteral("echo b")).build();
    const ScheduledTask c =
        TaskBuilder(QStringLiteral("C")).command(QStringLiteral("echo c")).build();
    makeWindow({a, b, c});
    const QString path = m_fixture->dir.path() + QStringLiteral("/chosen.json");
    m_dialogs.savePath = path;
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    clickTaskRow(2);
    clickTaskRow(0);
    QTest::mouseClick(toolButton("toolbar-export"), Qt::LeftButton);
    QCOMPARE(m_dialogs.suggestedNames, QStringList{QStringLiteral("BrenmorOps-tasks.json")});
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Store order, only the chosen tasks, byte for byte the task file's format.
    QCOMPARE(file.readAll(), TaskMigration::encodeTasks({a, c}));
    QVERIFY(!content()->isSelectMode());
    QVERIFY(content()->selectedTaskIDs().isEmpty());
}

void TestMainWindow::exportSelectionCancelledStaysInSelectMode()
{
    makeWindow({TaskBuilder(QStringLiteral("A")).command(QStringLiteral("echo a")).build()});
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    clickTaskRow(0);
    m_dialogs.savePath.reset();
    QTest::mouseClick(toolButton("toolbar-export"), Qt::LeftButton);
    QVERIFY(content()->isSelectMode());
    QCOMPARE(content()->selectedTaskIDs().size(), 1);
    QVERIFY(m_dialogs.alerts.isEmpty());
    // A place that cannot be written is reported; select mode stays as it was.
    const QString path = m_fixture->dir.path() + QStringLiteral("/missing/folder/x.json");
    m_dialogs.savePath = path;
    QTest::mouseClick(toolButton("toolbar-export"), Qt::LeftButton);
    QVERIFY(content()->isSelectMode());
    QCOMPARE(m_dialogs.alerts.size(), 1);
    QCOMPARE(m_dialogs.alerts.at(0).title, QStringLiteral("Export Failed"));
    QVERIFY2(m_dialogs.alerts.at(0).text.startsWith(QStringLiteral("Cannot write ") + path),
             qPrintable(m_dialogs.alerts.at(0).text));
}

void TestMainWindow::storeErrorShowsAlertThenClears()
{
    makeWindow();
    m_fixture->launchd->recorder().everyInstallFails =
        LaunchdError::launchctlFailed(QStringLiteral("load"), 5);
    m_fixture->store->addTask(
        TaskBuilder(QStringLiteral("Broken")).command(QStringLiteral("true")).build());
    QTRY_COMPARE(m_dialogs.alerts.size(), 1);
    QCOMPARE(m_dialogs.alerts.at(0).title, QStringLiteral("Error"));
    QCOMPARE(m_dialogs.alerts.at(0).text, QStringLiteral("launchctl load failed (exit code 5)"));
    QVERIFY(!m_fixture->store->lastError());

    m_fixture->store->setLastWarning(QStringLiteral("Something to know."));
    QTRY_COMPARE(m_dialogs.alerts.size(), 2);
    QCOMPARE(m_dialogs.alerts.at(1).title, QStringLiteral("Notice"));
    QCOMPARE(m_dialogs.alerts.at(1).text, QStringLiteral("Something to know."));
    QVERIFY(!m_fixture->store->lastWarning());
}

void TestMainWindow::removedTaskLeavesBulkSelection()
{
    const ScheduledTask a =
        TaskBuilder(QStringLiteral("A")).command(QStringLiteral("true")).build();
    const ScheduledTask b =
        TaskBuilder(QStringLiteral("B")).command(QStringLiteral("true")).build();
    makeWindow({a, b});
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    QCOMPARE(content()->selectedTaskIDs().size(), 2);
    m_fixture->store->deleteTask(a);
    QCOMPARE(content()->selectedTaskIDs(), QSet<QUuid>{b.id});
    QCOMPARE(button("sidebar-select-button")->text(), QStringLiteral("Deselect All"));
    m_dialogs.answerDelete = false;
    QTest::mouseClick(toolButton("toolbar-delete"), Qt::LeftButton);
    QCOMPARE(m_dialogs.confirmations.constLast().title, QStringLiteral("Delete 1 Tasks"));
}

void TestMainWindow::bulkSelectionFollowsTaskChanges_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("checked"); // A and C were checked
    QTest::addColumn<QString>("headerButton");
    QTest::addColumn<bool>("deleteEnabled");
    const QString selectAll = QStringLiteral("Select All");
    QTest::newRow("checked task deleted")
        << QStringLiteral("delete A") << QStringList{QStringLiteral("C")} << selectAll << true;
    QTest::newRow("unchecked task deleted")
        << QStringLiteral("delete B") << QStringList{QStringLiteral("A"), QStringLiteral("C")}
        << QStringLiteral("Deselect All") << true;
    QTest::newRow("every checked task deleted")
        << QStringLiteral("delete A C") << QStringList() << selectAll << false;
    QTest::newRow("checked task renamed")
        << QStringLiteral("rename A") << QStringList{QStringLiteral("A"), QStringLiteral("C")}
        << selectAll << true;
    QTest::newRow("the tool removed a checked task")
        << QStringLiteral("file B C") << QStringList{QStringLiteral("C")} << selectAll << true;
    QTest::newRow("the tool reordered the list without a checked task")
        << QStringLiteral("file C B") << QStringList{QStringLiteral("C")} << selectAll << true;
    QTest::newRow("the tool added a task")
        << QStringLiteral("file A B C D") << QStringList{QStringLiteral("A"), QStringLiteral("C")}
        << selectAll << true;
}

// The check marks, the header's button and the bulk actions follow each change of one task,
// whether the window or the command-line tool made it.
void TestMainWindow::bulkSelectionFollowsTaskChanges()
{
    QFETCH(QString, change);
    QFETCH(QStringList, checked);
    QFETCH(QString, headerButton);
    QFETCH(bool, deleteEnabled);
    QHash<QString, ScheduledTask> tasks;
    for (const char* name : {"A", "B", "C", "D"}) {
        tasks.insert(
            QString::fromLatin1(name),
            TaskBuilder(QString::fromLatin1(name)).command(QStringLiteral("true")).build());
    }
    makeWindow({tasks.value(QStringLiteral("A")), tasks.value(QStringLiteral("B")),
                tasks.value(QStringLiteral("C"))});
    QTest::mouseClick(button("sidebar-select-button"), Qt::LeftButton);
    content()->toggleSelected(tasks.value(QStringLiteral("A")).id);
    content()->toggleSelected(tasks.value(QStringLiteral("C")).id);
    QCOMPARE(content()->selectedTaskIDs().size(), 2);

    TaskStore& store = *m_fixture->store;
    const QStringList words = change.split(QLatin1Char(' '));
    if (words.first() == QLatin1String("delete")) {
        QSet<QUuid> ids;
        for (const QString& name : words.mid(1))
            ids.insert(tasks.value(name).id);
        store.deleteTasks(ids);
    } else if (words.first() == QLatin1String("rename")) {
        ScheduledTask renamed = tasks.value(words.at(1));
        renamed.name += QStringLiteral(" renamed");
        store.updateTask(renamed);
    } else {
        QList<ScheduledTask> inFile;
        for (const QString& name : words.mid(1))
            inFile.append(tasks.value(name));
        TestSupport::writeFile(store.taskFilePath(), TaskMigration::encodeTasks(inFile));
        store.loadTasks();
    }

    QSet<QUuid> expected;
    for (const QString& name : checked)
        expected.insert(tasks.value(name).id);
    QCOMPARE(content()->selectedTaskIDs(), expected);
    QCOMPARE(button("sidebar-select-button")->text(), headerButton);
    QCOMPARE(toolButton("toolbar-delete")->isEnabled(), deleteEnabled);
    QCOMPARE(toolButton("toolbar-export")->isEnabled(), deleteEnabled);
    const QString count = checked.isEmpty() ? QStringLiteral("No Tasks Selected")
                          : checked.size() == 1
                              ? QStringLiteral("1 Task Selected")
                              : QStringLiteral("%1 Tasks Selected").arg(checked.size());
    QCOMPARE(detailTitle(), count);
}

// The window selects a task before the worker has added it (a new task, a copy): the detail
// shows it once its report arrives, and other reports leave that detail alone.
void TestMainWindow::selectedTaskShowsWhenItsAddArrives()
{
    m_fixture = std::make_unique<FakeStoreFixture>(TaskStore::Execution::onWorker);
    makeWindow();
    TaskStore& store = *m_fixture->store;
    QCOMPARE(detailTitle(), QStringLiteral("No Tasks Yet"));
    const ScheduledTask task =
        TaskBuilder(QStringLiteral("Arriving")).command(QStringLiteral("true")).build();
    store.addTask(task);
    content()->setSelection(SidebarSection::task(task.id));
    QTRY_COMPARE_WITH_TIMEOUT(detailTitle(), QStringLiteral("Arriving"),
                              TestSupport::eventTimeoutMs);
    QWidget* shown = content()->currentDetail();
    QCOMPARE(visibleTaskNames(), QStringList{QStringLiteral("Arriving")});

    store.addTask(TaskBuilder(QStringLiteral("Other")).command(QStringLiteral("true")).build());
    QTRY_COMPARE_WITH_TIMEOUT(visibleTaskNames().size(), 2, TestSupport::eventTimeoutMs);
    QCOMPARE(content()->currentDetail(), shown);
    QCOMPARE(detailTitle(), QStringLiteral("Arriving"));
}

void TestMainWindow::missingSelectedTaskFallsBackToNoSelection()
{
    const ScheduledTask a =
        TaskBuilder(QStringLiteral("Gone")).command(QStringLiteral("true")).build();
    const ScheduledTask b =
        TaskBuilder(QStringLiteral("Stays")).command(QStringLiteral("true")).build();
    makeWindow({a, b});
    content()->setSelection(SidebarSection::task(a.id));
    QCOMPARE(detailTitle(), QStringLiteral("Gone"));
    // Removed behind the window's back (the tool changed the file): no stale detail.
    m_fixture->store->deleteTask(a);
    QCOMPARE(detailTitle(), QStringLiteral("No Selection"));
    content()->setSelection(SidebarSection::systemJob(QStringLiteral("/nowhere.plist")));
    QCOMPARE(detailTitle(), QStringLiteral("No Selection"));
    content()->setSelection(SidebarSection::timeline());
    QCOMPARE(content()->currentDetail()->objectName(), QStringLiteral("day-timeline"));
}

void TestMainWindow::checkForUpdatesDisabledWithoutFeed_data()
{
    QTest::addColumn<bool>("feedless");
    QTest::newRow("updater that cannot check now") << false;
    QTest::newRow("platform without a feed") << true;
}

void TestMainWindow::checkForUpdatesDisabledWithoutFeed()
{
    QFETCH(bool, feedless);
    if (feedless)
        m_updater = std::make_unique<UpdaterController>();
    makeWindow();
    auto* check = m_window->findChild<QAction*>(QStringLiteral("action-check-for-updates"));
    // Where no check can ever run, the item is left out rather than greyed out for ever.
    QCOMPARE(check == nullptr, feedless);
    if (check) {
        QCOMPARE(check->text(), QStringLiteral("Check for Updates\u2026"));
        QVERIFY(!check->isEnabled());
    }
    auto* newTask = m_window->findChild<QAction*>(QStringLiteral("action-new-task"));
    QCOMPARE(newTask->shortcut(), QKeySequence(QKeySequence::New));
}

// The fake writes no scripts, so every reload finds the enabled tasks' scripts stale.
void TestMainWindow::upgradeProgressShownWhileScriptsUpdate()
{
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> block = false;
    m_fixture->launchd->recorder().duringInstall = [&](const ScheduledTask&) {
        if (block.exchange(false)) {
            entered.release();
            release.acquire();
        }
    };
    makeWindow({TaskBuilder(QStringLiteral("A")), TaskBuilder(QStringLiteral("B")),
                TaskBuilder(QStringLiteral("Off")).disabled()});
    auto* progress = m_window->findChild<QLabel*>(QStringLiteral("upgrade-progress"));
    QVERIFY(progress);
    QVERIFY(progress->isHidden());

    block = true;
    m_fixture->store->loadTasks();
    auto unblock = qScopeGuard([&release] { release.release(); });
    QVERIFY(entered.tryAcquire(1, 5000));
    QTRY_VERIFY(progress->isVisible());
    const QString text = QStringLiteral("Updating 2 task scripts\u2026");
    QCOMPARE(progress->text(), text);
    QCOMPARE(progress->accessibleName(), text);
    release.release();
    QTRY_VERIFY(progress->isHidden());
    QVERIFY(!m_fixture->store->isUpgradingScripts());
}

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
