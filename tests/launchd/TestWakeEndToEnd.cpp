// Wake registration on Linux with nothing faked: PmsetService -> osascript stand-in ->
// pmset stand-in (state in a temporary file), read back through `pmset -g sched`.
#include "PmsetService.h"
#include "ResultChecks.h"
#include "ToolPaths.h"

#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

ScheduledTask wakeTask(const TaskSchedule& schedule)
{
    ScheduledTask task = ScheduledTask::create(u"Nightly"_s, u"true"_s, schedule);
    task.wakeBeforeRun = true;
    return task;
}

QList<TimeOfDay> at(int hour, int minute) { return {TimeOfDay{hour, minute}}; }

} // namespace

class TestWakeEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void registersAndReadsBack_data();
    void registersAndReadsBack();
    void newRepeatReplacesOld();
    void nothingRegisteredIsNotActive();
    void cancelsWhatWasRegistered();
    void cancelOfAnEventNotHeldAsksNothing();
    void pmsetFailureReachesCaller();
    void missingOsascriptFailsToCreateScript();

private:
    std::unique_ptr<QTemporaryDir> m_state;
};

void TestWakeEndToEnd::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("not root: the osascript stand-in would ask for a password through pkexec");
    QVERIFY2(QFile::exists(ToolPaths::osascript()), qPrintable(ToolPaths::osascript()));
    QVERIFY2(QFile::exists(ToolPaths::pmset()), qPrintable(ToolPaths::pmset()));
    // Never the machine's wake alarm.
    QCOMPARE(qgetenv("BRENMOR_OPS_PMSET_NO_RTC"), QByteArray("1"));
}

void TestWakeEndToEnd::init()
{
    m_state = std::make_unique<QTemporaryDir>();
    qputenv("BRENMOR_OPS_PMSET_STATE", m_state->filePath(u"pmset.json"_s).toUtf8());
}

void TestWakeEndToEnd::cleanup()
{
    qunsetenv("BRENMOR_OPS_PMSET_STATE");
    m_state.reset();
}

void TestWakeEndToEnd::registersAndReadsBack_data()
{
    QTest::addColumn<TaskSchedule>("schedule");
    QTest::addColumn<QStringList>("shown"); // texts `pmset -g sched` shows afterwards
    QTest::addColumn<bool>("active");       // what the detail view's check answers

    QTest::newRow("daily 12:15 wakes at 12:10PM")
        << TaskSchedule::of<TaskSchedule::Daily>({at(12, 15)})
        << QStringList{u"Repeating power events:\n  wakepoweron at 12:10PM every day"_s} << true;
    QTest::newRow("daily 00:15 wakes at 0:10AM and counts as active")
        << TaskSchedule::of<TaskSchedule::Daily>({at(0, 15)})
        << QStringList{u"  wakepoweron at 0:10AM every day"_s} << true;
    QTest::newRow("weekly Monday 00:02 wakes late on Sunday")
        << TaskSchedule::of<TaskSchedule::Weekly>({{2}, at(0, 2)})
        << QStringList{u"  wakepoweron at 11:57PM Sunday"_s} << false;
    QTest::newRow("second Tuesday")
        << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, at(10, 0)})
        << QStringList{u"  wakepoweron at 9:55AM Tuesday"_s} << false;
    QTest::newRow("monthly on the 15th")
        << TaskSchedule::of<TaskSchedule::Monthly>({15, at(9, 0)})
        << QStringList{u"Scheduled power events:\n [0]  wakeorpoweron at "_s, u"/15/"_s,
                       u" 08:55:00 by 'pmset'"_s}
        << true;
}

void TestWakeEndToEnd::registersAndReadsBack()
{
    QFETCH(TaskSchedule, schedule);
    QFETCH(QStringList, shown);
    QFETCH(bool, active);

    const PmsetService service;
    const ScheduledTask task = wakeTask(schedule);
    VERIFY_OK(service.scheduleWake(task));
    const QString system = service.currentWakeSchedule();
    for (const QString& text : shown)
        QVERIFY2(system.contains(text), qPrintable(system));
    QCOMPARE(service.isWakeScheduledInSystem(task), active);
}

void TestWakeEndToEnd::newRepeatReplacesOld()
{
    const PmsetService service;
    const ScheduledTask first = wakeTask(TaskSchedule::of<TaskSchedule::Daily>({at(12, 15)}));
    const ScheduledTask second = wakeTask(TaskSchedule::of<TaskSchedule::Daily>({at(0, 15)}));
    VERIFY_OK(service.scheduleWake(first));
    VERIFY_OK(service.scheduleWake(second));
    QVERIFY(!service.isWakeScheduledInSystem(first));
    QVERIFY(service.isWakeScheduledInSystem(second));
}

void TestWakeEndToEnd::nothingRegisteredIsNotActive()
{
    const PmsetService service;
    QCOMPARE(service.currentWakeSchedule(), u"No scheduled events."_s);
    QVERIFY(!service.isWakeScheduledInSystem(
        wakeTask(TaskSchedule::of<TaskSchedule::Daily>({at(12, 15)}))));
    QVERIFY(!service.isWakeScheduledInSystem(
        wakeTask(TaskSchedule::of<TaskSchedule::Monthly>({15, at(9, 0)}))));
}

void TestWakeEndToEnd::cancelsWhatWasRegistered()
{
    const PmsetService service;
    const ScheduledTask daily = wakeTask(TaskSchedule::of<TaskSchedule::Daily>({at(12, 15)}));
    const ScheduledTask on15th = wakeTask(TaskSchedule::of<TaskSchedule::Monthly>({15, at(9, 0)}));
    const ScheduledTask on20th = wakeTask(TaskSchedule::of<TaskSchedule::Monthly>({20, at(9, 0)}));
    VERIFY_OK(service.scheduleWake(daily));
    VERIFY_OK(service.scheduleWake(on15th));
    VERIFY_OK(service.scheduleWake(on20th));

    VERIFY_OK(service.cancelOneTimeWake(on15th));
    QString system = service.currentWakeSchedule();
    QVERIFY2(!system.contains(u"/15/"_s) && system.contains(u"/20/"_s), qPrintable(system));
    QVERIFY2(system.contains(u"Repeating power events"_s), qPrintable(system));

    VERIFY_OK(service.cancelRepeatingWake());
    system = service.currentWakeSchedule();
    QVERIFY2(!system.contains(u"Repeating power events"_s), qPrintable(system));
    QVERIFY(!service.isWakeScheduledInSystem(daily));

    VERIFY_OK(service.cancelOneTimeWake(on20th));
    QCOMPARE(service.currentWakeSchedule(), u"No scheduled events."_s);
}

void TestWakeEndToEnd::cancelOfAnEventNotHeldAsksNothing()
{
    // pmset refuses to cancel an event it does not hold; the service looks first and asks
    // nothing (no osascript, which would fail here).
    qputenv("BRENMOR_OPS_OSASCRIPT", m_state->filePath(u"no-osascript"_s).toUtf8());
    const WakeOutcome cancelled = PmsetService().cancelOneTimeWake(
        wakeTask(TaskSchedule::of<TaskSchedule::Monthly>({15, at(9, 0)})));
    qunsetenv("BRENMOR_OPS_OSASCRIPT");
    VERIFY_OK(cancelled);
}

void TestWakeEndToEnd::pmsetFailureReachesCaller()
{
    // A state folder that cannot be created: pmset fails, osascript reports it.
    TestSupport::writeFile(m_state->filePath(u"plain-file"_s), "x");
    qputenv("BRENMOR_OPS_PMSET_STATE", m_state->filePath(u"plain-file/pmset.json"_s).toUtf8());
    const WakeOutcome woken =
        PmsetService().scheduleWake(wakeTask(TaskSchedule::of<TaskSchedule::Daily>({at(9, 0)})));
    QVERIFY(!woken.ok());
    QCOMPARE(woken.message(),
             u"pmset failed: pmset: cannot create "_s + m_state->filePath(u"plain-file"_s));
}

void TestWakeEndToEnd::missingOsascriptFailsToCreateScript()
{
    qputenv("BRENMOR_OPS_OSASCRIPT", m_state->filePath(u"no-osascript"_s).toUtf8());
    const WakeOutcome woken =
        PmsetService().scheduleWake(wakeTask(TaskSchedule::of<TaskSchedule::Daily>({at(9, 0)})));
    qunsetenv("BRENMOR_OPS_OSASCRIPT");
    QVERIFY(!woken.ok());
    QCOMPARE(woken.message(), u"pmset failed: Failed to create script"_s);
    QVERIFY(!QFile::exists(m_state->filePath(u"pmset.json"_s)));
}

QTEST_GUILESS_MAIN(TestWakeEndToEnd)
#include "TestWakeEndToEnd.moc"
