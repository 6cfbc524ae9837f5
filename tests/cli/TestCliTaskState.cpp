// brenmor-ops remove/rm, enable and disable as real processes: lookup, side effects and their
// order relative to the save, wake refresh.
#include "ChangeNotification.h"
#include "CliHarness.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {
TimeOfDay at(int hour, int minute) { return TimeOfDay{hour, minute}; }

const QString backupId = QStringLiteral("3F2A9C1D-0000-4000-8000-000000000001");
const QString reportId = QStringLiteral("3F2A9C1E-1111-4000-8000-000000000002");
const QString umlautId = QStringLiteral("AB12CD34-2222-4000-8000-000000000003");
const QString prefixNameId = QStringLiteral("C0FFEE00-3333-4000-8000-000000000004");
const QString twinId = QStringLiteral("D00D0000-4444-4000-8000-000000000005");

// Five tasks: two share the first seven identifier characters, one has a non-ASCII name, one
// is named like another's identifier prefix, and two are named "Backup". All are disabled, so
// the tool's repair of the agents after a change has nothing to do but the command's own work
// (two tasks whose first eight characters agree are never both enabled: see
// shortIdTwinIsNeverEnabled).
QList<ScheduledTask> lookupTasks()
{
    return {storedTask(QStringLiteral("Backup"), backupId).daily({at(3, 0)}).disabled().build(),
            storedTask(QStringLiteral("Report"), reportId).every(5).disabled().build(),
            storedTask(QStringLiteral("ÄRGER Über"), umlautId).atLoad().disabled().build(),
            storedTask(QStringLiteral("3f2a"), prefixNameId).atLoad().disabled().build(),
            storedTask(QStringLiteral("Backup"), twinId).atLoad().disabled().build()};
}
} // namespace

class TestCliTaskState : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void heard(const QString& name) { m_heard.append(name); }

private:
    QStringList m_heard;

private Q_SLOTS:
    void lookup_data();
    void lookup();
    void missingArgument_data();
    void missingArgument();
    void sideEffectsInOrder_data();
    void sideEffectsInOrder();
    void enableRewritesAnEnabledTask();
    void wakeRefresh_data();
    void wakeRefresh();
    void cancelledRepeatingWakeKeepsOneTimeEvents();
    void doneWhenBackupIsAddedDisabledAndRemoved();
    void agentAndWakeFailuresAreReported_data();
    void agentAndWakeFailuresAreReported();
    void changeNotification_data();
    void changeNotification();
    void userTextShownEscaped_data();
    void userTextShownEscaped();
    void shortIdTwinIsNeverEnabled();
};

void TestCliTaskState::lookup_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("expectedId"); // empty: not found

    QTest::newRow("name") << QStringLiteral("Backup") << backupId;
    QTest::newRow("name lower-cased") << QStringLiteral("backup") << backupId;
    QTest::newRow("name upper-cased") << QStringLiteral("BACKUP") << backupId;
    QTest::newRow("non-ASCII name, other case") << QStringLiteral("ärger über") << umlautId;
    QTest::newRow("non-ASCII name, mixed case") << QStringLiteral("ÄrGeR üBER") << umlautId;
    QTest::newRow("short id") << QStringLiteral("ab12cd34") << umlautId;
    QTest::newRow("short id upper-case") << QStringLiteral("AB12CD34") << umlautId;
    QTest::newRow("shorter prefix") << QStringLiteral("c0f") << prefixNameId;
    QTest::newRow("shared prefix picks the earlier task") << QStringLiteral("3f2a9c1") << backupId;
    QTest::newRow("longer prefix reaches the later one") << QStringLiteral("3F2A9C1E") << reportId;
    QTest::newRow("full identifier") << reportId.toLower() << reportId;
    // The first task matches by identifier before the later task matches by name.
    QTest::newRow("earlier id prefix beats later name") << QStringLiteral("3F2A") << backupId;
    QTest::newRow("duplicate names reach the first") << QStringLiteral("backup") << backupId;
    QTest::newRow("twin through its identifier") << QStringLiteral("d00d") << twinId;
    QTest::newRow("unknown") << QStringLiteral("Nothing") << QString();
    QTest::newRow("name with trailing space") << QStringLiteral("Backup ") << QString();
    QTest::newRow("part of a name") << QStringLiteral("Back") << QString();
    QTest::newRow("id without hyphen") << QStringLiteral("3f2a9c1d0000") << QString();
}

void TestCliTaskState::lookup()
{
    QFETCH(QString, argument);
    QFETCH(QString, expectedId);

    CliHarness cli;
    const QList<ScheduledTask> seeded = lookupTasks();
    cli.seed(seeded);
    const QByteArray before = cli.taskFileBytes();

    const ProcessResult result = cli.run({QStringLiteral("disable"), argument});
    if (expectedId.isEmpty()) {
        QCOMPARE(result.errText(), QStringLiteral("Error: Task not found: ") + argument + '\n');
        QCOMPARE(result.outText(), QString());
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(cli.taskFileBytes(), before);
        QCOMPARE(cli.calls(), QStringList());
        return;
    }
    QCOMPARE(result.errText(), QString());
    QCOMPARE(result.exitCode, 0);
    const QList<ScheduledTask> stored = cli.storedTasks();
    QCOMPARE(stored.size(), seeded.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const bool target = stored[i].idString() == expectedId;
        QCOMPARE(stored[i].isEnabled, target ? false : seeded[i].isEnabled);
        if (target)
            QCOMPARE(result.outText(), QStringLiteral("Disabled task: ") + stored[i].name + '\n');
    }
    QCOMPARE(cli.calls(), QStringList{QStringLiteral("launchctl unload ") + expectedId});
}

void TestCliTaskState::missingArgument_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("usage");

    for (const char* word : {"remove", "rm", "enable", "disable"}) {
        const QString command = QLatin1String(word);
        const QString name = command == QLatin1String("rm") ? QStringLiteral("remove") : command;
        const QString usage =
            QStringLiteral("Error: Usage: brenmor-ops %1 <name-or-id>\n").arg(name);
        QTest::addRow("%s without argument", word) << QStringList{command} << usage;
        // An empty argument would select the first task of the file.
        QTest::addRow("%s with empty argument", word) << QStringList{command, QString()} << usage;
    }
}

void TestCliTaskState::missingArgument()
{
    QFETCH(QStringList, args);
    QFETCH(QString, usage);

    CliHarness cli;
    cli.seed(lookupTasks());
    const QByteArray before = cli.taskFileBytes();
    const ProcessResult result = cli.run(args);
    QCOMPARE(result.errText(), usage);
    QCOMPARE(result.outText(), QString());
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(cli.taskFileBytes(), before);
    QCOMPARE(cli.calls(), QStringList());
}

void TestCliTaskState::sideEffectsInOrder_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("enabledBefore");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("call");
    // What tasks.json said about the task while launchctl ran: absent, enabled or disabled.
    QTest::addColumn<QString>("fileAtCall");
    QTest::addColumn<QString>("fileAfter");

    QTest::newRow("remove uninstalls before saving")
        << QStringList{QStringLiteral("remove"), QStringLiteral("report")} << true
        << QStringLiteral("Removed task: Report\n") << QStringLiteral("unload")
        << QStringLiteral("enabled") << QStringLiteral("absent");
    QTest::newRow("rm is remove") << QStringList{QStringLiteral("rm"), QStringLiteral("3F2A9C1E")}
                                  << false << QStringLiteral("Removed task: Report\n")
                                  << QStringLiteral("unload") << QStringLiteral("disabled")
                                  << QStringLiteral("absent");
    QTest::newRow("enable saves before installing")
        << QStringList{QStringLiteral("enable"), QStringLiteral("REPORT"), QStringLiteral("extra")}
        << false << QStringLiteral("Enabled task: Report\n") << QStringLiteral("load")
        << QStringLiteral("enabled") << QStringLiteral("enabled");
    QTest::newRow("disable saves before uninstalling")
        << QStringList{QStringLiteral("disable"), QStringLiteral("Report")} << true
        << QStringLiteral("Disabled task: Report\n") << QStringLiteral("unload")
        << QStringLiteral("disabled") << QStringLiteral("disabled");
    QTest::newRow("disable a disabled task")
        << QStringList{QStringLiteral("disable"), QStringLiteral("report")} << false
        << QStringLiteral("Disabled task: Report\n") << QStringLiteral("unload")
        << QStringLiteral("disabled") << QStringLiteral("disabled");
}

void TestCliTaskState::sideEffectsInOrder()
{
    QFETCH(QStringList, args);
    QFETCH(bool, enabledBefore);
    QFETCH(QString, out);
    QFETCH(QString, call);
    QFETCH(QString, fileAtCall);
    QFETCH(QString, fileAfter);

    const auto state = [](const QList<ScheduledTask>& tasks) {
        for (const ScheduledTask& task : tasks) {
            if (task.idString() == reportId)
                return task.isEnabled ? QStringLiteral("enabled") : QStringLiteral("disabled");
        }
        return QStringLiteral("absent");
    };

    CliHarness cli;
    QList<ScheduledTask> seeded = lookupTasks();
    seeded[1].isEnabled = enabledBefore;
    cli.seed(seeded);

    const ProcessResult result = cli.run(args);
    QCOMPARE(result.errText(), QString());
    QCOMPARE(result.outText(), out);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(cli.calls(), QStringList{QStringLiteral("launchctl ") + call + ' ' + reportId});
    const auto snapshot = cli.snapshotAtLaunchctlCall(1);
    QVERIFY(snapshot);
    QCOMPARE(state(*snapshot), fileAtCall);
    const QList<ScheduledTask> after = cli.storedTasks();
    QCOMPARE(state(after), fileAfter);
    // The other tasks are kept as they were, in their order.
    QList<ScheduledTask> others = seeded;
    others.removeAt(1);
    QList<ScheduledTask> afterOthers = after;
    afterOthers.removeIf([](const ScheduledTask& t) { return t.idString() == reportId; });
    QCOMPARE(afterOthers, others);

    const bool installed = call == QLatin1String("load");
    QCOMPARE(QFile::exists(cli.plistPath(seeded[1])), installed);
    QCOMPARE(QFile::exists(cli.scriptPath(seeded[1])), installed);
}

void TestCliTaskState::enableRewritesAnEnabledTask()
{
    CliHarness cli;
    QVERIFY(cli.run(QStringLiteral("add --name Nightly --command true --daily 1:00").split(' '))
                .exitCode == 0);
    const ScheduledTask task = cli.storedTasks().first();
    // A file in another layout shows whether the command saved it again.
    cli.seedBytes(
        QStringLiteral("{\"version\":2,\"tasks\":[%1]}")
            .arg(QString::fromUtf8(QJsonDocument(task.toJson()).toJson(QJsonDocument::Compact)))
            .toUtf8());
    QFile::remove(cli.scriptPath(task));
    cli.clearCalls();

    const ProcessResult result = cli.run({QStringLiteral("enable"), QStringLiteral("nightly")});
    QCOMPARE(result.outText(), QStringLiteral("Enabled task: Nightly\n"));
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!cli.taskFileBytes().startsWith("{\"version\""));
    QCOMPARE(cli.storedTasks(), QList<ScheduledTask>{task});
    // Reinstalled: unloaded, script written anew, loaded.
    QCOMPARE(cli.calls(), (QStringList{QStringLiteral("launchctl unload ") + task.idString(),
                                       QStringLiteral("launchctl load ") + task.idString()}));
    QVERIFY(QFile::exists(cli.scriptPath(task)));
}

void TestCliTaskState::wakeRefresh_data()
{
    QTest::addColumn<QList<ScheduledTask>>("tasks");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("wakeCalls"); // "once" stands for a one-time event

    const QString once = QStringLiteral("once");
    const QString id1 = QStringLiteral("10000000-0000-4000-8000-000000000001");
    const QString id2 = QStringLiteral("20000000-0000-4000-8000-000000000002");
    const QString id3 = QStringLiteral("30000000-0000-4000-8000-000000000003");

    const QString cancelRepeat = QStringLiteral(
        "osascript do shell script \"pmset repeat cancel\" with administrator privileges");
    QTest::newRow("removing the only wake task cancels its repeating event")
        << QList<ScheduledTask>{storedTask(QStringLiteral("Wake"), id1)
                                    .daily({at(7, 0)})
                                    .wake()
                                    .build(),
                                storedTask(QStringLiteral("Plain"), id2).daily({at(8, 0)}).build()}
        << QStringList{QStringLiteral("remove"), QStringLiteral("wake")}
        << QStringList{cancelRepeat};
    QTest::newRow("disabling the only repeating wake task cancels its event")
        << QList<ScheduledTask>{storedTask(QStringLiteral("Wake"), id1)
                                    .weekly({2}, {at(7, 0)})
                                    .wake()
                                    .build(),
                                storedTask(QStringLiteral("Interval"), id2).every(5).wake().build()}
        << QStringList{QStringLiteral("disable"), QStringLiteral("wake")}
        << QStringList{cancelRepeat};
    QTest::newRow("removing a task without wake refreshes nothing")
        << QList<ScheduledTask>{storedTask(QStringLiteral("Wake"), id1)
                                    .daily({at(7, 0)})
                                    .wake()
                                    .build(),
                                storedTask(QStringLiteral("Plain"), id2).daily({at(8, 0)}).build()}
        << QStringList{QStringLiteral("remove"), QStringLiteral("plain")} << QStringList();
    QTest::newRow("disabling a wake task registers the next one")
        << QList<ScheduledTask>{storedTask(QStringLiteral("Daily"), id1)
                                    .daily({at(7, 0)})
                                    .wake()
                                    .build(),
                                storedTask(QStringLiteral("Weekly"), id2)
                                    .weekly({2, 6}, {at(10, 0)})
                                    .wake()
                                    .build()}
        << QStringList{QStringLiteral("disable"), QStringLiteral("daily")}
        << QStringList{repeatWakeCall(QStringLiteral("MF"), QStringLiteral("09:55:00"))};
    QTest::newRow("enabling registers the first repeating and every monthly")
        << QList<ScheduledTask>{storedTask(QStringLiteral("Monthly"), id1)
                                    .schedule(
                                        TaskSchedule::of<TaskSchedule::Monthly>({10, {at(6, 0)}}))
                                    .disabled()
                                    .wake()
                                    .build(),
                                storedTask(QStringLiteral("Last"), id2)
                                    .schedule(TaskSchedule::of<TaskSchedule::MonthlyLastDay>(
                                        {{at(22, 0)}}))
                                    .wake()
                                    .build(),
                                storedTask(QStringLiteral("Daily"), id3)
                                    .daily({at(5, 0)})
                                    .wake()
                                    .build()}
        << QStringList{QStringLiteral("enable"), QStringLiteral("monthly")}
        << QStringList{repeatWakeCall(QStringLiteral("MTWRFSU"), QStringLiteral("21:55:00")), once};
    QTest::newRow("removing a wake task keeps the monthly ones")
        << QList<ScheduledTask>{storedTask(QStringLiteral("A"), id1)
                                    .schedule(
                                        TaskSchedule::of<TaskSchedule::Monthly>({1, {at(6, 0)}}))
                                    .wake()
                                    .build(),
                                storedTask(QStringLiteral("Interval"), id2).every(5).wake().build(),
                                storedTask(QStringLiteral("B"), id3)
                                    .schedule(
                                        TaskSchedule::of<TaskSchedule::Monthly>({20, {at(6, 0)}}))
                                    .wake()
                                    .build()}
        << QStringList{QStringLiteral("rm"), QStringLiteral("interval")} << QStringList{once, once};
    QTest::newRow("disabled wake tasks are skipped")
        << QList<ScheduledTask>{storedTask(QStringLiteral("Off"), id1)
                                    .daily({at(7, 0)})
                                    .disabled()
                                    .wake()
                                    .build(),
                                storedTask(QStringLiteral("On"), id2).atLoad().wake().build()}
        << QStringList{QStringLiteral("enable"), QStringLiteral("on")} << QStringList();
}

void TestCliTaskState::wakeRefresh()
{
    QFETCH(QList<ScheduledTask>, tasks);
    QFETCH(QStringList, args);
    QFETCH(QStringList, wakeCalls);

    CliHarness cli;
    cli.seed(tasks);
    const ProcessResult result = cli.run(args);
    QCOMPARE(result.errText(), QString());
    QCOMPARE(result.exitCode, 0);

    const QStringList calls = cli.calls();
    // The agent is handled first, the wake events after it.
    QVERIFY(calls.first().startsWith(QStringLiteral("launchctl ")));
    QStringList registered = calls.filter(QRegularExpression(QStringLiteral("^osascript ")));
    for (QString& call : registered) {
        if (call.startsWith(
                QStringLiteral("osascript do shell script \"pmset schedule wakeorpoweron \\\"")))
            call = QStringLiteral("once");
    }
    QCOMPARE(registered, wakeCalls);
}

void TestCliTaskState::cancelledRepeatingWakeKeepsOneTimeEvents()
{
    CliHarness cli;
    cli.seed(
        {storedTask(QStringLiteral("Daily"), QStringLiteral("10000000-0000-4000-8000-000000000001"))
             .daily({at(7, 0)})
             .wake()
             .build(),
         storedTask(QStringLiteral("M1"), QStringLiteral("20000000-0000-4000-8000-000000000002"))
             .schedule(TaskSchedule::of<TaskSchedule::Monthly>({3, {at(7, 0)}}))
             .wake()
             .build(),
         storedTask(QStringLiteral("M2"), QStringLiteral("30000000-0000-4000-8000-000000000003"))
             .schedule(TaskSchedule::of<TaskSchedule::Monthly>({4, {at(7, 0)}}))
             .disabled()
             .wake()
             .build()});
    const ProcessResult result = cli.run({QStringLiteral("enable"), QStringLiteral("m2")},
                                         CliHarness::failOsascriptWhen(QStringLiteral("repeat")));
    // The one-time events still register; the refused repeating one is reported.
    QCOMPARE(result.errText(), QStringLiteral("Error: pmset failed: User canceled.\n"));
    QCOMPARE(result.outText(), QStringLiteral("Enabled task: M2\n"));
    QCOMPARE(result.exitCode, 1);
    const QStringList wake = cli.calls().filter(QStringLiteral("osascript"));
    QCOMPARE(wake.size(), 3);
    QVERIFY(wake[0].contains(QStringLiteral("pmset repeat")));
    QVERIFY(wake[1].contains(QStringLiteral("pmset schedule")));
    QVERIFY(wake[2].contains(QStringLiteral("pmset schedule")));
}

void TestCliTaskState::doneWhenBackupIsAddedDisabledAndRemoved()
{
    CliHarness cli;
    QVERIFY(cli.run({QStringLiteral("add"), QStringLiteral("--name"), QStringLiteral("Backup"),
                     QStringLiteral("--command"), QStringLiteral("rsync -av ~/docs /backup"),
                     QStringLiteral("--daily"), QStringLiteral("03:00"), QStringLiteral("--wake")})
                .exitCode == 0);
    const ScheduledTask task = cli.storedTasks().first();
    QVERIFY(QFile::exists(cli.plistPath(task)));

    ProcessResult result = cli.run({QStringLiteral("disable"), QStringLiteral("Backup")});
    QCOMPARE(result.outText(), QStringLiteral("Disabled task: Backup\n"));
    QVERIFY(!QFile::exists(cli.plistPath(task)));
    QVERIFY(!QFile::exists(cli.scriptPath(task)));
    QVERIFY(!cli.storedTasks().first().isEnabled);

    result = cli.run({QStringLiteral("remove"), QStringLiteral("backup")});
    QCOMPARE(result.outText(), QStringLiteral("Removed task: Backup\n"));
    QCOMPARE(cli.storedTasks(), QList<ScheduledTask>());
    QCOMPARE(cli.run({QStringLiteral("list")}).outText(), QStringLiteral("No tasks configured.\n"));
    const QString id = task.idString();
    // add: load + wake; disable: unload, and its repeating event is cancelled (no wake task is
    // left); remove: unload (the disabled task had no event left).
    QCOMPARE(cli.calls(),
             (QStringList{QStringLiteral("launchctl load ") + id,
                          repeatWakeCall(QStringLiteral("MTWRFSU"), QStringLiteral("02:55:00")),
                          QStringLiteral("launchctl unload ") + id,
                          QStringLiteral("osascript do shell script \"pmset repeat cancel\" with "
                                         "administrator privileges"),
                          QStringLiteral("launchctl unload ") + id}));
}

void TestCliTaskState::agentAndWakeFailuresAreReported_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("failing"); // "launchctl", "wake"
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<bool>("enabled");

    const QStringList launchctlFails{QStringLiteral("launchctl")};
    const QStringList wakeFails{QStringLiteral("wake")};
    const QString loadFailed = QStringLiteral("Error: launchctl load failed (exit code 5)\n");
    const QString unloadFailed = QStringLiteral("Error: launchctl unload failed (exit code 5)\n");
    const QString wakeFailed = QStringLiteral("Error: pmset failed: User canceled.\n");
    const auto words = [](const char* text) { return QString::fromLatin1(text).split(' '); };

    QTest::newRow("remove, unload fails")
        << words("remove report") << launchctlFails << QStringLiteral("Removed task: Report\n")
        << unloadFailed << 6 << false;
    QTest::newRow("enable, load fails")
        << words("enable report") << launchctlFails << QStringLiteral("Enabled task: Report\n")
        << loadFailed << 7 << true;
    QTest::newRow("disable, unload fails")
        << words("disable report") << launchctlFails << QStringLiteral("Disabled task: Report\n")
        << unloadFailed << 7 << false;
    QTest::newRow("enable wake task, wake refused")
        << words("enable wake") << wakeFails << QStringLiteral("Enabled task: Wake\n") << wakeFailed
        << 7 << true;
    QTest::newRow("disable wake task, wake refused for the others")
        << words("disable wake") << wakeFails << QStringLiteral("Disabled task: Wake\n")
        << wakeFailed << 7 << false;
    QTest::newRow("enable wake task, load and wake fail")
        << words("enable wake") << launchctlFails + wakeFails
        << QStringLiteral("Enabled task: Wake\n") << loadFailed + wakeFailed << 7 << true;
}

// The change stays saved, but the agent or the wake event it needed is missing: the user is
// told after the success line, and the status says the command did not fully succeed.
void TestCliTaskState::agentAndWakeFailuresAreReported()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, failing);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(int, remaining);
    QFETCH(bool, enabled);

    CliHarness cli;
    QList<ScheduledTask> seeded = lookupTasks();
    seeded << storedTask(QStringLiteral("Wake"),
                         QStringLiteral("40000000-0000-4000-8000-000000000004"))
                  .daily({at(6, 0)})
                  .disabled()
                  .wake()
                  .build()
           << storedTask(QStringLiteral("Other wake"),
                         QStringLiteral("50000000-0000-4000-8000-000000000005"))
                  .schedule(TaskSchedule::of<TaskSchedule::Monthly>({2, {at(6, 0)}}))
                  .wake()
                  .build();
    cli.seed(seeded);
    QProcessEnvironment environment;
    if (failing.contains(QStringLiteral("launchctl")))
        environment.insert(CliHarness::launchctlStatus(5));
    if (failing.contains(QStringLiteral("wake")))
        environment.insert(CliHarness::failOsascriptWhen(QStringLiteral("pmset")));
    const ProcessResult result = cli.run(args, environment);
    QCOMPARE(result.outText(), out);
    QCOMPARE(result.errText(), err);
    QCOMPARE(result.exitCode, 1);
    const QList<ScheduledTask> stored = cli.storedTasks();
    QCOMPARE(stored.size(), remaining);
    const auto named = std::find_if(stored.cbegin(), stored.cend(), [&](const ScheduledTask& t) {
        return t.name.compare(args.at(1), Qt::CaseInsensitive) == 0;
    });
    if (args.first() == QStringLiteral("remove"))
        QVERIFY(named == stored.cend());
    else
        QCOMPARE(named->isEnabled, enabled);
}

void TestCliTaskState::changeNotification_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("posted");

    QTest::newRow("add") << QStringLiteral("add --name N --command true --interval 5").split(' ')
                         << 0 << 1;
    QTest::newRow("add refused") << QStringLiteral("add --name N --command true").split(' ') << 1
                                 << 0;
    QTest::newRow("remove") << QStringList{QStringLiteral("remove"), QStringLiteral("backup")} << 0
                            << 1;
    QTest::newRow("remove unknown")
        << QStringList{QStringLiteral("rm"), QStringLiteral("x")} << 1 << 0;
    QTest::newRow("enable") << QStringList{QStringLiteral("enable"), QStringLiteral("report")} << 0
                            << 1;
    QTest::newRow("disable") << QStringList{QStringLiteral("disable"), QStringLiteral("report")}
                             << 0 << 1;
    QTest::newRow("list") << QStringList{QStringLiteral("list")} << 0 << 0;
}

void TestCliTaskState::changeNotification()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(int, posted);

    ChangeObserver observer;
    if (!observer.isListening())
        QSKIP("no session bus (run under dbus-run-session)");
    QSignalSpy received(&observer, &ChangeObserver::received);
    CliHarness cli;
    cli.seed(lookupTasks());
    QCOMPARE(cli.run(args).exitCode, status);
    if (posted)
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), posted, TestSupport::eventTimeoutMs);
    // Nothing (more) comes: the tool and its poster are gone, and a signal sent now on the
    // observer's connection, heard by a hook made after the observer's, comes after theirs.
    m_heard.clear();
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString path = QStringLiteral("/com/brenmorops/Notifications");
    const QString interface = QStringLiteral("com.brenmorops.Notifications");
    QVERIFY(bus.connect(QString(), path, interface, QStringLiteral("Posted"), this,
                        SLOT(heard(QString))));
    QDBusMessage marker = QDBusMessage::createSignal(path, interface, QStringLiteral("Posted"));
    marker << QStringLiteral("com.brenmor-ops.testMarker");
    QVERIFY(bus.send(marker));
    QTRY_VERIFY_WITH_TIMEOUT(m_heard.contains(QStringLiteral("com.brenmor-ops.testMarker")),
                             TestSupport::eventTimeoutMs);
    bus.disconnect(QString(), path, interface, QStringLiteral("Posted"), this,
                   SLOT(heard(QString)));
    QCOMPARE(received.count(), posted);
}

// A name from an imported or hand-edited file can hold terminal controls (clear the screen,
// retitle the window): every line the tool prints shows them as escapes.
void TestCliTaskState::userTextShownEscaped_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("shown"); // the line, or the part of it, as printed
    const QString evil = QStringLiteral("Evil\x1b]0;owned\x07\x1b[2J\u009b31m\t!");
    const QString escaped = QStringLiteral("Evil\\x1b]0;owned\\x07\\x1b[2J\\u009b31m\\x09!");
    QTest::newRow("next") << QStringList{"next", "e0000000"} << escaped;
    QTest::newRow("enable") << QStringList{"enable", "e0000000"}
                            << QStringLiteral("Enabled task: ") + escaped + u'\n';
    QTest::newRow("disable") << QStringList{"disable", "e0000000"}
                             << QStringLiteral("Disabled task: ") + escaped + u'\n';
    QTest::newRow("remove") << QStringList{"remove", "e0000000"}
                            << QStringLiteral("Removed task: ") + escaped + u'\n';
    QTest::newRow("history of an unknown name")
        << QStringList{"history", evil + u'?'}
        << QStringLiteral("Error: Task not found: ") + escaped + QStringLiteral("?\n");
    QTest::newRow("logs of an unknown name")
        << QStringList{"logs", evil + u'?'}
        << QStringLiteral("Error: Task not found: ") + escaped + QStringLiteral("?\n");
    QTest::newRow("disable of an unknown name")
        << QStringList{"disable", evil + u'?'}
        << QStringLiteral("Error: Task not found: ") + escaped + QStringLiteral("?\n");
    QTest::newRow("run of a task never installed")
        << QStringList{"run", "e0000000"}
        << QStringLiteral("Error: ") + escaped + QStringLiteral(" is not installed");
    QTest::newRow("jobs") << QStringList{"jobs"} << QStringLiteral("org.example.\\x1b[2Jjob");
}

void TestCliTaskState::userTextShownEscaped()
{
    QFETCH(QStringList, args);
    QFETCH(QString, shown);
    CliHarness cli;
    const QString evil = QStringLiteral("Evil\x1b]0;owned\x07\x1b[2J\u009b31m\t!");
    cli.seed({storedTask(evil, QStringLiteral("E0000000-0000-4000-8000-00000000000E"))
                  .daily({at(3, 0)})
                  .build()});
    TestSupport::writeFile(cli.home().launchAgents() + QStringLiteral("/org.example.job.plist"),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                           "<dict><key>Label</key><string>org.example.\x1b[2Jjob</string>"
                           "<key>Program</key><string>/bin/true</string><key>StartInterval"
                           "</key><integer>60</integer></dict></plist>\n");
    const ProcessResult result = cli.run(args);
    const QString printed = result.outText() + result.errText();
    QVERIFY2(printed.contains(shown), qPrintable(printed));
    for (const QChar control : {QChar(0x1b), QChar(0x07), QChar(0x9b), QChar(u'\t')})
        QVERIFY2(!printed.contains(control), qPrintable(printed));
}

// Two tasks whose identifiers share their first eight hex digits would share one script, log
// and history: the later one is refused, with an error naming both, and nothing is installed.
void TestCliTaskState::shortIdTwinIsNeverEnabled()
{
    CliHarness cli;
    const QString firstId = QStringLiteral("AAAAAAAA-0000-4000-8000-000000000001");
    const QString secondId = QStringLiteral("AAAAAAAA-1111-4000-8000-000000000002");
    QList<ScheduledTask> seeded{
        storedTask(QStringLiteral("First"), firstId).every(5).build(),
        storedTask(QStringLiteral("Second"), secondId).every(5).disabled().build()};
    cli.seed(seeded);
    const QByteArray before = cli.taskFileBytes();

    const ProcessResult result = cli.run({QStringLiteral("enable"), QStringLiteral("second")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.outText(), QString());
    QCOMPARE(result.errText(),
             QStringLiteral("Error: Task \"Second\" (%1) cannot be enabled: its ID begins with the "
                            "same eight characters aaaaaaaa as that of task \"First\" (%2), and "
                            "the two would share one script, log and history. Remove one of "
                            "them.\n")
                 .arg(secondId, firstId));
    QCOMPARE(cli.taskFileBytes(), before);
    QCOMPARE(cli.calls(), QStringList());
    QVERIFY(!QFile::exists(cli.plistPath(seeded[1])));
    QVERIFY(!QFile::exists(cli.scriptPath(seeded[1])));
}

QTEST_GUILESS_MAIN(TestCliTaskState)
#include "TestCliTaskState.moc"
