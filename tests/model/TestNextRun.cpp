#include "NextRun.h"

#include <QTest>

Q_DECLARE_METATYPE(TaskSchedule)

namespace {

QList<TimeOfDay> at(std::initializer_list<TimeOfDay> times) { return QList<TimeOfDay>(times); }

// Weekday numbers of the model.
constexpr int sunday = 1, monday = 2, tuesday = 3, friday = 6;

} // namespace

class TestNextRun : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // `now` and `expected` carry their own offsets, so each row states exactly which instant
    // and which side of a clock change it means; an empty `expected` means no next run.
    void nextRunOfEverySchedule_data()
    {
        QTest::addColumn<TaskSchedule>("schedule");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("expected");

        const QByteArray berlin = "Europe/Berlin";
        const QByteArray newYork = "America/New_York";
        const auto row = [](const char* name, const TaskSchedule& schedule, const QByteArray& zone,
                            const char* now, const char* expected) {
            QTest::newRow(name) << schedule << zone << QString::fromLatin1(now)
                                << QString::fromLatin1(expected);
        };
        using S = TaskSchedule;

        row("run at load", S::of<S::RunAtLoad>(), berlin, "2025-06-02T09:00:00+02:00", "");
        row("interval", S::of<S::Interval>({15}), berlin, "2025-06-02T09:00:00+02:00", "");
        row("daily later today", S::of<S::Daily>({at({{9, 30}})}), berlin,
            "2025-06-02T09:00:00+02:00", "2025-06-02T09:30:00+02:00");
        row("daily at the very minute is the next day", S::of<S::Daily>({at({{9, 30}})}), berlin,
            "2025-06-02T09:30:00+02:00", "2025-06-03T09:30:00+02:00");
        row("daily seconds after the minute", S::of<S::Daily>({at({{9, 30}})}), berlin,
            "2025-06-02T09:30:20+02:00", "2025-06-03T09:30:00+02:00");
        row("daily unsorted times take the earliest ahead",
            S::of<S::Daily>({at({{18, 0}, {9, 0}, {12, 0}})}), berlin, "2025-06-02T10:00:00+02:00",
            "2025-06-02T12:00:00+02:00");
        row("daily across the year end", S::of<S::Daily>({at({{0, 0}})}), berlin,
            "2025-12-31T23:59:00+01:00", "2026-01-01T00:00:00+01:00");
        row("daily without times", S::of<S::Daily>({{}}), berlin, "2025-06-02T09:00:00+02:00", "");

        row("weekly next week", S::of<S::Weekly>({{monday}, at({{9, 0}})}), berlin,
            "2026-12-08T08:00:00+01:00", "2026-12-14T09:00:00+01:00");
        row("weekly second weekday", S::of<S::Weekly>({{monday, friday}, at({{9, 0}})}), berlin,
            "2026-12-07T09:00:00+01:00", "2026-12-11T09:00:00+01:00");
        row("weekly across the year end", S::of<S::Weekly>({{friday}, at({{7, 15}})}), berlin,
            "2026-12-31T12:00:00+01:00", "2027-01-01T07:15:00+01:00");
        row("weekly without weekdays", S::of<S::Weekly>({{}, at({{9, 0}})}), berlin,
            "2026-12-07T09:00:00+01:00", "");

        row("monthly 31 skips a 30-day month", S::of<S::Monthly>({31, at({{9, 0}})}), berlin,
            "2025-04-01T00:00:00+02:00", "2025-05-31T09:00:00+02:00");
        row("monthly 31 skips February", S::of<S::Monthly>({31, at({{9, 0}})}), berlin,
            "2025-01-31T10:00:00+01:00", "2025-03-31T09:00:00+02:00");
        row("monthly 30 skips February", S::of<S::Monthly>({30, at({{9, 0}})}), berlin,
            "2025-02-01T00:00:00+01:00", "2025-03-30T09:00:00+02:00");
        row("monthly 29 in a leap year", S::of<S::Monthly>({29, at({{9, 0}})}), berlin,
            "2024-02-01T00:00:00+01:00", "2024-02-29T09:00:00+01:00");
        row("monthly 29 in a common year", S::of<S::Monthly>({29, at({{9, 0}})}), berlin,
            "2025-02-01T00:00:00+01:00", "2025-03-29T09:00:00+01:00");
        row("monthly 29 in 2100, no leap year", S::of<S::Monthly>({29, at({{9, 0}})}), berlin,
            "2100-02-01T00:00:00+01:00", "2100-03-29T09:00:00+02:00");
        row("monthly later this month", S::of<S::Monthly>({15, at({{9, 0}})}), berlin,
            "2025-06-02T00:00:00+02:00", "2025-06-15T09:00:00+02:00");
        row("monthly day 32 never", S::of<S::Monthly>({32, at({{9, 0}})}), berlin,
            "2025-06-02T00:00:00+02:00", "");
        row("monthly day 0 never", S::of<S::Monthly>({0, at({{9, 0}})}), berlin,
            "2025-06-02T00:00:00+02:00", "");

        row("last day in a leap February", S::of<S::MonthlyLastDay>({at({{23, 0}})}), berlin,
            "2024-02-10T00:00:00+01:00", "2024-02-29T23:00:00+01:00");
        row("last day in a common February", S::of<S::MonthlyLastDay>({at({{23, 0}})}), berlin,
            "2025-02-10T00:00:00+01:00", "2025-02-28T23:00:00+01:00");
        row("last day after today's time", S::of<S::MonthlyLastDay>({at({{9, 0}})}), berlin,
            "2025-04-30T10:00:00+02:00", "2025-05-31T09:00:00+02:00");
        row("last day of the year", S::of<S::MonthlyLastDay>({at({{9, 0}})}), berlin,
            "2025-12-30T10:00:00+01:00", "2025-12-31T09:00:00+01:00");

        row("2nd Tuesday today", S::of<S::MonthlyNthWeekday>({2, tuesday, at({{9, 30}})}), berlin,
            "2026-12-08T08:00:00+01:00", "2026-12-08T09:30:00+01:00");
        row("2nd Tuesday next month", S::of<S::MonthlyNthWeekday>({2, tuesday, at({{9, 30}})}),
            berlin, "2026-12-08T10:00:00+01:00", "2027-01-12T09:30:00+01:00");
        row("1st Sunday on the 7th", S::of<S::MonthlyNthWeekday>({1, sunday, at({{9, 0}})}), berlin,
            "2025-09-01T00:00:00+02:00", "2025-09-07T09:00:00+02:00");
        row("5th Friday skips months without one",
            S::of<S::MonthlyNthWeekday>({5, friday, at({{9, 0}})}), berlin,
            "2025-02-01T00:00:00+01:00", "2025-05-30T09:00:00+02:00");
        row("ordinal 0 never", S::of<S::MonthlyNthWeekday>({0, tuesday, at({{9, 0}})}), berlin,
            "2025-06-02T00:00:00+02:00", "");
        row("weekday 9 never", S::of<S::MonthlyNthWeekday>({1, 9, at({{9, 0}})}), berlin,
            "2025-06-02T00:00:00+02:00", "");

        row("time in the spring gap runs at its end", S::of<S::Daily>({at({{2, 30}})}), berlin,
            "2025-03-30T01:00:00+01:00", "2025-03-30T03:00:00+02:00");
        row("time after the spring gap", S::of<S::Daily>({at({{3, 30}})}), berlin,
            "2025-03-30T01:00:00+01:00", "2025-03-30T03:30:00+02:00");
        row("day after the spring gap", S::of<S::Daily>({at({{2, 30}})}), berlin,
            "2025-03-30T03:30:00+02:00", "2025-03-31T02:30:00+02:00");
        row("repeated time runs the first time", S::of<S::Daily>({at({{2, 30}})}), berlin,
            "2025-10-26T01:00:00+02:00", "2025-10-26T02:30:00+02:00");
        row("repeated time not again the second time", S::of<S::Daily>({at({{2, 30}})}), berlin,
            "2025-10-26T02:45:00+02:00", "2025-10-27T02:30:00+01:00");
        row("New York spring gap", S::of<S::Daily>({at({{2, 15}})}), newYork,
            "2025-03-09T00:00:00-05:00", "2025-03-09T03:00:00-04:00");
        row("New York monthly across the fall change", S::of<S::Monthly>({2, at({{1, 30}})}),
            newYork, "2025-10-03T00:00:00-04:00", "2025-11-02T01:30:00-04:00");
        row("now in another zone", S::of<S::Daily>({at({{9, 0}})}), "Asia/Tokyo",
            "2025-06-01T00:30:00Z", "2025-06-02T09:00:00+09:00");
    }

    void nextRunOfEverySchedule()
    {
        QFETCH(TaskSchedule, schedule);
        QFETCH(QByteArray, zone);
        QFETCH(QString, now);
        QFETCH(QString, expected);

        const QTimeZone timeZone(zone);
        QVERIFY(timeZone.isValid());
        const QDateTime nowTime = QDateTime::fromString(now, Qt::ISODate);
        QVERIFY(nowTime.isValid());
        const std::optional<QDateTime> next = nextRun(schedule, nowTime, timeZone);
        if (expected.isEmpty()) {
            QVERIFY2(!next, qPrintable(next ? next->toString(Qt::ISODate) : QString()));
            return;
        }
        QVERIFY(next);
        const QDateTime want = QDateTime::fromString(expected, Qt::ISODate);
        QCOMPARE(next->toString(Qt::ISODate), want.toTimeZone(timeZone).toString(Qt::ISODate));
        QCOMPARE(next->toSecsSinceEpoch(), want.toSecsSinceEpoch());
        QCOMPARE(next->timeZone(), timeZone);
    }
};

QTEST_GUILESS_MAIN(TestNextRun)
#include "TestNextRun.moc"
