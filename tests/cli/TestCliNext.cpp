// brenmor-ops next: the plan (order, month ends, clock changes, wake times) with a fixed
// present, and the command as a real process.
#include "CliHarness.h"
#include "NextCommand.h"
#include "NextRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {
TimeOfDay at(int hour, int minute) { return TimeOfDay{hour, minute}; }

QString id(int n)
{
    return QStringLiteral("00000000-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0'));
}

QString offsetText(const QDateTime& time)
{
    const int minutes = time.offsetFromUtc() / 60;
    return QString::asprintf("%c%02d:%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                             std::abs(minutes) % 60);
}

struct Expected {
    QString name;
    QString next; // "yyyy-MM-dd HH:mm t" in the zone (t: the offset), empty: none
    QString wake; // "HH:mm", empty: none
};
} // namespace

Q_DECLARE_METATYPE(QList<ScheduledTask>)
Q_DECLARE_METATYPE(QList<Expected>)

class TestCliNext : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void plan_data()
    {
        QTest::addColumn<QList<ScheduledTask>>("tasks");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QList<Expected>>("expected");
        const QTimeZone berlin("Europe/Berlin");

        QTest::newRow("month end: last day, then the 1st, untimed last in file order")
            << QList<ScheduledTask>{storedTask("Login", id(1)).atLoad().build(),
                                    storedTask("First", id(2))
                                        .schedule(TaskSchedule::of<TaskSchedule::Monthly>(
                                            {1, {at(9, 0)}}))
                                        .build(),
                                    storedTask("Every", id(3)).every(30).build(),
                                    storedTask("Daily", id(4)).daily({at(3, 0), at(21, 0)}).build(),
                                    storedTask("Last", id(5))
                                        .schedule(TaskSchedule::of<TaskSchedule::MonthlyLastDay>(
                                            {{at(23, 0)}}))
                                        .build()}
            << QDateTime(QDate(2026, 1, 31), QTime(22, 0), berlin)
            << QList<Expected>{{"Last", "2026-01-31 23:00 +01:00", ""},
                               {"Daily", "2026-02-01 03:00 +01:00", ""},
                               {"First", "2026-02-01 09:00 +01:00", ""},
                               {"Login", "", ""},
                               {"Every", "", ""}};
        QTest::newRow("day 31 skips the short month")
            << QList<ScheduledTask>{storedTask("D31", id(1))
                                        .schedule(TaskSchedule::of<TaskSchedule::Monthly>(
                                            {31, {at(8, 0)}}))
                                        .build()}
            << QDateTime(QDate(2026, 4, 15), QTime(12, 0), berlin)
            << QList<Expected>{{"D31", "2026-05-31 08:00 +02:00", ""}};
        QTest::newRow("year end")
            << QList<ScheduledTask>{storedTask("Daily", id(1)).daily({at(0, 30)}).build()}
            << QDateTime(QDate(2026, 12, 31), QTime(23, 59), berlin)
            << QList<Expected>{{"Daily", "2027-01-01 00:30 +01:00", ""}};
        QTest::newRow("spring gap runs at its end, in summer time")
            << QList<ScheduledTask>{storedTask("Gap", id(1)).daily({at(2, 30)}).build(),
                                    storedTask("After", id(2)).daily({at(3, 15)}).build()}
            << QDateTime(QDate(2026, 3, 28), QTime(12, 0), berlin)
            << QList<Expected>{{"Gap", "2026-03-29 03:00 +02:00", ""},
                               {"After", "2026-03-29 03:15 +02:00", ""}};
        QTest::newRow("autumn: the repeated time once, first with the summer offset")
            << QList<ScheduledTask>{storedTask("Fold", id(1)).daily({at(2, 30)}).build()}
            << QDateTime(QDate(2026, 10, 24), QTime(12, 0), berlin)
            << QList<Expected>{{"Fold", "2026-10-25 02:30 +02:00", ""}};
        QTest::newRow("wake only where a registration pass registers one")
            << QList<ScheduledTask>{storedTask("Early", id(1))
                                        .daily({at(9, 0), at(0, 2)})
                                        .wake()
                                        .build(),
                                    storedTask("Second", id(2))
                                        .weekly({2}, {at(7, 0)})
                                        .wake()
                                        .build(),
                                    storedTask("Monthly", id(3))
                                        .schedule(TaskSchedule::of<TaskSchedule::Monthly>(
                                            {10, {at(6, 0)}}))
                                        .wake()
                                        .build(),
                                    storedTask("Plain", id(4)).daily({at(5, 0)}).build()}
            << QDateTime(QDate(2026, 12, 8), QTime(12, 0), berlin)
            << QList<Expected>{{"Early", "2026-12-09 00:02 +01:00", "23:57"},
                               {"Plain", "2026-12-09 05:00 +01:00", ""},
                               {"Monthly", "2026-12-10 06:00 +01:00", "05:55"},
                               {"Second", "2026-12-14 07:00 +01:00", ""}};
    }
    void plan()
    {
        QFETCH(QList<ScheduledTask>, tasks);
        QFETCH(QDateTime, now);
        QFETCH(QList<Expected>, expected);
        const QList<PlannedRun> plan = planNextRuns(tasks, now, now.timeZone());
        QStringList actual, wanted;
        for (const PlannedRun& run : plan)
            actual << run.task.name + QLatin1Char('|') +
                          (run.next
                               ? run.next->toString("yyyy-MM-dd HH:mm ") + offsetText(*run.next)
                               : QString()) +
                          QLatin1Char('|') +
                          (run.wakeAt ? QString::asprintf("%02d:%02d", run.wakeAt->hour,
                                                          run.wakeAt->minute)
                                      : QString());
        for (const Expected& e : expected)
            wanted << e.name + QLatin1Char('|') + e.next + QLatin1Char('|') + e.wake;
        QCOMPARE(actual, wanted);
    }

    void command_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // <next>: Backup's next run as the command prints it
        QTest::addColumn<QString>("err");
        QTest::newRow("all enabled")
            << QStringList{"next"} << 0
            << "Next run          Name    Wake   ID      \n" + QString(41, QChar(0x2500)) +
                   "\n"
                   "<next>  Backup  02:55  3f2a9c1d\n"
                   "Every 30 min      Report         7b00c0de\n"
            << QString();
        QTest::newRow("one") << QStringList{"next", "report"} << 0
                             << "Next run      Name    Wake  ID      \n" +
                                    QString(36, QChar(0x2500)) +
                                    "\n"
                                    "Every 30 min  Report        7b00c0de\n"
                             << QString();
        QTest::newRow("disabled one")
            << QStringList{"next", "off"} << 0
            << "Next run  Name  Wake  ID      \n" + QString(30, QChar(0x2500)) +
                   "\n"
                   "disabled  Off         0ff00000\n"
            << QString();
        QTest::newRow("unknown") << QStringList{"next", "x"} << 1 << QString()
                                 << "Error: Task not found: x\n";
        QTest::newRow("two words") << QStringList{"next", "a", "b"} << 1 << QString()
                                   << "Error: Usage: brenmor-ops next [name-or-id] [--json]\n";
    }
    void command()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        CliHarness harness;
        const ScheduledTask backup = storedTask("Backup", "3F2A9C1D-0000-4000-8000-000000000001")
                                         .daily({at(3, 0)})
                                         .wake()
                                         .build();
        harness.seed(
            {backup,
             storedTask("Off", "0FF00000-0000-4000-8000-000000000003")
                 .daily({at(1, 0)})
                 .disabled()
                 .build(),
             storedTask("Report", "7B00C0DE-1111-4000-8000-000000000002").every(30).build()});
        QProcessEnvironment environment;
        environment.insert("TZ", "Asia/Tokyo");
        const ProcessResult result = harness.run(args, environment);
        const QTimeZone tokyo("Asia/Tokyo");
        const auto next = nextRun(backup.schedule, QDateTime::currentDateTime(), tokyo);
        QVERIFY(next);
        out.replace("<next>", next->toString("yyyy-MM-dd HH:mm"));
        QCOMPARE(result.errText(), err);
        QCOMPARE(result.outText(), out);
        QCOMPARE(result.exitCode, exitCode);
    }

    void json()
    {
        CliHarness harness;
        harness.seed(
            {storedTask("Backup", "3F2A9C1D-0000-4000-8000-000000000001")
                 .daily({at(3, 0)})
                 .wake()
                 .build(),
             storedTask("Report", "7B00C0DE-1111-4000-8000-000000000002").every(30).build()});
        QProcessEnvironment environment;
        environment.insert("TZ", "UTC");
        const ProcessResult result = harness.run({"next", "--json"}, environment);
        QCOMPARE(result.exitCode, 0);
        const QJsonArray runs = QJsonDocument::fromJson(result.out)["runs"].toArray();
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs[0]["name"].toString(), QStringLiteral("Backup"));
        const QDateTime next = QDateTime::fromString(runs[0]["next"].toString(), Qt::ISODate);
        QVERIFY2(next.isValid(), qPrintable(runs[0]["next"].toString()));
        QCOMPARE(next.toUTC().time(), QTime(3, 0));
        QCOMPARE(runs[0]["wake"].toString(), QStringLiteral("02:55"));
        QCOMPARE(runs[1]["schedule"].toString(), QStringLiteral("Every 30 min"));
        QVERIFY(runs[1]["next"].isNull());
        QVERIFY(runs[1]["wake"].isNull());
    }

    void nothingEnabled()
    {
        CliHarness harness;
        QCOMPARE(harness.run({"next"}).outText(), QStringLiteral("No enabled tasks.\n"));
    }
};

QTEST_GUILESS_MAIN(TestCliNext)
#include "TestCliNext.moc"
