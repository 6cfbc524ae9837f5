// Agent plists as systemd units: every schedule the application writes, byte for byte against
// tests/data/compat/systemd, accepted by systemd-analyze verify, and firing at the times the
// agent runner computes for the same StartCalendarInterval (systemd-analyze calendar).
#include "CalendarSchedule.h"
#include "JobSpec.h"
#include "LaunchdService.h"
#include "SystemdUnits.h"
#include "TaskBuilder.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString home = QStringLiteral("/home/user");

AgentPaths fixedPaths(const QString& root)
{
    return AgentPaths(root + QStringLiteral("/Library/LaunchAgents"),
                      root + QStringLiteral("/.local/share/BrenmorOps/Scripts"),
                      root + QStringLiteral("/.local/share/BrenmorOps/Logs"));
}

ScheduledTask taskFor(const QString& kind)
{
    TaskBuilder builder(kind);
    builder.id(QStringLiteral("{3f2a9c11-0000-4000-8000-00000000000a}"));
    const QList<TimeOfDay> twice{TimeOfDay{3, 0}, TimeOfDay{18, 45}};
    if (kind == QLatin1String("interval"))
        builder.every(5);
    else if (kind == QLatin1String("at-load"))
        builder.atLoad();
    else if (kind == QLatin1String("daily"))
        builder.daily(twice);
    else if (kind == QLatin1String("weekly"))
        builder.weekly({2, 4, 6}, {TimeOfDay{9, 30}});
    else if (kind == QLatin1String("monthly"))
        builder.schedule(TaskSchedule::of<TaskSchedule::Monthly>({15, twice}));
    else if (kind == QLatin1String("monthly-last-day"))
        builder.schedule(TaskSchedule::of<TaskSchedule::MonthlyLastDay>({{TimeOfDay{23, 0}}}));
    else if (kind == QLatin1String("monthly-nth-weekday"))
        builder.schedule(
            TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 6, {TimeOfDay{7, 5}}}));
    return builder.build();
}

// The plist the application installs for the task, as launchctl reads it.
JobSpec jobFor(const ScheduledTask& task, const AgentPaths& paths)
{
    const LaunchdService service(paths);
    const QString plist = service.plistContent(task, paths.scriptPath(task));
    auto job = parseJobSpec(plist.toUtf8());
    Q_ASSERT(job.ok());
    return *job;
}

QString systemdAnalyze()
{
    return QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
}

QDateTime elapseOf(const QString& line)
{
    // "    Next elapse: Thu 2026-01-01 03:00:00 UTC"
    static const QRegularExpression stamp(
        QStringLiteral("(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) UTC"));
    const auto match = stamp.match(line);
    QDateTime value =
        QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    value.setTimeZone(QTimeZone::utc());
    return value;
}

// "Hour=9,Minute=30;Weekday=0" -> two entries.
QList<CalendarEntry> entries(const QString& text)
{
    QList<CalendarEntry> result;
    for (const QString& part : text.split(QLatin1Char(';'))) {
        QMap<QString, qint64> keys;
        for (const QString& pair : part.split(QLatin1Char(','), Qt::SkipEmptyParts))
            keys.insert(pair.section(QLatin1Char('='), 0, 0),
                        pair.section(QLatin1Char('='), 1).toLongLong());
        if (const auto entry = CalendarEntry::fromKeys(keys))
            result.append(*entry);
    }
    return result;
}

JobSpec plainJob()
{
    JobSpec job;
    job.label = QStringLiteral("com.example.job");
    job.arguments = QStringList{QStringLiteral("/bin/true")};
    job.keys = QStringList{QStringLiteral("Label"), QStringLiteral("ProgramArguments")};
    return job;
}

} // namespace

class TestSystemdUnits : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void goldenUnits_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"interval", "at-load", "daily", "weekly", "monthly",
                                 "monthly-last-day", "monthly-nth-weekday"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void goldenUnits()
    {
        QFETCH(QString, kind);
        const AgentPaths paths = fixedPaths(home);
        const ScheduledTask task = taskFor(kind);
        const auto units =
            SystemdUnits::translate(jobFor(task, paths), paths.plistPath(task), home);
        QVERIFY2(units.ok(), qPrintable(units.message()));
        QCOMPARE(
            units->serviceName,
            QStringLiteral("brenmor-ops-com.brenmor-ops.task.%1.service").arg(task.idString()));
        const QString golden = TestSupport::dataPath(QStringLiteral("compat/systemd/") + kind);
        if (qEnvironmentVariableIsSet("BRENMOR_WRITE_GOLDEN")) {
            TestSupport::writeFile(golden + QStringLiteral(".service"), units->service.toUtf8());
            if (!units->timer.isEmpty())
                TestSupport::writeFile(golden + QStringLiteral(".timer"), units->timer.toUtf8());
        }
        QCOMPARE(units->service, QString::fromUtf8(TestSupport::readFile(golden + ".service")));
        // An agent without a schedule has no timer at all.
        QCOMPARE(units->timer, QString::fromUtf8(TestSupport::readFile(golden + ".timer")));
        QCOMPARE(SystemdUnits::plistPathOf(units->service), paths.plistPath(task));
    }

    // systemd itself reads the units of every schedule without a complaint.
    void unitsPassVerify_data() { goldenUnits_data(); }
    void unitsPassVerify()
    {
        QFETCH(QString, kind);
        if (systemdAnalyze().isEmpty())
            QSKIP("systemd-analyze is not installed (Debian package systemd)");
        QTemporaryDir root;
        const AgentPaths paths = fixedPaths(root.path());
        const ScheduledTask task = taskFor(kind);
        TestSupport::writeScript(paths.scriptPath(task), "true\n");
        QDir().mkpath(paths.logDir);
        const auto units =
            SystemdUnits::translate(jobFor(task, paths), paths.plistPath(task), root.path());
        QVERIFY(units.ok());
        const QString folder = root.path() + QStringLiteral("/units");
        QStringList files{folder + u'/' + units->serviceName};
        TestSupport::writeFile(files.first(), units->service.toUtf8());
        if (!units->timer.isEmpty()) {
            files.append(folder + u'/' + units->timerName);
            TestSupport::writeFile(files.last(), units->timer.toUtf8());
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SYSTEMD_LOG_LEVEL"), QStringLiteral("notice"));
        const ProcessResult result = TestSupport::run(
            systemdAnalyze(), QStringList{QStringLiteral("verify")} + files, environment);
        QVERIFY2(result.exitCode == 0 && result.err.isEmpty(), result.err.constData());
    }

    // The next elapses systemd computes for our OnCalendar= lines are the runner's (in UTC,
    // where no clock change intervenes).
    void calendarFiresWithRunner_data()
    {
        QTest::addColumn<QString>("calendar");
        QTest::addColumn<QString>("base");
        QTest::newRow("daily 03:00") << "Hour=3,Minute=0"
                                     << "2026-01-01 00:00:30";
        QTest::newRow("every minute of hour 5") << "Hour=5"
                                                << "2026-01-01 04:58:30";
        QTest::newRow("every minute") << ""
                                      << "2026-01-01 04:58:30";
        QTest::newRow("Sunday as 0") << "Weekday=0,Hour=8,Minute=0"
                                     << "2026-01-01 00:00:30";
        QTest::newRow("Sunday as 7") << "Weekday=7,Hour=8,Minute=0"
                                     << "2026-01-01 00:00:30";
        QTest::newRow("day or weekday") << "Day=13,Weekday=5,Hour=0,Minute=0"
                                        << "2026-02-01 00:00:30";
        QTest::newRow("February 29") << "Month=2,Day=29,Hour=12,Minute=0"
                                     << "2026-01-01 00:00:30";
        QTest::newRow("31st skips short months") << "Day=31,Hour=1,Minute=2"
                                                 << "2026-04-01 00:00:30";
        QTest::newRow("array of entries") << "Weekday=1,Hour=9,Minute=30;Day=1,Hour=6,Minute=0"
                                          << "2026-03-01 00:00:30";
        QTest::newRow("minute only") << "Minute=15"
                                     << "2026-03-01 22:20:30";
    }
    void calendarFiresWithRunner()
    {
        QFETCH(QString, calendar);
        QFETCH(QString, base);
        if (systemdAnalyze().isEmpty())
            QSKIP("systemd-analyze is not installed (Debian package systemd)");
        const QList<CalendarEntry> parsed = entries(calendar);
        constexpr int count = 6;
        const QStringList values = SystemdUnits::onCalendar(parsed);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        const ProcessResult result = TestSupport::run(
            systemdAnalyze(),
            QStringList{QStringLiteral("calendar"), QStringLiteral("--iterations=%1").arg(count),
                        QStringLiteral("--base-time=%1 UTC").arg(base)} +
                values,
            environment);
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QList<QDateTime> fromSystemd;
        for (const QString& line : result.outText().split(u'\n')) {
            if (line.contains(QLatin1String("elapse:")) || line.contains(QLatin1String("Iter.")))
                fromSystemd.append(elapseOf(line));
        }
        std::sort(fromSystemd.begin(), fromSystemd.end());
        fromSystemd.erase(std::unique(fromSystemd.begin(), fromSystemd.end()), fromSystemd.end());
        QVERIFY(fromSystemd.size() >= count);
        fromSystemd.resize(count);

        QList<QDateTime> fromRunner;
        QDateTime after = QDateTime::fromString(base, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        after.setTimeZone(QTimeZone::utc());
        for (int i = 0; i < count; ++i) {
            const auto next = CalendarSchedule::nextFire(parsed, after, QTimeZone::utc());
            QVERIFY(next);
            fromRunner.append(next->toUTC());
            after = *next;
        }
        QCOMPARE(fromSystemd, fromRunner);
    }

    // What systemd cannot do as launchd does refuses the agent, naming the key.
    void refusesWhatItCannotKeep_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("key");
        QTest::newRow("KeepAlive") << "KeepAlive"
                                   << "KeepAlive";
        QTest::newRow("two unknown keys") << "KeepAlive+UserName"
                                          << "KeepAlive, UserName";
        QTest::newRow("zero interval") << "StartInterval=0"
                                       << "StartInterval";
        QTest::newRow("calendar value out of range") << "Calendar"
                                                     << "StartCalendarInterval";
        QTest::newRow("relative log") << "StandardOutPath=log.txt"
                                      << "StandardOutPath";
        QTest::newRow("relative error log") << "StandardErrorPath=e"
                                            << "StandardErrorPath";
        QTest::newRow("relative folder") << "WorkingDirectory=tmp"
                                         << "WorkingDirectory";
        QTest::newRow("bad variable name") << "Environment"
                                           << "EnvironmentVariables";
        QTest::newRow("newline in the label") << "Label"
                                              << "Label";
    }
    void refusesWhatItCannotKeep()
    {
        QFETCH(QString, change);
        QFETCH(QString, key);
        JobSpec job = plainJob();
        if (change.startsWith(QLatin1String("KeepAlive")))
            job.keys << change.split(u'+');
        else if (change == QLatin1String("StartInterval=0"))
            job.keys << QStringLiteral("StartInterval");
        else if (change == QLatin1String("Calendar"))
            job.rejectedCalendarEntries = 1;
        else if (change.startsWith(QLatin1String("StandardOutPath")))
            job.standardOutPath = change.section(u'=', 1);
        else if (change.startsWith(QLatin1String("StandardErrorPath")))
            job.standardErrorPath = change.section(u'=', 1);
        else if (change.startsWith(QLatin1String("WorkingDirectory")))
            job.workingDirectory = change.section(u'=', 1);
        else if (change == QLatin1String("Environment"))
            job.environment.insert(QStringLiteral("A-B"), QStringLiteral("x"));
        else
            job.label = QStringLiteral("a\nb");
        const auto units = SystemdUnits::translate(job, QStringLiteral("/p.plist"), home);
        QVERIFY(!units.ok());
        QCOMPARE(units.error().key, key);
        QVERIFY(units.message().startsWith(QStringLiteral("unsupported key ") + key + ": "));
    }

    // Unit names keep the label readable and come back to it; other names are not ours.
    void unitNames_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("name");
        QTest::newRow("ours") << "com.brenmor-ops.task.3F2A"
                              << "brenmor-ops-com.brenmor-ops.task.3F2A";
        QTest::newRow("space and slash") << "a b/c"
                                         << "brenmor-ops-a\\x20b\\x2fc";
        QTest::newRow("backslash") << "a\\x"
                                   << "brenmor-ops-a\\x5cx";
        QTest::newRow("non-ASCII") << QString::fromUtf8("jö") << "brenmor-ops-j\\xc3\\xb6";
    }
    void unitNames()
    {
        QFETCH(QString, label);
        QFETCH(QString, name);
        QCOMPARE(SystemdUnits::unitBaseName(label), name);
        QCOMPARE(SystemdUnits::labelOfUnit(name + QStringLiteral(".timer")), label);
        QCOMPARE(SystemdUnits::labelOfUnit(name + QStringLiteral(".service")), label);
        QVERIFY(!SystemdUnits::labelOfUnit(QStringLiteral("other-") + name + ".service"));
    }
};

QTEST_GUILESS_MAIN(TestSystemdUnits)
#include "TestSystemdUnits.moc"
