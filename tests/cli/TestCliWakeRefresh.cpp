// CLITaskStore::refreshWakeSchedules: which tasks get a wake registration, in which order.
#include "CLITaskStore.h"
#include "TestSupport.h"

#include <QTest>

#include <algorithm>

namespace {
TimeOfDay at(int hour, int minute) { return TimeOfDay{hour, minute}; }

// Records the names of the tasks it is asked to register; fails for the names in `failing`.
class RecordingPmset final : public PmsetServiceProtocol {
public:
    explicit RecordingPmset(QStringList failing) : m_failing(std::move(failing)) {}

    std::optional<PmsetError> scheduleWake(const ScheduledTask& task) const override
    {
        registered << task.name;
        if (m_failing.contains(task.name))
            return PmsetError::scriptFailed(QStringLiteral("User canceled."));
        return std::nullopt;
    }
    bool isWakeScheduledInSystem(const ScheduledTask&) const override { return false; }

    mutable QStringList registered;

private:
    QStringList m_failing;
};

ScheduledTask task(const QString& name, TaskSchedule schedule, bool enabled = true,
                   bool wake = true)
{
    ScheduledTask t = ScheduledTask::create(name, QStringLiteral("true"), std::move(schedule));
    t.isEnabled = enabled;
    t.wakeBeforeRun = wake;
    return t;
}
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
        << QList{task(QStringLiteral("daily"), daily), task(QStringLiteral("weekly"), weekly)}
        << QStringList() << QStringList{QStringLiteral("daily")};
    QTest::newRow("file order decides")
        << QList{task(QStringLiteral("weekly"), weekly), task(QStringLiteral("daily"), daily)}
        << QStringList() << QStringList{QStringLiteral("weekly")};
    QTest::newRow("every monthly-day task")
        << QList{task(QStringLiteral("m1"), monthly), task(QStringLiteral("m2"), monthly)}
        << QStringList() << QStringList{QStringLiteral("m1"), QStringLiteral("m2")};
    QTest::newRow("repeating before the monthly ones")
        << QList{task(QStringLiteral("m1"), monthly), task(QStringLiteral("nth"), nth),
                 task(QStringLiteral("m2"), monthly), task(QStringLiteral("last"), lastDay)}
        << QStringList()
        << QStringList{QStringLiteral("nth"), QStringLiteral("m1"), QStringLiteral("m2")};
    QTest::newRow("last day repeats")
        << QList{task(QStringLiteral("interval"), TaskSchedule::interval(5)),
                 task(QStringLiteral("last"), lastDay)}
        << QStringList() << QStringList{QStringLiteral("last")};
    QTest::newRow("interval and run at load are skipped")
        << QList{task(QStringLiteral("interval"), TaskSchedule::interval(5)),
                 task(QStringLiteral("load"), TaskSchedule::runAtLoad())}
        << QStringList() << QStringList();
    QTest::newRow("disabled wake task")
        << QList{task(QStringLiteral("off"), daily, false)} << QStringList() << QStringList();
    QTest::newRow("disabled one does not take the repeating slot")
        << QList{task(QStringLiteral("off"), daily, false), task(QStringLiteral("on"), weekly)}
        << QStringList() << QStringList{QStringLiteral("on")};
    QTest::newRow("tasks without wake")
        << QList{task(QStringLiteral("plain"), daily, true, false),
                 task(QStringLiteral("plain monthly"), monthly, true, false)}
        << QStringList() << QStringList();
    QTest::newRow("a failure stops nothing")
        << QList{task(QStringLiteral("daily"), daily), task(QStringLiteral("m1"), monthly),
                 task(QStringLiteral("m2"), monthly)}
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
    auto pmset = std::make_shared<RecordingPmset>(failing);
    const CLITaskStore store(std::nullopt, std::make_shared<LaunchdService>(), pmset);
    const Result<void> refreshed = store.refreshWakeSchedules(tasks);
    QCOMPARE(pmset->registered, registered);
    // The first refused registration is the failure; the others still ran.
    const bool refused = std::any_of(registered.cbegin(), registered.cend(),
                                     [&](const QString& name) { return failing.contains(name); });
    QCOMPARE(refreshed.message(),
             refused ? QStringLiteral("pmset failed: User canceled.") : QString());
}

QTEST_GUILESS_MAIN(TestCliWakeRefresh)
#include "TestCliWakeRefresh.moc"
