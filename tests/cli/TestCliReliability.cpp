// brenmor-ops under stress: concurrent writers, damaged task files, hostile text.
#include "CliHarness.h"
#include "TaskFile.h"

#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <memory>
#include <vector>

class TestCliReliability : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parallelAddsAllSurvive();
    void damagedFileIsLeftAlone_data();
    void damagedFileIsLeftAlone();
    void hostileTextIsStoredExactly_data();
    void hostileTextIsStoredExactly();
};

void TestCliReliability::parallelAddsAllSurvive()
{
    CliHarness cli;
    constexpr int count = 50;
    QProcessEnvironment environment = cli.home().environment();
    // The same stand-ins the harness gives a single run.
    const QString fakes = cli.home().path() + QStringLiteral("/fakes/");
    environment.insert(QStringLiteral("BRENMOR_OPS_LAUNCHCTL"),
                       fakes + QStringLiteral("launchctl"));
    environment.insert(QStringLiteral("BRENMOR_OPS_OSASCRIPT"),
                       fakes + QStringLiteral("osascript"));

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

    QTest::newRow("quotes") << QStringLiteral("It's \"quoted\"")
                            << QStringLiteral("echo \"it's\" 'a \"test\"'")
                            << QStringLiteral("/tmp/it's \"dir\"")
                            << QStringLiteral("/tmp/a'b\".env");
    QTest::newRow("substitutions")
        << QStringLiteral("$(touch pwned) `id` ${HOME}")
        << QStringLiteral("echo \"$(date)\" `whoami` $((1+2))")
        << QStringLiteral("/tmp/$(rm -rf x)/`id`") << QStringLiteral("/tmp/${PATH}.env");
    QTest::newRow("line feeds and tabs")
        << QStringLiteral("line1\nline2\tTab") << QStringLiteral("echo one\necho\ttwo")
        << QStringLiteral("/tmp/new\nline") << QStringLiteral("/tmp/tab\there.env");
    QTest::newRow("non-ASCII") << QStringLiteral("Sauvegarde été 日本語 🚀")
                               << QStringLiteral("echo 'héllo wörld' ✓")
                               << QStringLiteral("/tmp/données/データ")
                               << QStringLiteral("/tmp/ñ.env");
    QTest::newRow("XML specials") << QStringLiteral("<b>&amp;</b>")
                                  << QStringLiteral("echo a && echo b > /dev/null")
                                  << QStringLiteral("/tmp/a&b<c>")
                                  << QStringLiteral("/tmp/x&y.env");
    QTest::newRow("backslashes") << QStringLiteral("back\\slash\\")
                                 << QStringLiteral("printf '%s\\n' a\\\\b")
                                 << QStringLiteral("/tmp/back\\slash")
                                 << QStringLiteral("C:\\env\\file");
    QTest::newRow("leading dashes") << QStringLiteral("--wake") << QStringLiteral("--version")
                                    << QStringLiteral("-rf") << QStringLiteral("--");
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
    QCOMPARE(result.outText(),
             QStringLiteral("Added task: ") + name + QStringLiteral(" (Run at load)\n"));
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
    QCOMPARE(removed.outText(), QStringLiteral("Removed task: ") + name + '\n');
    QCOMPARE(cli.storedTasks(), QList<ScheduledTask>());
}

QTEST_GUILESS_MAIN(TestCliReliability)
#include "TestCliReliability.moc"
