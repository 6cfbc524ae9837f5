// CLITaskStore::refreshWakeSchedules: which tasks get a wake registration, in which order.
#include "CLITaskStore.h"
#include "FakeServices.h"
#include "TaskBuilder.h"
#include "TestSupport.h"

#include <QTest>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {
TimeOfDay at(int hour, int minute) { return TimeOfDay{hour, minute}; }

} // namespace

class TestCliWakeRefresh : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void selection_data();
    void selection();
    void cancellations_data();
    void cancellations();
};

void TestCliWakeRefresh::selection_data()
{
    QTest::addColumn<QList<ScheduledTask>>("tasks");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<QStringList>("registered");

    const TaskSchedule daily = TaskSchedule::of<TaskSchedule::Daily>({{at(9, 0)}});
    const TaskSchedule weekly = TaskSchedule::of<TaskSchedule::Weekly>({{2}, {at(9, 0)}});
    const TaskSchedule monthly = TaskSchedule::of<TaskSchedule::Monthly>({5, {at(9, 0)}});
    const TaskSchedule lastDay = TaskSchedule::of<TaskSchedule::MonthlyLastDay>({{at(9, 0)}});
    const TaskSchedule nth = TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({1, 2, {at(9, 0)}});

    QTest::newRow("only the first repeating task")
        << QList{TaskBuilder(QStringLiteral("daily")).schedule(daily).wake().build(),
                 TaskBuilder(QStringLiteral("weekly")).schedule(weekly).wake().build()}
        << QStringList() << QStringList{QStringLiteral("daily")};
    QTest::newRow("file order decides")
        << QList{TaskBuilder(QStringLiteral("weekly")).schedule(weekly).wake().build(),
                 TaskBuilder(QStringLiteral("daily")).schedule(daily).wake().build()}
        << QStringList() << QStringList{QStringLiteral("weekly")};
    QTest::newRow("every monthly-day task")
        << QList{TaskBuilder(QStringLiteral("m1")).schedule(monthly).wake().build(),
                 TaskBuilder(QStringLiteral("m2")).schedule(monthly).wake().build()}
        << QStringList() << QStringList{QStringLiteral("m1"), QStringLiteral("m2")};
    QTest::newRow("repeating before the monthly ones")
        << QList{TaskBuilder(QStringLiteral("m1")).schedule(monthly).wake().build(),
                 TaskBuilder(QStringLiteral("nth")).schedule(nth).wake().build(),
                 TaskBuilder(QStringLiteral("m2")).schedule(monthly).wake().build(),
                 TaskBuilder(QStringLiteral("last")).schedule(lastDay).wake().build()}
        << QStringList()
        << QStringList{QStringLiteral("nth"), QStringLiteral("m1"), QStringLiteral("m2")};
    QTest::newRow("last day repeats")
        << QList{TaskBuilder(QStringLiteral("interval")).every(5).wake().build(),
                 TaskBuilder(QStringLiteral("last")).schedule(lastDay).wake().build()}
        << QStringList() << QStringList{QStringLiteral("last")};
    QTest::newRow("interval and run at load are skipped")
        << QList{TaskBuilder(QStringLiteral("interval")).every(5).wake().build(),
                 TaskBuilder(QStringLiteral("load")).atLoad().wake().build()}
        << QStringList() << QStringList();
    QTest::newRow("disabled wake task")
        << QList{TaskBuilder(QStringLiteral("off")).schedule(daily).disabled().wake().build()}
        << QStringList() << QStringList();
    QTest::newRow("disabled one does not take the repeating slot")
        << QList{TaskBuilder(QStringLiteral("off")).schedule(daily).disabled().wake().build(),
                 TaskBuilder(QStringLiteral("on")).schedule(weekly).wake().build()}
        << QStringList() << QStringList{QStringLiteral("on")};
    QTest::newRow("tasks without wake")
        << QList{TaskBuilder(QStringLiteral("plain")).schedule(daily).build(),
                 TaskBuilder(QStringLiteral("plain monthly")).schedule(monthly).build()}
        << QStringList() << QStringList();
    QTest::newRow("a failure stops nothing")
        << QList{TaskBuilder(QStringLiteral("daily")).schedule(daily).wake().build(),
                 TaskBuilder(QStringLiteral("m1")).schedule(monthly).wake().build(),
                 TaskBuilder(QStringLiteral("m2")).schedule(monthly).wake().build()}
        << QStringList{QStringLiteral("daily"), QStringLiteral("m1")}
        << QStringList{QStringLiteral("daily"), QStringLiteral("m1"), QStringLiteral("m2")};
    QTest::newRow("empty list") << QList<ScheduledTask>() << QStringList() << QStringList();
}

void TestCliWakeRefresh::selection()
{
    QFETCH(QList<ScheduledTask>, tasks);
    QFETCH(QStringList, failing);
    QFETCH(QStringList, registered);

    TestHome home;
    auto pmset = std::make_shared<FakePmsetService>();
    pmset->recorder().failingWakes = QSet<QString>(failing.begin(), failing.end());
    const CLITaskStore store(std::nullopt, std::make_shared<LaunchdService>(), pmset);
    const QStringList failures = store.operations().syncWake({}, tasks);
    QStringList wakes;
    for (const QString& name : registered)
        wakes << QStringLiteral("wake ") + name;
    QCOMPARE(pmset->recorder().calls, wakes);
    // The first refused registration is the failure; the others still ran.
    const bool refused = std::any_of(registered.cbegin(), registered.cend(),
                                     [&](const QString& name) { return failing.contains(name); });
    QCOMPARE(failures.value(0),
             refused ? QStringLiteral("pmset failed: User canceled.") : QString());
}

// After a change the tool cancels what the new list no longer needs, before registering.
void TestCliWakeRefresh::cancellations_data()
{
    QTest::addColumn<QList<ScheduledTask>>("before");
    QTest::addColumn<QList<ScheduledTask>>("after");
    QTest::addColumn<bool>("cancelsFail");
    QTest::addColumn<QStringList>("calls");

    const ScheduledTask daily = TaskBuilder(QStringLiteral("daily"))
                                    .schedule(TaskSchedule::of<TaskSchedule::Daily>({{at(9, 0)}}))
                                    .wake()
                                    .build();
    const ScheduledTask weekly =
        TaskBuilder(QStringLiteral("weekly"))
            .schedule(TaskSchedule::of<TaskSchedule::Weekly>({{2}, {at(9, 0)}}))
            .wake()
            .build();
    const ScheduledTask monthly =
        TaskBuilder(QStringLiteral("monthly"))
            .schedule(TaskSchedule::of<TaskSchedule::Monthly>({5, {at(9, 0)}}))
            .wake()
            .build();
    ScheduledTask dailyOff = daily;
    dailyOff.isEnabled = false;
    ScheduledTask monthlyOff = monthly;
    monthlyOff.isEnabled = false;
    ScheduledTask monthlyMoved = monthly;
    monthlyMoved.schedule = TaskSchedule::of<TaskSchedule::Monthly>({20, {at(9, 0)}});
    ScheduledTask monthlyNoWake = monthly;
    monthlyNoWake.wakeBeforeRun = false;

    QTest::newRow("the only repeating wake task disabled")
        << QList{daily} << QList{dailyOff} << false << QStringList{u"cancel repeating wake"_s};
    QTest::newRow("the only repeating wake task removed")
        << QList{daily, monthly} << QList{monthly} << false
        << QStringList{u"cancel repeating wake"_s, u"wake monthly"_s};
    QTest::newRow("another repeating task takes the event over")
        << QList{daily, weekly} << QList{dailyOff, weekly} << false
        << QStringList{u"wake weekly"_s};
    QTest::newRow("monthly task disabled")
        << QList{daily, monthly} << QList{daily, monthlyOff} << false
        << QStringList{u"cancel wake monthly"_s, u"wake daily"_s};
    QTest::newRow("monthly task moved to another day")
        << QList{monthly} << QList{monthlyMoved} << false
        << QStringList{u"cancel wake monthly"_s, u"wake monthly"_s};
    QTest::newRow("monthly task no longer wakes")
        << QList{monthly} << QList{monthlyNoWake} << false << QStringList{u"cancel wake monthly"_s};
    QTest::newRow("monthly task unchanged keeps its event")
        << QList{monthly} << QList{monthly} << false << QStringList{u"wake monthly"_s};
    QTest::newRow("a declined cancel stops nothing")
        << QList{daily, monthly} << QList<ScheduledTask>() << true
        << QStringList{u"cancel repeating wake"_s, u"cancel wake monthly"_s};
}

void TestCliWakeRefresh::cancellations()
{
    QFETCH(QList<ScheduledTask>, before);
    QFETCH(QList<ScheduledTask>, after);
    QFETCH(bool, cancelsFail);
    QFETCH(QStringList, calls);

    TestHome home;
    auto pmset = std::make_shared<FakePmsetService>();
    pmset->recorder().cancelsFail = cancelsFail;
    const CLITaskStore store(std::nullopt, std::make_shared<LaunchdService>(), pmset);
    const QStringList failures = store.operations().syncWake(before, after);
    QCOMPARE(pmset->recorder().calls, calls);
    QCOMPARE(failures.value(0),
             cancelsFail ? QStringLiteral("pmset failed: User canceled.") : QString());
}

QTEST_GUILESS_MAIN(TestCliWakeRefresh)
#include "TestCliWakeRefresh.moc"
