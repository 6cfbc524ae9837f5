// The menu commands: export and import of the task file, and linking the command-line tool.
#include "AppFakes.h"
#include "CliInstallCommand.h"
#include "ExportImportCommands.h"
#include "Result.h"
#include "TaskBuilder.h"
#include "TaskMigration.h"
#include "TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTest>
#include <QWidget>

#include <sys/stat.h>

class TestAppCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void importResultText_data();
    void importResultText();
    void importShowsResult_data();
    void importShowsResult();
    void importOfUnreadableFileFails();
    void importReadsOnlyBoundedRegularFiles_data();
    void importReadsOnlyBoundedRegularFiles();
    void importCancelledShowsNothing();
    void exportWritesWholeListAndFollowsTasks();
    void exportThatCannotWriteSaysSo();
    void cliInstall_data();
    void cliInstall();
    void cliInstallThroughAdministratorRequest();
};

void TestAppCommands::importResultText_data()
{
    QTest::addColumn<int>("imported");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << 0 << 0
                             << QStringLiteral("The selected file contained no new tasks.");
    QTest::newRow("one imported") << 1 << 0 << QStringLiteral("\u2022 1 task imported.");
    QTest::newRow("two imported") << 2 << 0 << QStringLiteral("\u2022 2 tasks imported.");
    QTest::newRow("three skipped")
        << 0 << 3 << QStringLiteral("\u2022 3 skipped (already present).");
    QTest::newRow("one skipped") << 0 << 1 << QStringLiteral("\u2022 1 skipped (already present).");
    QTest::newRow("both") << 1 << 2
                          << QStringLiteral("\u2022 1 task imported.\n"
                                            "\u2022 2 skipped (already present).");
}

void TestAppCommands::importResultText()
{
    QFETCH(int, imported);
    QFETCH(int, skipped);
    QFETCH(QString, text);
    QCOMPARE(ExportImportCommands::importResultText({imported, skipped}), text);
}

void TestAppCommands::importShowsResult_data()
{
    QTest::addColumn<int>("known");    // tasks in the file the store already holds
    QTest::addColumn<int>("newTasks"); // tasks in the file the store does not hold
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("storeSizeAfter");
    QTest::newRow("same file again: 3 skipped")
        << 3 << 0 << QStringLiteral("Import Complete")
        << QStringLiteral("\u2022 3 skipped (already present).") << 3;
    QTest::newRow("1 imported, 2 skipped")
        << 2 << 1 << QStringLiteral("Import Complete")
        << QStringLiteral("\u2022 1 task imported.\n\u2022 2 skipped (already present).") << 4;
    QTest::newRow("empty list") << 0 << 0 << QStringLiteral("Import Complete")
                                << QStringLiteral("The selected file contained no new tasks.") << 3;
}

void TestAppCommands::importShowsResult()
{
    QFETCH(int, known);
    QFETCH(int, newTasks);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, storeSizeAfter);

    FakeStoreFixture fixture;
    for (const QString& name : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
        fixture.store->addTask(TaskBuilder(name).echoesName().every(15).build());
    QList<ScheduledTask> inFile = fixture.store->tasks().mid(0, known);
    for (int i = 0; i < newTasks; ++i)
        inFile.append(TaskBuilder(QStringLiteral("New %1").arg(i)).echoesName().every(15).build());
    const QString path = fixture.dir.path() + QStringLiteral("/import.json");
    TestSupport::writeFile(path, TaskMigration::encodeTasks(inFile));

    FakeDialogs dialogs;
    dialogs.openPath = path;
    QWidget window;
    ExportImportCommands commands(*fixture.store, dialogs, &window);
    commands.importAction()->trigger();
    QCOMPARE(dialogs.alerts.size(), 1);
    QCOMPARE(dialogs.alerts.at(0).title, title);
    QCOMPARE(dialogs.alerts.at(0).text, text);
    QCOMPARE(dialogs.alerts.at(0).style, Dialogs::AlertStyle::informational);
    QCOMPARE(fixture.store->tasks().size(), storeSizeAfter);
}

void TestAppCommands::importOfUnreadableFileFails()
{
    FakeStoreFixture fixture;
    fixture.store->addTask(TaskBuilder(QStringLiteral("A")).echoesName().every(15).build());
    const QByteArray before = TestSupport::readFile(fixture.store->taskFilePath());
    FakeDialogs dialogs;
    QWidget window;
    ExportImportCommands commands(*fixture.store, dialogs, &window);

    // Not a task file at all.
    dialogs.openPath = TestSupport::dataPath(QStringLiteral("app/not-a-task-file.json"));
    commands.importTasks();
    QCOMPARE(dialogs.alerts.size(), 1);
    QCOMPARE(dialogs.alerts.at(0).title, QStringLiteral("Import Failed"));
    QCOMPARE(dialogs.alerts.at(0).style, Dialogs::AlertStyle::warning);
    QCOMPARE(dialogs.alerts.at(0).text,
             TaskMigration::decodeTasks(TestSupport::readFile(*dialogs.openPath)).error());
    QVERIFY(!dialogs.alerts.at(0).text.isEmpty());

    // A file that is not there.
    dialogs.openPath = fixture.dir.path() + QStringLiteral("/absent.json");
    commands.importTasks();
    QCOMPARE(dialogs.alerts.size(), 2);
    QCOMPARE(dialogs.alerts.at(1).title, QStringLiteral("Import Failed"));
    QVERIFY(!dialogs.alerts.at(1).text.isEmpty());

    QCOMPARE(fixture.store->tasks().size(), 1);
    QCOMPARE(TestSupport::readFile(fixture.store->taskFilePath()), before);
}

void TestAppCommands::importReadsOnlyBoundedRegularFiles_data()
{
    QTest::addColumn<QString>("file"); // what stands at the chosen path
    QTest::addColumn<bool>("onWorker");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text"); // "%1": the path
    QTest::addColumn<int>("storeSizeAfter");
    const QString notRegular = QStringLiteral("%1 is not a regular file");
    const QString tooLarge = QStringLiteral("%1 is larger than ") +
                             QString::number(ExportImportCommands::maxImportBytes) +
                             QStringLiteral(" bytes");
    const QString imported = QStringLiteral("\u2022 1 task imported.");
    for (const bool onWorker : {false, true}) {
        const char* where = onWorker ? "on the worker" : "in the caller";
        QTest::addRow("FIFO without a writer, %s", where)
            << QStringLiteral("fifo") << onWorker << QStringLiteral("Import Failed") << notRegular
            << 1;
        QTest::addRow("folder, %s", where) << QStringLiteral("folder") << onWorker
                                           << QStringLiteral("Import Failed") << notRegular << 1;
        QTest::addRow("one byte over the bound, %s", where)
            << QStringLiteral("oversize") << onWorker << QStringLiteral("Import Failed") << tooLarge
            << 1;
        QTest::addRow("task file, %s", where) << QStringLiteral("valid") << onWorker
                                              << QStringLiteral("Import Complete") << imported << 2;
    }
}

// A FIFO, a folder or a huge file chosen by mistake is refused with its reason at once: the
// reader neither waits for a writer nor reads without end. On the worker the command waits,
// disabled and with the busy cursor, until the result arrives.
void TestAppCommands::importReadsOnlyBoundedRegularFiles()
{
    QFETCH(QString, file);
    QFETCH(bool, onWorker);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, storeSizeAfter);

    FakeStoreFixture fixture(onWorker ? TaskStore::Execution::onWorker
                                      : TaskStore::Execution::inCaller);
    fixture.store->addTask(TaskBuilder(QStringLiteral("A")).echoesName().every(15).build());
    QTRY_COMPARE_WITH_TIMEOUT(fixture.store->tasks().size(), 1, TestSupport::eventTimeoutMs);
    const QString path = fixture.dir.path() + QStringLiteral("/chosen.json");
    if (file == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (file == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (file == QLatin1String("oversize")) {
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(ExportImportCommands::maxImportBytes + 1));
    } else {
        TestSupport::writeFile(
            path, TaskMigration::encodeTasks(
                      {TaskBuilder(QStringLiteral("B")).echoesName().every(15).build()}));
    }

    FakeDialogs dialogs;
    dialogs.openPath = path;
    QWidget window;
    ExportImportCommands commands(*fixture.store, dialogs, &window);
    commands.importAction()->trigger();
    if (onWorker) {
        QVERIFY(commands.isImporting());
        QVERIFY(!commands.importAction()->isEnabled());
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        QVERIFY(dialogs.alerts.isEmpty());
    }
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.alerts.size(), 1, TestSupport::eventTimeoutMs);
    QCOMPARE(dialogs.alerts.at(0).title, title);
    QCOMPARE(dialogs.alerts.at(0).text, text.contains(QLatin1String("%1")) ? text.arg(path) : text);
    QVERIFY(!commands.isImporting());
    QVERIFY(commands.importAction()->isEnabled());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(fixture.store->tasks().size(), storeSizeAfter);
}

void TestAppCommands::importCancelledShowsNothing()
{
    FakeStoreFixture fixture;
    FakeDialogs dialogs;
    QWidget window;
    ExportImportCommands commands(*fixture.store, dialogs, &window);
    commands.importTasks();
    QVERIFY(dialogs.alerts.isEmpty());
}

void TestAppCommands::exportWritesWholeListAndFollowsTasks()
{
    FakeStoreFixture fixture;
    FakeDialogs dialogs;
    QWidget window;
    ExportImportCommands commands(*fixture.store, dialogs, &window);
    QCOMPARE(commands.exportAction()->text(), QStringLiteral("Export Tasks\u2026"));
    QCOMPARE(commands.importAction()->text(), QStringLiteral("Import Tasks\u2026"));
    QVERIFY(!commands.exportAction()->isEnabled());

    fixture.store->addTask(TaskBuilder(QStringLiteral("A")).echoesName().every(15).build());
    fixture.store->addTask(TaskBuilder(QStringLiteral("B")).echoesName().every(15).build());
    QVERIFY(commands.exportAction()->isEnabled());
    const QString path = fixture.dir.path() + QStringLiteral("/export.json");
    dialogs.savePath = path;
    commands.exportAction()->trigger();
    QCOMPARE(dialogs.suggestedNames, QStringList{QStringLiteral("BrenmorOps-tasks.json")});
    // Byte for byte what the task file holds for the same list.
    QCOMPARE(TestSupport::readFile(path), TestSupport::readFile(fixture.store->taskFilePath()));
    QVERIFY(dialogs.alerts.isEmpty());

    fixture.store->deleteTasks({fixture.store->tasks().at(0).id, fixture.store->tasks().at(1).id});
    QVERIFY(!commands.exportAction()->isEnabled());
}

// A failed export must not look like a finished one: the user would count on a copy that is
// not there.
void TestAppCommands::exportThatCannotWriteSaysSo()
{
    FakeStoreFixture fixture;
    fixture.store->addTask(TaskBuilder(QStringLiteral("A")).echoesName().every(15).build());
    FakeDialogs dialogs;
    QWidget window;
    ExportImportCommands commands(*fixture.store, dialogs, &window);
    const QString path = fixture.dir.path() + QStringLiteral("/no such folder/export.json");
    dialogs.savePath = path;
    commands.exportAction()->trigger();
    QCOMPARE(dialogs.alerts.size(), 1);
    QCOMPARE(dialogs.alerts.at(0).title, QStringLiteral("Export Failed"));
    QCOMPARE(dialogs.alerts.at(0).style, Dialogs::AlertStyle::warning);
    QVERIFY2(dialogs.alerts.at(0).text.startsWith(QStringLiteral("Cannot write ") + path +
                                                  QStringLiteral(": ")),
             qPrintable(dialogs.alerts.at(0).text));
    QVERIFY(!QFile::exists(path));
}

void TestAppCommands::cliInstall_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<QString>("installError"); // null: success
    QTest::addColumn<bool>("installerCalled");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing tool") << false << QString() << false
                                  << QStringLiteral("CLI Binary Not Found")
                                  << QStringLiteral(
                                         "The CLI tool was not found in the app bundle.");
    QTest::newRow("declined") << true << QStringLiteral("User canceled.") << true
                              << QStringLiteral("Installation Failed")
                              << QStringLiteral("User canceled.");
    QTest::newRow("no message") << true << QStringLiteral("") << true
                                << QStringLiteral("Installation Failed")
                                << QStringLiteral("Unknown error");
    QTest::newRow("installed") << true << QString() << true << QStringLiteral("CLI Installed")
                               << QStringLiteral("You can now use 'brenmor-ops' in your "
                                                 "terminal.\n\nTry: brenmor-ops --help");
}

void TestAppCommands::cliInstall()
{
    QFETCH(bool, targetExists);
    QFETCH(QString, installError);
    QFETCH(bool, installerCalled);
    QFETCH(QString, title);
    QFETCH(QString, text);

    QTemporaryDir dir;
    const QString target = dir.path() + QStringLiteral("/brenmor-ops");
    if (targetExists)
        TestSupport::writeScript(target, "#!/bin/sh\n");
    QStringList calls;
    const auto installer = [&](const QString& source, const QString& destination) -> Result<void> {
        calls << source + QStringLiteral(" -> ") + destination;
        if (installError.isNull())
            return {};
        return Result<void>::failure(installError);
    };
    FakeDialogs dialogs;
    QWidget window;
    CliInstallCommand command(dialogs, &window, target, installer);
    QCOMPARE(command.action()->text(), QStringLiteral("Install CLI Command..."));
    command.action()->trigger();
    QCOMPARE(calls.isEmpty(), !installerCalled);
    if (installerCalled)
        QCOMPARE(calls.at(0), target + QStringLiteral(" -> /usr/local/bin/brenmor-ops"));
    QCOMPARE(dialogs.alerts.size(), 1);
    QCOMPARE(dialogs.alerts.at(0).title, title);
    QCOMPARE(dialogs.alerts.at(0).text, text);
    QCOMPARE(dialogs.alerts.at(0).style, title == QStringLiteral("CLI Installed")
                                             ? Dialogs::AlertStyle::informational
                                             : Dialogs::AlertStyle::warning);
}

void TestAppCommands::cliInstallThroughAdministratorRequest()
{
    // The real installer hands the script to osascript; a stand-in records it and refuses.
    QTemporaryDir dir;
    const QString target = dir.path() + QStringLiteral("/it's here/brenmor-ops");
    TestSupport::writeScript(target, "#!/bin/sh\n");
    const QString osascript = dir.path() + QStringLiteral("/osascript");
    const QString record = dir.path() + QStringLiteral("/script.txt");
    TestSupport::writeScript(osascript,
                             "#!/bin/sh\nprintf '%s' \"$2\" > '" + record.toUtf8() +
                                 "'\necho '0:1: execution error: User canceled. (-128)' >&2\n"
                                 "exit 1\n");
    qputenv("BRENMOR_OPS_OSASCRIPT", osascript.toUtf8());
    FakeDialogs dialogs;
    QWidget window;
    CliInstallCommand command(dialogs, &window, target);
    command.run();
    qunsetenv("BRENMOR_OPS_OSASCRIPT");
    QCOMPARE(QString::fromUtf8(TestSupport::readFile(record)),
             QStringLiteral("do shell script \"/bin/ln -sf '") + dir.path() +
                 QStringLiteral("/it'\\\\''s here/brenmor-ops' '/usr/local/bin/brenmor-ops'\" "
                                "with administrator privileges"));
    QCOMPARE(dialogs.alerts.size(), 1);
    QCOMPARE(dialogs.alerts.at(0).title, QStringLiteral("Installation Failed"));
    QCOMPARE(dialogs.alerts.at(0).text, QStringLiteral("User canceled."));
}

QTEST_MAIN(TestAppCommands)
#include "TestAppCommands.moc"
