// Installing, removing and sweeping agents against a fake launchctl that records its calls.
#include "LaunchdService.h"
#include "Result.h"
#include "ResultChecks.h"
#include "TaskBuilder.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <climits>
#include <sys/stat.h>

Q_DECLARE_METATYPE(LaunchdError)

namespace {

constexpr int noError = INT_MIN;

const char* const fakeVariables[] = {
    "FAKE_LAUNCHCTL_LOG", "FAKE_LOAD_STATUS",  "FAKE_LOAD_STDERR", "FAKE_UNLOAD_STATUS",
    "FAKE_UNLOAD_STDERR", "FAKE_OTHER_STATUS", "FAKE_LIST_STDOUT", "BRENMOR_OPS_LAUNCHCTL"};

// Records every call as one line, prints noise on standard output (which must be ignored) and
// answers with the status and standard error chosen through the environment.
const QByteArray fakeLaunchctl =
    "#!/bin/sh\n"
    "printf '%s\\n' \"$*\" >> \"$FAKE_LAUNCHCTL_LOG\"\n"
    "case \"$1\" in\n"
    "  load) status=${FAKE_LOAD_STATUS:-0}; err=$FAKE_LOAD_STDERR ;;\n"
    "  unload) status=${FAKE_UNLOAD_STATUS:-0}; err=$FAKE_UNLOAD_STDERR ;;\n"
    "  *) status=${FAKE_OTHER_STATUS:-0}; err= ;;\n"
    "esac\n"
    "case \"$1\" in\n"
    "  list) [ -n \"$FAKE_LIST_STDOUT\" ] && printf '%s\\n' \"$FAKE_LIST_STDOUT\" ;;\n"
    "esac\n"
    "echo 'Load failed: 9: on standard output, not an error'\n"
    "[ -n \"$err\" ] && printf '%s\\n' \"$err\" >&2\n"
    "[ \"$status\" = kill ] && kill -KILL $$\n"
    "exit \"$status\"\n";

const char* const idA = "3F2A9C1D-5B6E-4C7D-8E9F-0A1B2C3D4E5F";
const char* const idB = "0B1C2D3E-1111-4222-8333-444455556666";
const char* const idC = "C0FFEE00-AAAA-4BBB-8CCC-DDDDEEEEFFFF";

QFileDevice::Permissions ownerOnly()
{
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
}

// The permission bits without Qt's "user" duplicates.
QFileDevice::Permissions modeOf(const QString& path)
{
    return QFile::permissions(path) &
           (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}

} // namespace

class TestLaunchdInstall : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> m_home;

    QString logPath() const { return m_home->path() + QStringLiteral("/launchctl.log"); }
    QStringList calls() const
    {
        const QString text = QString::fromUtf8(TestSupport::readFile(logPath()));
        QStringList lines = text.split(QLatin1Char('\n'));
        lines.removeLast(); // after the final line feed
        return lines;
    }
    // A path under a regular file: no folder can ever be made there, not even by root.
    QString impossibleFolder() const
    {
        const QString blocker = m_home->path() + QStringLiteral("/blocker");
        TestSupport::writeFile(blocker, "a file, not a folder");
        return blocker + QStringLiteral("/sub");
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        const QString fake = m_home->path() + QStringLiteral("/fake-launchctl");
        TestSupport::writeScript(fake, fakeLaunchctl);
        for (const char* name : fakeVariables)
            qunsetenv(name);
        qputenv("BRENMOR_OPS_LAUNCHCTL", fake.toUtf8());
        qputenv("FAKE_LAUNCHCTL_LOG", logPath().toUtf8());
    }

    void cleanup()
    {
        for (const char* name : fakeVariables)
            qunsetenv(name);
        m_home.reset();
    }

    void messages_data()
    {
        QTest::addColumn<LaunchdError>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("install") << LaunchdError::installFailed(QStringLiteral("disk full"))
                                 << QStringLiteral("Failed to install task: disk full");
        QTest::newRow("load") << LaunchdError::launchctlFailed(QStringLiteral("load"), 5)
                              << QStringLiteral("launchctl load failed (exit code 5)");
        QTest::newRow("cannot start") << LaunchdError::launchctlFailed(QStringLiteral("unload"), -1)
                                      << QStringLiteral("launchctl unload failed (exit code -1)");
        QTest::newRow("no command") << LaunchdError::launchctlFailed(QString(), 2)
                                    << QStringLiteral("launchctl  failed (exit code 2)");
    }

    void messages()
    {
        QFETCH(LaunchdError, error);
        QFETCH(QString, message);
        QCOMPARE(error.message(), message);
    }

    void namesAndPaths()
    {
        const LaunchdService service(
            AgentPaths(QStringLiteral("/A"), QStringLiteral("/S"), QStringLiteral("/L")));
        // Stored identifiers may come in lower case; every name uses the canonical form.
        const ScheduledTask task = TaskBuilder(QStringLiteral("Install"))
                                       .id(QLatin1String("3f2a9c1d-5b6e-4c7d-8e9f-0a1b2c3d4e5f"))
                                       .build();
        const QString uuid = QLatin1String(idA);
        QCOMPARE(LaunchdService::label(task), QStringLiteral("com.brenmor-ops.task.") + uuid);
        QCOMPARE(service.paths().plistPath(task),
                 QStringLiteral("/A/com.brenmor-ops.task.") + uuid + QStringLiteral(".plist"));
        QCOMPARE(service.paths().scriptPath(task), QStringLiteral("/S/BrenmorOps_3f2a9c1d.sh"));
        QCOMPARE(service.paths().legacyScriptPath(task),
                 QStringLiteral("/S/") + uuid + QStringLiteral(".sh"));
        QCOMPARE(service.paths().stdoutLogPath(task), QStringLiteral("/L/3f2a9c1d.stdout.log"));
        QCOMPARE(service.paths().stderrLogPath(task), QStringLiteral("/L/3f2a9c1d.stderr.log"));
        QCOMPARE(service.paths().runHistoryPath(task), QStringLiteral("/L/3f2a9c1d.runs"));
        QCOMPARE(LaunchdService::scriptVersionMarker(), QStringLiteral("# BrenmorOps script v6"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/S")));
    }

    void defaultFolders()
    {
        const QString data = m_home->dataFolder();
        for (const LaunchdService& service :
             {LaunchdService(), LaunchdService(AgentPaths(QString(), QString(), QString()))}) {
            QCOMPARE(service.paths().launchAgentsDir, m_home->launchAgents());
            QCOMPARE(service.paths().scriptsDir, data + QStringLiteral("/Scripts"));
            QCOMPARE(service.paths().logDir, data + QStringLiteral("/Logs"));
        }
        const LaunchdService mixed(AgentPaths(std::nullopt, QStringLiteral("/S")));
        QCOMPARE(mixed.paths().launchAgentsDir, m_home->launchAgents());
        QCOMPARE(mixed.paths().scriptsDir, QStringLiteral("/S"));
        QCOMPARE(mixed.paths().logDir, data + QStringLiteral("/Logs"));
    }

    void runLaunchctl_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("stderrVariable");
        QTest::addColumn<QByteArray>("stderrText");
        QTest::addColumn<int>("expectedCode");
        const QStringList load{QStringLiteral("load"), QStringLiteral("/x/a b.plist")};
        const QStringList unload{QStringLiteral("unload"), QStringLiteral("/x/a b.plist")};
        QTest::newRow("load succeeds") << load << QByteArray("FAKE_LOAD_STATUS") << QByteArray("0")
                                       << QByteArray() << QByteArray() << noError;
        QTest::newRow("load exits 5") << load << QByteArray("FAKE_LOAD_STATUS") << QByteArray("5")
                                      << QByteArray() << QByteArray() << 5;
        QTest::newRow("load exits 255") << load << QByteArray("FAKE_LOAD_STATUS")
                                        << QByteArray("255") << QByteArray() << QByteArray() << 255;
        QTest::newRow("load exits 0 but reports Load failed")
            << load << QByteArray("FAKE_LOAD_STATUS") << QByteArray("0")
            << QByteArray("FAKE_LOAD_STDERR") << QByteArray("Load failed: 5: Input/output error")
            << 5;
        QTest::newRow("Load failed after the path")
            << load << QByteArray("FAKE_LOAD_STATUS") << QByteArray("0")
            << QByteArray("FAKE_LOAD_STDERR")
            << QByteArray("/x/a b.plist: Load failed: 17: File exists") << 17;
        QTest::newRow("load with a harmless warning")
            << load << QByteArray("FAKE_LOAD_STATUS") << QByteArray("0")
            << QByteArray("FAKE_LOAD_STDERR") << QByteArray("/x/a b.plist: service already loaded")
            << noError;
        QTest::newRow("unload of a job that is not loaded")
            << unload << QByteArray("FAKE_UNLOAD_STATUS") << QByteArray("0")
            << QByteArray("FAKE_UNLOAD_STDERR")
            << QByteArray("Unload failed: 113: Could not find specified service") << noError;
        QTest::newRow("unload exits 3") << unload << QByteArray("FAKE_UNLOAD_STATUS")
                                        << QByteArray("3") << QByteArray() << QByteArray() << 3;
        QTest::newRow("launchctl killed")
            << load << QByteArray("FAKE_LOAD_STATUS") << QByteArray("kill") << QByteArray()
            << QByteArray() << -1;
        QTest::newRow("no arguments") << QStringList() << QByteArray("FAKE_OTHER_STATUS")
                                      << QByteArray("4") << QByteArray() << QByteArray() << 4;
    }

    void runLaunchctl()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, stderrVariable);
        QFETCH(QByteArray, stderrText);
        QFETCH(int, expectedCode);
        qputenv(variable.constData(), status);
        if (!stderrVariable.isEmpty())
            qputenv(stderrVariable.constData(), stderrText);
        const AgentOutcome error = LaunchdService().runLaunchctl(arguments);
        QCOMPARE(calls(), QStringList{arguments.join(QLatin1Char(' '))});
        if (expectedCode == noError) {
            VERIFY_OK(error);
        } else {
            QVERIFY(!error.ok());
            QCOMPARE(error.error(),
                     LaunchdError::launchctlFailed(arguments.value(0), expectedCode));
        }
    }

    void launchctlThatCannotStart()
    {
        qputenv("BRENMOR_OPS_LAUNCHCTL",
                (m_home->path() + QStringLiteral("/no-such-tool")).toUtf8());
        const auto error =
            LaunchdService().runLaunchctl({QStringLiteral("load"), QStringLiteral("/p")});
        QVERIFY(!error.ok());
        QCOMPARE(error.message(), QStringLiteral("launchctl load failed (exit code -1)"));
    }

    void firstInstallLoadsOnce()
    {
        const LaunchdService service;
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idA)).build();
        const auto error = service.install(task);
        VERIFY_OK(error);
        const QString plist = service.paths().plistPath(task);
        QCOMPARE(calls(), QStringList{QStringLiteral("load ") + plist});
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(plist)),
                 service.plistContent(task, service.paths().scriptPath(task)));
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(service.paths().scriptPath(task))),
                 service.scriptContent(task));
        QCOMPARE(modeOf(service.paths().scriptPath(task)), ownerOnly());
        // The wrapper writes its history there; it must exist before the first run. Scripts
        // and logs show the user's commands: nobody else may read them.
        QCOMPARE(modeOf(service.paths().logDir), ownerOnly());
        QCOMPARE(modeOf(service.paths().scriptsDir), ownerOnly());
    }

    void reinstallUnloadsFirst()
    {
        const LaunchdService service;
        ScheduledTask task = TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idA)).build();
        VERIFY_OK(service.install(task));
        task.schedule = TaskSchedule::of<TaskSchedule::Interval>({15});
        task.command = QStringLiteral("echo changed");
        // A failing unload before the reload does not stop the reinstall.
        qputenv("FAKE_UNLOAD_STATUS", "3");
        const auto error = service.install(task);
        VERIFY_OK(error);
        const QString plist = service.paths().plistPath(task);
        QCOMPARE(calls(),
                 (QStringList{QStringLiteral("load ") + plist, QStringLiteral("unload ") + plist,
                              QStringLiteral("load ") + plist}));
        QVERIFY(TestSupport::readFile(plist).contains("<integer>900</integer>"));
        QVERIFY(
            TestSupport::readFile(service.paths().scriptPath(task)).contains("\necho changed\n"));
    }

    void scriptIsCurrent_data()
    {
        QTest::addColumn<QByteArray>("content"); // what the script file holds
        QTest::addColumn<bool>("current");

        const QByteArray marker = LaunchdService::scriptVersionMarker().toUtf8();
        const QByteArray older =
            "# BrenmorOps script v" + QByteArray::number(LaunchdService::scriptVersion - 1);
        QTest::newRow("current marker") << "#!/bin/zsh\n" + marker + "\necho hi\n" << true;
        QTest::newRow("current marker, nothing after it") << "#!/bin/bash\n" + marker << true;
        QTest::newRow("older marker") << "#!/bin/zsh\n" + older + "\necho hi\n" << false;
        QTest::newRow("marker with a longer number") << "#!/bin/zsh\n" + marker + "1\necho hi\n"
                                                     << false;
        QTest::newRow("current marker only in the command")
            << "#!/bin/zsh\n" + older + "\necho '\n" + marker + "\n'\n"
            << false;
        QTest::newRow("marker on the first line") << marker + "\n#!/bin/zsh\n" << false;
        QTest::newRow("no line feed at all") << QByteArray("#!/bin/zsh") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("long command after the marker")
            << "#!/bin/zsh\n" + marker + "\n" + QByteArray(64 * 1024, 'x') + "\n"
            << true;
    }

    // Only the first bytes are read; the marker must be the whole second line.
    void scriptIsCurrent()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, current);
        const QString path = m_home->path() + QStringLiteral("/script.sh");
        TestSupport::writeFile(path, content);
        QCOMPARE(LaunchdService::scriptIsCurrent(path), current);
    }

    void scriptIsCurrentWithoutAFile()
    {
        QVERIFY(!LaunchdService::scriptIsCurrent(m_home->path() + QStringLiteral("/missing.sh")));
        // A folder, or a FIFO, at the script's path is no script and must not block the check.
        QVERIFY(!LaunchdService::scriptIsCurrent(m_home->path()));
        const QString fifo = m_home->path() + QStringLiteral("/fifo.sh");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!LaunchdService::scriptIsCurrent(fifo));
    }

    void upgradeReloadsOnlyChangedPlists_data()
    {
        QTest::addColumn<QString>("plistBefore");       // "current", "changed" or "missing"
        QTest::addColumn<QStringList>("expectedCalls"); // "unload" / "load" of the task's plist

        QTest::newRow("plist unchanged") << QStringLiteral("current") << QStringList();
        QTest::newRow("plist changed")
            << QStringLiteral("changed")
            << QStringList{QStringLiteral("unload"), QStringLiteral("load")};
        QTest::newRow("plist missing")
            << QStringLiteral("missing") << QStringList{QStringLiteral("load")};
    }

    // After an update every script is rewritten; an agent whose plist would come out the same
    // stays loaded as it is, its plist file untouched.
    void upgradeReloadsOnlyChangedPlists()
    {
        QFETCH(QString, plistBefore);
        QFETCH(QStringList, expectedCalls);
        const LaunchdService service;
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Upgrade")).id(QLatin1String(idA)).build();
        VERIFY_OK(service.install(task));
        const QString plist = service.paths().plistPath(task);
        const QString script = service.paths().scriptPath(task);
        TestSupport::writeFile(script, "#!/bin/zsh\n# BrenmorOps script v1\nold\n");
        if (plistBefore == QLatin1String("changed"))
            TestSupport::writeFile(plist,
                                   TestSupport::readFile(plist).replace("<false/>", "<true/>"));
        else if (plistBefore == QLatin1String("missing"))
            QVERIFY(QFile::remove(plist));
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(plist).constData(), &before) == 0,
                 plistBefore != QLatin1String("missing"));
        QFile::remove(logPath());

        const QList<AgentOutcome> results = service.upgradeAll({task});
        QCOMPARE(results.size(), 1);
        VERIFY_OK(results.first());
        QStringList expected;
        for (const QString& command : expectedCalls)
            expected << command + QLatin1Char(' ') + plist;
        QCOMPARE(QFileInfo::exists(logPath()) ? calls() : QStringList(), expected);
        QVERIFY(LaunchdService::scriptIsCurrent(script));
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(script)), service.scriptContent(task));
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(plist)),
                 service.plistContent(task, script));
        if (plistBefore == QLatin1String("current")) {
            // Not even rewritten with the same bytes: launchd's file stays the one it loaded.
            struct stat after {};
            QCOMPARE(::stat(QFile::encodeName(plist).constData(), &after), 0);
            QCOMPARE(after.st_ino, before.st_ino);
        }
    }

    void installReportsLoadFailure_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("stderrText");
        QTest::addColumn<QString>("message");
        QTest::newRow("exit status") << QByteArray("5") << QByteArray()
                                     << QStringLiteral("launchctl load failed (exit code 5)");
        QTest::newRow("only on standard error")
            << QByteArray("0") << QByteArray("Load failed: 5: Input/output error")
            << QStringLiteral("launchctl load failed (exit code 5)");
    }

    void installReportsLoadFailure()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, stderrText);
        QFETCH(QString, message);
        qputenv("FAKE_LOAD_STATUS", status);
        qputenv("FAKE_LOAD_STDERR", stderrText);
        const LaunchdService service;
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idA)).build();
        const auto error = service.install(task);
        QVERIFY(!error.ok());
        QCOMPARE(error.message(), message);
        // The files stay so a later reinstall finds and unloads them.
        QVERIFY(QFileInfo::exists(service.paths().plistPath(task)));
        QVERIFY(QFileInfo::exists(service.paths().scriptPath(task)));
    }

    void installFailsOnFiles_data()
    {
        QTest::addColumn<bool>("scriptsBlocked");
        QTest::newRow("scripts folder cannot be made") << true;
        QTest::newRow("agents folder cannot be made") << false;
    }

    void installFailsOnFiles()
    {
        QFETCH(bool, scriptsBlocked);
        const QString blocked = impossibleFolder();
        const LaunchdService service(
            AgentPaths(scriptsBlocked ? std::nullopt : std::optional(blocked),
                       scriptsBlocked ? std::optional(blocked) : std::nullopt));
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idA)).build();
        const auto error = service.install(task);
        QVERIFY(!error.ok());
        QCOMPARE(error.error().kind, LaunchdError::Kind::installFailed);
        QCOMPARE(error.message(), QStringLiteral("Failed to install task: Cannot create folder %1: "
                                                 "Not a directory")
                                      .arg(blocked));
        QVERIFY(calls().isEmpty());
        QVERIFY(!QFileInfo::exists(service.paths().plistPath(task)));
        QCOMPARE(QFileInfo::exists(service.paths().scriptPath(task)), !scriptsBlocked);
    }

    void uninstallNeverInstalled()
    {
        qputenv("FAKE_UNLOAD_STATUS", "3");
        const LaunchdService service;
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idB)).build();
        const auto error = service.uninstall(task);
        QCOMPARE(calls(), QStringList{QStringLiteral("unload ") + service.paths().plistPath(task)});
        QVERIFY(!error.ok());
        QCOMPARE(error.error(), LaunchdError::launchctlFailed(QStringLiteral("unload"), 3));
        QCOMPARE(error.message(), QStringLiteral("launchctl unload failed (exit code 3)"));
    }

    void uninstallRemovesAgentButKeepsHistory()
    {
        const LaunchdService service;
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idA)).build();
        VERIFY_OK(service.install(task));
        TestSupport::writeFile(service.paths().legacyScriptPath(task), "#!/bin/bash\n");
        const QStringList kept{service.paths().runHistoryPath(task),
                               service.paths().stdoutLogPath(task),
                               service.paths().stderrLogPath(task)};
        for (const QString& path : kept)
            TestSupport::writeFile(path, "kept\n");

        VERIFY_OK(service.uninstall(task));
        QCOMPARE(calls().last(), QStringLiteral("unload ") + service.paths().plistPath(task));
        for (const QString& path :
             {service.paths().plistPath(task), service.paths().scriptPath(task),
              service.paths().legacyScriptPath(task)})
            QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        for (const QString& path : kept)
            QCOMPARE(TestSupport::readFile(path), QByteArray("kept\n"));
    }

    void writeScriptReplacesWholeFile()
    {
        const LaunchdService service;
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idA)).build();
        TestSupport::writeFile(service.paths().scriptPath(task), QByteArray(10000, 'x'));
        QFile::setPermissions(service.paths().scriptPath(task), QFileDevice::ReadOwner |
                                                                    QFileDevice::WriteOwner |
                                                                    QFileDevice::ReadOther);
        const Result<QString> written = service.writeScript(task);
        QVERIFY(written.ok());
        QCOMPARE(*written, service.paths().scriptPath(task));
        QCOMPARE(TestSupport::readFile(*written), service.scriptContent(task).toUtf8());
        QCOMPARE(modeOf(*written), ownerOnly());
        // No temporary file is left beside it.
        QCOMPARE(QDir(service.paths().scriptsDir).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("BrenmorOps_3f2a9c1d.sh")});
    }

    void sweepRemovesOnlyOrphans()
    {
        const LaunchdService service;
        const ScheduledTask kept =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idA)).build();
        const ScheduledTask orphan =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idB)).build();
        const ScheduledTask keptToo =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idC)).build();
        const QString agents = service.paths().launchAgentsDir;
        const QString scripts = service.paths().scriptsDir;
        // An orphan whose plist name is in lower case is still ours.
        const QString orphanPlist = agents + QStringLiteral("/com.brenmor-ops.task.") +
                                    QString::fromLatin1(idB).toLower() + QStringLiteral(".plist");
        const QStringList stays{
            service.paths().plistPath(kept),
            service.paths().plistPath(keptToo),
            agents + QStringLiteral("/com.brenmor-ops.task.junk.plist"),
            agents + QStringLiteral("/com.example.other.plist"),
            scripts + QStringLiteral("/BrenmorOps_3f2a9c1d.sh"),
            scripts + QLatin1Char('/') + QLatin1String(idA) + QStringLiteral(".sh"),
            scripts + QLatin1Char('/') + QLatin1String(idC) + QStringLiteral(".sh"),
            scripts + QStringLiteral("/notes.txt"),
            service.paths().runHistoryPath(orphan),
        };
        const QStringList goes{
            orphanPlist,
            scripts + QStringLiteral("/BrenmorOps_0b1c2d3e.sh"),
            scripts + QLatin1Char('/') + QLatin1String(idB) + QStringLiteral(".sh"),
            // Names of a kept task in the wrong letter case are not that task's files.
            scripts + QStringLiteral("/BrenmorOps_3F2A9C1D.sh"),
            scripts + QStringLiteral("/helper.sh"),
        };
        for (const QString& path : stays + goes)
            TestSupport::writeFile(path, "x");

        service.removeOrphanedAgents({kept.id, keptToo.id});

        for (const QString& path : stays)
            QVERIFY2(QFileInfo::exists(path), qPrintable(QStringLiteral("removed: ") + path));
        for (const QString& path : goes)
            QVERIFY2(!QFileInfo::exists(path), qPrintable(QStringLiteral("kept: ") + path));
        QCOMPARE(calls(), QStringList{QStringLiteral("unload ") + orphanPlist});
    }

    void checkAfterChangeReinstallsWhatIsGone_data()
    {
        // What stands at the path: "file", "missing", "link" (to the file, moved elsewhere) or
        // "dangling" (a link to nothing).
        QTest::addColumn<QString>("plist");
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("listed"); // launchctl lists the agent as loaded
        QTest::addColumn<bool>("reinstalled");
        QTest::newRow("all there") << "file"
                                   << "file" << true << false;
        QTest::newRow("plist gone") << "missing"
                                    << "file" << true << true;
        QTest::newRow("script gone") << "file"
                                     << "missing" << true << true;
        QTest::newRow("both gone") << "missing"
                                   << "missing" << true << true;
        QTest::newRow("not loaded") << "file"
                                    << "file" << false << true;
        QTest::newRow("plist is a link to a file") << "link"
                                                   << "file" << true << false;
        QTest::newRow("script is a link to a file") << "file"
                                                    << "link" << true << false;
        QTest::newRow("plist leads nowhere") << "dangling"
                                             << "file" << true << true;
        QTest::newRow("script leads nowhere") << "file"
                                              << "dangling" << true << true;
    }

    // After a change the other tasks' agents are only checked for presence (from one listing
    // of each folder): one whose files are gone or lead nowhere is installed again, the rest
    // are left alone, and the changed task is not looked at.
    void checkAfterChangeReinstallsWhatIsGone()
    {
        QFETCH(QString, plist);
        QFETCH(QString, script);
        QFETCH(bool, listed);
        QFETCH(bool, reinstalled);
        const LaunchdService service;
        const ScheduledTask kept =
            TaskBuilder(QStringLiteral("Kept")).id(QLatin1String(idA)).build();
        const ScheduledTask changed =
            TaskBuilder(QStringLiteral("Changed")).id(QLatin1String(idB)).build();
        VERIFY_OK(service.install(kept));
        const QString plistPath = service.paths().plistPath(kept);
        const QString scriptPath = service.paths().scriptPath(kept);
        const auto place = [this](const QString& path, const QString& what) {
            const QString elsewhere =
                m_home->path() + QStringLiteral("/elsewhere-") + QFileInfo(path).fileName();
            if (what == QLatin1String("missing"))
                QVERIFY(QFile::remove(path));
            else if (what == QLatin1String("link"))
                QVERIFY(QFile::rename(path, elsewhere) && QFile::link(elsewhere, path));
            else if (what == QLatin1String("dangling"))
                QVERIFY(QFile::remove(path) && QFile::link(elsewhere, path));
        };
        place(plistPath, plist);
        place(scriptPath, script);
        if (listed)
            qputenv("FAKE_LIST_STDOUT", "-\t0\t" + LaunchdService::label(kept).toUtf8());
        QFile::remove(logPath());

        VERIFY_OK(service.reconcileAfterChange({kept, changed}, {changed.id}));

        const QStringList made = calls();
        QCOMPARE(made.value(0), QStringLiteral("list"));
        QCOMPARE(made.contains(QStringLiteral("load ") + plistPath), reinstalled);
        for (const QString& call : made)
            QVERIFY2(!call.contains(QLatin1String(idB)), qPrintable(call));
        if (reinstalled) {
            QCOMPARE(QString::fromUtf8(TestSupport::readFile(scriptPath)),
                     service.scriptContent(kept));
            QCOMPARE(QString::fromUtf8(TestSupport::readFile(plistPath)),
                     service.plistContent(kept, scriptPath));
        } else {
            QCOMPARE(made, QStringList{QStringLiteral("list")});
        }
    }

    void checkAfterChangeRemovesDisabledLeftovers_data()
    {
        QTest::addColumn<QString>("leftover"); // "plist", "script", "legacy script" or "none"
        QTest::newRow("plist") << QStringLiteral("plist");
        QTest::newRow("script") << QStringLiteral("script");
        QTest::newRow("legacy script") << QStringLiteral("legacy script");
        QTest::newRow("nothing") << QStringLiteral("none");
    }

    // A disabled task keeps no agent: any file of one left behind goes, and only a plist that
    // was there is unloaded.
    void checkAfterChangeRemovesDisabledLeftovers()
    {
        QFETCH(QString, leftover);
        const LaunchdService service;
        const ScheduledTask disabled =
            TaskBuilder(QStringLiteral("Off")).id(QLatin1String(idA)).enabled(false).build();
        const QString plistPath = service.paths().plistPath(disabled);
        const QStringList files{plistPath, service.paths().scriptPath(disabled),
                                service.paths().legacyScriptPath(disabled)};
        if (leftover == QLatin1String("plist"))
            TestSupport::writeFile(files.at(0), "x");
        else if (leftover == QLatin1String("script"))
            TestSupport::writeFile(files.at(1), "x");
        else if (leftover == QLatin1String("legacy script"))
            TestSupport::writeFile(files.at(2), "x");
        QFile::remove(logPath());

        VERIFY_OK(service.reconcileAfterChange({disabled}, {}));

        for (const QString& file : files)
            QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
        QStringList expected{QStringLiteral("list")};
        if (leftover == QLatin1String("plist"))
            expected << QStringLiteral("unload ") + plistPath;
        QCOMPARE(calls(), expected);
    }

    void sweepWithoutFolders()
    {
        const LaunchdService service;
        service.removeOrphanedAgents({});
        QVERIFY(calls().isEmpty());
        QVERIFY(!QFileInfo::exists(service.paths().launchAgentsDir));
        QVERIFY(!QFileInfo::exists(service.paths().scriptsDir));
    }

    void plantedSymlinkIsReplaced_data()
    {
        QTest::addColumn<bool>("plist"); // else the wrapper script
        QTest::newRow("script") << false;
        QTest::newRow("plist") << true;
    }

    // A link planted where the script or the plist goes must not make the install write
    // into the file it points at (a shell start-up file, say).
    void plantedSymlinkIsReplaced()
    {
        QFETCH(bool, plist);
        const QString root = m_home->path();
        const LaunchdService service(AgentPaths(root + QStringLiteral("/Agents"),
                                                root + QStringLiteral("/Scripts"),
                                                root + QStringLiteral("/Logs")));
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Install")).id(QLatin1String(idA)).build();
        const QString path =
            plist ? service.paths().plistPath(task) : service.paths().scriptPath(task);
        const QString victim = root + QStringLiteral("/victim");
        TestSupport::writeFile(victim, "precious");
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(QFile::link(victim, path));

        const auto error = service.install(task);
        VERIFY_OK(error);
        QCOMPARE(TestSupport::readFile(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo(path).isSymLink());
        QVERIFY(TestSupport::readFile(path).contains(plist ? "<plist" : "#!/bin/"));
    }
};

QTEST_GUILESS_MAIN(TestLaunchdInstall)
#include "TestLaunchdInstall.moc"
