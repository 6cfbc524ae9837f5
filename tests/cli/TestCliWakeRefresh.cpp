// CLITaskStore::refreshWakeSchedules: which tasks get a wake registration, in which order.
#include "CLITaskStore.h"
#include "FakeServices.h"
#include "TaskBuilder.h"
#include "TestSupport.h"

#include <QTest>

#include <algorithm>

namespace {
TimeOfDay at(int hour, int minute) { return TimeOfDay{hour, minute}; }

} // namespace

class TestCliWakeRefresh : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void selection_data();
    void selection();
};

void TestCliWakeRefresh::selection_data()
{
    QTest::addColumn<QList<ScheduledTask>>("tasks");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<QStringList>("registered");

    const TaskSchedule daily = TaskSchedule::daily({at(9, 0)});
    const TaskSchedule weekly = TaskSchedule::weekly({2}, {at(9, 0)});
    const TaskSchedule monthly = TaskSchedule::monthly(5, {at(9, 0)});
    const TaskSchedule lastDay = TaskSchedule::monthlyLastDay({at(9, 0)});
    const TaskSchedule nth = TaskSchedule::monthlyNthWeekday(1, 2, {at(9, 0)});

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
    const Result<void> refreshed = store.refreshWakeSchedules(tasks);
    QStringList wakes;
    for (const QString& name : registered)
        wakes << QStringLiteral("wake ") + name;
    QCOMPARE(pmset->recorder().calls, wakes);
    // The first refused registration is the failure; the others still ran.
    const bool refused = std::any_of(registered.cbegin(), registered.cend(),
                                     [&](const QString& name) { return failing.contains(name); });
    QCOMPARE(refreshed.message(),
             refused ? QStringLiteral("pmset failed: User canceled.") : QString());
}

QTEST_GUILESS_MAIN(TestCliWakeRefresh)
#include "TestCliWakeRefresh.moc"
