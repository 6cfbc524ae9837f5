// brenmor-ops under stress: concurrent writers, damaged task files, hostile text.
#include "CliHarness.h"
#include "FakeServices.h"
#include "TaskBuilder.h"
#include "TaskFile.h"
#include "TaskStore.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <vector>

namespace {

QProcessEnvironment toolEnvironment(const CliHarness& cli)
{
    QProcessEnvironment environment = cli.home().environment();
    // The same stand-ins the harness gives a single run.
    const QString fakes = cli.home().path() + QStringLiteral("/fakes/");
    environment.insert(QStringLiteral("BRENMOR_OPS_LAUNCHCTL"),
                       fakes + QStringLiteral("launchctl"));
    environment.insert(QStringLiteral("BRENMOR_OPS_OSASCRIPT"),
                       fakes + QStringLiteral("osascript"));
    // Dozens of tools queue for the lock; how long the queue takes depends on the machine, and
    // what is checked is that no change is lost, so each waits as long as the test may run.
    environment.insert(QStringLiteral("BRENMOR_OPS_LOCK_WAIT_MS"), QStringLiteral("150000"));
    return environment;
}

// The application's store on the harness's task file, with the shared service fakes.
std::unique_ptr<TaskStore> storeBeside(const CliHarness& cli,
                                       std::shared_ptr<CallRecorder> recorder,
                                       int lockWaitMs = TaskFile::applicationLockWaitMs)
{
    TaskStore::Options options;
    options.lockWaitMs = lockWaitMs;
    options.taskFilePath = cli.taskFile();
    options.launchdService = std::make_shared<FakeLaunchdService>(recorder);
    options.pmsetService = std::make_shared<FakePmsetService>(recorder);
    auto store = std::make_unique<TaskStore>(options);
    store->waitForScriptUpgrade();
    return store;
}

} // namespace

class TestCliReliability : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parallelAddsAllSurvive();
    void toolChangeDuringStoreOperationIsKept();
    void parallelToolAndApplicationChangesAllSurvive();
    void lockAndFileObstacles_data();
    void lockAndFileObstacles();
    void damagedFileIsLeftAlone_data();
    void damagedFileIsLeftAlone();
    void hostileTextIsStoredExactly_data();
    void hostileTextIsStoredExactly();
};

void TestCliReliability::parallelAddsAllSurvive()
{
    CliHarness cli;
    constexpr int count = 50;
    const QProcessEnvironment environment = toolEnvironment(cli);

    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < count; ++i) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setStandardInputFile(QProcess::nullDevice());
        process->start(TestSupport::binPath(QStringLiteral("brenmor-ops")),
                       {QStringLiteral("add"), QStringLiteral("--name"),
                        QStringLiteral("Task %1").arg(i), QStringLiteral("--command"),
                        QStringLiteral("true"), QStringLiteral("--interval"),
                        QString::number(i + 1)});
        processes.push_back(std::move(process));
    }
    for (auto& process : processes) {
        QVERIFY(process->waitForFinished(180000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->readAllStandardError(), QByteArray());
        QCOMPARE(process->exitCode(), 0);
    }

    const TaskFile::ReadResult file = TaskFile::read(cli.taskFile());
    QCOMPARE(file.status, TaskFile::ReadStatus::loaded);
    QCOMPARE(file.tasks.size(), count);
    QSet<QString> names;
    QSet<QUuid> ids;
    for (const ScheduledTask& task : file.tasks) {
        names << task.name;
        ids << task.id;
    }
    QCOMPARE(names.size(), count);
    QCOMPARE(ids.size(), count);
    QVERIFY(!QFile::exists(TaskFile::lockPath(cli.taskFile())));
}

// The tool adds a task while the application is half-way through its own add (its agent is
// being installed): both tasks, both agents and both wake events survive.
void TestCliReliability::toolChangeDuringStoreOperationIsKept()
{
    CliHarness cli;
    cli.seed({});
    auto recorder = std::make_shared<CallRecorder>();
    const auto store = storeBeside(cli, recorder);
    recorder->calls.clear();
    ProcessResult tool;
    recorder->duringInstall = [&](const ScheduledTask&) {
        tool = cli.run(QStringLiteral("add --name FromTool --command true --monthly 5 09:00 --wake")
                           .split(QLatin1Char(' ')));
    };
    ScheduledTask mine =
        storedTask(QStringLiteral("FromApp"),
                   QStringLiteral("60000000-0000-4000-8000-000000000006"))
            .schedule(TaskSchedule::of<TaskSchedule::Monthly>({3, {TimeOfDay{8, 0}}}))
            .wake()
            .build();

    store->addTask(mine);
    QCOMPARE(tool.exitCode, 0);
    QVERIFY2(!store->lastError(), qPrintable(store->lastError().value_or(QString())));
    const QStringList both{QStringLiteral("FromApp"), QStringLiteral("FromTool")};
    QCOMPARE(sortedNamesOf(cli.storedTasks()), both);
    QCOMPARE(sortedNamesOf(store->tasks()), both);
    QCOMPARE(recorder->calls,
             (QStringList{QStringLiteral("wake FromApp"), QStringLiteral("install FromApp")}));
    const QStringList toolCalls = cli.calls();
    QCOMPARE(toolCalls.filter(QStringLiteral("launchctl load")).size(), 1);
    QCOMPARE(toolCalls.filter(QStringLiteral("pmset schedule")).size(), 1);

    // An orphan sweep now keeps both agents: the keep-set is the file's list. The reload's
    // script upgrade runs on a worker and must not start the tool again.
    recorder->duringInstall = nullptr;
    store->loadTasks();
    store->waitForScriptUpgrade();
    QCOMPARE(recorder->lastKept.size(), 2);
}

void TestCliReliability::parallelToolAndApplicationChangesAllSurvive()
{
    CliHarness cli;
    cli.seed({});
    // Enough tools to keep the lock busy the whole time. How long the queue takes depends on
    // the machine, so the application waits as long as a tool would: what is checked is that
    // no change is lost, not how fast the queue moves (a save that gives up is reported, never
    // lost, but fails this test).
    constexpr int count = 24;
    auto recorder = std::make_shared<CallRecorder>();
    const auto store = storeBeside(cli, recorder, TaskFile::toolLockWaitMs);

    std::vector<std::unique_ptr<QProcess>> processes;
    QStringList expected;
    for (int i = 0; i < count; ++i) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(toolEnvironment(cli));
        process->setStandardInputFile(QProcess::nullDevice());
        process->start(TestSupport::binPath(QStringLiteral("brenmor-ops")),
                       {QStringLiteral("add"), QStringLiteral("--name"),
                        QStringLiteral("Tool %1").arg(i), QStringLiteral("--command"),
                        QStringLiteral("true"), QStringLiteral("--interval"),
                        QString::number(i + 1)});
        processes.push_back(std::move(process));
        ScheduledTask task =
            ScheduledTask::create(QStringLiteral("App %1").arg(i), QStringLiteral("true"),
                                  TaskSchedule::of<TaskSchedule::Interval>({5}));
        store->addTask(task);
        // Every other step also changes a task the application added earlier.
        if (i % 2 == 1)
            store->setEnabled(false, store->tasks().constFirst().id);
        expected << QStringLiteral("Tool %1").arg(i) << QStringLiteral("App %1").arg(i);
    }
    for (auto& process : processes) {
        QVERIFY(process->waitForFinished(180000));
        QCOMPARE(process->readAllStandardError(), QByteArray());
        QCOMPARE(process->exitCode(), 0);
    }
    QVERIFY2(!store->lastError(), qPrintable(store->lastError().value_or(QString())));
    expected.sort();
    QCOMPARE(sortedNamesOf(cli.storedTasks()), expected);
    store->loadTasks();
    QCOMPARE(sortedNamesOf(store->tasks()), expected);
}

void TestCliReliability::lockAndFileObstacles_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err"); // %1: the task file

    QTest::newRow("empty lock left by a killed tool")
        << QStringLiteral("empty lock") << 0 << QString();
    QTest::newRow("leftover temporary of a killed writer")
        << QStringLiteral("temporary") << 0 << QString();
    QTest::newRow("task file is a symlink") << QStringLiteral("symlink") << 0 << QString();
    QTest::newRow("folder in place of the lock")
        << QStringLiteral("lock folder") << 1
        << QStringLiteral("Error: Could not create the lock file %1.lock: Is a directory\n");
    QTest::newRow("task file is a FIFO")
        << QStringLiteral("fifo") << 1
        << QStringLiteral("Error: Cannot read the task file %1: it is not a regular file. It was "
                          "left unchanged.\n");
}

void TestCliReliability::lockAndFileObstacles()
{
    QFETCH(QString, obstacle);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    CliHarness cli;
    cli.seed(
        {storedTask(QStringLiteral("Kept"), QStringLiteral("70000000-0000-4000-8000-000000000007"))
             .atLoad()
             .build()});
    const QString lock = TaskFile::lockPath(cli.taskFile());
    const QString temporary = cli.taskFile() + QStringLiteral(".Xy12Ab");
    const QString elsewhere = cli.home().path() + QStringLiteral("/elsewhere.json");
    if (obstacle == QStringLiteral("empty lock")) {
        TestSupport::writeFile(lock, QByteArray());
    } else if (obstacle == QStringLiteral("temporary")) {
        TestSupport::writeFile(temporary, "{\"version\": 2, \"ta");
    } else if (obstacle == QStringLiteral("symlink")) {
        QVERIFY(QFile::rename(cli.taskFile(), elsewhere));
        QVERIFY(QFile::link(elsewhere, cli.taskFile()));
    } else if (obstacle == QStringLiteral("lock folder")) {
        QVERIFY(QDir().mkpath(lock));
    } else {
        QVERIFY(QFile::remove(cli.taskFile()));
        QCOMPARE(::mkfifo(QFile::encodeName(cli.taskFile()).constData(), 0600), 0);
    }
    const QByteArray linkedBefore = TestSupport::readFile(elsewhere);

    const ProcessResult result = cli.run(
        QStringLiteral("add --name New --command true --run-at-load").split(QLatin1Char(' ')));
    QCOMPARE(result.errText(), err.arg(cli.taskFile()));
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode != 0)
        return;
    QCOMPARE(sortedNamesOf(cli.storedTasks()),
             (QStringList{QStringLiteral("Kept"), QStringLiteral("New")}));
    QVERIFY(!QFile::exists(temporary));
    QVERIFY(!QFile::exists(lock));
    // The link was replaced by the file; what it pointed to was not written through.
    QVERIFY(!QFileInfo(cli.taskFile()).isSymLink());
    QCOMPARE(TestSupport::readFile(elsewhere), linkedBefore);
}

void TestCliReliability::damagedFileIsLeftAlone_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("args");

    const QByteArray valid = QByteArrayLiteral(
        "{\"version\":2,\"tasks\":[{\"id\":\"3F2A9C1D-0000-4000-8000-000000000001\","
        "\"name\":\"Backup\",\"command\":\"ls\",\"useLoginShell\":true,\"wakeBeforeRun\":false,"
        "\"isEnabled\":true,\"logs\":[],\"schedule\":{\"runAtLoad\":{}}}]}");
    const QList<QPair<const char*, QByteArray>> contents = {
        {"not JSON", QByteArrayLiteral("this is not a task file")},
        {"truncated", valid.left(valid.size() / 2)},
        {"empty", QByteArray()},
        {"unknown version", QByteArrayLiteral("{\"version\":0,\"tasks\":[]}")},
        {"task lacks fields",
         QByteArrayLiteral("{\"version\":2,\"tasks\":[{\"name\":\"Backup\"}]}")},
    };
    const QList<QStringList> commands = {
        {QStringLiteral("add"), QStringLiteral("--name"), QStringLiteral("New"),
         QStringLiteral("--command"), QStringLiteral("ls"), QStringLiteral("--daily"),
         QStringLiteral("09:00"), QStringLiteral("--wake")},
        {QStringLiteral("remove"), QStringLiteral("Backup")},
        {QStringLiteral("rm"), QStringLiteral("3f2a")},
        {QStringLiteral("enable"), QStringLiteral("Backup")},
        {QStringLiteral("disable"), QStringLiteral("Backup")},
    };
    for (const auto& [tag, content] : contents) {
        for (const QStringList& args : commands)
            QTest::addRow("%s, %s", tag, qPrintable(args.first())) << content << args;
    }
}

void TestCliReliability::damagedFileIsLeftAlone()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, args);

    CliHarness cli;
    cli.seedBytes(content);
    const QString reason = TaskFile::read(cli.taskFile()).error;
    QVERIFY(!reason.isEmpty());

    const ProcessResult result = cli.run(args);
    QCOMPARE(result.errText(), QStringLiteral("Error: Cannot read the task file %1: %2. It was "
                                              "left unchanged.\n")
                                   .arg(cli.taskFile(), reason));
    QCOMPARE(result.outText(), QString());
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(cli.taskFileBytes(), content);
    QCOMPARE(cli.calls(), QStringList());
    QVERIFY(!QFile::exists(TaskFile::lockPath(cli.taskFile())));
}

void TestCliReliability::hostileTextIsStoredExactly_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("envFile");
    // How a success line shows the name: control characters escaped, the rest as stored.
    QTest::addColumn<QString>("printed");

    QTest::newRow("quotes") << QStringLiteral("It's \"quoted\"")
                            << QStringLiteral("echo \"it's\" 'a \"test\"'")
                            << QStringLiteral("/tmp/it's \"dir\"")
                            << QStringLiteral("/tmp/a'b\".env") << QString();
    QTest::newRow("substitutions") << QStringLiteral("$(touch pwned) `id` ${HOME}")
                                   << QStringLiteral("echo \"$(date)\" `whoami` $((1+2))")
                                   << QStringLiteral("/tmp/$(rm -rf x)/`id`")
                                   << QStringLiteral("/tmp/${PATH}.env") << QString();
    QTest::newRow("line feeds and tabs")
        << QStringLiteral("line1\nline2\tTab") << QStringLiteral("echo one\necho\ttwo")
        << QStringLiteral("/tmp/new\nline") << QStringLiteral("/tmp/tab\there.env")
        << QStringLiteral("line1\\x0aline2\\x09Tab");
    QTest::newRow("non-ASCII") << QStringLiteral("Sauvegarde été 日本語 🚀")
                               << QStringLiteral("echo 'héllo wörld' ✓")
                               << QStringLiteral("/tmp/données/データ")
                               << QStringLiteral("/tmp/ñ.env") << QString();
    QTest::newRow("XML specials") << QStringLiteral("<b>&amp;</b>")
                                  << QStringLiteral("echo a && echo b > /dev/null")
                                  << QStringLiteral("/tmp/a&b<c>") << QStringLiteral("/tmp/x&y.env")
                                  << QString();
    QTest::newRow("backslashes") << QStringLiteral("back\\slash\\")
                                 << QStringLiteral("printf '%s\\n' a\\\\b")
                                 << QStringLiteral("/tmp/back\\slash")
                                 << QStringLiteral("C:\\env\\file") << QString();
    QTest::newRow("leading dashes") << QStringLiteral("--wake") << QStringLiteral("--version")
                                    << QStringLiteral("-rf") << QStringLiteral("--") << QString();
}

void TestCliReliability::hostileTextIsStoredExactly()
{
    QFETCH(QString, name);
    QFETCH(QString, command);
    QFETCH(QString, directory);
    QFETCH(QString, envFile);

    CliHarness cli;
    const ProcessResult result =
        cli.run({QStringLiteral("add"), QStringLiteral("--name"), name, QStringLiteral("--command"),
                 command, QStringLiteral("--working-dir"), directory, QStringLiteral("--env-file"),
                 envFile, QStringLiteral("--run-at-load")});
    // Neither folder nor file exists: add says so, and still stores both exactly.
    QCOMPARE(withoutWarnings(result.errText()), QString());
    QVERIFY(result.errText().contains(QStringLiteral("Warning: The working directory ") +
                                      directory + QStringLiteral(" does not exist")));
    // The success line shows control characters escaped; the file keeps them as typed.
    QString shown = name;
    shown.replace(QLatin1Char('\n'), QStringLiteral("\\x0a"))
        .replace(QLatin1Char('\t'), QStringLiteral("\\x09"));
    QCOMPARE(result.outText(),
             QStringLiteral("Added task: ") + shown + QStringLiteral(" (Run at load)\n"));
    QCOMPARE(result.exitCode, 0);

    const QList<ScheduledTask> tasks = cli.storedTasks();
    QCOMPARE(tasks.size(), 1);
    const ScheduledTask& task = tasks.first();
    QCOMPARE(task.name, name);
    QCOMPARE(task.command, command);
    QCOMPARE(task.workingDirectory, std::optional(directory));
    QCOMPARE(task.envFilePath, std::optional(envFile));

    const QString script = cli.scriptPath(task);
    for (const char* shell : {"/bin/bash", "/bin/zsh"}) {
        const ProcessResult check =
            TestSupport::run(QLatin1String(shell), {QStringLiteral("-n"), script},
                             QProcessEnvironment::systemEnvironment());
        QVERIFY2(check.exitCode == 0 && !check.crashed, qPrintable(shell + check.errText()));
    }
    const ProcessResult plist = TestSupport::run(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import plistlib,sys; p = plistlib.load(open(sys.argv[1], 'rb')); "
                        "print(p['Label']); print(p['ProgramArguments'][0])"),
         cli.plistPath(task)},
        QProcessEnvironment::systemEnvironment());
    QCOMPARE(plist.errText(), QString());
    QCOMPARE(plist.outText(),
             QStringLiteral("com.brenmor-ops.task.") + task.idString() + '\n' + script + '\n');

    // The stored name finds the task again.
    const ProcessResult removed = cli.run({QStringLiteral("remove"), name});
    QFETCH(QString, printed);
    QCOMPARE(removed.outText(),
             QStringLiteral("Removed task: ") + (printed.isEmpty() ? name : printed) + '\n');
    QCOMPARE(cli.storedTasks(), QList<ScheduledTask>());
}

QTEST_GUILESS_MAIN(TestCliReliability)
#include "TestCliReliability.moc"
