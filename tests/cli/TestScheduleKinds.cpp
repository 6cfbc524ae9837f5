#include "AddOptions.h"
#include "NextRun.h"
#include "ScheduleKinds.h"
#include "TaskBuilder.h"
#include "Usage.h"
#include "WrapperScript.h"

#include <QJsonObject>
#include <QSet>
#include <QTest>
#include <QTimeZone>

// Every schedule kind walked through its one description: what the task file, the list, the
// tool's `add`, the agent's plist, the wrapper, the wake service and the planner make of it.
class TestScheduleKinds : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyKindThroughItsDescription_data();
    void everyKindThroughItsDescription();
    void everyKindHasARow();
    void everyFormChoiceIsOneKind();
    void optionsListedInUsageOrder();
};

using Event = ScheduleKinds::WakeRule::Event;

static QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

// The kinds the table below holds a row for.
static QSet<int> kindsInTable;

void TestScheduleKinds::everyKindThroughItsDescription_data()
{
    QTest::addColumn<TaskSchedule>("schedule");
    QTest::addColumn<QString>("caseName");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("addWords");
    QTest::addColumn<bool>("atLoad");
    QTest::addColumn<qint64>("everySeconds"); // 0: none
    QTest::addColumn<int>("calendarEntries");
    QTest::addColumn<QString>("guard"); // a line of the wrapper's guard; empty: no guard
    QTest::addColumn<int>("wake");
    QTest::addColumn<QDate>("runsOn"); // a date it runs on; invalid: none
    QTest::addColumn<QDate>("notOn");  // a date it does not run on; invalid: none
    QTest::addColumn<int>("position"); // in the list of kinds: the variant's and the file's order
    // The form: the kind picker's entry (its position and label) and, for a kind of a group, its
    // label in the second picker.
    QTest::addColumn<int>("pickerEntry");
    QTest::addColumn<QString>("pickerLabel");
    QTest::addColumn<QString>("groupLabel");

    const QList<TimeOfDay> times = {{7, 30}, {18, 5}};
    // 2026-03-02 is a Monday, the 1st Monday of March; 2026-03-31 is the last day.
    QTest::newRow("run at load") << TaskSchedule::of<TaskSchedule::RunAtLoad>() << "runAtLoad"
                                 << "Run at load" << QStringList{"--run-at-load"} << true
                                 << qint64(0) << 0 << QString() << int(Event::none) << QDate()
                                 << QDate(2026, 3, 2) << 0 << 0 << "Run at load (login / reboot)"
                                 << "";
    QTest::newRow("interval") << TaskSchedule::of<TaskSchedule::Interval>({90}) << "interval"
                              << "Every 90 min" << QStringList{"--interval", "90"} << false
                              << qint64(5400) << 0 << QString() << int(Event::none)
                              << QDate(2026, 3, 2) << QDate() << 1 << 1 << "Every N minutes"
                              << "";
    QTest::newRow("daily") << TaskSchedule::of<TaskSchedule::Daily>({times}) << "daily"
                           << "Daily at 7:30, 18:05" << QStringList{"--daily", "07:30,18:05"}
                           << false << qint64(0) << 2 << QString() << int(Event::repeating)
                           << QDate(2026, 3, 2) << QDate() << 2 << 2 << "Daily"
                           << "";
    QTest::newRow("weekly") << TaskSchedule::of<TaskSchedule::Weekly>({{2, 6}, times}) << "weekly"
                            << "Mon, Fri at 7:30, 18:05"
                            << QStringList{"--weekly", "mon,fri", "07:30,18:05"} << false
                            << qint64(0) << 4 << QString() << int(Event::repeating)
                            << QDate(2026, 3, 2) << QDate(2026, 3, 3) << 3 << 3 << "Weekly"
                            << "";
    QTest::newRow("monthly") << TaskSchedule::of<TaskSchedule::Monthly>({31, times}) << "monthly"
                             << "Monthly on day 31 at 7:30, 18:05"
                             << QStringList{"--monthly", "31", "07:30,18:05"} << false << qint64(0)
                             << 2 << QString() << int(Event::oneTime) << QDate(2026, 3, 31)
                             << QDate(2026, 4, 30) << 4 << 4 << "Monthly"
                             << "Specific day";
    QTest::newRow("last day") << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({times})
                              << "monthlyLastDay"
                              << "Last day of month at 7:30, 18:05"
                              << QStringList{"--monthly-last-day", "07:30,18:05"} << false
                              << qint64(0) << 8 << "# Guard: only run on the last day of the month"
                              << int(Event::repeating) << QDate(2026, 4, 30) << QDate(2026, 3, 30)
                              << 5 << 4 << "Monthly"
                              << "Last day of month";
    QTest::newRow("nth weekday") << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({1, 2, times})
                                 << "monthlyNthWeekday"
                                 << "1st Monday at 7:30, 18:05"
                                 << QStringList{"--monthly-nth", "1", "mon", "07:30,18:05"} << false
                                 << qint64(0) << 2
                                 << "# Guard: only run on the 1st occurrence this month"
                                 << int(Event::repeating) << QDate(2026, 3, 2) << QDate(2026, 3, 9)
                                 << 6 << 4 << "Monthly"
                                 << "Nth weekday";
}

void TestScheduleKinds::everyKindThroughItsDescription()
{
    QFETCH(TaskSchedule, schedule);
    kindsInTable.insert(int(schedule.kind()));
    QFETCH(QString, caseName);
    QFETCH(QString, summary);
    QFETCH(QStringList, addWords);
    QFETCH(bool, atLoad);
    QFETCH(qint64, everySeconds);
    QFETCH(int, calendarEntries);
    QFETCH(QString, guard);
    QFETCH(int, wake);
    QFETCH(QDate, runsOn);
    QFETCH(QDate, notOn);
    QFETCH(int, position);
    QFETCH(int, pickerEntry);
    QFETCH(QString, pickerLabel);
    QFETCH(QString, groupLabel);

    // Its place in the list numbers it everywhere: the variant, the file's case names, the
    // tables derived from the descriptions.
    QCOMPARE(int(schedule.kind()), position);
    QCOMPARE(text(TaskFields::caseNames[size_t(position)]), caseName);
    QCOMPARE(text(ScheduleKinds::caseName(schedule.kind())), caseName);

    // The task file: one key naming the case, read back to the same schedule.
    QCOMPARE(TaskSchedule::caseName(schedule.kind()), caseName);
    const QJsonObject json = schedule.toJson();
    QCOMPARE(json.keys(), QStringList{caseName});
    const Result<TaskSchedule> read = TaskSchedule::fromJson(json);
    QVERIFY(read.ok());
    QCOMPARE(*read, schedule);

    QCOMPARE(schedule.summary(), summary);

    // The tool's add option yields the same schedule without a message.
    const AddOptions::ScheduleResult parsed = AddOptions::parseSchedule(addWords);
    QCOMPARE(parsed.messages, QStringList());
    QVERIFY(parsed.schedule);
    QCOMPARE(*parsed.schedule, schedule);
    QVERIFY(AddOptions::scheduleRequiredMessage().contains(addWords.first()));
    QVERIFY(usageText().contains(QLatin1String("  ") + addWords.first() + QLatin1Char(' ')));

    // How launchd starts it.
    const ScheduleKinds::LaunchTrigger trigger = ScheduleKinds::trigger(schedule);
    QCOMPARE(trigger.atLoad, atLoad);
    QCOMPARE(trigger.everySeconds.value_or(0), everySeconds);
    QCOMPARE(trigger.calendar.size(), calendarEntries);
    for (const ScheduleKinds::CalendarEntry& entry : trigger.calendar) {
        QVERIFY(entry.size() >= 2);
        QCOMPARE(entry.at(entry.size() - 2).first, QLatin1String("Hour"));
        QCOMPARE(entry.last().first, QLatin1String("Minute"));
    }
    QCOMPARE(ScheduleKinds::isCalendar(schedule.kind()), calendarEntries > 0);
    QCOMPARE(ScheduleKinds::runsAtLoad(schedule), atLoad);

    // The wrapper's guard stands before anything is recorded, in both date dialects.
    for (const auto dialect : {WrapperScript::DateDialect::bsd, WrapperScript::DateDialect::gnu}) {
        const QString script = WrapperScript::text(TaskBuilder().schedule(schedule).build(),
                                                   QStringLiteral("/h"), dialect);
        QCOMPARE(script.contains(QLatin1String("# Guard")), !guard.isEmpty());
        if (!guard.isEmpty())
            QVERIFY(script.indexOf(guard) < script.indexOf(QLatin1String("_bo_record()")));
    }

    QCOMPARE(int(ScheduleKinds::wake(schedule).event), wake);

    // The planner's days, and a next run only for calendar kinds.
    if (runsOn.isValid())
        QVERIFY(runsOnDate(schedule, runsOn));
    if (notOn.isValid())
        QVERIFY(!runsOnDate(schedule, notOn));
    const QTimeZone utc = QTimeZone::utc();
    const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), utc);
    QCOMPARE(nextRun(schedule, now, utc).has_value(), calendarEntries > 0);

    // The form's pickers: the entry showing it, named as the user reads it; a group's entry
    // carries the case name of its first kind.
    QCOMPARE(ScheduleKinds::kindPickerIndex(schedule.kind()), pickerEntry);
    const ScheduleKinds::PickerEntry entry = ScheduleKinds::kindPicker().at(pickerEntry);
    QCOMPARE(entry.label, pickerLabel);
    QCOMPARE(entry.grouped, !groupLabel.isEmpty());
    QVERIFY(entry.kinds.contains(schedule.kind()));
    QCOMPARE(entry.data, text(ScheduleKinds::caseName(entry.kinds.constFirst())));
    if (entry.grouped)
        QCOMPARE(text(ScheduleKinds::formPlace(schedule.kind()).label), groupLabel);
}

// Every alternative of the variant has a case name of its own and reaches the table above.
void TestScheduleKinds::everyKindHasARow()
{
    QSet<QString> names;
    ScheduleKinds::forEachKind(
        [&]<typename Case>() { names.insert(text(ScheduleKinds::Traits<Case>::caseName)); });
    QCOMPARE(names.size(), int(ScheduleKinds::count));
    QCOMPARE(kindsInTable.size(), int(ScheduleKinds::count));
}

// The kind picker: every kind in exactly one entry, in the list's order, and no entry without
// a kind; a group's entry lists its kinds in order.
void TestScheduleKinds::everyFormChoiceIsOneKind()
{
    QList<int> placed;
    for (const ScheduleKinds::PickerEntry& entry : ScheduleKinds::kindPicker()) {
        QVERIFY(!entry.kinds.isEmpty());
        QVERIFY(entry.grouped || entry.kinds.size() == 1);
        for (const TaskSchedule::Kind kind : entry.kinds)
            placed << int(kind);
    }
    QList<int> all;
    for (size_t index = 0; index < ScheduleKinds::count; ++index)
        all << int(index);
    QCOMPARE(placed, all);
}

void TestScheduleKinds::optionsListedInUsageOrder()
{
    QCOMPARE(AddOptions::scheduleRequiredMessage(),
             QStringLiteral("Schedule is required. Use --daily, --weekly, --monthly, "
                            "--monthly-last-day, --monthly-nth, --interval, or --run-at-load"));
}

QTEST_GUILESS_MAIN(TestScheduleKinds)
#include "TestScheduleKinds.moc"
