// The application's start: one store over the user's task file, the window at its default size.
#include "BrenmorOpsApp.h"
#include "ContentView.h"
#include "MainWindow.h"
#include "TaskMigration.h"
#include "TaskStore.h"
#include "TestSupport.h"
#include "UpdaterController.h"

#include <QPushButton>
#include <QTest>

class TestAppEntry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsOverTaskFile_data();
    void startsOverTaskFile();
};

void TestAppEntry::startsOverTaskFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("tasks");
    QTest::addColumn<QString>("addButton");
    QTest::newRow("plain") << QStringList{QStringLiteral("BrenmorOps")} << 2
                           << QStringLiteral("Add Task");
    QTest::newRow("reset") << QStringList{QStringLiteral("BrenmorOps"),
                                          QStringLiteral("--reset-tasks")}
                           << 0 << QStringLiteral("Add your first task");
}

void TestAppEntry::startsOverTaskFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, tasks);
    QFETCH(QString, addButton);
    TestHome home;
    // Disabled tasks: the start installs no agent, so no launchctl runs here.
    QList<ScheduledTask> saved;
    for (const QString& name : {QStringLiteral("One"), QStringLiteral("Two")}) {
        ScheduledTask task = ScheduledTask::create(name, QStringLiteral("true"),
                                                   TaskSchedule::of<TaskSchedule::Interval>({5}));
        task.isEnabled = false;
        saved.append(task);
    }
    TestSupport::writeFile(home.taskFile(), TaskMigration::encodeTasks(saved));

    BrenmorOpsApp app(arguments);
    QCOMPARE(app.taskStore().tasks().size(), tasks);
    MainWindow& window = app.mainWindow();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(700, 500));
    QCOMPARE(window.contentView()->minimumSize(), QSize(600, 400));
    QCOMPARE(window.findChild<QPushButton*>(QStringLiteral("sidebar-add-task"))->text(), addButton);
    QVERIFY(!app.updaterController().canCheckForUpdates());
}

QTEST_MAIN(TestAppEntry)
#include "TestAppEntry.moc"
