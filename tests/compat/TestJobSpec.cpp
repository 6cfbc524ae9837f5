#include "JobLauncher.h"
#include "JobSpec.h"
#include "RunnerPaths.h"
#include "RunnerProtocol.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTest>

namespace {

QByteArray xmlPlist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           body + "\n</dict>\n</plist>\n";
}

JobSpec parsed(const QByteArray& bytes)
{
    auto result = parseJobSpec(bytes);
    if (!result)
        qWarning("parse failed: %s", qPrintable(result.message()));
    return std::move(result).value();
}

CalendarEntry entry(std::optional<int> minute, std::optional<int> hour, std::optional<int> day,
                    std::optional<int> weekday, std::optional<int> month)
{
    return CalendarEntry{minute, hour, day, weekday, month};
}

} // namespace

class TestJobSpec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void xmlAndBinaryReadAlike_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("xml") << "compat/hello.plist";
        QTest::newRow("binary") << "compat/hello.binary.plist";
    }
    void xmlAndBinaryReadAlike()
    {
        QFETCH(QString, file);
        const QByteArray bytes = TestSupport::readFile(TestSupport::dataPath(file));
        QVERIFY(!bytes.isEmpty());
        const JobSpec definition = parsed(bytes);
        QCOMPARE(definition.label, QStringLiteral("com.example.hello"));
        QCOMPARE(definition.arguments, (QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                                    QStringLiteral("echo hi")}));
        QVERIFY(definition.program.isEmpty());
        QVERIFY(definition.runAtLoad);
        QCOMPARE(definition.startInterval, std::optional<int>(900));
        // Hour 24 and a string Minute reject their entries; an empty dict is every minute.
        QCOMPARE(definition.calendar,
                 (QList<CalendarEntry>{entry(30, 9, {}, {}, {}), entry({}, {}, {}, 7, {}),
                                       entry({}, {}, {}, {}, {})}));
        QCOMPARE(definition.rejectedCalendarEntries, 2);
        QCOMPARE(definition.standardOutPath, QStringLiteral("/tmp/a & b/out.log"));
        QCOMPARE(definition.standardErrorPath, QStringLiteral("/tmp/err.log"));
        QCOMPARE(definition.workingDirectory, QStringLiteral("/tmp"));
        // Only string values make environment variables.
        QCOMPARE(definition.environment,
                 (QMap<QString, QString>{{QStringLiteral("GREETING"), QStringLiteral("hello")}}));
    }

    void agentPlistAsInstalled()
    {
        const JobSpec definition = parsed(TestSupport::readFile(
            TestSupport::dataPath(QStringLiteral("compat/agent-weekly.plist"))));
        QCOMPARE(definition.label,
                 QStringLiteral("com.brenmor-ops.task.3F2A9C1D-0000-4000-8000-000000000001"));
        QCOMPARE(definition.arguments,
                 QStringList{QStringLiteral("/home/me/Scripts/BrenmorOps_3f2a9c1d.sh")});
        QVERIFY(!definition.runAtLoad);
        QVERIFY(!definition.startInterval);
        QCOMPARE(definition.calendar,
                 (QList<CalendarEntry>{entry(0, 9, {}, 1, {}), entry(30, 17, {}, 3, {})}));
        QCOMPARE(definition.standardOutPath, QStringLiteral("/home/me/Logs/3f2a9c1d.stdout.log"));
    }

    void singleCalendarDict()
    {
        const JobSpec definition = parsed(xmlPlist(
            "<key>Label</key><string>x</string><key>Program</key><string>/bin/true</string>"
            "<key>StartCalendarInterval</key><dict><key>Day</key><integer>31</integer>"
            "<key>Month</key><integer>12</integer></dict>"));
        QCOMPARE(definition.program, QStringLiteral("/bin/true"));
        QCOMPARE(definition.arguments, QStringList{QStringLiteral("/bin/true")});
        QCOMPARE(definition.calendar, QList<CalendarEntry>{entry({}, {}, 31, {}, 12)});
        QCOMPARE(definition.rejectedCalendarEntries, 0);
    }

    void ignoredValues_data()
    {
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<bool>("hasInterval");
        QTest::newRow("zero interval")
            << QByteArray("<key>StartInterval</key><integer>0</integer>") << false;
        QTest::newRow("negative interval")
            << QByteArray("<key>StartInterval</key><integer>-5</integer>") << false;
        QTest::newRow("string interval")
            << QByteArray("<key>StartInterval</key><string>60</string>") << false;
        QTest::newRow("one second")
            << QByteArray("<key>StartInterval</key><integer>1</integer>") << true;
    }
    void ignoredValues()
    {
        QFETCH(QByteArray, extra);
        QFETCH(bool, hasInterval);
        const JobSpec definition = parsed(xmlPlist(
            "<key>Label</key><string>x</string><key>ProgramArguments</key><array><string>a</string>"
            "</array>" +
            extra));
        QCOMPARE(definition.startInterval.has_value(), hasInterval);
    }

    void rejected_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a plist") << QByteArray("hello world\n");
        QTest::newRow("truncated xml") << xmlPlist("<key>Label</key><string>x</string>").left(60);
        QTest::newRow("array root") << QByteArray(
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array>"
            "</plist>");
        QTest::newRow("no label") << xmlPlist(
            "<key>ProgramArguments</key><array><string>/bin/true</string></array>");
        QTest::newRow("empty label") << xmlPlist(
            "<key>Label</key><string></string><key>Program</key><string>/bin/true</string>");
        QTest::newRow("label not a string") << xmlPlist(
            "<key>Label</key><integer>1</integer><key>Program</key><string>/bin/true</string>");
        QTest::newRow("no program") << xmlPlist("<key>Label</key><string>x</string>");
        QTest::newRow("empty arguments")
            << xmlPlist("<key>Label</key><string>x</string><key>ProgramArguments</key><array/>");
        QTest::newRow("arguments not strings") << xmlPlist(
            "<key>Label</key><string>x</string><key>ProgramArguments</key><array><integer>1"
            "</integer></array>");
    }
    void rejected()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!parseJobSpec(bytes).ok());
    }

    void environmentAsLaunchdGivesIt()
    {
        const JobLauncher::UserInfo user{QStringLiteral("/home/me"), QStringLiteral("me"),
                                         QStringLiteral("/bin/zsh"), QStringLiteral("/tmp")};
        const QMap<QString, QString> runner{
            {QStringLiteral("PATH"), QStringLiteral("/home/me/bin:/usr/bin")},
            {QStringLiteral("LANG"), QStringLiteral("de_DE.UTF-8")},
            {QStringLiteral("SECRET_TOKEN"), QStringLiteral("x")},
            {QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("/run/user/1000")},
            {QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/bus")},
            {QStringLiteral("XDG_DATA_HOME"), QStringLiteral("")}};
        const QMap<QString, QString> job{{QStringLiteral("GREETING"), QStringLiteral("hello")},
                                         {QStringLiteral("TMPDIR"), QStringLiteral("/var/tmp")}};
        QCOMPARE(JobLauncher::environmentFor(user, runner, job),
                 (QStringList{QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/bus"),
                              QStringLiteral("GREETING=hello"), QStringLiteral("HOME=/home/me"),
                              QStringLiteral("LOGNAME=me"),
                              QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin"),
                              QStringLiteral("SHELL=/bin/zsh"), QStringLiteral("TMPDIR=/var/tmp"),
                              QStringLiteral("USER=me"),
                              QStringLiteral("XDG_RUNTIME_DIR=/run/user/1000")}));
    }

    void resolveExecutable_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected"); // <dir>: the test's search folder
        QTest::newRow("absolute argument") << "" << QStringList{"/opt/x/run", "a"} << "/opt/x/run";
        QTest::newRow("program wins") << "/bin/sh" << QStringList{"whatever"} << "/bin/sh";
        QTest::newRow("looked up on the path") << "" << QStringList{"tool", "-c"} << "<dir>/tool";
        QTest::newRow("not executable is skipped") << "" << QStringList{"plain"} << "";
        QTest::newRow("relative path kept") << "" << QStringList{"./run"} << "./run";
        QTest::newRow("not found") << "" << QStringList{"no-such-program-here"} << "";
    }
    void resolveExecutable()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QTemporaryDir folder;
        TestSupport::writeScript(folder.path() + QStringLiteral("/tool"), "#!/bin/sh\n");
        TestSupport::writeFile(folder.path() + QStringLiteral("/plain"), "text\n");
        JobSpec definition;
        definition.program = program;
        definition.arguments = arguments;
        const QString searchPath = QStringLiteral("/nonexistent::") + folder.path();
        expected.replace(QStringLiteral("<dir>"), folder.path());
        QCOMPARE(JobLauncher::resolveExecutable(definition, searchPath), expected);
    }

    void runtimeFolderIsPrivate_data()
    {
        QTest::addColumn<QString>("prepare"); // what already stands at the folder's path
        QTest::addColumn<bool>("usable");
        QTest::newRow("nothing yet") << "none" << true;
        QTest::newRow("private folder") << "folder0700" << true;
        QTest::newRow("open folder is closed") << "folder0755" << true;
        QTest::newRow("symbolic link") << "symlink" << false;
        QTest::newRow("plain file") << "file" << false;
    }
    void runtimeFolderIsPrivate()
    {
        QFETCH(QString, prepare);
        QFETCH(bool, usable);
        TestHome home;
        const QString folder = RunnerPaths::runtimeFolder();
        QCOMPARE(folder, home.path() + QStringLiteral("/run/brenmor-ops"));
        if (prepare.startsWith(QLatin1String("folder"))) {
            QVERIFY(QDir().mkpath(folder));
            QFile::setPermissions(folder, prepare == QLatin1String("folder0755")
                                              ? QFileDevice::Permissions(0x7755)
                                              : QFileDevice::Permissions(0x7700));
        } else if (prepare == QLatin1String("symlink")) {
            QVERIFY(QDir().mkpath(home.path() + QStringLiteral("/elsewhere")));
            QVERIFY(QFile::link(home.path() + QStringLiteral("/elsewhere"), folder));
        } else if (prepare == QLatin1String("file")) {
            TestSupport::writeFile(folder, "x");
        }
        QCOMPARE(RunnerPaths::ensureRuntimeFolder().ok(), usable);
        if (usable) {
            QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFileDevice::Permissions(0));
            QCOMPARE(QFileInfo(folder).permissions() & 0x7000,
                     QFileDevice::Permissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
        }
    }

    void listFormat()
    {
        const QList<RunnerProtocol::JobStatus> jobs{{QStringLiteral("com.a"), 0, 0},
                                                    {QStringLiteral("com.b"), 4242, 3},
                                                    {QStringLiteral("com.c"), 0, -9}};
        QCOMPARE(RunnerProtocol::formatList(jobs),
                 QStringLiteral("PID\tStatus\tLabel\n-\t0\tcom.a\n4242\t3\tcom.b\n-\t-9\tcom.c\n"));
        QCOMPARE(RunnerProtocol::formatList({}), QStringLiteral("PID\tStatus\tLabel\n"));
        // What the runner sends is what launchctl prints.
        const auto line = RunnerProtocol::encode(RunnerProtocol::listReply(jobs));
        QVERIFY(line.endsWith('\n') && line.count('\n') == 1);
        const auto decoded = RunnerProtocol::decode(line.trimmed());
        QVERIFY(decoded);
        QCOMPARE(RunnerProtocol::formatList(RunnerProtocol::jobsOf(*decoded)),
                 RunnerProtocol::formatList(jobs));
        QVERIFY(!RunnerProtocol::decode("[1,2]"));
        QVERIFY(!RunnerProtocol::decode("{\"command\":"));
    }

    // One request carries every job of a launchctl call; each arrives as it was sent.
    void jobRequestsRoundTrip()
    {
        const QList<RunnerProtocol::JobRequest> jobs{
            {QStringLiteral("/a b/x.plist"), QByteArray("<plist>\n\0\xff</plist>", 18), {}},
            {QStringLiteral("/y.plist"), {}, QStringLiteral("com.y")},
            {QStringLiteral("/z.plist"), {}, {}}};
        for (const QJsonObject& request :
             {RunnerProtocol::loadRequest(jobs), RunnerProtocol::unloadRequest(jobs)}) {
            const auto decoded = RunnerProtocol::decode(RunnerProtocol::encode(request).trimmed());
            QVERIFY(decoded);
            const QList<RunnerProtocol::JobRequest> back = RunnerProtocol::jobRequestsOf(*decoded);
            QCOMPARE(back.size(), jobs.size());
            for (qsizetype i = 0; i < jobs.size(); ++i) {
                QCOMPARE(back.at(i).path, jobs.at(i).path);
                QCOMPARE(back.at(i).plist, jobs.at(i).plist);
                QCOMPARE(back.at(i).label, jobs.at(i).label);
            }
        }
        const QList<QJsonObject> results{QJsonObject{{QStringLiteral("found"), true}},
                                         QJsonObject{{QStringLiteral("found"), false}}};
        QCOMPARE(RunnerProtocol::resultsOf(RunnerProtocol::batchReply(results)), results);
    }
};

QTEST_GUILESS_MAIN(TestJobSpec)
#include "TestJobSpec.moc"
