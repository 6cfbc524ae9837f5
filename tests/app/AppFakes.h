#pragma once

#include "Dialogs.h"
#include "FakeServices.h"
#include "LaunchdJob.h"
#include "MainWindow.h"
#include "TaskStore.h"
#include "UpdaterController.h"

#include <QDialog>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

// The widget a test drives, by object name; a missing one ends the test run loudly.
template <typename T> T* child(QObject* root, const QString& name)
{
    T* found = root->findChild<T*>(name);
    if (!found)
        qFatal("no widget %s", qPrintable(name));
    return found;
}

// Records every dialog and answers it as the test says.
class FakeDialogs final : public Dialogs {
public:
    struct Alert {
        AlertStyle style;
        QString title;
        QString text;
    };
    struct Confirmation {
        QString title;
        QString text;
    };

    void alert(QWidget*, AlertStyle style, const QString& title, const QString& text) override
    {
        alerts.append({style, title, text});
        if (!modalAlerts)
            return;
        // Open for a while like a real message box: its event loop runs the timers that fire
        // meanwhile, and a second alert opened from one of them is counted.
        mostOpenAlerts = std::max(mostOpenAlerts, ++openAlerts);
        QDialog box;
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        QEventLoop loop;
        QTimer::singleShot(250, &loop, &QEventLoop::quit);
        loop.exec();
        --openAlerts;
    }
    bool confirmDelete(QWidget*, const QString& title, const QString& text) override
    {
        confirmations.append({title, text});
        return answerDelete;
    }
    std::optional<QString> saveJsonFile(QWidget*, const QString& suggestedName) override
    {
        suggestedNames.append(suggestedName);
        return savePath;
    }
    std::optional<QString> openJsonFile(QWidget*) override { return openPath; }
    std::optional<ScheduledTask> addTask(QWidget*, TaskStore& store) override
    {
        ++addSheets;
        if (!taskToAdd)
            return std::nullopt;
        store.addTask(*taskToAdd);
        return taskToAdd;
    }
    void editTask(QWidget*, TaskStore&, const ScheduledTask& task) override
    {
        editedTasks.append(task);
    }
    void testRun(QWidget*, const ScheduledTask& task) override { testRuns.append(task); }
    std::optional<QString> chooseFolder(QWidget*) override { return folderChoice; }
    std::optional<QString> chooseFile(QWidget*) override { return fileChoice; }
    std::optional<QString> chooseShortcut(QWidget*) override { return shortcutChoice; }
    std::optional<std::pair<QString, QString>> mailTemplate(QWidget*) override
    {
        return mailChoice;
    }

    QList<Alert> alerts;
    bool modalAlerts = false;
    int openAlerts = 0;
    int mostOpenAlerts = 0;
    QList<Confirmation> confirmations;
    QStringList suggestedNames;
    QList<ScheduledTask> editedTasks;
    QList<ScheduledTask> testRuns;
    std::optional<QString> folderChoice;
    std::optional<QString> fileChoice;
    std::optional<QString> shortcutChoice;
    std::optional<std::pair<QString, QString>> mailChoice;
    int addSheets = 0;
    bool answerDelete = true;
    std::optional<QString> savePath;
    std::optional<QString> openPath;
    std::optional<ScheduledTask> taskToAdd;
};

// A task store over the fakes, saving into a temporary folder.
struct FakeStoreFixture {
    QTemporaryDir dir;
    std::shared_ptr<FakeLaunchdService> launchd = std::make_shared<FakeLaunchdService>();
    std::shared_ptr<FakePmsetService> pmset = std::make_shared<FakePmsetService>();
    std::unique_ptr<TaskStore> store;

    // Operations run in the caller unless the test asks for the application's worker.
    explicit FakeStoreFixture(TaskStore::Execution execution = TaskStore::Execution::inCaller)
    {
        TaskStore::Options options;
        options.execution = execution;
        options.taskFilePath = dir.path() + QStringLiteral("/tasks.json");
        options.logsDirectory = dir.path() + QStringLiteral("/Logs");
        options.launchdService = launchd;
        options.pmsetService = pmset;
        store = std::make_unique<TaskStore>(std::move(options));
        store->waitForScriptUpgrade();
    }
};

// An updater with a feed that cannot check right now.
class FixedUpdater final : public Updater {
public:
    bool canCheckForUpdates() const override { return false; }
    void checkForUpdates() override {}
};

// A global agent as the scanner reports it, optionally with a standard output path.
inline LaunchdJob makeAgentJob(const QString& label, const QStringList& arguments,
                               const QString& outPath = QString())
{
    LaunchdJob job;
    job.id = QStringLiteral("/Library/LaunchAgents/") + label + QStringLiteral(".plist");
    job.url = job.id;
    job.label = label;
    job.source = LaunchdJob::Source::globalAgents;
    job.programArguments = arguments;
    if (!outPath.isEmpty())
        job.standardOutPath = outPath;
    job.raw = {{QStringLiteral("Label"), label}};
    return job;
}

// Shows a window and waits until it is on screen and active, as a user would meet it.
inline bool showActive(QWidget& window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

// The main window over a fake store, for tests that drive the whole window: a test class
// derives from it, calls setUpWindow() in init() and tearDownWindow() in cleanup().
class MainWindowTest : public QObject {
protected:
    ContentView* content() const { return m_window->contentView(); }
    void setUpWindow()
    {
        m_fixture = std::make_unique<FakeStoreFixture>();
        m_updater = std::make_unique<UpdaterController>(std::make_unique<FixedUpdater>());
        m_dialogs = FakeDialogs();
    }
    void tearDownWindow()
    {
        m_window.reset();
        m_updater.reset();
        m_fixture.reset();
    }
    void makeWindow(const QList<ScheduledTask>& tasks = {}, const QList<LaunchdJob>& jobs = {})
    {
        for (const ScheduledTask& task : tasks)
            m_fixture->store->addTask(task);
        m_jobs = jobs;
        m_window = std::make_unique<MainWindow>(*m_fixture->store, *m_updater, m_dialogs,
                                                [this] { return m_jobs; });
        QVERIFY(showActive(*m_window));
    }

    std::unique_ptr<FakeStoreFixture> m_fixture;
    std::unique_ptr<UpdaterController> m_updater;
    FakeDialogs m_dialogs;
    QList<LaunchdJob> m_jobs;
    std::unique_ptr<MainWindow> m_window;
};
