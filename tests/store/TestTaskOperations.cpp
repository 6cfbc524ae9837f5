// The task operations both programs run: each operation under the application's policy
// (a refused wake keeps the task disabled; wake first) and the tool's (saved as asked, wake
// after, every request made, the other agents checked), one table for both.

#include "FakeServices.h"
#include "ResultChecks.h"
#include "TaskBuilder.h"
#include "TaskFile.h"
#include "TaskMigration.h"
#include "TaskOperations.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

namespace {

const QString wakeRefused = QStringLiteral("pmset failed: User canceled.");
const QString loadRefused = QStringLiteral("launchctl load failed (exit code 5)");

// describedTask() with a fourth field naming a task of `earlier` whose short ID it shares.
ScheduledTask describedTwin(const QString& descriptor, const QList<ScheduledTask>& earlier)
{
    ScheduledTask task = describedTask(descriptor);
    const QString twinOf = descriptor.section(QLatin1Char(':'), 3);
    for (const ScheduledTask& other : earlier) {
        if (!twinOf.isEmpty() && other.name == twinOf)
            task.id = QUuid::fromString(other.idString().left(8) +
                                        QUuid::createUuid().toString(QUuid::WithoutBraces).mid(8));
    }
    return task;
}

QList<ScheduledTask> makeList(const QStringList& descriptors)
{
    QList<ScheduledTask> tasks;
    for (const QString& descriptor : descriptors)
        tasks << describedTwin(descriptor, tasks);
    return tasks;
}

// "Name:ew" for an enabled wake task, "Name:" for a disabled one without wake.
QStringList summaries(const QList<ScheduledTask>& tasks)
{
    QStringList lines;
    for (const ScheduledTask& task : tasks) {
        lines << task.name + QLatin1Char(':') + (task.isEnabled ? QStringLiteral("e") : QString()) +
                     (task.wakeBeforeRun ? QStringLiteral("w") : QString());
    }
    return lines;
}

class Fixture {
public:
    TestHome home;
    std::shared_ptr<CallRecorder> recorder = std::make_shared<CallRecorder>();

    TaskOperations operations(const QString& policy) const
    {
        TaskOperations::Context context;
        context.taskFilePath = home.taskFile();
        context.launchd = std::make_shared<FakeLaunchdService>(recorder);
        context.pmset = std::make_shared<FakePmsetService>(recorder);
        if (policy == QStringLiteral("app")) {
            context.wakeRefusal = TaskOperations::WakeRefusal::keepDisabled;
            context.unreadableFile = TaskFileTransaction::UnreadableFile::keepCopy;
            context.agentsUnderLock = false;
        } else {
            context.wakeRefusal = TaskOperations::WakeRefusal::saveAndReport;
            context.unreadableFile = TaskFileTransaction::UnreadableFile::refuse;
            context.checkOtherAgents = true;
        }
        return TaskOperations(context);
    }
    void writeTaskFile(const QList<ScheduledTask>& tasks) const
    {
        QDir().mkpath(home.dataFolder());
        VERIFY_OK(TaskFile::write(home.taskFile(), tasks));
    }
};

// "verb argument": add/update take a descriptor, enable/disable/remove/duplicate a name (or,
// for remove, "ids:" and names), import a descriptor of the data.
OperationResult perform(const TaskOperations& operations, const QString& operation,
                        const QList<ScheduledTask>& initial)
{
    const QString verb = operation.section(QLatin1Char(' '), 0, 0);
    const QString argument = operation.section(QLatin1Char(' '), 1);
    const auto named = [&initial](const QString& name) {
        for (const ScheduledTask& task : initial) {
            if (task.name == name)
                return task;
        }
        return describedTask(name); // not in the list
    };
    if (verb == QStringLiteral("add"))
        return operations.add(describedTwin(argument, initial));
    if (verb == QStringLiteral("update")) {
        ScheduledTask changed = describedTask(argument);
        changed.id = named(changed.name).id;
        return operations.update(changed);
    }
    if (verb == QStringLiteral("enable") || verb == QStringLiteral("disable"))
        return operations.setEnabled(TaskSelector::byName(argument),
                                     verb == QStringLiteral("enable"));
    if (verb == QStringLiteral("remove") && argument.startsWith(QStringLiteral("ids:"))) {
        QSet<QUuid> ids;
        for (const QString& name : argument.mid(4).split(QLatin1Char(',')))
            ids << named(name).id;
        return operations.remove(TaskSelector::byIds(ids));
    }
    if (verb == QStringLiteral("remove"))
        return operations.remove(TaskSelector::byName(argument));
    if (verb == QStringLiteral("duplicate"))
        return operations.duplicate(named(argument));
    return operations.import(TaskMigration::encodeTasks({describedTask(argument)}));
}

} // namespace

class TestTaskOperations final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void operation_data();
    void operation();
    void unreadableTaskFile_data();
    void unreadableTaskFile();
    void selectorFindsByNameOrIdPrefix_data();
    void selectorFindsByNameOrIdPrefix();
};

void TestTaskOperations::operation_data()
{
    QTest::addColumn<QString>("policy"); // "app" or "tool"
    QTest::addColumn<QStringList>("initial");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("failingWakes");
    QTest::addColumn<QStringList>("failingInstalls");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<QStringList>("expectedFile"); // summaries(); ignored when the file stays
    QTest::addColumn<QStringList>("expectedFailures");
    QTest::addColumn<QString>("expectedError"); // the error's text; empty for a report

    const QStringList none;
    const QString app = QStringLiteral("app");
    const QString tool = QStringLiteral("tool");
    const QString sweep = QStringLiteral("sweep"); // the tool's check of the other agents
    const QStringList backupAndReport{QStringLiteral("Backup:daily:ew"),
                                      QStringLiteral("Report:monthly:ew")};

    // Adding: the one difference between the programs, a refused wake registration.
    QTest::newRow("app: add wake task, wake first")
        << app << none << QStringLiteral("add New:daily:ew") << none << none
        << QStringList{QStringLiteral("wake New"), QStringLiteral("install New")}
        << QStringList{QStringLiteral("New:ew")} << none << QString();
    QTest::newRow("tool: add wake task, file and agent first")
        << tool << none << QStringLiteral("add New:daily:ew") << none << none
        << QStringList{QStringLiteral("install New"), sweep, QStringLiteral("wake New")}
        << QStringList{QStringLiteral("New:ew")} << none << QString();
    QTest::newRow("app: refused wake keeps the added task disabled")
        << app << none << QStringLiteral("add New:daily:ew") << QStringList{QStringLiteral("New")}
        << none << QStringList{QStringLiteral("wake New")} << QStringList{QStringLiteral("New:w")}
        << QStringList{wakeRefused} << QString();
    QTest::newRow("tool: refused wake, the task is saved as asked and the refusal reported")
        << tool << none << QStringLiteral("add New:daily:ew") << QStringList{QStringLiteral("New")}
        << none << QStringList{QStringLiteral("install New"), sweep, QStringLiteral("wake New")}
        << QStringList{QStringLiteral("New:ew")} << QStringList{wakeRefused} << QString();
    QTest::newRow("app: the first refusal ends the registrations")
        << app << QStringList{QStringLiteral("M1:monthly:ew")}
        << QStringLiteral("add M2:monthly:ew") << QStringList{QStringLiteral("M1")} << none
        << QStringList{QStringLiteral("wake M1")}
        << QStringList{QStringLiteral("M1:ew"), QStringLiteral("M2:w")} << QStringList{wakeRefused}
        << QString();
    QTest::newRow("tool: every registration is asked for, the first refusal reported")
        << tool << QStringList{QStringLiteral("M1:monthly:ew")}
        << QStringLiteral("add M2:monthly:ew")
        << QStringList{QStringLiteral("M1"), QStringLiteral("M2")} << none
        << QStringList{QStringLiteral("install M2"), sweep, QStringLiteral("wake M1"),
                       QStringLiteral("wake M2")}
        << QStringList{QStringLiteral("M1:ew"), QStringLiteral("M2:ew")} << QStringList{wakeRefused}
        << QString();
    QTest::newRow("app: install failure reported, task stays enabled")
        << app << none << QStringLiteral("add New:daily:e") << none
        << QStringList{QStringLiteral("New")} << QStringList{QStringLiteral("install New")}
        << QStringList{QStringLiteral("New:e")} << QStringList{loadRefused} << QString();
    QTest::newRow("tool: install failure reported, task stays enabled")
        << tool << none << QStringLiteral("add New:daily:e") << none
        << QStringList{QStringLiteral("New")} << QStringList{QStringLiteral("install New"), sweep}
        << QStringList{QStringLiteral("New:e")} << QStringList{loadRefused} << QString();
    QTest::newRow("tool: a new task never takes another's short ID")
        << tool << QStringList{QStringLiteral("Old:daily:")} << QStringLiteral("add New:daily::Old")
        << none << none << QStringList{sweep}
        << QStringList{QStringLiteral("Old:"), QStringLiteral("New:")} << none << QString();

    // Enabling and disabling.
    QTest::newRow("app: enable wake task registers first")
        << app << QStringList{QStringLiteral("Backup:daily:w")} << QStringLiteral("enable Backup")
        << none << none
        << QStringList{QStringLiteral("wake Backup"), QStringLiteral("install Backup")}
        << QStringList{QStringLiteral("Backup:ew")} << none << QString();
    QTest::newRow("app: enable refused wake keeps the task disabled")
        << app << QStringList{QStringLiteral("Backup:daily:w")} << QStringLiteral("enable Backup")
        << QStringList{QStringLiteral("Backup")} << none
        << QStringList{QStringLiteral("wake Backup")} << QStringList{QStringLiteral("Backup:w")}
        << QStringList{wakeRefused} << QString();
    QTest::newRow("tool: enable refused wake, enabled and reported")
        << tool << QStringList{QStringLiteral("Backup:daily:w")} << QStringLiteral("enable backup")
        << QStringList{QStringLiteral("Backup")} << none
        << QStringList{QStringLiteral("install Backup"), sweep, QStringLiteral("wake Backup")}
        << QStringList{QStringLiteral("Backup:ew")} << QStringList{wakeRefused} << QString();
    QTest::newRow("tool: enabling an enabled task installs it again")
        << tool << QStringList{QStringLiteral("Backup:daily:e")} << QStringLiteral("enable Backup")
        << none << none << QStringList{QStringLiteral("install Backup"), sweep}
        << QStringList{QStringLiteral("Backup:e")} << none << QString();
    QTest::newRow("app: disable wake task, its events follow")
        << app << backupAndReport << QStringLiteral("disable Backup") << none << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("cancel repeating wake"),
                       QStringLiteral("wake Report")}
        << QStringList{QStringLiteral("Backup:w"), QStringLiteral("Report:ew")} << none
        << QString();
    QTest::newRow("tool: disable wake task, its events follow")
        << tool << backupAndReport << QStringLiteral("disable Backup") << none << none
        << QStringList{QStringLiteral("uninstall Backup"), sweep,
                       QStringLiteral("cancel repeating wake"), QStringLiteral("wake Report")}
        << QStringList{QStringLiteral("Backup:w"), QStringLiteral("Report:ew")} << none
        << QString();
    for (const QString& policy : {app, tool}) {
        QTest::addRow("%s: enable an unknown task", qPrintable(policy))
            << policy << QStringList{QStringLiteral("Backup:daily:")}
            << QStringLiteral("enable Ghost") << none << none << none << none << none
            << QStringLiteral("Task not found: Ghost");
        QTest::addRow("%s: enable a short-ID twin is refused", qPrintable(policy))
            << policy
            << QStringList{QStringLiteral("Backup:daily:e"), QStringLiteral("Twin:daily::Backup")}
            << QStringLiteral("enable Twin") << none << none << none << none << none
            << QStringLiteral("twin");
    }

    // Removing.
    QTest::newRow("app: remove a set, agents first, then the wake events")
        << app << QStringList{QStringLiteral("Backup:daily:ew"), QStringLiteral("Plain:daily:e")}
        << QStringLiteral("remove ids:Plain,Backup") << none << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("uninstall Plain"),
                       QStringLiteral("cancel repeating wake")}
        << QStringList() << none << QString();
    QTest::newRow("app: identifiers no longer listed are passed over")
        << app << QStringList{QStringLiteral("Plain:daily:e")} << QStringLiteral("remove ids:Ghost")
        << none << none << none << QStringList{QStringLiteral("Plain:e")} << none << QString();
    QTest::newRow("tool: remove by name")
        << tool << backupAndReport << QStringLiteral("remove Report") << none << none
        << QStringList{QStringLiteral("uninstall Report"), sweep,
                       QStringLiteral("cancel wake Report"), QStringLiteral("wake Backup")}
        << QStringList{QStringLiteral("Backup:ew")} << none << QString();
    QTest::newRow("tool: remove an unknown task")
        << tool << backupAndReport << QStringLiteral("remove Ghost") << none << none << none << none
        << none << QStringLiteral("Task not found: Ghost");

    // Updating, duplicating, importing.
    QTest::newRow("app: update wanting wake, refused: reinstalled without wake")
        << app << QStringList{QStringLiteral("Backup:daily:e")}
        << QStringLiteral("update Backup:daily:ew") << QStringList{QStringLiteral("Backup")} << none
        << QStringList{QStringLiteral("wake Backup"), QStringLiteral("uninstall Backup"),
                       QStringLiteral("install Backup")}
        << QStringList{QStringLiteral("Backup:e")} << QStringList{wakeRefused} << QString();
    QTest::newRow("tool: update wanting wake, refused: saved with wake and reported")
        << tool << QStringList{QStringLiteral("Backup:daily:e")}
        << QStringLiteral("update Backup:daily:ew") << QStringList{QStringLiteral("Backup")} << none
        << QStringList{QStringLiteral("uninstall Backup"), QStringLiteral("install Backup"), sweep,
                       QStringLiteral("wake Backup")}
        << QStringList{QStringLiteral("Backup:ew")} << QStringList{wakeRefused} << QString();
    QTest::newRow("app: duplicate adds a disabled copy")
        << app << QStringList{QStringLiteral("Backup:daily:ew")}
        << QStringLiteral("duplicate Backup") << none << none << none
        << QStringList{QStringLiteral("Backup:ew"), QStringLiteral("Backup (copy):w")} << none
        << QString();
    QTest::newRow("tool: import installs the enabled, then wake")
        << tool << QStringList{QStringLiteral("Backup:daily:")}
        << QStringLiteral("import New:weekly:ew") << none << none
        << QStringList{QStringLiteral("install New"), sweep, QStringLiteral("wake New")}
        << QStringList{QStringLiteral("Backup:"), QStringLiteral("New:ew")} << none << QString();
}

void TestTaskOperations::operation()
{
    QFETCH(QString, policy);
    QFETCH(QStringList, initial);
    QFETCH(QString, operation);
    QFETCH(QStringList, failingWakes);
    QFETCH(QStringList, failingInstalls);
    QFETCH(QStringList, expectedCalls);
    QFETCH(QStringList, expectedFile);
    QFETCH(QStringList, expectedFailures);
    QFETCH(QString, expectedError);
    Fixture f;
    const QList<ScheduledTask> tasks = makeList(initial);
    f.writeTaskFile(tasks);
    const QByteArray before = TestSupport::readFile(f.home.taskFile());
    f.recorder->failingWakes = QSet<QString>(failingWakes.begin(), failingWakes.end());
    f.recorder->failingInstalls = QSet<QString>(failingInstalls.begin(), failingInstalls.end());

    const OperationResult result = perform(f.operations(policy), operation, tasks);
    QCOMPARE(f.recorder->calls, expectedCalls);
    if (!expectedError.isEmpty()) {
        QVERIFY(!result.ok());
        if (expectedError == QStringLiteral("twin")) {
            QCOMPARE(result.error().kind, OperationError::Kind::refused);
            QCOMPARE(result.error().text, shortIdCollisionMessage(tasks.at(1), tasks.at(0)));
        } else {
            QCOMPARE(result.error().kind, OperationError::Kind::notFound);
            QCOMPARE(result.error().text, expectedError);
        }
        QCOMPARE(TestSupport::readFile(f.home.taskFile()), before);
        return;
    }
    QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().text));
    QVERIFY(result->written);
    QCOMPARE(result->failures, expectedFailures);
    const QList<ScheduledTask> saved = TaskFile::read(f.home.taskFile()).tasks;
    QCOMPARE(summaries(saved), expectedFile);
    QCOMPARE(result->tasks, saved);
    // Every task of the list has its own short ID, whatever the operation added.
    for (const ScheduledTask& task : saved)
        QVERIFY(!shortIdTwin(saved, task));
}

void TestTaskOperations::unreadableTaskFile_data()
{
    QTest::addColumn<QString>("policy");
    QTest::addColumn<bool>("saved");
    // The tool leaves a file it cannot decode alone; the application keeps a copy and saves.
    QTest::newRow("tool refuses") << QStringLiteral("tool") << false;
    QTest::newRow("app keeps a copy") << QStringLiteral("app") << true;
}

void TestTaskOperations::unreadableTaskFile()
{
    QFETCH(QString, policy);
    QFETCH(bool, saved);
    Fixture f;
    QDir().mkpath(f.home.dataFolder());
    const QByteArray unreadable(R"({"version": 2, "tasks": [{"name": "hand edited"}]})");
    TestSupport::writeFile(f.home.taskFile(), unreadable);
    const QList<ScheduledTask> shown = makeTasks({QStringLiteral("Shown:daily:")});

    const OperationResult result =
        f.operations(policy).add(describedTask(QStringLiteral("New:daily:e")), shown);
    if (!saved) {
        QVERIFY(!result.ok());
        QCOMPARE(result.error().kind, OperationError::Kind::file);
        QCOMPARE(result.error().status, TaskFileTransaction::Status::unreadable);
        // What the change would have made of the list shown, for a program that keeps it.
        QCOMPARE(namesOf(result.error().unsaved),
                 (QStringList{QStringLiteral("Shown"), QStringLiteral("New")}));
        QCOMPARE(TestSupport::readFile(f.home.taskFile()), unreadable);
        QVERIFY(f.recorder->calls.isEmpty());
        return;
    }
    QVERIFY(result.ok());
    QCOMPARE(namesOf(TaskFile::read(f.home.taskFile()).tasks),
             (QStringList{QStringLiteral("Shown"), QStringLiteral("New")}));
    QCOMPARE(result->failures.size(), 1);
    QVERIFY2(result->failures.constFirst().startsWith(
                 QStringLiteral("The task file could not be read, so it was kept as ")),
             qPrintable(result->failures.constFirst()));
    QCOMPARE(f.recorder->calls, QStringList{QStringLiteral("install New")});
}

void TestTaskOperations::selectorFindsByNameOrIdPrefix_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("expected"); // index into Alpha, Beta, alpha; -1: none
    QTest::newRow("name, any case") << QStringLiteral("BETA") << 1;
    QTest::newRow("first of two names that differ in case") << QStringLiteral("alpha") << 0;
    QTest::newRow("identifier prefix") << QStringLiteral("id:3") << 2;
    QTest::newRow("neither") << QStringLiteral("Gamma") << -1;
}

void TestTaskOperations::selectorFindsByNameOrIdPrefix()
{
    QFETCH(QString, word);
    QFETCH(int, expected);
    const QList<ScheduledTask> tasks{
        TaskBuilder(QStringLiteral("Alpha"))
            .id(QStringLiteral("11111111-0000-0000-0000-000000000001")),
        TaskBuilder(QStringLiteral("Beta"))
            .id(QStringLiteral("22222222-0000-0000-0000-000000000002")),
        TaskBuilder(QStringLiteral("alpha"))
            .id(QStringLiteral("33333333-0000-0000-0000-000000000003"))};
    if (word == QStringLiteral("id:3"))
        word = tasks.at(2).idString().left(3);
    const QList<qsizetype> found = TaskSelector::byName(word).find(tasks);
    QCOMPARE(found, expected < 0 ? QList<qsizetype>() : QList<qsizetype>{expected});
}

QTEST_GUILESS_MAIN(TestTaskOperations)
#include "TestTaskOperations.moc"
