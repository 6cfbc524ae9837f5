#include "ChangeNotification.h"
#include "FakeServices.h"
#include "Result.h"
#include "ResultChecks.h"
#include "TaskBuilder.h"
#include "TaskFile.h"
#include "TaskMigration.h"
#include "TaskStore.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>

namespace {

// What identifies one version of a file on disk: an atomic replace gives a new inode even when
// the bytes are the same.
struct FileStamp {
    bool exists = false;
    QByteArray bytes;
    ino_t inode = 0;
    qint64 modifiedNs = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

FileStamp stampOf(const QString& path)
{
    FileStamp stamp;
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return stamp;
    stamp.exists = true;
    stamp.bytes = TestSupport::readFile(path);
    stamp.inode = info.st_ino;
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return stamp;
}

const QString wakeRefused = QStringLiteral("pmset failed: User canceled.");
const QString loadRefused = QStringLiteral("launchctl load failed (exit code 5)");
const QString unloadRefused = QStringLiteral("launchctl unload failed (exit code 3)");

// A private home, fakes that record every call in one list, and the store under test.
class Fixture {
public:
    TestHome home;
    std::shared_ptr<CallRecorder> recorder = std::make_shared<CallRecorder>();
    std::shared_ptr<FakeLaunchdService> launchd = std::make_shared<FakeLaunchdService>(recorder);
    std::unique_ptr<TaskStore> store;

    // Writes `initial` as the task file (when not empty), creates the store, and forgets the
    // calls construction made, so a test sees only what its own operation does.
    TaskStore& start(const QList<ScheduledTask>& initial = {}, bool startEmpty = false)
    {
        if (!initial.isEmpty())
            writeTaskFile(initial);
        TaskStore::Options options;
        options.launchdService = launchd;
        options.pmsetService = std::make_shared<FakePmsetService>(recorder);
        options.startEmpty = startEmpty;
        store = std::make_unique<TaskStore>(options);
        store->waitForScriptUpgrade();
        return *store;
    }
    TaskStore& startFresh(const QList<ScheduledTask>& initial = {})
    {
        TaskStore& started = start(initial);
        recorder->calls.clear();
        return started;
    }

    QString taskFile() const { return home.taskFile(); }
    void writeTaskFile(const QList<ScheduledTask>& tasks) const
    {
        QDir().mkpath(home.dataFolder());
        VERIFY_OK(TaskFile::write(taskFile(), tasks));
    }
    QList<ScheduledTask> savedTasks() const { return TaskFile::read(taskFile()).tasks; }
    const ScheduledTask& named(const QString& name) const
    {
        for (const ScheduledTask& task : store->tasks()) {
            if (task.name == name)
                return task;
        }
        qFatal("no task named %s", qPrintable(name));
    }
    void failWakes(const QStringList& names)
    {
        recorder->failingWakes = QSet<QString>(names.begin(), names.end());
    }
    void failInstalls(const QStringList& names)
    {
        recorder->failingInstalls = QSet<QString>(names.begin(), names.end());
    }
    void failUninstalls(const QStringList& names)
    {
        recorder->failingUninstalls = QSet<QString>(names.begin(), names.end());
    }
};

// Imports with a store whose operations run in the caller: the counts are there on return.
Result<TaskStore::ImportCounts> importNow(TaskStore& store, const QByteArray& data)
{
    std::optional<Result<TaskStore::ImportCounts>> result;
    store.importTasks(data,
                      [&result](const Result<TaskStore::ImportCounts>& done) { result = done; });
    if (!result)
        qFatal("the import did not finish in the caller");
    return *result;
}

QString helperPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/store_test_helper");
}

} // namespace

class TestTaskStore final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Construction and loading
    void startsEmptyWithoutTaskFile();
    void loadsTasksAndSweepsOthers();
    void undecodableFileAtStart_data();
    void undecodableFileAtStart();
    void startEmptyDeletesFile();
    void scriptUpgrade_data();
    void scriptUpgrade();
    void operationsDuringUpgrade_data();
    void operationsDuringUpgrade();
    void reload_data();
    void reload();
    void defaultServicesSweepAndUpgradeRealFiles();

    // Operations
    void addTask_data();
    void addTask();
    void updateTask_data();
    void updateTask();
    void setEnabled_data();
    void setEnabled();
    void deleteTasks_data();
    void deleteTasks();
    void duplicateTask();
    void importTasks_data();
    void importTasks();
    void importUndecodableDataChangesNothing();
    void shortIdTwinIsNeverEnabled_data();
    void shortIdTwinIsNeverEnabled();
    void syncWakeSchedules_data();
    void syncWakeSchedules();
    void operationsOnUnknownIdsSaveNothing_data();
    void operationsOnUnknownIdsSaveNothing();
    void changedSignal();

    // Saving
    void saveWritesPrivateFileInPrivateFolder();
    void saveFailureKeepsChangeInMemory_data();
    void saveFailureKeepsChangeInMemory();
    void unreadableFileIsKeptBeforeFirstSave();
    void saveWaitsForLockHeldByAnotherProcess();
    void operationsKeepOtherWritersChanges_data();
    void operationsKeepOtherWritersChanges();
    void lockObstaclesAreReportedAtOnce_data();
    void lockObstaclesAreReportedAtOnce();

    // Reload on notification
    void reloadRunsAfterDeliveryAndCoalesces();
    void pendingReloadIsDroppedWithStore();
    void reloadsOnNotificationFromAnotherProcess();

    // Logs and run history
    void readsLogTailsAndRunHistory();

    // Views are told what changed; the application's operations run on the worker
    void fineGrainedSignals_data();
    void fineGrainedSignals();
    void workerRunsOperationsInOrderBesideTheCaller();
};

void TestTaskStore::startsEmptyWithoutTaskFile()
{
    Fixture f;
    TaskStore& store = f.start();
    QVERIFY(store.tasks().isEmpty());
    QVERIFY(!store.lastError());
    QVERIFY(!store.lastWarning());
    QCOMPARE(f.recorder->calls, QStringList{QStringLiteral("sweep")});
    QVERIFY(f.recorder->lastKept.isEmpty());
    // Loading never writes the file.
    QVERIFY(!QFile::exists(f.taskFile()));
    QCOMPARE(store.taskFilePath(), f.taskFile());
    QCOMPARE(store.agentPaths().logDir, f.home.dataFolder() + QStringLiteral("/Logs"));
    QCOMPARE(QFile::permissions(f.home.dataFolder()) &
                 ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestTaskStore::loadsTasksAndSweepsOthers()
{
    Fixture f;
    const QList<ScheduledTask> tasks =
        makeTasks({QStringLiteral("A:daily:"), QStringLiteral("B:weekly:")});
    f.writeTaskFile(tasks);
    const FileStamp before = stampOf(f.taskFile());
    TaskStore& store = f.start();
    QCOMPARE(store.tasks(), tasks);
    QCOMPARE(f.recorder->calls, QStringList{QStringLiteral("sweep")});
    QCOMPARE(f.recorder->lastKept, (QSet<QUuid>{tasks.at(0).id, tasks.at(1).id}));
    QCOMPARE(stampOf(f.taskFile()), before);
    QVERIFY(store.task(tasks.at(1).id));
    QCOMPARE(store.task(tasks.at(1).id)->name, QStringLiteral("B"));
    QVERIFY(!store.task(QUuid::createUuid()));
}

void TestTaskStore::undecodableFileAtStart_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expectedError"); // empty: only the prefix is checked

    QTest::newRow("syntax error") << QByteArray("{\"version\": 2, \"tasks\": [") << QString();
    QTest::newRow("version 0") << QByteArray(R"({"version": 0, "tasks": []})")
                               << QStringLiteral(
                                      "Failed to load tasks: Unknown tasks.json version: 0");
    QTest::newRow("no envelope") << QByteArray("{}")
                                 << QStringLiteral(
                                        "Failed to load tasks: Unrecognized tasks.json format");
    QTest::newRow("one task without name")
        << QByteArray(
               R"({"version": 2, "tasks": [{"id": "3F2A9C1D-0000-4000-8000-000000000001"}]})")
        << QString();
}

// An undecodable file costs nothing: the list stays empty, no agent is swept, the file stays.
void TestTaskStore::undecodableFileAtStart()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expectedError);
    Fixture f;
    TestSupport::writeFile(f.taskFile(), content);
    const FileStamp before = stampOf(f.taskFile());
    TaskStore& store = f.start();
    QVERIFY(store.tasks().isEmpty());
    QVERIFY(store.lastError());
    QVERIFY2(store.lastError()->startsWith(QStringLiteral("Failed to load tasks: ")),
             qPrintable(*store.lastError()));
    QVERIFY(store.lastError()->size() > QStringLiteral("Failed to load tasks: ").size());
    if (!expectedError.isEmpty())
        QCOMPARE(*store.lastError(), expectedError);
    QVERIFY(!f.recorder->calls.contains(QStringLiteral("sweep")));
    QCOMPARE(stampOf(f.taskFile()), before);
}

void TestTaskStore::startEmptyDeletesFile()
{
    Fixture f;
    f.writeTaskFile(makeTasks({QStringLiteral("A:daily:e")}));
    TaskStore& store = f.start({}, true);
    QVERIFY(store.tasks().isEmpty());
    QVERIFY(!QFile::exists(f.taskFile()));
    // With the list reset, the old agents are orphans and go.
    QCOMPARE(f.recorder->calls, QStringList{QStringLiteral("sweep")});
    QVERIFY(f.recorder->lastKept.isEmpty());
}

void TestTaskStore::scriptUpgrade_data()
{
    QTest::addColumn<QString>("scriptFile"); // from the test data; empty: no script on disk
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("reinstalled");

    QTest::newRow("current marker") << QStringLiteral("script-v6.sh") << true << false;
    QTest::newRow("version 5 marker") << QStringLiteral("script-v5.sh") << true << true;
    QTest::newRow("version 4 marker") << QStringLiteral("script-v4.sh") << true << true;
    QTest::newRow("version 3 marker") << QStringLiteral("script-v3.sh") << true << true;
    QTest::newRow("version 2 marker") << QStringLiteral("script-v2.sh") << true << true;
    QTest::newRow("no marker") << QStringLiteral("script-unmarked.sh") << true << true;
    QTest::newRow("script missing") << QString() << true << true;
    QTest::newRow("disabled, version 2") << QStringLiteral("script-v2.sh") << false << false;
    QTest::newRow("disabled, missing") << QString() << false << false;
}

// Checked at start and again on every reload; the fake install leaves the old script, so a
// reload upgrades again.
void TestTaskStore::scriptUpgrade()
{
    QFETCH(QString, scriptFile);
    QFETCH(bool, enabled);
    QFETCH(bool, reinstalled);
    Fixture f;
    ScheduledTask task = describedTask(QStringLiteral("Backup:daily:e"));
    task.isEnabled = enabled;
    const ScheduledTask current = describedTask(QStringLiteral("Current:daily:e"));
    if (!scriptFile.isEmpty()) {
        TestSupport::writeScript(
            AgentPaths().scriptPath(task),
            TestSupport::readFile(TestSupport::dataPath(QStringLiteral("store/") + scriptFile)));
    }
    TestSupport::writeScript(
        AgentPaths().scriptPath(current),
        TestSupport::readFile(TestSupport::dataPath(QStringLiteral("store/script-v6.sh"))));
    f.writeTaskFile({task, current});
    const FileStamp before = stampOf(f.taskFile());

    QStringList expected{QStringLiteral("sweep")};
    if (reinstalled)
        expected << QStringLiteral("install Backup");
    TaskStore& store = f.start();
    QCOMPARE(f.recorder->calls, expected);
    f.recorder->calls.clear();
    store.loadTasks();
    store.waitForScriptUpgrade();
    QCOMPARE(f.recorder->calls, expected);
    QVERIFY(!store.lastError());
    QCOMPARE(stampOf(f.taskFile()), before);
}

void TestTaskStore::operationsDuringUpgrade_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("expectedNames");
    QTest::addColumn<QStringList>("callsAfterUpgrade");

    QTest::newRow("add") << QStringLiteral("add")
                         << QStringList{QStringLiteral("Stale"), QStringLiteral("Other"),
                                        QStringLiteral("New")}
                         << QStringList{QStringLiteral("install New")};
    QTest::newRow("edit the task being upgraded")
        << QStringLiteral("edit") << QStringList{QStringLiteral("Renamed"), QStringLiteral("Other")}
        << QStringList{QStringLiteral("uninstall Renamed"), QStringLiteral("install Renamed")};
    QTest::newRow("delete the task being upgraded")
        << QStringLiteral("delete") << QStringList{QStringLiteral("Other")}
        << QStringList{QStringLiteral("uninstall Stale")};
    QTest::newRow("disable the task being upgraded")
        << QStringLiteral("disable")
        << QStringList{QStringLiteral("Stale"), QStringLiteral("Other")}
        << QStringList{QStringLiteral("uninstall Stale")};
    QTest::newRow("import") << QStringLiteral("import")
                            << QStringList{QStringLiteral("Stale"), QStringLiteral("Other"),
                                           QStringLiteral("New")}
                            << QStringList{QStringLiteral("install New")};
}

// The pass runs after the store is made, while the window is up; what the user does meanwhile
// waits for it and is then kept, in order, in the list and the file.
void TestTaskStore::operationsDuringUpgrade()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, expectedNames);
    QFETCH(QStringList, callsAfterUpgrade);
    Fixture f;
    const ScheduledTask stale = describedTask(QStringLiteral("Stale:daily:e")); // no script: stale
    const ScheduledTask other = describedTask(QStringLiteral("Other:daily:"));
    f.writeTaskFile({stale, other});

    std::atomic<bool> blockNext = true;
    QSemaphore entered;
    QSemaphore release;
    f.recorder->duringInstall = [&](const ScheduledTask&) {
        if (blockNext.exchange(false)) {
            entered.release();
            release.acquire();
        }
    };
    TaskStore::Options options;
    options.launchdService = f.launchd;
    options.pmsetService = std::make_shared<FakePmsetService>(f.recorder);
    TaskStore store(options);
    // A failed check must not leave the pass blocked: the store's end waits for it.
    auto unblock = qScopeGuard([&release] { release.release(); });
    // The constructor returned with the upgrade still held inside the service.
    QVERIFY(entered.tryAcquire(1, 5000));
    QVERIFY(store.isUpgradingScripts());
    QTRY_COMPARE(store.upgradingScriptCount(), 1);

    QTimer::singleShot(50, [&release] { release.release(); });
    const ScheduledTask added = describedTask(QStringLiteral("New:daily:e"));
    if (operation == QStringLiteral("add")) {
        store.addTask(added);
    } else if (operation == QStringLiteral("edit")) {
        ScheduledTask renamed = stale;
        renamed.name = QStringLiteral("Renamed");
        store.updateTask(renamed);
    } else if (operation == QStringLiteral("delete")) {
        store.deleteTask(stale);
    } else if (operation == QStringLiteral("disable")) {
        store.setEnabled(false, stale.id);
    } else {
        QVERIFY(importNow(store, TaskMigration::encodeTasks({added})));
    }

    QVERIFY(!store.isUpgradingScripts());
    QCOMPARE(store.upgradingScriptCount(), 0);
    QCOMPARE(f.recorder->calls,
             QStringList({QStringLiteral("sweep"), QStringLiteral("install Stale")}) +
                 callsAfterUpgrade);
    QCOMPARE(namesOf(store.tasks()), expectedNames);
    const TaskFile::ReadResult file = TaskFile::read(f.taskFile());
    QCOMPARE(namesOf(file.tasks), expectedNames);
    if (operation == QStringLiteral("disable"))
        QVERIFY(!store.tasks().first().isEnabled);
    QVERIFY(!store.lastError());
}

void TestTaskStore::reload_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("expectedNames");
    QTest::addColumn<bool>("swept");
    QTest::addColumn<bool>("failed");

    QTest::newRow("file deleted keeps list")
        << QStringLiteral("delete") << QStringList{QStringLiteral("A"), QStringLiteral("B")} << true
        << false;
    QTest::newRow("file undecodable keeps list, no sweep")
        << QStringLiteral("corrupt") << QStringList{QStringLiteral("A"), QStringLiteral("B")}
        << false << true;
    QTest::newRow("file replaced by another writer")
        << QStringLiteral("replace") << QStringList{QStringLiteral("C")} << true << false;
}

void TestTaskStore::reload()
{
    QFETCH(QString, action);
    QFETCH(QStringList, expectedNames);
    QFETCH(bool, swept);
    QFETCH(bool, failed);
    Fixture f;
    TaskStore& store =
        f.startFresh(makeTasks({QStringLiteral("A:daily:"), QStringLiteral("B:daily:")}));
    QSignalSpy changed(&store, &TaskStore::changed);
    QList<ScheduledTask> replacement = makeTasks({QStringLiteral("C:daily:")});
    if (action == QStringLiteral("delete"))
        QVERIFY(QFile::remove(f.taskFile()));
    else if (action == QStringLiteral("corrupt"))
        TestSupport::writeFile(f.taskFile(), "[{]");
    else
        f.writeTaskFile(replacement);

    store.loadTasks();
    QCOMPARE(namesOf(store.tasks()), expectedNames);
    QCOMPARE(f.recorder->calls.contains(QStringLiteral("sweep")), swept);
    if (swept) {
        QSet<QUuid> ids;
        for (const ScheduledTask& task : store.tasks())
            ids << task.id;
        QCOMPARE(f.recorder->lastKept, ids);
    }
    QCOMPARE(bool(store.lastError()), failed);
    // The list or the error changed: views hear of it once; a deleted file changes nothing.
    QCOMPARE(changed.count(), action == QStringLiteral("delete") ? 0 : 1);
}

// With no services given, the store sweeps and upgrades the real files in the user's folders.
void TestTaskStore::defaultServicesSweepAndUpgradeRealFiles()
{
    TestHome home;
    const QString launchctlLog = home.path() + QStringLiteral("/launchctl.log");
    const QString fakeLaunchctl = home.path() + QStringLiteral("/launchctl");
    TestSupport::writeScript(fakeLaunchctl,
                             "#!/bin/sh\necho \"$*\" >> '" + launchctlLog.toUtf8() + "'\n");
    const QByteArray savedLaunchctl = qgetenv("BRENMOR_OPS_LAUNCHCTL");
    qputenv("BRENMOR_OPS_LAUNCHCTL", fakeLaunchctl.toUtf8());
    auto restore = qScopeGuard([&] {
        if (savedLaunchctl.isEmpty())
            qunsetenv("BRENMOR_OPS_LAUNCHCTL");
        else
            qputenv("BRENMOR_OPS_LAUNCHCTL", savedLaunchctl);
    });

    const ScheduledTask kept = describedTask(QStringLiteral("Kept:daily:e"));
    const QString orphanPlist = home.launchAgents() + QStringLiteral("/com.brenmor-ops.task.") +
                                QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                                QStringLiteral(".plist");
    TestSupport::writeFile(orphanPlist, "<plist/>");
    QDir().mkpath(home.dataFolder());
    VERIFY_OK(TaskFile::write(home.taskFile(), {kept}));

    TaskStore store;
    store.waitForScriptUpgrade();
    QCOMPARE(store.taskFilePath(), home.taskFile());
    QCOMPARE(store.agentPaths().logDir, home.dataFolder() + QStringLiteral("/Logs"));
    QCOMPARE(store.tasks(), QList<ScheduledTask>{kept});
    QVERIFY(!QFile::exists(orphanPlist));
    const QString keptPlist = store.agentPaths().plistPath(kept);
    QCOMPARE(TestSupport::readFile(launchctlLog),
             "unload " + orphanPlist.toUtf8() + "\nlist\nload " + keptPlist.toUtf8() + "\n");
    QVERIFY(TestSupport::readFile(store.agentPaths().scriptPath(kept))
                .contains("# BrenmorOps script v6\n"));
}

void TestTaskStore::addTask_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<QStringList>("failingWakes");
    QTest::addColumn<QStringList>("failingInstalls");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<bool>("storedEnabled");
    QTest::addColumn<QString>("expectedError");

    const QStringList none;
    QTest::newRow("enabled") << QStringLiteral("Backup:daily:e") << none << none
                             << QStringList{QStringLiteral("install Backup")} << true << QString();
    QTest::newRow("disabled") << QStringLiteral("Backup:daily:") << none << none << none << false
                              << QString();
    QTest::newRow("disabled wake task registers nothing")
        << QStringLiteral("Backup:daily:w") << none << none << none << false << QString();
    QTest::newRow("wake registered before install")
        << QStringLiteral("Backup:daily:ew") << none << none
        << QStringList{QStringLiteral("wake Backup"), QStringLiteral("install Backup")} << true
        << QString();
    QTest::newRow("refused wake leaves task disabled, not installed")
        << QStringLiteral("Backup:daily:ew") << QStringList{QStringLiteral("Backup")} << none
        << QStringList{QStringLiteral("wake Backup")} << false << wakeRefused;
    QTest::newRow("interval wake task gets no wake event")
        << QStringLiteral("Backup:interval:ew") << none << none
        << QStringList{QStringLiteral("install Backup")} << true << QString();
    QTest::newRow("install failure keeps task enabled")
        << QStringLiteral("Backup:daily:e") << none << QStringList{QStringLiteral("Backup")}
        << QStringList{QStringLiteral("install Backup")} << true << loadRefused;
}

void TestTaskStore::addTask()
{
    QFETCH(QString, descriptor);
    QFETCH(QStringList, failingWakes);
    QFETCH(QStringList, failingInstalls);
    QFETCH(QStringList, expectedCalls);
    QFETCH(bool, storedEnabled);
    QFETCH(QString, expectedError);
    Fixture f;
    TaskStore& store = f.startFresh();
    f.failWakes(failingWakes);
    f.failInstalls(failingInstalls);
    const ScheduledTask task = describedTask(descriptor);

    store.addTask(task);
    QCOMPARE(f.recorder->calls, expectedCalls);
    QCOMPARE(store.tasks().size(), 1);
    ScheduledTask expected = task;
    expected.isEnabled = storedEnabled;
    QCOMPARE(store.tasks().constFirst(), expected);
    QCOMPARE(store.lastError().value_or(QString()), expectedError);
    QCOMPARE(f.savedTasks(), store.tasks());
}

void TestTaskStore::updateTask_data()
{
    QTest::addColumn<QString>("oldDescriptor");
    QTest::addColumn<QString>("newDescriptor"); // same identifier as the old task
    QTest::addColumn<QStringList>("failingWakes");
    QTest::addColumn<QStringList>("failingInstalls");
    QTest::addColumn<QStringList>("failingUninstalls");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<bool>("storedWake");
    QTest::addColumn<QString>("expectedError");

    // Report (monthly, enabled, wake) follows Backup in the list, so every wake resync shows
    // up as "wake Report".
    const QStringList none;
    const QString install = QStringLiteral("install Backup");
    const QString uninstall = QStringLiteral("uninstall Backup");
    const QString wakeBackup = QStringLiteral("wake Backup");
    const QString wakeReport = QStringLiteral("wake Report");
    const QString cancelRepeating = QStringLiteral("cancel repeating wake");
    QTest::newRow("name only: reinstall, wake untouched")
        << QStringLiteral("Backup:daily:ew") << QStringLiteral("Nightly:daily:ew") << none << none
        << none
        << QStringList{QStringLiteral("uninstall Nightly"), QStringLiteral("install Nightly")}
        << true << QString();
    QTest::newRow("schedule change registers wake before reinstall")
        << QStringLiteral("Backup:daily:ew") << QStringLiteral("Backup:weekly:ew") << none << none
        << none << QStringList{wakeBackup, wakeReport, uninstall, install} << true << QString();
    QTest::newRow("wake newly wanted registers first")
        << QStringLiteral("Backup:daily:e") << QStringLiteral("Backup:daily:ew") << none << none
        << none << QStringList{wakeBackup, wakeReport, uninstall, install} << true << QString();
    QTest::newRow("refused wake: reinstalled without wake")
        << QStringLiteral("Backup:daily:e") << QStringLiteral("Backup:daily:ew")
        << QStringList{QStringLiteral("Backup")} << none << none
        << QStringList{wakeBackup, uninstall, install} << false << wakeRefused;
    QTest::newRow("refused wake on a task being enabled: installed, nothing to uninstall")
        << QStringLiteral("Backup:daily:") << QStringLiteral("Backup:daily:ew")
        << QStringList{QStringLiteral("Backup")} << none << none << QStringList{wakeBackup, install}
        << false << wakeRefused;
    QTest::newRow("wake turned off: reinstall then resync")
        << QStringLiteral("Backup:daily:ew") << QStringLiteral("Backup:daily:e") << none << none
        << none << QStringList{uninstall, install, cancelRepeating, wakeReport} << false
        << QString();
    QTest::newRow("failed resync after turning wake off is reported")
        << QStringLiteral("Backup:daily:ew") << QStringLiteral("Backup:daily:e")
        << QStringList{QStringLiteral("Report")} << none << none
        << QStringList{uninstall, install, cancelRepeating, wakeReport} << false << wakeRefused;
    QTest::newRow("monthly wake task moved to a daily schedule: its one-time event goes")
        << QStringLiteral("Backup:monthly:ew") << QStringLiteral("Backup:daily:ew") << none << none
        << none
        << QStringList{QStringLiteral("cancel wake Backup"), wakeBackup, wakeReport, uninstall,
                       install}
        << true << QString();
    QTest::newRow("monthly wake task disabled by the update: its one-time event goes")
        << QStringLiteral("Backup:monthly:ew") << QStringLiteral("Backup:monthly:w") << none << none
        << none << QStringList{uninstall, QStringLiteral("cancel wake Backup"), wakeReport} << true
        << QString();
    QTest::newRow("disabled wake task with new schedule: resync only")
        << QStringLiteral("Backup:daily:w") << QStringLiteral("Backup:weekly:w") << none << none
        << none << QStringList{wakeReport} << true << QString();
    QTest::newRow("no wake, schedule change: reinstall only")
        << QStringLiteral("Backup:daily:e") << QStringLiteral("Backup:weekly:e") << none << none
        << none << QStringList{uninstall, install} << false << QString();
    QTest::newRow("enabled by the update: install only")
        << QStringLiteral("Backup:daily:") << QStringLiteral("Backup:daily:e") << none << none
        << none << QStringList{install} << false << QString();
    QTest::newRow("disabled by the update: uninstall only")
        << QStringLiteral("Backup:daily:e") << QStringLiteral("Backup:daily:") << none << none
        << none << QStringList{uninstall} << false << QString();
    QTest::newRow("install failure reported")
        << QStringLiteral("Backup:daily:e") << QStringLiteral("Backup:weekly:e") << none
        << QStringList{QStringLiteral("Backup")} << none << QStringList{uninstall, install} << false
        << loadRefused;
    QTest::newRow("uninstall failure reported, install still runs")
        << QStringLiteral("Backup:daily:e") << QStringLiteral("Backup:weekly:e") << none << none
        << QStringList{QStringLiteral("Backup")} << QStringList{uninstall, install} << false
        << unloadRefused;
    QTest::newRow("later failure overwrites earlier")
        << QStringLiteral("Backup:daily:e") << QStringLiteral("Backup:weekly:e") << none
        << QStringList{QStringLiteral("Backup")} << QStringList{QStringLiteral("Backup")}
        << QStringList{uninstall, install} << false << loadRefused;
}

void TestTaskStore::updateTask()
{
    QFETCH(QString, oldDescriptor);
    QFETCH(QString, newDescriptor);
    QFETCH(QStringList, failingWakes);
    QFETCH(QStringList, failingInstalls);
    QFETCH(QStringList, failingUninstalls);
    QFETCH(QStringList, expectedCalls);
    QFETCH(bool, storedWake);
    QFETCH(QString, expectedError);
    Fixture f;
    const ScheduledTask old = describedTask(oldDescriptor);
    const ScheduledTask report = describedTask(QStringLiteral("Report:monthly:ew"));
    TaskStore& store = f.startFresh({old, report});
    f.failWakes(failingWakes);
    f.failInstalls(failingInstalls);
    f.failUninstalls(failingUninstalls);
    ScheduledTask changed = describedTask(newDescriptor);
    changed.id = old.id;

    store.updateTask(changed);
    QCOMPARE(f.recorder->calls, expectedCalls);
    ScheduledTask expected = changed;
    expected.wakeBeforeRun = storedWake;
    QCOMPARE(store.tasks(), (QList<ScheduledTask>{expected, report}));
    QCOMPARE(store.lastError().value_or(QString()), expectedError);
    QCOMPARE(f.savedTasks(), store.tasks());
}

void TestTaskStore::setEnabled_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<bool>("withReport"); // an enabled monthly wake task after it
    QTest::addColumn<bool>("enable");
    QTest::addColumn<QStringList>("failingWakes");
    QTest::addColumn<QStringList>("failingInstalls");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<bool>("storedEnabled");
    QTest::addColumn<QString>("expectedError");

    const QStringList none;
    QTest::newRow("enable") << QStringLiteral("Backup:daily:") << true << true << none << none
                            << QStringList{QStringLiteral("install Backup")} << true << QString();
    QTest::newRow("enable wake task registers wake first")
        << QStringLiteral("Backup:daily:w") << true << true << none << none
        << QStringList{QStringLiteral("wake Backup"), QStringLiteral("wake Report"),
                       QStringLiteral("install Backup")}
        << true << QString();
    QTest::newRow("refused wake keeps task disabled")
        << QStringLiteral("Backup:daily:w") << true << true << QStringList{QStringLiteral("Backup")}
        << none << QStringList{QStringLiteral("wake Backup")} << false << wakeRefused;
    QTest::newRow("disable without wake does not resync")
        << QStringLiteral("Backup:daily:e") << true << false << none << none
        << QStringList{QStringLiteral("uninstall Backup")} << false << QString();
    QTest::newRow("disable wake task resyncs after uninstall")
        << QStringLiteral("Backup:daily:ew") << true << false << none << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("cancel repeating wake"),
                       QStringLiteral("wake Report")}
        << false << QString();
    QTest::newRow("disable last wake task cancels its repeating event")
        << QStringLiteral("Backup:daily:ew") << false << false << none << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("cancel repeating wake")}
        << false << QString();
    QTest::newRow("disable monthly wake task cancels its one-time event")
        << QStringLiteral("Backup:monthly:ew") << false << false << none << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("cancel wake Backup")}
        << false << QString();
    QTest::newRow("disable repeating wake task, a refused cancel is reported")
        << QStringLiteral("Backup:daily:ew") << false << false
        << QStringList{QStringLiteral("cancel")} << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("cancel repeating wake")}
        << false << wakeRefused;
    QTest::newRow("install failure keeps task enabled")
        << QStringLiteral("Backup:daily:") << true << true << none
        << QStringList{QStringLiteral("Backup")} << QStringList{QStringLiteral("install Backup")}
        << true << loadRefused;
}

void TestTaskStore::setEnabled()
{
    QFETCH(QString, descriptor);
    QFETCH(bool, withReport);
    QFETCH(bool, enable);
    QFETCH(QStringList, failingWakes);
    QFETCH(QStringList, failingInstalls);
    QFETCH(QStringList, expectedCalls);
    QFETCH(bool, storedEnabled);
    QFETCH(QString, expectedError);
    Fixture f;
    QList<ScheduledTask> initial{describedTask(descriptor)};
    if (withReport)
        initial << describedTask(QStringLiteral("Report:monthly:ew"));
    TaskStore& store = f.startFresh(initial);
    f.failWakes(failingWakes);
    f.recorder->cancelsFail = failingWakes.contains(QStringLiteral("cancel"));
    f.failInstalls(failingInstalls);

    store.setEnabled(enable, initial.constFirst().id);
    QCOMPARE(f.recorder->calls, expectedCalls);
    QCOMPARE(store.tasks().constFirst().isEnabled, storedEnabled);
    QCOMPARE(store.lastError().value_or(QString()), expectedError);
    QCOMPARE(f.savedTasks(), store.tasks());
}

void TestTaskStore::deleteTasks_data()
{
    QTest::addColumn<QStringList>("names"); // "Ghost" is an identifier not in the list
    QTest::addColumn<bool>("single");       // deleteTask instead of deleteTasks
    QTest::addColumn<QStringList>("failingUninstalls");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<QString>("expectedError");

    const QStringList none;
    // The list is Backup (daily wake), Plain (no wake), Report (monthly wake).
    QTest::newRow("set without wake task does not resync")
        << QStringList{QStringLiteral("Plain")} << false << none
        << QStringList{QStringLiteral("uninstall Plain")}
        << QStringList{QStringLiteral("Backup"), QStringLiteral("Report")} << QString();
    QTest::newRow("set with one wake task resyncs once, in list order")
        << QStringList{QStringLiteral("Plain"), QStringLiteral("Backup")} << false << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("uninstall Plain"),
                       QStringLiteral("cancel repeating wake"), QStringLiteral("wake Report")}
        << QStringList{QStringLiteral("Report")} << QString();
    QTest::newRow("both wake tasks: their events are cancelled")
        << QStringList{QStringLiteral("Report"), QStringLiteral("Backup")} << false << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("uninstall Report"),
                       QStringLiteral("cancel repeating wake"),
                       QStringLiteral("cancel wake Report")}
        << QStringList{QStringLiteral("Plain")} << QString();
    QTest::newRow("unknown identifier removes nothing")
        << QStringList{QStringLiteral("Ghost")} << false << none << none
        << QStringList{QStringLiteral("Backup"), QStringLiteral("Plain"), QStringLiteral("Report")}
        << QString();
    QTest::newRow("failed uninstall still removes")
        << QStringList{QStringLiteral("Plain")} << false << QStringList{QStringLiteral("Plain")}
        << QStringList{QStringLiteral("uninstall Plain")}
        << QStringList{QStringLiteral("Backup"), QStringLiteral("Report")} << unloadRefused;
    QTest::newRow("deleteTask wake task resyncs")
        << QStringList{QStringLiteral("Backup")} << true << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("cancel repeating wake"),
                       QStringLiteral("wake Report")}
        << QStringList{QStringLiteral("Plain"), QStringLiteral("Report")} << QString();
    QTest::newRow("deleteTask without wake does not resync")
        << QStringList{QStringLiteral("Plain")} << true << none
        << QStringList{QStringLiteral("uninstall Plain")}
        << QStringList{QStringLiteral("Backup"), QStringLiteral("Report")} << QString();
    QTest::newRow("deleteTask failed uninstall still removes")
        << QStringList{QStringLiteral("Report")} << true << QStringList{QStringLiteral("Report")}
        << QStringList{QStringLiteral("uninstall Report"), QStringLiteral("cancel wake Report"),
                       QStringLiteral("wake Backup")}
        << QStringList{QStringLiteral("Backup"), QStringLiteral("Plain")} << unloadRefused;
}

void TestTaskStore::deleteTasks()
{
    QFETCH(QStringList, names);
    QFETCH(bool, single);
    QFETCH(QStringList, failingUninstalls);
    QFETCH(QStringList, expectedCalls);
    QFETCH(QStringList, remaining);
    QFETCH(QString, expectedError);
    Fixture f;
    TaskStore& store =
        f.startFresh(makeTasks({QStringLiteral("Backup:daily:ew"), QStringLiteral("Plain:daily:e"),
                                QStringLiteral("Report:monthly:ew")}));
    f.failUninstalls(failingUninstalls);
    const FileStamp before = stampOf(f.taskFile());
    QSet<QUuid> ids;
    for (const QString& name : names)
        ids << (name == QStringLiteral("Ghost") ? QUuid::createUuid() : f.named(name).id);

    if (single)
        store.deleteTask(f.named(names.constFirst()));
    else
        store.deleteTasks(ids);
    QCOMPARE(f.recorder->calls, expectedCalls);
    QCOMPARE(namesOf(store.tasks()), remaining);
    QCOMPARE(store.lastError().value_or(QString()), expectedError);
    QCOMPARE(f.savedTasks(), store.tasks());
    QVERIFY(stampOf(f.taskFile()) != before);
}

void TestTaskStore::duplicateTask()
{
    Fixture f;
    ScheduledTask backup = describedTask(QStringLiteral("Backup:weekly:ew"));
    backup.workingDirectory = QStringLiteral("/srv/data");
    backup.envFilePath = QStringLiteral("/srv/env");
    backup.useLoginShell = true;
    backup.logs << TaskLog{QUuid::createUuid(),
                           TaskLog::timestampOf(QDateTime::currentDateTimeUtc()), 0,
                           QStringLiteral("ok")};
    const ScheduledTask other = describedTask(QStringLiteral("Other:daily:"));
    TaskStore& store = f.startFresh({backup, other});

    const ScheduledTask copy = store.duplicateTask(backup);
    QCOMPARE(copy.name, QStringLiteral("Backup (copy)"));
    QVERIFY(!copy.id.isNull());
    QVERIFY(copy.id != backup.id);
    QVERIFY(!copy.isEnabled);
    QVERIFY(copy.logs.isEmpty());
    ScheduledTask expected = backup;
    expected.id = copy.id;
    expected.name = copy.name;
    expected.isEnabled = false;
    expected.logs.clear();
    QCOMPARE(copy, expected);
    QCOMPARE(store.tasks(), (QList<ScheduledTask>{backup, other, copy}));
    // Disabled: neither installed nor given a wake event.
    QVERIFY(f.recorder->calls.isEmpty());
    QCOMPARE(f.savedTasks(), store.tasks());
}

void TestTaskStore::shortIdTwinIsNeverEnabled_data()
{
    QTest::addColumn<bool>("byImport"); // else the twin is listed, disabled, and enabled
    QTest::addColumn<bool>("twinEnabled");
    QTest::newRow("enabling a listed twin") << false << false;
    QTest::newRow("importing an enabled twin") << true << true;
    QTest::newRow("importing a disabled twin") << true << false;
}

// Two tasks whose identifiers share their first eight hex digits would share one script, log
// and history: the later one is never enabled, and the error names both.
void TestTaskStore::shortIdTwinIsNeverEnabled()
{
    QFETCH(bool, byImport);
    QFETCH(bool, twinEnabled);
    Fixture f;
    ScheduledTask first = describedTask(QStringLiteral("First:daily:e"));
    first.id = QUuid(QStringLiteral("{aaaaaaaa-0000-4000-8000-000000000001}"));
    ScheduledTask twin = describedTask(QStringLiteral("Twin:daily:"));
    twin.id = QUuid(QStringLiteral("{aaaaaaaa-1111-4000-8000-000000000002}"));
    twin.isEnabled = twinEnabled;
    TaskStore& store =
        f.startFresh(byImport ? QList<ScheduledTask>{first} : QList<ScheduledTask>{first, twin});
    f.recorder->calls.clear();
    if (byImport) {
        const auto result = importNow(store, TaskMigration::encodeTasks({twin}));
        QVERIFY(result.ok());
        QCOMPARE(result->imported, 0);
        QCOMPARE(result->skipped, 1);
        QCOMPARE(store.tasks(), QList<ScheduledTask>{first});
    } else {
        store.setEnabled(true, twin.id);
        QVERIFY(!store.tasks().at(1).isEnabled);
    }
    QCOMPARE(f.recorder->calls, QStringList());
    QCOMPARE(f.savedTasks(), store.tasks());
    QCOMPARE(store.lastError().value_or(QString()),
             QStringLiteral("Task \"Twin\" (AAAAAAAA-1111-4000-8000-000000000002) cannot be "
                            "enabled: its ID begins with the same eight characters aaaaaaaa as "
                            "that of task \"First\" (AAAAAAAA-0000-4000-8000-000000000001), and "
                            "the two would share one script, log and history. Remove one of "
                            "them."));
}

void TestTaskStore::importTasks_data()
{
    QTest::addColumn<QStringList>("fileTasks"); // "Alpha"/"Beta": already listed; "twin:X": X's id
    QTest::addColumn<QStringList>("failingInstalls");
    QTest::addColumn<int>("imported");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<QStringList>("expectedNames");

    const QStringList none;
    const QString earlier = QStringLiteral("Earlier notice");
    QTest::newRow("every task present: plural notice, nothing written")
        << QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta")} << none << 0 << 2
        << QStringLiteral("Skipped 2 tasks with IDs already present.") << none
        << QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta")};
    QTest::newRow("one present: singular notice")
        << QStringList{QStringLiteral("Alpha"), QStringLiteral("Gamma:daily:e")} << none << 1 << 1
        << QStringLiteral("Skipped 1 task with ID already present.")
        << QStringList{QStringLiteral("install Gamma")}
        << QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")};
    QTest::newRow("all new: notice left as it was, wake synced after installs")
        << QStringList{QStringLiteral("Gamma:daily:"), QStringLiteral("Delta:daily:ew")} << none
        << 2 << 0 << earlier
        << QStringList{QStringLiteral("install Delta"), QStringLiteral("wake Delta")}
        << QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma"),
                       QStringLiteral("Delta")};
    QTest::newRow("install failure is reported")
        << QStringList{QStringLiteral("Gamma:daily:e")} << QStringList{QStringLiteral("Gamma")} << 1
        << 0 << earlier << QStringList{QStringLiteral("install Gamma")}
        << QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")};
    QTest::newRow("identifier twice in the file: first one only")
        << QStringList{QStringLiteral("Gamma:daily:"), QStringLiteral("twin:Gamma")} << none << 1
        << 1 << QStringLiteral("Skipped 1 task with ID already present.") << none
        << QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")};
}

void TestTaskStore::importTasks()
{
    QFETCH(QStringList, fileTasks);
    QFETCH(QStringList, failingInstalls);
    QFETCH(int, imported);
    QFETCH(int, skipped);
    QFETCH(QString, warning);
    QFETCH(QStringList, expectedCalls);
    QFETCH(QStringList, expectedNames);
    Fixture f;
    const QList<ScheduledTask> present =
        makeTasks({QStringLiteral("Alpha:daily:e"), QStringLiteral("Beta:daily:")});
    TaskStore& store = f.startFresh(present);
    store.setLastWarning(QStringLiteral("Earlier notice"));
    f.failInstalls(failingInstalls);
    const FileStamp before = stampOf(f.taskFile());

    QList<ScheduledTask> exported;
    for (const QString& entry : fileTasks) {
        if (entry == QStringLiteral("Alpha")) {
            exported << present.at(0);
        } else if (entry == QStringLiteral("Beta")) {
            exported << present.at(1);
        } else if (entry.startsWith(QStringLiteral("twin:"))) {
            ScheduledTask twin = describedTask(entry.mid(5) + QStringLiteral(" twin:daily:e"));
            for (const ScheduledTask& task : std::as_const(exported)) {
                if (task.name == entry.mid(5))
                    twin.id = task.id;
            }
            exported << twin;
        } else {
            exported << describedTask(entry);
        }
    }

    const auto result = importNow(store, TaskMigration::encodeTasks(exported));
    QVERIFY(result.ok());
    QCOMPARE(result->imported, imported);
    QCOMPARE(result->skipped, skipped);
    QCOMPARE(store.lastWarning().value_or(QString()), warning);
    // Like every other operation, import says when an agent could not be loaded.
    QCOMPARE(store.lastError().value_or(QString()),
             failingInstalls.isEmpty() ? QString() : loadRefused);
    QCOMPARE(f.recorder->calls, expectedCalls);
    QCOMPARE(namesOf(store.tasks()), expectedNames);
    if (imported == 0)
        QCOMPARE(stampOf(f.taskFile()), before);
    else
        QCOMPARE(f.savedTasks(), store.tasks());
}

void TestTaskStore::importUndecodableDataChangesNothing()
{
    Fixture f;
    const QList<ScheduledTask> present = makeTasks({QStringLiteral("Alpha:daily:e")});
    TaskStore& store = f.startFresh(present);
    const FileStamp before = stampOf(f.taskFile());
    QSignalSpy changed(&store, &TaskStore::changed);
    const QByteArray data(R"({"version": 0, "tasks": []})");

    const auto result = importNow(store, data);
    QVERIFY(!result.ok());
    QCOMPARE(result.error(), TaskMigration::decodeTasks(data).error());
    QCOMPARE(store.tasks(), present);
    QVERIFY(!store.lastError());
    QVERIFY(!store.lastWarning());
    QVERIFY(f.recorder->calls.isEmpty());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(stampOf(f.taskFile()), before);
}

void TestTaskStore::syncWakeSchedules_data()
{
    QTest::addColumn<QStringList>("tasks");
    QTest::addColumn<QStringList>("failingWakes");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<bool>("result");

    const QStringList none;
    QTest::newRow("no wake tasks calls nothing")
        << QStringList{QStringLiteral("A:daily:e"), QStringLiteral("B:daily:w")} << none << none
        << true;
    QTest::newRow("weekly then daily: only the weekly repeating wake")
        << QStringList{QStringLiteral("Weekly:weekly:ew"), QStringLiteral("Daily:daily:ew")} << none
        << QStringList{QStringLiteral("wake Weekly")} << true;
    QTest::newRow("repeating first, then every monthly in list order")
        << QStringList{QStringLiteral("M1:monthly:ew"), QStringLiteral("Daily:daily:ew"),
                       QStringLiteral("M2:monthly:ew")}
        << none
        << QStringList{QStringLiteral("wake Daily"), QStringLiteral("wake M1"),
                       QStringLiteral("wake M2")}
        << true;
    QTest::newRow("last day counts as repeating")
        << QStringList{QStringLiteral("Last:lastDay:ew"), QStringLiteral("Nth:nth:ew")} << none
        << QStringList{QStringLiteral("wake Last")} << true;
    QTest::newRow("nth weekday counts as repeating")
        << QStringList{QStringLiteral("Every:interval:ew"), QStringLiteral("Nth:nth:ew")} << none
        << QStringList{QStringLiteral("wake Nth")} << true;
    QTest::newRow("interval and run at load get no wake")
        << QStringList{QStringLiteral("Every:interval:ew"), QStringLiteral("Login:atLoad:ew")}
        << none << none << true;
    QTest::newRow("disabled wake tasks are left out")
        << QStringList{QStringLiteral("Off:daily:w"), QStringLiteral("M1:monthly:w"),
                       QStringLiteral("On:weekly:ew")}
        << none << QStringList{QStringLiteral("wake On")} << true;
    QTest::newRow("first failure stops the pass")
        << QStringList{QStringLiteral("Daily:daily:ew"), QStringLiteral("M1:monthly:ew"),
                       QStringLiteral("M2:monthly:ew")}
        << QStringList{QStringLiteral("M1")}
        << QStringList{QStringLiteral("wake Daily"), QStringLiteral("wake M1")} << false;
}

void TestTaskStore::syncWakeSchedules()
{
    QFETCH(QStringList, tasks);
    QFETCH(QStringList, failingWakes);
    QFETCH(QStringList, expectedCalls);
    QFETCH(bool, result);
    Fixture f;
    TaskStore& store = f.startFresh(makeTasks(tasks));
    f.failWakes(failingWakes);
    const FileStamp before = stampOf(f.taskFile());

    store.syncWakeSchedules();
    QCOMPARE(!store.lastError(), result);
    QCOMPARE(f.recorder->calls, expectedCalls);
    QCOMPARE(store.lastError().value_or(QString()), result ? QString() : wakeRefused);
    QCOMPARE(stampOf(f.taskFile()), before);
}

void TestTaskStore::operationsOnUnknownIdsSaveNothing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("update") << QStringLiteral("update");
    QTest::newRow("enable") << QStringLiteral("enable");
    QTest::newRow("disable") << QStringLiteral("disable");
}

void TestTaskStore::operationsOnUnknownIdsSaveNothing()
{
    QFETCH(QString, operation);
    Fixture f;
    const QList<ScheduledTask> present = makeTasks({QStringLiteral("A:daily:ew")});
    TaskStore& store = f.startFresh(present);
    const FileStamp before = stampOf(f.taskFile());
    QSignalSpy changed(&store, &TaskStore::changed);
    const ScheduledTask stranger = describedTask(QStringLiteral("Stranger:daily:ew"));

    if (operation == QStringLiteral("update"))
        store.updateTask(stranger);
    else
        store.setEnabled(operation == QStringLiteral("enable"), stranger.id);
    QCOMPARE(store.tasks(), present);
    QVERIFY(f.recorder->calls.isEmpty());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(stampOf(f.taskFile()), before);
}

void TestTaskStore::changedSignal()
{
    Fixture f;
    TaskStore& store = f.startFresh();
    QSignalSpy changed(&store, &TaskStore::changed);

    // One operation, however many steps inside it, is one signal.
    store.addTask(describedTask(QStringLiteral("A:daily:ew")));
    QCOMPARE(changed.count(), 1);
    store.duplicateTask(store.tasks().constFirst());
    QCOMPARE(changed.count(), 2);
    store.setLastError(QStringLiteral("Boom"));
    QCOMPARE(changed.count(), 3);
    store.setLastError(QStringLiteral("Boom"));
    QCOMPARE(changed.count(), 3);
    store.setLastError(std::nullopt);
    QCOMPARE(changed.count(), 4);
    store.setLastWarning(QStringLiteral("Note"));
    QCOMPARE(changed.count(), 5);
    // Saving the same list changes nothing a view shows.
    store.saveTasks();
    QCOMPARE(changed.count(), 5);
}

void TestTaskStore::saveWritesPrivateFileInPrivateFolder()
{
    Fixture f;
    TaskStore& store = f.startFresh();
    // The folder is gone by the time of the first save: it is made again, private.
    QVERIFY(QDir(f.home.dataFolder()).removeRecursively());
    store.addTask(describedTask(QStringLiteral("A:daily:")));
    QVERIFY(!store.lastError());
    QCOMPARE(TestSupport::readFile(f.taskFile()), TaskMigration::encodeTasks(store.tasks()));
    QCOMPARE(QFile::permissions(f.taskFile()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(QFile::permissions(f.home.dataFolder()) &
                 ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestTaskStore::saveFailureKeepsChangeInMemory_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("expectedStart");
    // Obstacles that stop even root: a plain file where the data folder should be, and a
    // folder where the task file should be (it can neither be read nor copied aside).
    QTest::newRow("data folder is a file")
        << QStringLiteral("folder") << QStringLiteral("Failed to save tasks: the folder ");
    QTest::newRow("task file is a folder")
        << QStringLiteral("file")
        << QStringLiteral("Failed to save tasks: the existing task file cannot be read and could "
                          "not be kept as ");
}

void TestTaskStore::saveFailureKeepsChangeInMemory()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, expectedStart);
    TestHome home;
    const QString folder = home.path() + QStringLiteral("/data");
    if (obstacle == QStringLiteral("folder"))
        TestSupport::writeFile(folder, "not a folder");
    else
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/tasks.json")));
    auto recorder = std::make_shared<CallRecorder>();
    TaskStore::Options options;
    options.taskFilePath = folder + QStringLiteral("/tasks.json");
    options.launchdService = std::make_shared<FakeLaunchdService>(recorder);
    options.pmsetService = std::make_shared<FakePmsetService>(recorder);
    TaskStore store(options);
    store.setLastError(std::nullopt);

    store.addTask(describedTask(QStringLiteral("A:daily:")));
    QCOMPARE(namesOf(store.tasks()), QStringList{QStringLiteral("A")});
    QVERIFY(store.lastError());
    QVERIFY2(store.lastError()->startsWith(expectedStart), qPrintable(*store.lastError()));
    if (obstacle == QStringLiteral("folder"))
        QCOMPARE(TestSupport::readFile(folder), QByteArray("not a folder"));
    else
        QVERIFY(QFileInfo(options.taskFilePath.value()).isDir());
}

// An undecodable task file is copied aside before the first save replaces it, and the error
// names the copy; later saves make no further copies.
void TestTaskStore::unreadableFileIsKeptBeforeFirstSave()
{
    Fixture f;
    const QByteArray unreadable(R"({"version": 2, "tasks": [{"name": "hand edited"}]})");
    TestSupport::writeFile(f.taskFile(), unreadable);
    TaskStore& store = f.start();
    QVERIFY(store.lastError()->startsWith(QStringLiteral("Failed to load tasks: ")));

    store.addTask(describedTask(QStringLiteral("A:daily:")));
    const QStringList copies =
        QDir(f.home.dataFolder())
            .entryList({QStringLiteral("tasks.json.unreadable-*")}, QDir::Files);
    QCOMPARE(copies.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^tasks\\.json\\.unreadable-\\d{8}-\\d{6}$"))
                 .match(copies.constFirst())
                 .hasMatch(),
             qPrintable(copies.constFirst()));
    const QString copy = f.home.dataFolder() + QLatin1Char('/') + copies.constFirst();
    QCOMPARE(TestSupport::readFile(copy), unreadable);
    QCOMPARE(QFile::permissions(copy) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(store.lastError());
    QCOMPARE(*store.lastError(),
             QStringLiteral("The task file could not be read, so it was kept as %1 before your "
                            "tasks were saved.")
                 .arg(copy));
    QCOMPARE(namesOf(f.savedTasks()), QStringList{QStringLiteral("A")});

    store.setLastError(std::nullopt);
    store.addTask(describedTask(QStringLiteral("B:daily:")));
    QVERIFY(!store.lastError());
    QCOMPARE(QDir(f.home.dataFolder())
                 .entryList({QStringLiteral("tasks.json.unreadable-*")}, QDir::Files)
                 .size(),
             1);
    QCOMPARE(namesOf(f.savedTasks()), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
}

void TestTaskStore::saveWaitsForLockHeldByAnotherProcess()
{
    Fixture f;
    TaskStore& store = f.startFresh();
    const QString marker = f.home.path() + QStringLiteral("/released");
    QProcess holder;
    holder.start(helperPath(),
                 {QStringLiteral("hold-lock"), f.taskFile(), QStringLiteral("1500"), marker});
    QVERIFY2(holder.waitForStarted(10000), qPrintable(holder.errorString()));
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

    store.addTask(describedTask(QStringLiteral("A:daily:")));
    // The holder writes the marker just before it lets go: the save came after it.
    QVERIFY(QFile::exists(marker));
    QVERIFY(!store.lastError());
    QCOMPARE(f.savedTasks(), store.tasks());
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(holder.exitCode(), 0);
}

void TestTaskStore::operationsKeepOtherWritersChanges_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("expectedNames"); // in file order
    const QString mine = QStringLiteral("Mine");
    const QString outsider = QStringLiteral("Outsider");
    QTest::newRow("save") << QStringLiteral("save") << QStringList{mine, outsider};
    QTest::newRow("add") << QStringLiteral("add")
                         << QStringList{mine, outsider, QStringLiteral("Added")};
    QTest::newRow("update") << QStringLiteral("update")
                            << QStringList{QStringLiteral("Renamed"), outsider};
    QTest::newRow("enable") << QStringLiteral("enable") << QStringList{mine, outsider};
    QTest::newRow("delete") << QStringLiteral("delete") << QStringList{outsider};
    QTest::newRow("duplicate") << QStringLiteral("duplicate")
                               << QStringList{mine, outsider, QStringLiteral("Mine (copy)")};
    QTest::newRow("import") << QStringLiteral("import")
                            << QStringList{mine, outsider, QStringLiteral("Imported")};
}

// Another writer (the tool) added a task the store has not reloaded yet: whatever the store
// does next is applied to the file as it stands, so the other writer's task stays.
void TestTaskStore::operationsKeepOtherWritersChanges()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, expectedNames);
    Fixture f;
    const ScheduledTask mine = describedTask(QStringLiteral("Mine:daily:"));
    TaskStore& store = f.startFresh({mine});
    f.writeTaskFile({mine, describedTask(QStringLiteral("Outsider:daily:"))});

    if (operation == QStringLiteral("save")) {
        store.saveTasks();
    } else if (operation == QStringLiteral("add")) {
        store.addTask(describedTask(QStringLiteral("Added:daily:e")));
    } else if (operation == QStringLiteral("update")) {
        ScheduledTask renamed = mine;
        renamed.name = QStringLiteral("Renamed");
        store.updateTask(renamed);
    } else if (operation == QStringLiteral("enable")) {
        store.setEnabled(true, mine.id);
    } else if (operation == QStringLiteral("delete")) {
        store.deleteTask(mine);
    } else if (operation == QStringLiteral("duplicate")) {
        store.duplicateTask(mine);
    } else {
        QVERIFY(importNow(store, TaskMigration::encodeTasks(
                                     {describedTask(QStringLiteral("Imported:daily:"))}))
                    .ok());
    }
    QVERIFY2(!store.lastError(), qPrintable(store.lastError().value_or(QString())));
    QCOMPARE(namesOf(f.savedTasks()), expectedNames);
    // The store shows what it wrote.
    QCOMPARE(store.tasks(), f.savedTasks());
    if (operation == QStringLiteral("enable"))
        QVERIFY(f.savedTasks().constFirst().isEnabled);
}

void TestTaskStore::lockObstaclesAreReportedAtOnce_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("expectedError"); // %1: the lock file
    QTest::newRow("empty lock left by a killed tool") << QStringLiteral("empty") << QString();
    QTest::newRow("folder in place of the lock")
        << QStringLiteral("folder")
        << QStringLiteral("Failed to save tasks: Could not create the lock file %1: Is a "
                          "directory");
    QTest::newRow("lock held longer than the main thread may wait")
        << QStringLiteral("held")
        << QStringLiteral("Failed to save tasks: The task file is in use by another process "
                          "(lock file %1)");
}

void TestTaskStore::lockObstaclesAreReportedAtOnce()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, expectedError);
    Fixture f;
    TaskStore& store = f.startFresh();
    const QString lock = TaskFile::lockPath(f.taskFile());
    QProcess holder;
    if (obstacle == QStringLiteral("empty")) {
        TestSupport::writeFile(lock, QByteArray());
    } else if (obstacle == QStringLiteral("folder")) {
        QVERIFY(QDir().mkpath(lock));
    } else {
        holder.start(helperPath(), {QStringLiteral("hold-lock"), f.taskFile(),
                                    QStringLiteral("8000"), f.home.path() + QStringLiteral("/m")});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));
    }

    store.addTask(describedTask(QStringLiteral("A:daily:")));
    // Kept on screen either way; saved only when the lock could be had.
    QCOMPARE(namesOf(store.tasks()), QStringList{QStringLiteral("A")});
    QCOMPARE(store.lastError().value_or(QString()), expectedError.arg(lock));
    QCOMPARE(namesOf(f.savedTasks()),
             expectedError.isEmpty() ? QStringList{QStringLiteral("A")} : QStringList());
    if (holder.state() != QProcess::NotRunning) {
        holder.kill();
        holder.waitForFinished();
    }
}

void TestTaskStore::reloadRunsAfterDeliveryAndCoalesces()
{
    Fixture f;
    TaskStore& store = f.startFresh();
    auto* observer = store.findChild<ChangeObserver*>();
    QVERIFY(observer);
    f.writeTaskFile(makeTasks({QStringLiteral("C:daily:")}));

    Q_EMIT observer->received();
    Q_EMIT observer->received();
    // Not inside the delivery: nothing has happened yet.
    QVERIFY(store.tasks().isEmpty());
    QVERIFY(f.recorder->calls.isEmpty());
    QTRY_COMPARE(namesOf(store.tasks()), QStringList{QStringLiteral("C")});
    // A second reload would have been queued with the first: a step queued now runs after it.
    bool later = false;
    QTimer::singleShot(0, &store, [&later] { later = true; });
    QTRY_VERIFY_WITH_TIMEOUT(later, TestSupport::eventTimeoutMs);
    QCOMPARE(f.recorder->calls, QStringList{QStringLiteral("sweep")});
}

void TestTaskStore::pendingReloadIsDroppedWithStore()
{
    Fixture f;
    f.startFresh();
    auto* observer = f.store->findChild<ChangeObserver*>();
    QVERIFY(observer);
    Q_EMIT observer->received();
    f.store.reset();
    // The reload was queued before this step, so it would have run by the time this one does.
    bool later = false;
    QTimer::singleShot(0, [&later] { later = true; });
    QTRY_VERIFY_WITH_TIMEOUT(later, TestSupport::eventTimeoutMs);
    QVERIFY(f.recorder->calls.isEmpty());
}

void TestTaskStore::reloadsOnNotificationFromAnotherProcess()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("needs a D-Bus session bus (run under dbus-run-session)");
    Fixture f;
    TaskStore& store = f.startFresh();
    QVERIFY(store.findChild<ChangeObserver*>()->isListening());
    // A round trip makes sure the bus has our match rule before the other process posts.
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));

    f.writeTaskFile(makeTasks({QStringLiteral("From tool:daily:")}));
    const ProcessResult posted =
        TestSupport::run(helperPath(), {QStringLiteral("post")}, f.home.environment());
    QCOMPARE(posted.exitCode, 0);
    QTRY_COMPARE(namesOf(store.tasks()), QStringList{QStringLiteral("From tool")});

    // The same signal sent by the stock D-Bus tool.
    f.writeTaskFile(makeTasks({QStringLiteral("From dbus-send:daily:")}));
    const QString dbusSend = QStandardPaths::findExecutable(QStringLiteral("dbus-send"));
    if (dbusSend.isEmpty())
        return;
    const ProcessResult sent =
        TestSupport::run(dbusSend,
                         {QStringLiteral("--session"), QStringLiteral("--type=signal"),
                          QStringLiteral("/com/brenmorops/Notifications"),
                          QStringLiteral("com.brenmorops.Notifications.Posted"),
                          QStringLiteral("string:com.brenmor-ops.tasksDidChange")},
                         f.home.environment());
    QCOMPARE(sent.exitCode, 0);
    QTRY_COMPARE(namesOf(store.tasks()), QStringList{QStringLiteral("From dbus-send")});
}

void TestTaskStore::readsLogTailsAndRunHistory()
{
    Fixture f;
    const ScheduledTask task = describedTask(QStringLiteral("A:daily:e"));
    TaskStore& store = f.startFresh({task});
    TestSupport::writeFile(store.agentPaths().stdoutLogPath(task), "one\ntwo\nthree\n");
    TestSupport::writeFile(store.agentPaths().stderrLogPath(task), "oops\n");
    TestSupport::writeFile(store.agentPaths().runHistoryPath(task),
                           "2025-03-01T09:00:00Z\t2025-03-01T09:00:42Z\t0\n");

    QCOMPARE(store.readLog(task, LogStream::stdoutStream, 10), QStringLiteral("one\ntwo\nthree"));
    QCOMPARE(store.readLog(task, LogStream::stdoutStream, 3), QStringLiteral("one\ntwo\nthree"));
    QCOMPARE(store.readLog(task, LogStream::stdoutStream, 1), QStringLiteral("three"));
    QCOMPARE(store.readLog(task, LogStream::stderrStream, 100), QStringLiteral("oops"));
    QCOMPARE(store.readLog(describedTask(QStringLiteral("B")), LogStream::stdoutStream, 100),
             QString());
    const QList<TaskRunRecord> runs = store.runHistory(task);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.constFirst().durationSeconds(), 42);
    QCOMPARE(runs.constFirst().exitCode, 0);
}

void TestTaskStore::fineGrainedSignals_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("expectedSignals");
    // The list is A (enabled), B (disabled).
    QTest::newRow("add: a row at the end")
        << QStringLiteral("add")
        << QStringList{QStringLiteral("started New"), QStringLiteral("added 2 New"),
                       QStringLiteral("finished New")};
    QTest::newRow("disable: changed in place")
        << QStringLiteral("disable")
        << QStringList{QStringLiteral("started A"), QStringLiteral("changed A"),
                       QStringLiteral("finished A")};
    QTest::newRow("delete: removed")
        << QStringLiteral("delete")
        << QStringList{QStringLiteral("started B"), QStringLiteral("removed B"),
                       QStringLiteral("finished B")};
    QTest::newRow("unknown task: nothing") << QStringLiteral("ghost") << QStringList();
    QTest::newRow("another writer changed one and added one: in place")
        << QStringLiteral("reload edited")
        << QStringList{QStringLiteral("changed A"), QStringLiteral("added 2 Tool")};
    QTest::newRow("another writer reordered the list: reset")
        << QStringLiteral("reload reordered") << QStringList{QStringLiteral("reset")};
}

void TestTaskStore::fineGrainedSignals()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, expectedSignals);
    Fixture f;
    const ScheduledTask a = describedTask(QStringLiteral("A:daily:e"));
    const ScheduledTask b = describedTask(QStringLiteral("B:daily:"));
    TaskStore& store = f.startFresh({a, b});
    const ScheduledTask added = describedTask(QStringLiteral("New:daily:"));
    QHash<QUuid, QString> names{{a.id, a.name}, {b.id, b.name}, {added.id, added.name}};
    QStringList log;
    connect(&store, &TaskStore::operationStarted, this,
            [&](const QUuid& id) { log << QStringLiteral("started ") + names.value(id); });
    connect(&store, &TaskStore::operationFinished, this,
            [&](const QUuid& id) { log << QStringLiteral("finished ") + names.value(id); });
    connect(&store, &TaskStore::taskAdded, this, [&](int row) {
        log << QStringLiteral("added %1 %2").arg(row).arg(store.tasks().at(row).name);
    });
    connect(&store, &TaskStore::taskChanged, this,
            [&](const QUuid& id) { log << QStringLiteral("changed ") + store.task(id)->name; });
    connect(&store, &TaskStore::taskRemoved, this, [&](const QUuid& id) {
        QVERIFY(!store.task(id));
        log << QStringLiteral("removed ") + names.value(id);
    });
    connect(&store, &TaskStore::tasksReset, this, [&] { log << QStringLiteral("reset"); });

    if (operation == QStringLiteral("add")) {
        store.addTask(added);
    } else if (operation == QStringLiteral("disable")) {
        store.setEnabled(false, a.id);
    } else if (operation == QStringLiteral("delete")) {
        store.deleteTask(b);
    } else if (operation == QStringLiteral("ghost")) {
        store.setEnabled(true, added.id);
    } else if (operation == QStringLiteral("reload edited")) {
        ScheduledTask renamed = a;
        renamed.name = QStringLiteral("A2");
        const ScheduledTask tool = describedTask(QStringLiteral("Tool:daily:"));
        f.writeTaskFile({renamed, b, tool});
        store.loadTasks();
        // The log names tasks as they are now.
        for (QString& line : log)
            line.replace(QStringLiteral("A2"), QStringLiteral("A"));
    } else {
        f.writeTaskFile({b, a});
        store.loadTasks();
    }
    QCOMPARE(log, expectedSignals);
    QCOMPARE(store.tasks(), f.savedTasks());
}

// With the application's execution an operation returns at once: the caller goes on while the
// worker waits for launchd, and the operations asked for run in their order; the tasks they
// concern show as busy until their reports arrive.
void TestTaskStore::workerRunsOperationsInOrderBesideTheCaller()
{
    Fixture f;
    QSemaphore entered;
    QSemaphore release;
    f.recorder->duringInstall = [&](const ScheduledTask& task) {
        if (task.name == QStringLiteral("First")) {
            entered.release();
            release.acquire();
        }
    };
    TaskStore::Options options;
    options.launchdService = f.launchd;
    options.pmsetService = std::make_shared<FakePmsetService>(f.recorder);
    options.execution = TaskStore::Execution::onWorker;
    TaskStore store(options);
    auto unblock = qScopeGuard([&release] { release.release(); });
    QSignalSpy finished(&store, &TaskStore::operationFinished);
    QSignalSpy working(&store, &TaskStore::workingChanged);

    const ScheduledTask first = describedTask(QStringLiteral("First:daily:e"));
    const ScheduledTask second = describedTask(QStringLiteral("Second:daily:e"));
    store.addTask(first);
    store.addTask(second);
    // Both calls returned while the first install is held inside the worker.
    QVERIFY(entered.tryAcquire(1, 5000));
    QVERIFY(store.isBusy(first.id));
    QVERIFY(store.isBusy(second.id));
    QVERIFY(store.isWorking());
    QCOMPARE(working.count(), 1);
    QVERIFY(store.tasks().isEmpty());
    QCOMPARE(finished.count(), 0);

    release.release();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
    QCOMPARE(finished.at(0).at(0).value<QUuid>(), first.id);
    QCOMPARE(finished.at(1).at(0).value<QUuid>(), second.id);
    QCOMPARE(namesOf(store.tasks()), (QStringList{first.name, second.name}));
    QCOMPARE(f.recorder->calls,
             (QStringList{QStringLiteral("sweep"), QStringLiteral("install First"),
                          QStringLiteral("install Second")}));
    QVERIFY(!store.isBusy(first.id));
    QVERIFY(!store.isWorking());
    QCOMPARE(working.count(), 2);
    QCOMPARE(f.savedTasks(), store.tasks());
}

QTEST_GUILESS_MAIN(TestTaskStore)
#include "TestTaskStore.moc"
