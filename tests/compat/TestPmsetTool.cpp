#include "TaskFile.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <optional>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// pmset against a private state file, never the machine's RTC.
class Pmset {
public:
    Pmset()
    {
        m_environment.insert(u"BRENMOR_OPS_PMSET_STATE"_s, statePath());
        m_environment.insert(u"BRENMOR_OPS_PMSET_NO_RTC"_s, u"1"_s);
        m_environment.insert(u"TZ"_s, u"Europe/Berlin"_s);
    }

    QString statePath() const { return m_dir.filePath(u"state/pmset.json"_s); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QProcessEnvironment& environment() { return m_environment; }

    ProcessResult run(const QStringList& args) const
    {
        return TestSupport::run(TestSupport::compatPath(u"pmset"_s), args, m_environment);
    }

    QString schedule() const
    {
        const ProcessResult result = run({u"-g"_s, u"sched"_s});
        return result.exitCode == 0 ? result.outText()
                                    : u"exit %1: "_s.arg(result.exitCode) + result.errText();
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
};

QStringList repeatAt(const QString& days, const QString& time,
                     const QString& type = u"wakeorpoweron"_s)
{
    return {u"repeat"_s, type, days, time};
}

QStringList once(const QString& date, const QStringList& extra = {})
{
    return QStringList{u"schedule"_s, u"wakeorpoweron"_s, date} + extra;
}

QString repeating(const QString& line) { return u"Repeating power events:\n  "_s + line + u'\n'; }

QByteArray usage()
{
    return TestSupport::readFile(TestSupport::dataPath(u"wake/pmset-usage.txt"_s));
}

} // namespace

class TestPmsetTool : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void showsSchedule_data();
    void showsSchedule();
    void storesUtcAndShowsLocalTime();
    void rejectsBadArguments_data();
    void rejectsBadArguments();
    void cancelsOnlyAnEventItHolds_data();
    void cancelsOnlyAnEventItHolds();
    void keepsUnreadableStateFile();
    void reportsUnwritableStateFile();
    void armsWakeAlarm();
    void keepsEveryConcurrentRegistration();
    void locksLikeTheTaskFile_data();
    void locksLikeTheTaskFile();
    void writesUserStateWhenNotRoot();
};

void TestPmsetTool::initTestCase() { QVERIFY(QFile::exists(TestSupport::compatPath(u"pmset"_s))); }

void TestPmsetTool::showsSchedule_data()
{
    QTest::addColumn<QList<QStringList>>("commands");
    QTest::addColumn<QString>("schedule");

    const QString every = u"MTWRFSU"_s;
    QTest::newRow("nothing") << QList<QStringList>{} << u"No scheduled events.\n"_s;
    QTest::newRow("every day, morning") << QList<QStringList>{repeatAt(every, u"08:55:00"_s)}
                                        << repeating(u"wakepoweron at 8:55AM every day"_s);
    QTest::newRow("hour after midnight written as 0")
        << QList<QStringList>{repeatAt(every, u"00:10:00"_s)}
        << repeating(u"wakepoweron at 0:10AM every day"_s);
    QTest::newRow("noon hour") << QList<QStringList>{repeatAt(every, u"12:10:00"_s)}
                               << repeating(u"wakepoweron at 12:10PM every day"_s);
    QTest::newRow("afternoon") << QList<QStringList>{repeatAt(every, u"13:05:00"_s)}
                               << repeating(u"wakepoweron at 1:05PM every day"_s);
    QTest::newRow("late evening, seconds not shown")
        << QList<QStringList>{repeatAt(every, u"23:58:30"_s)}
        << repeating(u"wakepoweron at 11:58PM every day"_s);
    QTest::newRow("letters in any order")
        << QList<QStringList>{repeatAt(u"USFRWTM"_s, u"07:00:00"_s)}
        << repeating(u"wakepoweron at 7:00AM every day"_s);
    QTest::newRow("weekdays") << QList<QStringList>{repeatAt(u"FRWTM"_s, u"07:00:00"_s)}
                              << repeating(u"wakepoweron at 7:00AM weekdays only"_s);
    QTest::newRow("weekends") << QList<QStringList>{repeatAt(u"US"_s, u"07:00:00"_s)}
                              << repeating(u"wakepoweron at 7:00AM weekends only"_s);
    QTest::newRow("Monday") << QList<QStringList>{repeatAt(u"M"_s, u"23:57:00"_s)}
                            << repeating(u"wakepoweron at 11:57PM Monday"_s);
    QTest::newRow("Thursday is R") << QList<QStringList>{repeatAt(u"R"_s, u"09:55:00"_s)}
                                   << repeating(u"wakepoweron at 9:55AM Thursday"_s);
    QTest::newRow("Sunday is U") << QList<QStringList>{repeatAt(u"U"_s, u"09:55:00"_s)}
                                 << repeating(u"wakepoweron at 9:55AM Sunday"_s);
    QTest::newRow("other sets") << QList<QStringList>{repeatAt(u"MWF"_s, u"09:55:00"_s)}
                                << repeating(u"wakepoweron at 9:55AM Some days"_s);
    QTest::newRow("wake type shown as given")
        << QList<QStringList>{repeatAt(every, u"06:00:00"_s, u"wake"_s)}
        << repeating(u"wake at 6:00AM every day"_s);
    QTest::newRow("a new repeat replaces the old")
        << QList<QStringList>{repeatAt(every, u"06:00:00"_s), repeatAt(u"T"_s, u"09:55:00"_s)}
        << repeating(u"wakepoweron at 9:55AM Tuesday"_s);
    QTest::newRow("repeat cancelled")
        << QList<QStringList>{repeatAt(every, u"06:00:00"_s), {u"repeat"_s, u"cancel"_s}}
        << u"No scheduled events.\n"_s;
    QTest::newRow("one-time event")
        << QList<QStringList>{once(u"12/15/99 08:55:00"_s)}
        << u"Scheduled power events:\n [0]  wakeorpoweron at 12/15/2099 08:55:00 by 'pmset'\n"_s;
    QTest::newRow("four-digit year and an owner")
        << QList<QStringList>{once(u"1/2/2099 07:00:00"_s, {u"brenmor"_s})}
        << u"Scheduled power events:\n [0]  wakeorpoweron at 01/02/2099 07:00:00 by 'brenmor'\n"_s;
    QTest::newRow("sorted by time, the same event once")
        << QList<QStringList>{once(u"12/15/99 08:55:00"_s), once(u"11/15/99 08:55:00"_s),
                              once(u"12/15/99 08:55:00"_s)}
        << u"Scheduled power events:\n"
           " [0]  wakeorpoweron at 11/15/2099 08:55:00 by 'pmset'\n"
           " [1]  wakeorpoweron at 12/15/2099 08:55:00 by 'pmset'\n"_s;
    QTest::newRow("past events dropped")
        << QList<QStringList>{once(u"01/15/20 08:55:00"_s)} << u"No scheduled events.\n"_s;
    QTest::newRow("one cancelled")
        << QList<QStringList>{once(u"12/15/99 08:55:00"_s),
                              once(u"11/15/99 08:55:00"_s),
                              {u"schedule"_s, u"cancel"_s, u"wakeorpoweron"_s,
                               u"11/15/99 08:55:00"_s}}
        << u"Scheduled power events:\n [0]  wakeorpoweron at 12/15/2099 08:55:00 by 'pmset'\n"_s;
    QTest::newRow("all cancelled")
        << QList<QStringList>{once(u"12/15/99 08:55:00"_s), {u"schedule"_s, u"cancelall"_s}}
        << u"No scheduled events.\n"_s;
    QTest::newRow("both kinds") << QList<QStringList>{once(u"12/15/99 08:55:00"_s),
                                                      repeatAt(every, u"00:10:00"_s),
                                                      once(u"01/15/2100 08:55:00"_s)}
                                << QString::fromUtf8(TestSupport::readFile(
                                       TestSupport::dataPath(u"wake/sched-both.txt"_s)));
}

void TestPmsetTool::showsSchedule()
{
    QFETCH(QList<QStringList>, commands);
    QFETCH(QString, schedule);
    Pmset pmset;
    for (const QStringList& command : commands) {
        const ProcessResult result = pmset.run(command);
        QCOMPARE(result.errText(), QString());
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.isEmpty());
    }
    QCOMPARE(pmset.schedule(), schedule);
}

void TestPmsetTool::storesUtcAndShowsLocalTime()
{
    Pmset pmset;
    QCOMPARE(pmset.run(once(u"12/15/99 08:55:00"_s)).exitCode, 0);
    const QJsonObject state =
        QJsonDocument::fromJson(TestSupport::readFile(pmset.statePath())).object();
    QCOMPARE(state.value(u"scheduled"_s).toArray().at(0).toObject().value(u"at"_s).toString(),
             u"2099-12-15T07:55:00Z"_s);

    // Another time zone shows the same moment at its own wall-clock time.
    pmset.environment().insert(u"TZ"_s, u"America/New_York"_s);
    QCOMPARE(pmset.schedule(),
             u"Scheduled power events:\n [0]  wakeorpoweron at 12/15/2099 02:55:00 by 'pmset'\n"_s);
}

void TestPmsetTool::rejectsBadArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("problem");

    QTest::newRow("nothing") << QStringList() << u"no command given"_s;
    QTest::newRow("unknown command")
        << QStringList{u"frobnicate"_s} << u"unknown command \"frobnicate\""_s;
    QTest::newRow("-g alone") << QStringList{u"-g"_s} << u"only \"-g sched\" is supported"_s;
    QTest::newRow("-g other") << QStringList{u"-g"_s, u"ps"_s}
                              << u"only \"-g sched\" is supported"_s;
    QTest::newRow("repeat without event")
        << QStringList{u"repeat"_s} << u"repeat needs a type, weekdays and a time"_s;
    QTest::newRow("repeat, sleep events") << repeatAt(u"MTWRFSU"_s, u"08:00:00"_s, u"sleep"_s)
                                          << u"unsupported event type \"sleep\""_s;
    QTest::newRow("repeat, unknown letter")
        << repeatAt(u"MXW"_s, u"08:00:00"_s) << u"bad weekdays \"MXW\""_s;
    QTest::newRow("repeat, lower-case letters")
        << repeatAt(u"mtw"_s, u"08:00:00"_s) << u"bad weekdays \"mtw\""_s;
    QTest::newRow("repeat, hour 24")
        << repeatAt(u"M"_s, u"24:00:00"_s) << u"bad time \"24:00:00\""_s;
    QTest::newRow("repeat, no seconds") << repeatAt(u"M"_s, u"08:00"_s) << u"bad time \"08:00\""_s;
    QTest::newRow("repeat, extra argument") << (repeatAt(u"M"_s, u"08:00:00"_s) << u"x"_s)
                                            << u"repeat needs a type, weekdays and a time"_s;
    QTest::newRow("schedule without date")
        << QStringList{u"schedule"_s, u"wakeorpoweron"_s} << u"schedule needs a type and a date"_s;
    QTest::newRow("schedule, month 13")
        << once(u"13/01/26 08:00:00"_s) << u"bad date \"13/01/26 08:00:00\""_s;
    QTest::newRow("schedule, February 30th")
        << once(u"02/30/26 08:00:00"_s) << u"bad date \"02/30/26 08:00:00\""_s;
    QTest::newRow("schedule, ISO date")
        << once(u"2026-12-15 08:00:00"_s) << u"bad date \"2026-12-15 08:00:00\""_s;
    QTest::newRow("schedule, shutdown")
        << QStringList{u"schedule"_s, u"shutdown"_s, u"12/15/26 08:00:00"_s}
        << u"unsupported event type \"shutdown\""_s;
}

void TestPmsetTool::rejectsBadArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, problem);
    Pmset pmset;
    const ProcessResult result = pmset.run(args);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.err, u"pmset: %1\n"_s.arg(problem).toUtf8() + usage());
    QVERIFY(!QFile::exists(pmset.statePath()));
}

void TestPmsetTool::cancelsOnlyAnEventItHolds_data()
{
    QTest::addColumn<QStringList>("cancel");
    QTest::addColumn<bool>("cancelled");
    const auto cancel = [](const QStringList& rest) {
        return QStringList{u"schedule"_s, u"cancel"_s, u"wakeorpoweron"_s} + rest;
    };
    QTest::newRow("the event itself") << cancel({u"12/15/99 08:55:00"_s}) << true;
    QTest::newRow("four-digit year") << cancel({u"12/15/2099 08:55:00"_s}) << true;
    QTest::newRow("another minute") << cancel({u"12/15/99 08:56:00"_s}) << false;
    QTest::newRow("another owner") << cancel({u"12/15/99 08:55:00"_s, u"someone"_s}) << false;
    QTest::newRow("another type") << QStringList{u"schedule"_s, u"cancel"_s, u"wake"_s,
                                                 u"12/15/99 08:55:00"_s}
                                  << false;
    QTest::newRow("an event already past") << cancel({u"01/15/20 08:55:00"_s}) << false;
}

void TestPmsetTool::cancelsOnlyAnEventItHolds()
{
    QFETCH(QStringList, cancel);
    QFETCH(bool, cancelled);
    Pmset pmset;
    QCOMPARE(pmset.run(once(u"12/15/99 08:55:00"_s)).exitCode, 0);
    QCOMPARE(pmset.run(repeatAt(u"MTWRFSU"_s, u"06:00:00"_s)).exitCode, 0);
    const QString held = pmset.schedule();
    const ProcessResult result = pmset.run(cancel);
    // macOS pmset answers a cancellation of an event it does not hold with an error.
    QCOMPARE(result.exitCode, cancelled ? 0 : 1);
    QCOMPARE(result.errText(), cancelled ? QString() : u"pmset: Error in scheduling operation\n"_s);
    QCOMPARE(pmset.schedule(), cancelled ? repeating(u"wakepoweron at 6:00AM every day"_s) : held);
    // The repeating event goes with "repeat cancel", and only then.
    QCOMPARE(pmset.run({u"repeat"_s, u"cancel"_s}).exitCode, 0);
    QVERIFY(!pmset.schedule().contains(u"Repeating"_s));
}

void TestPmsetTool::keepsUnreadableStateFile()
{
    Pmset pmset;
    TestSupport::writeFile(pmset.statePath(), "{\"repeating\": [");
    const QString error =
        u"pmset: cannot read %1: not a pmset state file\n"_s.arg(pmset.statePath());
    QCOMPARE(pmset.schedule(), u"exit 1: "_s + error);
    const ProcessResult result = pmset.run(repeatAt(u"M"_s, u"08:00:00"_s));
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errText(), error);
    QCOMPARE(TestSupport::readFile(pmset.statePath()), QByteArray("{\"repeating\": ["));
}

void TestPmsetTool::reportsUnwritableStateFile()
{
    Pmset pmset;
    TestSupport::writeFile(pmset.filePath(u"plain-file"_s), "x");
    const QString state = pmset.filePath(u"plain-file/pmset.json"_s);
    pmset.environment().insert(u"BRENMOR_OPS_PMSET_STATE"_s, state);
    const ProcessResult result = pmset.run(repeatAt(u"M"_s, u"08:00:00"_s));
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errText(), u"pmset: cannot create %1\n"_s.arg(pmset.filePath(u"plain-file"_s)));
}

void TestPmsetTool::armsWakeAlarm()
{
    Pmset pmset;
    const QString alarm = pmset.filePath(u"wakealarm"_s);
    TestSupport::writeFile(alarm, QByteArray());
    pmset.environment().remove(u"BRENMOR_OPS_PMSET_NO_RTC"_s);
    pmset.environment().insert(u"BRENMOR_OPS_PMSET_RTC"_s, alarm);
    const auto alarmTime = [&alarm] {
        return QDateTime::fromSecsSinceEpoch(TestSupport::readFile(alarm).trimmed().toLongLong(),
                                             QTimeZone("Europe/Berlin"));
    };

    QCOMPARE(pmset.run(once(u"12/15/99 08:55:00"_s)).exitCode, 0);
    QCOMPARE(alarmTime(), QDateTime(QDate(2099, 12, 15), QTime(8, 55), QTimeZone("Europe/Berlin")));

    // The repeating event comes round within a day, long before 2099.
    const QDateTime before = QDateTime::currentDateTimeUtc();
    QCOMPARE(pmset.run(repeatAt(u"MTWRFSU"_s, u"08:55:00"_s)).exitCode, 0);
    const QDateTime next = alarmTime();
    QVERIFY(next > before);
    QVERIFY(next <= before.addDays(1));
    QCOMPARE(next.time(), QTime(8, 55));

    QCOMPARE(pmset.run({u"repeat"_s, u"cancel"_s}).exitCode, 0);
    QCOMPARE(pmset.run({u"schedule"_s, u"cancelall"_s}).exitCode, 0);
    QCOMPARE(TestSupport::readFile(alarm), QByteArray("0\n"));

    // Switched off, the alarm is left alone.
    pmset.environment().insert(u"BRENMOR_OPS_PMSET_NO_RTC"_s, u"1"_s);
    QCOMPARE(pmset.run(once(u"12/15/99 08:55:00"_s)).exitCode, 0);
    QCOMPARE(TestSupport::readFile(alarm), QByteArray("0\n"));

    // An alarm it may not write does not fail the registration.
    pmset.environment().remove(u"BRENMOR_OPS_PMSET_NO_RTC"_s);
    pmset.environment().insert(u"BRENMOR_OPS_PMSET_RTC"_s, pmset.filePath(u"missing/wakealarm"_s));
    QCOMPARE(pmset.run(once(u"11/15/99 08:55:00"_s)).exitCode, 0);
    QVERIFY(pmset.schedule().contains(u"11/15/2099"_s));
}

void TestPmsetTool::keepsEveryConcurrentRegistration()
{
    Pmset pmset;
    QList<QProcess*> processes;
    for (int day = 1; day <= 12; ++day) {
        auto* process = new QProcess(this);
        process->setProcessEnvironment(pmset.environment());
        process->start(TestSupport::compatPath(u"pmset"_s),
                       once(u"%1/01/99 08:55:00"_s.arg(day, 2, 10, QChar(u'0'))));
        processes.append(process);
    }
    for (QProcess* process : processes) {
        QVERIFY(process->waitForFinished(60000));
        QCOMPARE(process->exitCode(), 0);
        delete process;
    }
    const QString schedule = pmset.schedule();
    for (int day = 1; day <= 12; ++day)
        QVERIFY2(schedule.contains(u"%1/01/2099 08:55:00"_s.arg(day, 2, 10, QChar(u'0'))),
                 qPrintable(schedule));
}

// The state file is guarded as the task file is: flock() on "<state>.lock". A lock file left
// behind (even one naming a live process) is no obstacle; a holder keeps pmset out until it
// lets go, and nothing is written meanwhile.
void TestPmsetTool::locksLikeTheTaskFile_data()
{
    QTest::addColumn<QByteArray>("leftover"); // contents of a lock file nobody holds
    QTest::addColumn<bool>("held");
    QTest::newRow("no lock file") << QByteArray() << false;
    QTest::newRow("leftover naming this live process")
        << QByteArray::number(qint64(::getpid())) + "\npmset\n" +
               QSysInfo::machineHostName().toUtf8() + '\n'
        << false;
    QTest::newRow("held by another holder") << QByteArray() << true;
}

void TestPmsetTool::locksLikeTheTaskFile()
{
    QFETCH(QByteArray, leftover);
    QFETCH(bool, held);
    Pmset pmset;
    QVERIFY(QDir().mkpath(QFileInfo(pmset.statePath()).absolutePath()));
    if (!leftover.isEmpty())
        TestSupport::writeFile(TaskFile::lockPath(pmset.statePath()), leftover);
    std::optional<TaskFile::Lock> holder;
    if (held) {
        holder.emplace(pmset.statePath(), 0);
        QVERIFY2(holder->isLocked(), qPrintable(holder->error()));
    }
    const ProcessResult result = pmset.run(repeatAt(u"MTWRFSU"_s, u"08:55:00"_s));
    if (held) {
        QVERIFY(result.exitCode != 0);
        QVERIFY2(result.errText().contains(u"is in use by another pmset"_s),
                 qPrintable(result.errText()));
        QVERIFY(!QFile::exists(pmset.statePath()));
        holder.reset();
        QCOMPARE(pmset.run(repeatAt(u"MTWRFSU"_s, u"08:55:00"_s)).exitCode, 0);
    } else {
        QCOMPARE(result.exitCode, 0);
    }
    QCOMPARE(pmset.schedule(), repeating(u"wakepoweron at 8:55AM every day"_s));
}

void TestPmsetTool::writesUserStateWhenNotRoot()
{
    if (geteuid() != 0 || !QFile::exists(u"/usr/bin/setpriv"_s))
        QSKIP("needs root to run pmset as another user");
    QTemporaryDir home;
    QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                           QFileDevice::WriteOther | QFileDevice::ExeOther);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"BRENMOR_OPS_PMSET_STATE"_s);
    environment.insert(u"BRENMOR_OPS_PMSET_NO_RTC"_s, u"1"_s);
    environment.insert(u"XDG_STATE_HOME"_s, home.path());
    const auto asNobody = [&](const QStringList& args) {
        return TestSupport::run(u"/usr/bin/setpriv"_s,
                                QStringList{u"--reuid=65534"_s, u"--regid=65534"_s,
                                            u"--clear-groups"_s,
                                            TestSupport::compatPath(u"pmset"_s)} +
                                    args,
                                environment, 60000, home.path());
    };
    const ProcessResult result = asNobody(repeatAt(u"M"_s, u"08:00:00"_s));
    QCOMPARE(result.errText(), QString());
    QCOMPARE(result.exitCode, 0);
    QVERIFY(QFile::exists(home.filePath(u"brenmor-ops/pmset.json"_s)));
    QVERIFY(asNobody({u"-g"_s, u"sched"_s}).outText().contains(u"wakepoweron at 8:00AM Monday"_s));
}

QTEST_GUILESS_MAIN(TestPmsetTool)
#include "TestPmsetTool.moc"
