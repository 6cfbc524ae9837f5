#include "CalendarSchedule.h"
#include "JobScheduler.h"

#include <QTest>

namespace {

const QTimeZone berlin("Europe/Berlin");

// "Hour=9,Minute=30;Weekday=0" -> two entries; an empty text is one all-wildcard entry.
QList<CalendarEntry> entries(const QString& text)
{
    QList<CalendarEntry> result;
    for (const QString& part : text.split(QLatin1Char(';'))) {
        QMap<QString, qint64> keys;
        for (const QString& pair : part.split(QLatin1Char(','), Qt::SkipEmptyParts))
            keys.insert(pair.section(QLatin1Char('='), 0, 0),
                        pair.section(QLatin1Char('='), 1).toLongLong());
        const auto entry = CalendarEntry::fromKeys(keys);
        if (entry)
            result.append(*entry);
    }
    return result;
}

// ISO text with its offset, e.g. 2025-03-30T03:00:00+02:00, so both instants of a repeated
// hour can be named.
QDateTime instant(const QString& iso)
{
    const QDateTime value = QDateTime::fromString(iso, Qt::ISODate);
    Q_ASSERT(value.isValid());
    return value;
}

QString berlinText(const QDateTime& value)
{
    return value.toTimeZone(berlin).toString(Qt::ISODate);
}

ClockReading reading(const QString& iso, qint64 bootMs) { return {instant(iso), bootMs}; }

} // namespace

class TestCalendarSchedule : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(berlin.isValid()); }

    void entryRanges_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("minute 0") << "Minute" << qint64(0) << true;
        QTest::newRow("minute 59") << "Minute" << qint64(59) << true;
        QTest::newRow("minute 60") << "Minute" << qint64(60) << false;
        QTest::newRow("minute -1") << "Minute" << qint64(-1) << false;
        QTest::newRow("hour 23") << "Hour" << qint64(23) << true;
        QTest::newRow("hour 24") << "Hour" << qint64(24) << false;
        QTest::newRow("day 0") << "Day" << qint64(0) << false;
        QTest::newRow("day 31") << "Day" << qint64(31) << true;
        QTest::newRow("day 32") << "Day" << qint64(32) << false;
        QTest::newRow("weekday 0") << "Weekday" << qint64(0) << true;
        QTest::newRow("weekday 7") << "Weekday" << qint64(7) << true;
        QTest::newRow("weekday 8") << "Weekday" << qint64(8) << false;
        QTest::newRow("month 0") << "Month" << qint64(0) << false;
        QTest::newRow("month 12") << "Month" << qint64(12) << true;
        QTest::newRow("month 13") << "Month" << qint64(13) << false;
        QTest::newRow("wrapped 2^32") << "Minute" << (qint64(1) << 32) << false;
        QTest::newRow("unknown key ignored") << "Second" << qint64(99) << true;
    }
    void entryRanges()
    {
        QFETCH(QString, key);
        QFETCH(qint64, value);
        QFETCH(bool, accepted);
        // Another valid key beside it: one bad value rejects the whole entry.
        QMap<QString, qint64> keys{{key, value}};
        if (key != QLatin1String("Hour"))
            keys.insert(QStringLiteral("Hour"), 5);
        const auto entry = CalendarEntry::fromKeys(keys);
        QCOMPARE(entry.has_value(), accepted);
    }

    void matches_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("local"); // Berlin wall time
        QTest::addColumn<bool>("expected");
        // 2025-03-02 is a Sunday, 2025-03-03 a Monday.
        QTest::newRow("all wildcards") << ""
                                       << "2025-03-02T13:47" << true;
        QTest::newRow("weekday 0 is sunday") << "Weekday=0"
                                             << "2025-03-02T08:00" << true;
        QTest::newRow("weekday 7 is sunday") << "Weekday=7"
                                             << "2025-03-02T08:00" << true;
        QTest::newRow("weekday 7 not monday") << "Weekday=7"
                                              << "2025-03-03T08:00" << false;
        QTest::newRow("weekday 1 monday") << "Weekday=1"
                                          << "2025-03-03T08:00" << true;
        QTest::newRow("day or weekday: day") << "Day=15,Weekday=1"
                                             << "2025-03-15T08:00" << true;
        QTest::newRow("day or weekday: weekday") << "Day=15,Weekday=1"
                                                 << "2025-03-03T08:00" << true;
        QTest::newRow("day or weekday: neither") << "Day=15,Weekday=1"
                                                 << "2025-03-04T08:00" << false;
        QTest::newRow("month mismatch") << "Month=4"
                                        << "2025-03-02T08:00" << false;
        QTest::newRow("month limits day rule") << "Month=4,Day=2,Weekday=0"
                                               << "2025-03-02T08:00" << false;
        QTest::newRow("hour and minute") << "Hour=8,Minute=0"
                                         << "2025-03-02T08:00" << true;
        QTest::newRow("minute differs") << "Hour=8,Minute=0"
                                        << "2025-03-02T08:01" << false;
        QTest::newRow("hour differs") << "Hour=8,Minute=0"
                                      << "2025-03-02T09:00" << false;
    }
    void matches()
    {
        QFETCH(QString, entry);
        QFETCH(QString, local);
        QFETCH(bool, expected);
        const QDateTime time = QDateTime::fromString(local, Qt::ISODate);
        QCOMPARE(entries(entry).value(0).matches(time.date(), time.time()), expected);
    }

    void nextFire_data()
    {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("expected"); // empty: never
        // Berlin 2025: clocks go forward 30 March 02:00 -> 03:00, back 26 October 03:00 -> 02:00.
        QTest::newRow("every minute") << ""
                                      << "2025-03-01T09:00:30+01:00"
                                      << "2025-03-01T09:01:00+01:00";
        QTest::newRow("strictly after") << "Minute=0"
                                        << "2025-03-01T09:00:00+01:00"
                                        << "2025-03-01T10:00:00+01:00";
        QTest::newRow("daily, passed today") << "Hour=9,Minute=15"
                                             << "2025-03-01T09:15:00+01:00"
                                             << "2025-03-02T09:15:00+01:00";
        QTest::newRow("hour with wildcard minute") << "Hour=9"
                                                   << "2025-03-01T08:30:00+01:00"
                                                   << "2025-03-01T09:00:00+01:00";
        QTest::newRow("within the hour") << "Hour=9"
                                         << "2025-03-01T09:58:10+01:00"
                                         << "2025-03-01T09:59:00+01:00";
        QTest::newRow("hour over") << "Hour=9"
                                   << "2025-03-01T09:59:00+01:00"
                                   << "2025-03-02T09:00:00+01:00";
        QTest::newRow("day 31 skips short months") << "Day=31"
                                                   << "2025-04-01T00:00:00+02:00"
                                                   << "2025-05-31T00:00:00+02:00";
        QTest::newRow("day 31 skips february") << "Day=31,Hour=12,Minute=0"
                                               << "2025-01-31T12:00:00+01:00"
                                               << "2025-03-31T12:00:00+02:00";
        QTest::newRow("29 february waits for a leap year") << "Month=2,Day=29"
                                                           << "2025-01-01T00:00:00+01:00"
                                                           << "2028-02-29T00:00:00+01:00";
        QTest::newRow("30 february never") << "Month=2,Day=30"
                                           << "2025-01-01T00:00:00+01:00"
                                           << "";
        QTest::newRow("leap day daily") << "Hour=23,Minute=59"
                                        << "2024-02-28T23:59:00+01:00"
                                        << "2024-02-29T23:59:00+01:00";
        QTest::newRow("year end") << "Day=1,Hour=0,Minute=0"
                                  << "2025-12-31T23:59:30+01:00"
                                  << "2026-01-01T00:00:00+01:00";
        QTest::newRow("weekday 0") << "Weekday=0,Hour=8,Minute=0"
                                   << "2025-03-01T12:00:00+01:00"
                                   << "2025-03-02T08:00:00+01:00";
        QTest::newRow("weekday 7") << "Weekday=7,Hour=8,Minute=0"
                                   << "2025-03-01T12:00:00+01:00"
                                   << "2025-03-02T08:00:00+01:00";
        QTest::newRow("weekday 1") << "Weekday=1,Hour=8,Minute=0"
                                   << "2025-03-01T12:00:00+01:00"
                                   << "2025-03-03T08:00:00+01:00";
        QTest::newRow("day or weekday, weekday first") << "Day=15,Weekday=1,Hour=8,Minute=0"
                                                       << "2025-03-04T00:00:00+01:00"
                                                       << "2025-03-10T08:00:00+01:00";
        QTest::newRow("day or weekday, day first") << "Day=15,Weekday=1,Hour=8,Minute=0"
                                                   << "2025-03-11T00:00:00+01:00"
                                                   << "2025-03-15T08:00:00+01:00";
        QTest::newRow("month and day") << "Month=12,Day=25,Hour=0,Minute=0"
                                       << "2025-03-01T00:00:00+01:00"
                                       << "2025-12-25T00:00:00+01:00";
        QTest::newRow("month only") << "Month=6"
                                    << "2025-03-01T00:00:00+01:00"
                                    << "2025-06-01T00:00:00+02:00";
        QTest::newRow("array, later entry") << "Hour=9,Minute=0;Hour=17,Minute=30"
                                            << "2025-03-01T10:00:00+01:00"
                                            << "2025-03-01T17:30:00+01:00";
        QTest::newRow("array, wraps to next day") << "Hour=9,Minute=0;Hour=17,Minute=30"
                                                  << "2025-03-01T18:00:00+01:00"
                                                  << "2025-03-02T09:00:00+01:00";
        QTest::newRow("array with rejected entry") << "Hour=25,Minute=0;Hour=17,Minute=30"
                                                   << "2025-03-01T10:00:00+01:00"
                                                   << "2025-03-01T17:30:00+01:00";
        QTest::newRow("daily across spring forward") << "Hour=9,Minute=0"
                                                     << "2025-03-29T09:00:00+01:00"
                                                     << "2025-03-30T09:00:00+02:00";
        QTest::newRow("skipped time fires at gap end") << "Hour=2,Minute=30"
                                                       << "2025-03-29T03:00:00+01:00"
                                                       << "2025-03-30T03:00:00+02:00";
        QTest::newRow("after the gap, next day as usual") << "Hour=2,Minute=30"
                                                          << "2025-03-30T03:00:00+02:00"
                                                          << "2025-03-31T02:30:00+02:00";
        QTest::newRow("wildcard hour skips the gap") << "Minute=30"
                                                     << "2025-03-30T01:45:00+01:00"
                                                     << "2025-03-30T03:30:00+02:00";
        QTest::newRow("repeated time, first") << "Hour=2,Minute=30"
                                              << "2025-10-26T00:00:00+02:00"
                                              << "2025-10-26T02:30:00+02:00";
        QTest::newRow("repeated time fires once") << "Hour=2,Minute=30"
                                                  << "2025-10-26T02:30:00+02:00"
                                                  << "2025-10-27T02:30:00+01:00";
        QTest::newRow("wildcard hour fires in both") << "Minute=30"
                                                     << "2025-10-26T02:30:00+02:00"
                                                     << "2025-10-26T02:30:00+01:00";
        QTest::newRow("daily across fall back") << "Hour=9,Minute=0"
                                                << "2025-10-25T09:00:00+02:00"
                                                << "2025-10-26T09:00:00+01:00";
        QTest::newRow("no entries") << "Hour=24"
                                    << "2025-03-01T00:00:00+01:00"
                                    << "";
    }
    void nextFire()
    {
        QFETCH(QString, entries);
        QFETCH(QString, after);
        QFETCH(QString, expected);
        const auto next = CalendarSchedule::nextFire(::entries(entries), instant(after), berlin);
        if (expected.isEmpty()) {
            QVERIFY2(!next, qPrintable(next ? berlinText(*next) : QString()));
            return;
        }
        QVERIFY(next);
        QCOMPARE(berlinText(*next), berlinText(instant(expected)));
    }

    void firesBetween()
    {
        const auto daily = entries(QStringLiteral("Hour=9,Minute=0"));
        const QDateTime nine = instant(QStringLiteral("2025-03-01T09:00:00+01:00"));
        QVERIFY(CalendarSchedule::firesBetween(daily, nine.addSecs(-1), nine, berlin));
        QVERIFY(!CalendarSchedule::firesBetween(daily, nine, nine.addSecs(3600), berlin));
        QVERIFY(CalendarSchedule::firesBetween(daily, nine, nine.addDays(1), berlin));
    }

    // Interval and calendar bookkeeping with an injected clock.
    void intervalGridFromLoad()
    {
        JobScheduler scheduler(berlin);
        scheduler.add(QStringLiteral("job"), 10, {},
                      reading(QStringLiteral("2025-03-01T09:00:07+01:00"), 1000));
        // Laid from the load, not aligned to the clock: 09:00:17.
        QCOMPARE(berlinText(*scheduler.nextWake(
                     reading(QStringLiteral("2025-03-01T09:00:07+01:00"), 1000))),
                 QStringLiteral("2025-03-01T09:00:17+01:00"));
        QVERIFY(
            scheduler.due(reading(QStringLiteral("2025-03-01T09:00:16+01:00"), 10999)).isEmpty());
        QCOMPARE(scheduler.due(reading(QStringLiteral("2025-03-01T09:00:17+01:00"), 11000)),
                 QStringList{QStringLiteral("job")});
        QVERIFY(
            scheduler.due(reading(QStringLiteral("2025-03-01T09:00:17+01:00"), 11000)).isEmpty());
        // A little late is still run (a busy machine), and the grid stays.
        QCOMPARE(scheduler.due(reading(QStringLiteral("2025-03-01T09:00:30+01:00"), 24000)),
                 QStringList{QStringLiteral("job")});
        QCOMPARE(berlinText(*scheduler.nextWake(
                     reading(QStringLiteral("2025-03-01T09:00:30+01:00"), 24000))),
                 QStringLiteral("2025-03-01T09:00:37+01:00"));
    }

    void intervalMissedWhileAsleepIsSkipped()
    {
        JobScheduler scheduler(berlin);
        scheduler.add(QStringLiteral("job"), 60, {},
                      reading(QStringLiteral("2025-03-01T09:00:00+01:00"), 0));
        // Woke an hour later: the missed intervals do not run, the next grid time does.
        QVERIFY(
            scheduler.due(reading(QStringLiteral("2025-03-01T10:00:30+01:00"), 3630000)).isEmpty());
        QCOMPARE(berlinText(*scheduler.nextWake(
                     reading(QStringLiteral("2025-03-01T10:00:30+01:00"), 3630000))),
                 QStringLiteral("2025-03-01T10:01:00+01:00"));
        QCOMPARE(scheduler.due(reading(QStringLiteral("2025-03-01T10:01:00+01:00"), 3660000)),
                 QStringList{QStringLiteral("job")});
    }

    void calendarMissedWhileAsleepRunsOnce()
    {
        JobScheduler scheduler(berlin);
        scheduler.add(QStringLiteral("daily"), std::nullopt,
                      entries(QStringLiteral("Hour=9,Minute=0")),
                      reading(QStringLiteral("2025-03-01T08:00:00+01:00"), 0));
        QCOMPARE(berlinText(
                     *scheduler.nextWake(reading(QStringLiteral("2025-03-01T08:00:00+01:00"), 0))),
                 QStringLiteral("2025-03-01T09:00:00+01:00"));
        // Three mornings slept through: one run at wake.
        QCOMPARE(scheduler.due(reading(QStringLiteral("2025-03-04T10:00:00+01:00"), 5000)),
                 QStringList{QStringLiteral("daily")});
        QVERIFY(
            scheduler.due(reading(QStringLiteral("2025-03-04T10:00:01+01:00"), 6000)).isEmpty());
        QCOMPARE(berlinText(*scheduler.nextWake(
                     reading(QStringLiteral("2025-03-04T10:00:01+01:00"), 6000))),
                 QStringLiteral("2025-03-05T09:00:00+01:00"));
    }

    void loadAfterTheTimeDoesNotCatchUp()
    {
        JobScheduler scheduler(berlin);
        scheduler.add(QStringLiteral("daily"), std::nullopt,
                      entries(QStringLiteral("Hour=9,Minute=0")),
                      reading(QStringLiteral("2025-03-01T10:00:00+01:00"), 0));
        QVERIFY(scheduler.due(reading(QStringLiteral("2025-03-01T10:00:00+01:00"), 0)).isEmpty());
        QCOMPARE(berlinText(
                     *scheduler.nextWake(reading(QStringLiteral("2025-03-01T10:00:00+01:00"), 0))),
                 QStringLiteral("2025-03-02T09:00:00+01:00"));
    }

    void clockSteppedBack_data()
    {
        QTest::addColumn<QString>("steppedTo");
        QTest::addColumn<bool>("firesAgainAtNine");
        // A small correction must not run 09:00 twice; a large one replans from the new time.
        QTest::newRow("30 seconds") << "2025-03-01T08:59:30+01:00" << false;
        QTest::newRow("two hours") << "2025-03-01T07:00:00+01:00" << true;
    }
    void clockSteppedBack()
    {
        QFETCH(QString, steppedTo);
        QFETCH(bool, firesAgainAtNine);
        JobScheduler scheduler(berlin);
        scheduler.add(QStringLiteral("daily"), std::nullopt,
                      entries(QStringLiteral("Hour=9,Minute=0")),
                      reading(QStringLiteral("2025-03-01T08:00:00+01:00"), 0));
        QCOMPARE(scheduler.due(reading(QStringLiteral("2025-03-01T09:00:00+01:00"), 1000)).size(),
                 1);
        QVERIFY(scheduler.due(reading(steppedTo, 2000)).isEmpty());
        QCOMPARE(scheduler.due(reading(QStringLiteral("2025-03-01T09:00:00+01:00"), 3000)).size(),
                 firesAgainAtNine ? 1 : 0);
    }

    void nextWakeTakesTheEarliestJob()
    {
        JobScheduler scheduler(berlin);
        const ClockReading now = reading(QStringLiteral("2025-03-01T08:00:00+01:00"), 0);
        QVERIFY(!scheduler.nextWake(now));
        scheduler.add(QStringLiteral("atLoadOnly"), std::nullopt, {}, now);
        QVERIFY(!scheduler.nextWake(now));
        scheduler.add(QStringLiteral("daily"), std::nullopt,
                      entries(QStringLiteral("Hour=9,Minute=0")), now);
        scheduler.add(QStringLiteral("hourly"), 3600, {}, now);
        scheduler.add(QStringLiteral("both"), 7200, entries(QStringLiteral("Minute=30")), now);
        QCOMPARE(berlinText(*scheduler.nextWake(now)), QStringLiteral("2025-03-01T08:30:00+01:00"));
        QCOMPARE(scheduler.due(reading(QStringLiteral("2025-03-01T09:00:00+01:00"), 3600000)),
                 (QStringList{QStringLiteral("both"), QStringLiteral("daily"),
                              QStringLiteral("hourly")}));
        scheduler.remove(QStringLiteral("both"));
        scheduler.remove(QStringLiteral("hourly"));
        QCOMPARE(berlinText(*scheduler.nextWake(
                     reading(QStringLiteral("2025-03-01T09:00:00+01:00"), 3600000))),
                 QStringLiteral("2025-03-02T09:00:00+01:00"));
    }

    void replacingAJobRestartsItsInterval()
    {
        JobScheduler scheduler(berlin);
        scheduler.add(QStringLiteral("job"), 60, {},
                      reading(QStringLiteral("2025-03-01T09:00:00+01:00"), 0));
        scheduler.add(QStringLiteral("job"), 60, {},
                      reading(QStringLiteral("2025-03-01T09:00:40+01:00"), 40000));
        QVERIFY(
            scheduler.due(reading(QStringLiteral("2025-03-01T09:01:00+01:00"), 60000)).isEmpty());
        QCOMPARE(scheduler.due(reading(QStringLiteral("2025-03-01T09:01:40+01:00"), 100000)),
                 QStringList{QStringLiteral("job")});
    }
};

QTEST_GUILESS_MAIN(TestCalendarSchedule)
#include "TestCalendarSchedule.moc"
