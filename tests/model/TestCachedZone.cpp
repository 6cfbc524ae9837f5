// The cached zone against the C library's own conversions (TZ set for each row): the offsets
// around real clock changes, and the next run of a daily time that falls into a gap, into a
// repeated hour, or next to them.

#include "CachedZone.h"
#include "NextRun.h"

#include <QDateTime>
#include <QSet>
#include <QTest>

#include <cstdlib>
#include <ctime>

namespace {

// Sets TZ for the C library for the life of the object.
class ZoneEnvironment {
public:
    explicit ZoneEnvironment(const QByteArray& zone)
        : m_saved(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", ":" + zone);
        ::tzset();
    }
    ~ZoneEnvironment()
    {
        if (m_had)
            qputenv("TZ", m_saved);
        else
            qunsetenv("TZ");
        ::tzset();
    }
    ZoneEnvironment(const ZoneEnvironment&) = delete;
    ZoneEnvironment& operator=(const ZoneEnvironment&) = delete;

private:
    QByteArray m_saved;
    bool m_had;
};

struct Wall {
    int year, month, day, hour, minute;
    friend bool operator==(const Wall&, const Wall&) = default;
};

Wall systemWall(qint64 secs, long* offset = nullptr)
{
    const time_t t = time_t(secs);
    tm local{};
    ::localtime_r(&t, &local);
    if (offset)
        *offset = local.tm_gmtoff;
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min};
}

// The instant a daily `hour`:`minute` next fires after `now`, found minute by minute through the
// C library: the first instant whose wall clock shows that time on some day; of a day whose
// clock jumps over it, the first instant after the jump; a day's time only once.
qint64 systemNextDaily(qint64 now, int hour, int minute)
{
    const int wanted = hour * 60 + minute;
    QSet<QDate> fired;
    qint64 t = now - 2 * 86400;
    t -= ((t % 60) + 60) % 60;
    Wall previous = systemWall(t - 60);
    for (; t < now + 4 * 86400; t += 60) {
        const Wall wall = systemWall(t);
        const QDate date(wall.year, wall.month, wall.day);
        const QDate previousDate(previous.year, previous.month, previous.day);
        // Wall clocks as minutes on one scale, so a jump across midnight is a jump too.
        const qint64 at = date.toJulianDay() * 1440 + wall.hour * 60 + wall.minute;
        const qint64 before =
            previousDate.toJulianDay() * 1440 + previous.hour * 60 + previous.minute;
        for (const QDate& day : {previousDate, date}) {
            const qint64 time = day.toJulianDay() * 1440 + wanted;
            const bool shown = time == at || (before < time && time < at);
            if (shown && !fired.contains(day)) {
                fired.insert(day);
                if (t > now)
                    return t;
            }
        }
        previous = wall;
    }
    return -1;
}

qint64 utcSecs(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toSecsSinceEpoch();
}

} // namespace

class TestCachedZone : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void offsetsMatchTheSystem_data();
    void offsetsMatchTheSystem();
    void nextDailyRunMatchesTheSystem_data();
    void nextDailyRunMatchesTheSystem();
};

void TestCachedZone::offsetsMatchTheSystem_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("transition"); // an instant near a clock change, UTC

    QTest::newRow("Berlin spring")
        << QByteArray("Europe/Berlin") << utcSecs("2026-03-29T01:00:00Z");
    QTest::newRow("Berlin autumn")
        << QByteArray("Europe/Berlin") << utcSecs("2026-10-25T01:00:00Z");
    QTest::newRow("New York spring")
        << QByteArray("America/New_York") << utcSecs("2026-03-08T07:00:00Z");
    QTest::newRow("New York autumn")
        << QByteArray("America/New_York") << utcSecs("2026-11-01T06:00:00Z");
    QTest::newRow("Lord Howe half hour")
        << QByteArray("Australia/Lord_Howe") << utcSecs("2026-04-04T15:00:00Z");
    QTest::newRow("Santiago at midnight")
        << QByteArray("America/Santiago") << utcSecs("2026-09-06T04:00:00Z");
}

// Every ten minutes over four days around the change, and the span's own ends.
void TestCachedZone::offsetsMatchTheSystem()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, transition);
    const ZoneEnvironment environment(zone);
    const qint64 from = transition - 2 * 86400;
    const qint64 to = transition + 2 * 86400;
    const CachedZone cached(QTimeZone(zone), from, to);
    int changes = 0;
    long previous = 0;
    for (qint64 t = from - 3600; t <= to + 3600; t += 600) {
        long offset = 0;
        systemWall(t, &offset);
        QCOMPARE(cached.offsetAt(t), int(offset));
        if (t > from - 3600 && offset != previous)
            ++changes;
        previous = offset;
    }
    QCOMPARE(changes, 1); // the row's clock change lies inside the span
}

void TestCachedZone::nextDailyRunMatchesTheSystem_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");

    const QByteArray berlin("Europe/Berlin");
    const QByteArray newYork("America/New_York");
    const QByteArray lordHowe("Australia/Lord_Howe");
    const QByteArray santiago("America/Santiago");
    // Berlin: 2026-03-29 02:00 -> 03:00 (01:00 UTC); 2026-10-25 03:00 -> 02:00 (01:00 UTC).
    QTest::newRow("Berlin, in the gap") << berlin << utcSecs("2026-03-28T12:00:00Z") << 2 << 30;
    QTest::newRow("Berlin, gap start") << berlin << utcSecs("2026-03-28T12:00:00Z") << 2 << 0;
    QTest::newRow("Berlin, after the gap") << berlin << utcSecs("2026-03-28T12:00:00Z") << 3 << 0;
    QTest::newRow("Berlin, before the gap") << berlin << utcSecs("2026-03-28T12:00:00Z") << 1 << 59;
    QTest::newRow("Berlin, repeated hour") << berlin << utcSecs("2026-10-24T12:00:00Z") << 2 << 30;
    QTest::newRow("Berlin, between the two")
        << berlin << utcSecs("2026-10-25T00:45:00Z") << 2 << 30;
    QTest::newRow("Berlin, after the repeat")
        << berlin << utcSecs("2026-10-24T12:00:00Z") << 3 << 0;
    // New York: 2026-03-08 02:00 -> 03:00; 2026-11-01 02:00 -> 01:00.
    QTest::newRow("New York, in the gap") << newYork << utcSecs("2026-03-07T20:00:00Z") << 2 << 15;
    QTest::newRow("New York, repeated hour")
        << newYork << utcSecs("2026-10-31T20:00:00Z") << 1 << 30;
    QTest::newRow("New York, between the two")
        << newYork << utcSecs("2026-11-01T05:45:00Z") << 1 << 30;
    // Lord Howe moves by half an hour: 2026-04-05 02:00 -> 01:30; 2026-10-04 02:00 -> 02:30.
    QTest::newRow("Lord Howe, repeated half hour")
        << lordHowe << utcSecs("2026-04-04T02:00:00Z") << 1 << 45;
    QTest::newRow("Lord Howe, half-hour gap")
        << lordHowe << utcSecs("2026-10-03T02:00:00Z") << 2 << 15;
    // Santiago's clock jumps at midnight: 2026-09-06 00:00 -> 01:00.
    QTest::newRow("Santiago, midnight gap")
        << santiago << utcSecs("2026-09-05T12:00:00Z") << 0 << 30;
    QTest::newRow("Santiago, first minute after")
        << santiago << utcSecs("2026-09-05T12:00:00Z") << 1 << 0;
    QTest::newRow("Santiago, ordinary day")
        << santiago << utcSecs("2026-07-01T12:00:00Z") << 0 << 30;
}

void TestCachedZone::nextDailyRunMatchesTheSystem()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, now);
    QFETCH(int, hour);
    QFETCH(int, minute);
    const ZoneEnvironment environment(zone);
    const qint64 expected = systemNextDaily(now, hour, minute);
    QVERIFY(expected > now);
    const TaskSchedule schedule =
        TaskSchedule::of<TaskSchedule::Daily>({{TimeOfDay{hour, minute}}});
    const QTimeZone qtZone(zone);
    const std::optional<QDateTime> cached = nextRun(schedule, now, nextRunZone(qtZone, now));
    QVERIFY(cached);
    QCOMPARE(cached->toSecsSinceEpoch(), expected);
    // The zone asked directly (the single-schedule entry point) agrees.
    const std::optional<QDateTime> single =
        nextRun(schedule, QDateTime::fromSecsSinceEpoch(now, QTimeZone::utc()), qtZone);
    QVERIFY(single);
    QCOMPARE(single->toSecsSinceEpoch(), expected);
}

QTEST_GUILESS_MAIN(TestCachedZone)
#include "TestCachedZone.moc"
