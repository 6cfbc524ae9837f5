#include "Result.h"
#include "ScheduleKinds.h"
#include "ScheduledTask.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

Q_DECLARE_METATYPE(TaskSchedule)

namespace {
QJsonValue json(const char* text)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text));
    if (document.isObject())
        return document.object();
    return document.array();
}

TaskSchedule schedule(const char* text)
{
    const auto decoded = TaskSchedule::fromJson(json(text));
    if (!decoded)
        qFatal("schedule did not decode: %s", qPrintable(decoded.error()));
    return decoded.value();
}

QByteArray taskJson(const char* scheduleText, const char* extra = "")
{
    return QByteArray(R"({"id": "3F2A9C1D-0000-4000-8000-000000000001", "name": "n",
                         "command": "c", "useLoginShell": false, "isEnabled": true,
                         "logs": [], "schedule": )") +
           scheduleText + extra + "}";
}
} // namespace

class TestTaskModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void summary_data()
    {
        QTest::addColumn<TaskSchedule>("schedule");
        QTest::addColumn<QString>("summary");
        QTest::newRow("run at load") << ::schedule(R"({"runAtLoad": {}})") << "Run at load";
        QTest::newRow("interval keeps minutes")
            << ::schedule(R"({"interval": {"minutes": 90}})") << "Every 90 min";
        QTest::newRow("daily sorted for display")
            << ::schedule(
                   R"({"daily": {"times": [{"hour": 17, "minute": 30}, {"hour": 9, "minute": 5}]}})")
            << "Daily at 9:05, 17:30";
        QTest::newRow("daily without times")
            << ::schedule(R"({"daily": {"times": []}})") << "Daily at ";
        QTest::newRow("midnight sorts first")
            << ::schedule(
                   R"({"daily": {"times": [{"hour": 23, "minute": 59}, {"hour": 0, "minute": 0}]}})")
            << "Daily at 0:00, 23:59";
        QTest::newRow("weekly sorted days")
            << ::schedule(
                   R"({"weekly": {"weekdays": [6, 2, 4], "times": [{"hour": 9, "minute": 0}]}})")
            << "Mon, Wed, Fri at 9:00";
        QTest::newRow("weekly Sunday and Saturday")
            << ::schedule(
                   R"({"weekly": {"weekdays": [7, 1], "times": [{"hour": 9, "minute": 0}]}})")
            << "Sun, Sat at 9:00";
        QTest::newRow("weekly out of range")
            // Built in memory: the task file readers refuse such weekdays.
            << TaskSchedule::of<TaskSchedule::Weekly>({{0, 8}, {{9, 0}}}) << "?, ? at 9:00";
        QTest::newRow("monthly")
            << ::schedule(R"({"monthly": {"day": 15, "times": [{"hour": 9, "minute": 0}]}})")
            << "Monthly on day 15 at 9:00";
        QTest::newRow("last day")
            << ::schedule(R"({"monthlyLastDay": {"times": [{"hour": 22, "minute": 0}]}})")
            << "Last day of month at 22:00";
        QTest::newRow("nth weekday")
            << ::schedule(
                   R"({"monthlyNthWeekday": {"nth": 2, "weekday": 3, "times": [{"hour": 18, "minute": 30}, {"hour": 9, "minute": 0}]}})")
            << "2nd Tuesday at 9:00, 18:30";
        QTest::newRow("nth weekday unknown name")
            << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({1, 9, {{9, 0}}})
            << "1st Unknown at 9:00";
    }
    void summary()
    {
        QFETCH(TaskSchedule, schedule);
        QFETCH(QString, summary);
        QCOMPARE(schedule.summary(), summary);
    }

    void storedOrderIsKept()
    {
        const TaskSchedule s = schedule(
            R"({"daily": {"times": [{"hour": 17, "minute": 30}, {"hour": 9, "minute": 5}]}})");
        const QList<TimeOfDay> expected = {{17, 30}, {9, 5}};
        QCOMPARE(s.times(), expected);
        QCOMPARE(TaskSchedule::fromJson(s.toJson()).value(), s);
    }

    void scheduleDecodingFailures_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const QString keys = QStringLiteral("Invalid number of keys found, expected one.");
        QTest::newRow("empty object") << "{}" << keys;
        QTest::newRow("two cases")
            << R"({"daily": {"times": []}, "weekly": {"weekdays": [], "times": []}})" << keys;
        QTest::newRow("unknown case") << R"({"hourly": {}})" << keys;
        QTest::newRow("run at load null") << R"({"runAtLoad": null})"
                                          << "runAtLoad:";
        QTest::newRow("missing payload label") << R"({"interval": {}})"
                                               << "missing key \"minutes\"";
        QTest::newRow("time without minute") << R"({"daily": {"times": [{"hour": 7}]}})"
                                             << "missing key \"minute\"";
        QTest::newRow("fractional hour") << R"({"daily": {"times": [{"hour": 7.5, "minute": 0}]}})"
                                         << "expected an integer";
        QTest::newRow("string weekday") << R"({"weekly": {"weekdays": ["mon"], "times": []}})"
                                        << "expected an integer";
    }
    void scheduleDecodingFailures()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        const auto decoded = TaskSchedule::fromJson(json(text.toUtf8().constData()));
        QVERIFY(!decoded);
        QVERIFY2(decoded.error().contains(message), qPrintable(decoded.error()));
    }

    void roundTripEveryCase_data()
    {
        QTest::addColumn<TaskSchedule>("schedule");
        const QList<TimeOfDay> times = {{9, 0}, {17, 30}};
        QTest::newRow("runAtLoad") << TaskSchedule::of<TaskSchedule::RunAtLoad>();
        QTest::newRow("interval") << TaskSchedule::of<TaskSchedule::Interval>({15});
        QTest::newRow("daily") << TaskSchedule::of<TaskSchedule::Daily>({times});
        QTest::newRow("weekly") << TaskSchedule::of<TaskSchedule::Weekly>({{2, 4, 6}, times});
        QTest::newRow("monthly") << TaskSchedule::of<TaskSchedule::Monthly>({31, times});
        QTest::newRow("lastDay") << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({times});
        QTest::newRow("nth") << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({4, 7, times});
    }
    void roundTripEveryCase()
    {
        QFETCH(TaskSchedule, schedule);
        ScheduledTask task = ScheduledTask::create(
            QStringLiteral("Backup ✓"), QStringLiteral("echo \"$HOME\" | tr a b"), schedule);
        task.workingDirectory = QStringLiteral("/tmp/it's");
        task.wakeBeforeRun = true;
        task.logs.append(TaskLog{
            QUuid::createUuid(),
            TaskLog::timestampOf(QDateTime(QDate(2025, 3, 1), QTime(9, 0, 5, 250), Qt::UTC)), -1,
            QStringLiteral("out")});
        const auto decoded = ScheduledTask::fromJson(task.toJson());
        QVERIFY2(decoded.ok(), qPrintable(decoded.ok() ? QString() : decoded.error()));
        QCOMPARE(decoded.value(), task);
        QCOMPARE(task.toJson().value(QStringLiteral("schedule")).toObject().keys(),
                 QStringList{TaskSchedule::caseName(schedule.kind())});
    }

    void scheduleJsonShapes()
    {
        QCOMPARE(QJsonDocument(TaskSchedule::of<TaskSchedule::RunAtLoad>().toJson())
                     .toJson(QJsonDocument::Compact),
                 QByteArray(R"({"runAtLoad":{}})"));
        QCOMPARE(QJsonDocument(TaskSchedule::of<TaskSchedule::Interval>({30}).toJson())
                     .toJson(QJsonDocument::Compact),
                 QByteArray(R"({"interval":{"minutes":30}})"));
        QCOMPARE(
            QJsonDocument(
                TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, {{9, 0}}}).toJson())
                .toJson(QJsonDocument::Compact),
            QByteArray(
                R"({"monthlyNthWeekday":{"nth":2,"times":[{"hour":9,"minute":0}],"weekday":3}})"));
    }

    void taskDecoding_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("message");
        const QByteArray runAtLoad = R"({"runAtLoad": {}})";
        QTest::newRow("minimal") << taskJson(runAtLoad) << true << QString();
        QTest::newRow("unknown keys ignored")
            << taskJson(runAtLoad, R"(, "colour": "red", "extra": {"a": 1})") << true << QString();
        QTest::newRow("null optionals") << taskJson(runAtLoad, R"(, "workingDirectory": null,
            "envFilePath": null, "wakeBeforeRun": null)")
                                        << true << QString();
        QTest::newRow("missing useLoginShell")
            << QByteArray(R"({"id": "3F2A9C1D-0000-4000-8000-000000000001", "name": "n",
               "command": "c", "isEnabled": true, "logs": [], "schedule": {"runAtLoad": {}}})")
            << false << "missing key \"useLoginShell\"";
        QTest::newRow("name of wrong type")
            << QByteArray(R"({"id": "3F2A9C1D-0000-4000-8000-000000000001", "name": 5,
               "command": "c", "useLoginShell": false, "isEnabled": true, "logs": [],
               "schedule": {"runAtLoad": {}}})")
            << false << "name: expected a string";
        QTest::newRow("bad identifier")
            << QByteArray(R"({"id": "not-a-uuid", "name": "n", "command": "c",
               "useLoginShell": false, "isEnabled": true, "logs": [], "schedule": {"runAtLoad": {}}})")
            << false << "not a valid identifier";
        QTest::newRow("wake of wrong type")
            << taskJson(runAtLoad, R"(, "wakeBeforeRun": "yes")") << false << "wakeBeforeRun";
        QTest::newRow("log without output")
            << QByteArray(R"({"id": "3F2A9C1D-0000-4000-8000-000000000001", "name": "n",
               "command": "c", "useLoginShell": false, "isEnabled": true, "schedule": {"runAtLoad": {}},
               "logs": [{"id": "3F2A9C1D-0000-4000-8000-000000000002", "timestamp": 1.5, "exitCode": 0}]})")
            << false << "missing key \"output\"";
    }
    void taskDecoding()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(QString, message);
        const auto decoded = ScheduledTask::fromJson(QJsonDocument::fromJson(text).object());
        QCOMPARE(decoded.ok(), ok);
        if (ok) {
            QCOMPARE(decoded->wakeBeforeRun, false);
            QVERIFY(!decoded->workingDirectory);
            QVERIFY(!decoded->envFilePath);
        } else {
            QVERIFY2(decoded.error().contains(message), qPrintable(decoded.error()));
        }
    }

    void absentFieldsAreNotWritten()
    {
        ScheduledTask task = ScheduledTask::create(QStringLiteral("n"), QStringLiteral("c"),
                                                   TaskSchedule::of<TaskSchedule::RunAtLoad>());
        const QJsonObject object = task.toJson();
        QVERIFY(!object.contains(QStringLiteral("workingDirectory")));
        QVERIFY(!object.contains(QStringLiteral("envFilePath")));
        QCOMPARE(object.value(QStringLiteral("id")).toString(),
                 task.id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(object.value(QStringLiteral("logs")).toArray().size(), 0);
        // An empty working directory is still a value, distinct from none.
        task.workingDirectory = QString();
        QCOMPARE(ScheduledTask::fromJson(task.toJson()).value(), task);
    }

    void logTimestampsCountFrom2001()
    {
        const QByteArray text = R"({"id": "3F2A9C1D-0000-4000-8000-000000000002",
                                    "timestamp": 86400.5, "exitCode": -3, "output": "x"})";
        const auto log = TaskLog::fromJson(QJsonDocument::fromJson(text).object());
        QVERIFY(log.ok());
        QCOMPARE(log->date(), QDateTime(QDate(2001, 1, 2), QTime(0, 0, 0, 500), Qt::UTC));
        QCOMPARE(log->toJson().value(QStringLiteral("timestamp")).toDouble(), 86400.5);
    }

    void shortIdentifier_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("idString");
        QTest::addColumn<QString>("shortId");
        QTest::newRow("plain") << "3f2a9c1d-1234-4abc-8def-0123456789ab"
                               << "3F2A9C1D-1234-4ABC-8DEF-0123456789AB"
                               << "3f2a9c1d";
        QTest::newRow("leading zeros") << "0000a0b1-ffff-4abc-8def-0123456789ab"
                                       << "0000A0B1-FFFF-4ABC-8DEF-0123456789AB"
                                       << "0000a0b1";
        QTest::newRow("all f") << "FFFFFFFF-0000-4abc-8def-000000000000"
                               << "FFFFFFFF-0000-4ABC-8DEF-000000000000"
                               << "ffffffff";
        QTest::newRow("nil") << "00000000-0000-0000-0000-000000000000"
                             << "00000000-0000-0000-0000-000000000000"
                             << "00000000";
    }
    void shortIdentifier()
    {
        QFETCH(QString, id);
        QFETCH(QString, idString);
        QFETCH(QString, shortId);
        ScheduledTask task;
        task.id = QUuid::fromString(id);
        QCOMPARE(task.idString(), idString);
        QCOMPARE(task.shortId(), shortId);
    }

    void timeOrderingAndEquality()
    {
        QVERIFY((TimeOfDay{0, 0} < TimeOfDay{23, 59}));
        QVERIFY(!(TimeOfDay{1, 0} < TimeOfDay{0, 60}));
        QVERIFY(!(TimeOfDay{1, 0} == TimeOfDay{0, 60}));
        QCOMPARE((TimeOfDay{9, 5}).text(), QStringLiteral("9:05"));
    }

    void scheduleEqualityComparesCaseAndPayload()
    {
        QVERIFY(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}}}) !=
                TaskSchedule::of<TaskSchedule::MonthlyLastDay>({{{9, 0}}}));
        QVERIFY(TaskSchedule::of<TaskSchedule::Daily>({{{9, 0}, {10, 0}}}) !=
                TaskSchedule::of<TaskSchedule::Daily>({{{10, 0}, {9, 0}}}));
        QVERIFY(TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{9, 0}}}) ==
                TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{9, 0}}}));
        QCOMPARE(qHash(TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{9, 0}}})),
                 qHash(TaskSchedule::of<TaskSchedule::Weekly>({{2}, {{9, 0}}})));
    }

    // The form's kind picker and the second picker of its group, as derived from the kinds:
    // labels in order, each entry naming its (first) kind by case name.
    void formKinds()
    {
        QStringList labels;
        QStringList data;
        QStringList inGroup;
        for (const ScheduleKinds::PickerEntry& entry : ScheduleKinds::kindPicker()) {
            labels << entry.label;
            data << entry.data;
            if (entry.grouped)
                for (TaskSchedule::Kind kind : entry.kinds)
                    inGroup << entry.label + QLatin1Char('/') +
                                   QString::fromUtf8(ScheduleKinds::formPlace(kind).label.data());
        }
        QCOMPARE(labels, (QStringList{"Run at load (login / reboot)", "Every N minutes", "Daily",
                                      "Weekly", "Monthly"}));
        QCOMPARE(data, (QStringList{"runAtLoad", "interval", "daily", "weekly", "monthly"}));
        QCOMPARE(inGroup, (QStringList{"Monthly/Specific day", "Monthly/Last day of month",
                                       "Monthly/Nth weekday"}));
    }
};

QTEST_GUILESS_MAIN(TestTaskModel)
#include "TestTaskModel.moc"
