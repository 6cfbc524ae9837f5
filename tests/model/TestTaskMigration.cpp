#include "FastTaskParser.h"
#include "Result.h"
#include "ResultChecks.h"
#include "TaskFile.h"
#include "TaskMigration.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {
const char* const taskA = R"({"id": "11111111-0000-4000-8000-000000000001", "name": "A",
    "command": "echo a", "useLoginShell": false, "isEnabled": true, "logs": [], "schedule": %1})";

QByteArray oneTask(const char* schedule)
{
    return QString::fromUtf8(taskA).arg(QString::fromUtf8(schedule)).toUtf8();
}

// Every object's keys, in the order they appear in the text, must be sorted.
void checkSortedKeys(const QByteArray& text)
{
    // Indented output puts each member on its own line, "key": value; compare siblings by
    // indentation.
    QHash<int, QString> lastKeyAtIndent;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const int indent = int(line.size() - line.trimmed().size());
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char('}')) || trimmed.startsWith(QLatin1Char(']'))) {
            lastKeyAtIndent.remove(indent + 4);
            continue;
        }
        if (!trimmed.startsWith(QLatin1Char('"')) || !trimmed.contains(QStringLiteral("\":")))
            continue;
        const QString key = trimmed.section(QLatin1Char('"'), 1, 1);
        if (lastKeyAtIndent.contains(indent))
            QVERIFY2(lastKeyAtIndent.value(indent) < key, qPrintable(key));
        lastKeyAtIndent[indent] = key;
    }
}
} // namespace

class TestTaskMigration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formsAndVersions_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("count"); // -1: failure
        QTest::addColumn<QString>("error");
        const QByteArray daily = oneTask(R"({"daily": {"times": [{"hour": 7, "minute": 30}]}})");
        QTest::newRow("empty bare array") << QByteArray("[ ]") << 0 << QString();
        QTest::newRow("version 2 empty")
            << QByteArray(R"({"version": 2, "tasks": []})") << 0 << QString();
        QTest::newRow("version 3 like 2")
            << "{\"version\": 3, \"tasks\": [" + daily + "]}" << 1 << QString();
        QTest::newRow("version 2.0 is an integer")
            << QByteArray(R"({"version": 2.0, "tasks": []})") << 0 << QString();
        QTest::newRow("escaped slashes")
            << QByteArray(R"({"version": 2, "tasks": [{"id": "11111111-0000-4000-8000-000000000001",
               "name": "A", "command": "echo a", "useLoginShell": false, "isEnabled": true, "logs": [],
               "workingDirectory": "\/tmp\/x", "schedule": {"runAtLoad": {}}}]})")
            << 1 << QString();
        QTest::newRow("version 0") << QByteArray(R"({"version": 0, "tasks": []})") << -1
                                   << "Unknown tasks.json version: 0";
        QTest::newRow("version -3") << QByteArray(R"({"version": -3, "tasks": []})") << -1
                                    << "Unknown tasks.json version: -3";
        const QString unrecognized = QStringLiteral("Unrecognized tasks.json format");
        QTest::newRow("string version")
            << QByteArray(R"({"version": "2", "tasks": []})") << -1 << unrecognized;
        QTest::newRow("fractional version")
            << QByteArray(R"({"version": 2.5, "tasks": []})") << -1 << unrecognized;
        QTest::newRow("no version") << QByteArray(R"({"tasks": []})") << -1 << unrecognized;
        QTest::newRow("no tasks") << QByteArray(R"({"version": 2})") << -1 << unrecognized;
        QTest::newRow("empty object") << QByteArray("{}") << -1 << unrecognized;
        QTest::newRow("tasks not objects")
            << QByteArray(R"({"version": 2, "tasks": [1]})") << -1 << unrecognized;
        QTest::newRow("array of non-objects") << QByteArray(R"([{}, 3])") << -1 << unrecognized;
        QTest::newRow("syntax error")
            << QByteArray(R"({"version": 2, "tasks": [)") << -1 << "JSON syntax error";
        QTest::newRow("empty file") << QByteArray() << -1 << "JSON syntax error";
        // Well-formed JSON of the wrong form, not a syntax error.
        QTest::newRow("plain number") << QByteArray("5") << -1 << unrecognized;
        QTest::newRow("null") << QByteArray(" null\n") << -1 << unrecognized;
        QTest::newRow("plain string") << QByteArray(R"("x")") << -1 << unrecognized;
        QTest::newRow("boolean") << QByteArray("true") << -1 << unrecognized;
        QTest::newRow("two plain values") << QByteArray("5, 6") << -1 << "JSON syntax error";
        QTest::newRow("a value and a bracket") << QByteArray("5]") << -1 << "JSON syntax error";
        QTest::newRow("version 1 hour out of range")
            << "[" + oneTask(R"({"daily": {"hour": 25, "minute": 0}})") + "]" << -1
            << "tasks[0].schedule.daily.times[0].hour: expected a number from 0 to 23 but found 25";
        QTest::newRow("one bad task fails all")
            << "{\"version\": 2, \"tasks\": [" + daily + ", {\"id\": 5}]}" << -1 << "tasks[1]";
    }
    void formsAndVersions()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, count);
        QFETCH(QString, error);
        const auto decoded = TaskMigration::decodeTasks(text);
        if (count < 0) {
            QVERIFY(!decoded);
            QVERIFY2(decoded.error().startsWith(error) || decoded.error().contains(error),
                     qPrintable(decoded.error()));
            if (error.startsWith(QStringLiteral("Un")))
                QCOMPARE(decoded.error(), error);
        } else {
            QVERIFY2(decoded.ok(), qPrintable(decoded.ok() ? QString() : decoded.error()));
            QCOMPARE(decoded->size(), count);
        }
    }

    // Numbers a schedule may hold; outside them the file does not decode (arithmetic on them
    // could overflow), and both readers say so in the same words.
    void scheduleRanges_data()
    {
        QTest::addColumn<QByteArray>("schedule");
        QTest::addColumn<QString>("error"); // empty: decodes
        const auto outside = [](const char* where, int low, int high, qint64 found) {
            return QStringLiteral("tasks[0].schedule.%1: expected a number from %2 to %3 but "
                                  "found %4")
                .arg(QLatin1String(where))
                .arg(low)
                .arg(high)
                .arg(found);
        };
        const auto time = [](int hour, int minute) {
            return QByteArray(R"({"daily": {"times": [{"hour": )") + QByteArray::number(hour) +
                   ", \"minute\": " + QByteArray::number(minute) + "}]}}";
        };
        QTest::newRow("23:59") << time(23, 59) << QString();
        QTest::newRow("0:00") << time(0, 0) << QString();
        QTest::newRow("hour 24") << time(24, 0) << outside("daily.times[0].hour", 0, 23, 24);
        QTest::newRow("hour of 32 bits")
            << time(2147483647, 0) << outside("daily.times[0].hour", 0, 23, 2147483647);
        QTest::newRow("hour -1") << time(-1, 0) << outside("daily.times[0].hour", 0, 23, -1);
        QTest::newRow("minute 60") << time(9, 60) << outside("daily.times[0].minute", 0, 59, 60);
        QTest::newRow("interval 1") << QByteArray(R"({"interval": {"minutes": 1}})") << QString();
        QTest::newRow("interval of 32 bits")
            << QByteArray(R"({"interval": {"minutes": 2147483647}})") << QString();
        QTest::newRow("interval 0") << QByteArray(R"({"interval": {"minutes": 0}})")
                                    << outside("interval.minutes", 1, 2147483647, 0);
        QTest::newRow("interval negative")
            << QByteArray(R"({"interval": {"minutes": -2147483648}})")
            << outside("interval.minutes", 1, 2147483647, -2147483648LL);
        QTest::newRow("day 31") << QByteArray(R"({"monthly": {"day": 31, "times": []}})")
                                << QString();
        QTest::newRow("day 0") << QByteArray(R"({"monthly": {"day": 0, "times": []}})")
                               << outside("monthly.day", 1, 31, 0);
        QTest::newRow("day 32") << QByteArray(R"({"monthly": {"day": 32, "times": []}})")
                                << outside("monthly.day", 1, 31, 32);
        QTest::newRow("weekdays 1 and 7, and none")
            << QByteArray(R"({"weekly": {"weekdays": [1, 7], "times": []}})") << QString();
        QTest::newRow("no weekdays")
            << QByteArray(R"({"weekly": {"weekdays": [], "times": []}})") << QString();
        QTest::newRow("weekday 8") << QByteArray(R"({"weekly": {"weekdays": [2, 8], "times": []}})")
                                   << outside("weekly.weekdays[1]", 1, 7, 8);
        QTest::newRow("weekday 0") << QByteArray(R"({"weekly": {"weekdays": [0], "times": []}})")
                                   << outside("weekly.weekdays[0]", 1, 7, 0);
        QTest::newRow("fifth weekday")
            << QByteArray(R"({"monthlyNthWeekday": {"nth": 5, "weekday": 7, "times": []}})")
            << QString();
        QTest::newRow("sixth weekday")
            << QByteArray(R"({"monthlyNthWeekday": {"nth": 6, "weekday": 7, "times": []}})")
            << outside("monthlyNthWeekday.nth", 1, 5, 6);
        QTest::newRow("ordinal 0")
            << QByteArray(R"({"monthlyNthWeekday": {"nth": 0, "weekday": 7, "times": []}})")
            << outside("monthlyNthWeekday.nth", 1, 5, 0);
        QTest::newRow("nth of weekday 9")
            << QByteArray(R"({"monthlyNthWeekday": {"nth": 1, "weekday": 9, "times": []}})")
            << outside("monthlyNthWeekday.weekday", 1, 7, 9);
    }
    void scheduleRanges()
    {
        QFETCH(QByteArray, schedule);
        QFETCH(QString, error);
        const QByteArray text = "{\"version\": 2, \"tasks\": [" + oneTask(schedule) + "]}";
        const auto slow = TaskMigration::decodeTasksSlow(text);
        const auto decoded = TaskMigration::decodeTasks(text);
        if (error.isEmpty()) {
            QVERIFY2(decoded.ok(), qPrintable(decoded.ok() ? QString() : decoded.error()));
            QVERIFY(slow.ok());
            QVERIFY(*decoded == *slow);
            // What was read is written back unchanged.
            QCOMPARE(TaskMigration::decodeTasks(TaskMigration::encodeTasks(*decoded)).value(),
                     *decoded);
        } else {
            QVERIFY(!decoded);
            QCOMPARE(decoded.error(), error);
            QVERIFY(!slow);
            QCOMPARE(slow.error(), error);
        }
    }

    // Legacy run-log timestamps are kept to the last digit: a save writes back the very number
    // that was read, in its shortest form, through every reader and the writer.
    void logTimestampsKeepTheirDigits_data()
    {
        QTest::addColumn<QByteArray>("timestamp");
        QTest::newRow("nanoseconds") << QByteArray("757382400.123456789");
        QTest::newRow("sub-millisecond") << QByteArray("0.0001");
        QTest::newRow("negative sub-millisecond") << QByteArray("-0.000123456");
        QTest::newRow("exponent") << QByteArray("1.5e-7");
        QTest::newRow("half a second") << QByteArray("86400.5");
        QTest::newRow("whole") << QByteArray("757382400");
    }
    void logTimestampsKeepTheirDigits()
    {
        QFETCH(QByteArray, timestamp);
        const double expected = std::strtod(timestamp.constData(), nullptr);
        const QByteArray log = R"({"id": "22222222-0000-4000-8000-000000000002", "timestamp": )" +
                               timestamp + R"(, "exitCode": 0, "output": ""})";
        QByteArray task = oneTask(R"({"runAtLoad": {}})");
        task.replace("\"logs\": []", "\"logs\": [" + log + "]");
        const QByteArray current = "{\"version\": 2, \"tasks\": [" + task + "]}";
        const QByteArray legacy = "[" + task + "]";
        QVERIFY(FastTaskParser::parse(current)); // the fast reader takes it, not the full one

        const std::pair<const char*, Result<QList<ScheduledTask>>> readers[] = {
            {"fast", TaskMigration::decodeTasks(current)},
            {"full", TaskMigration::decodeTasksSlow(current)},
            {"migrated", TaskMigration::decodeTasks(legacy)}};
        for (const auto& [reader, tasks] : readers) {
            QVERIFY2(tasks.ok(), reader);
            // Exact: QCOMPARE on doubles would forgive the rounding this is about.
            QVERIFY2(tasks->at(0).logs.at(0).timestamp == expected, reader);
        }
        const auto single = TaskLog::fromJson(QJsonDocument::fromJson(log).object());
        QVERIFY(single.ok() && single->timestamp == expected);

        const QByteArray written = TaskMigration::encodeTasks(readers[0].second.value());
        QVERIFY2(written.contains(
                     "\"timestamp\": " +
                     QByteArray::number(expected, 'g', QLocale::FloatingPointShortest) + "\n"),
                 written.constData());
        const auto reread = TaskMigration::decodeTasks(written);
        QVERIFY(reread.ok() && reread->at(0).logs.at(0).timestamp == expected);
        QCOMPARE(TaskMigration::encodeTasks(*reread), written);
        QCOMPARE(single->toJson().value(QStringLiteral("timestamp")).toDouble(), expected);
    }

    void version1Migration_data()
    {
        QTest::addColumn<QByteArray>("schedule");
        QTest::addColumn<QString>("summary"); // empty: the file fails to decode
        QTest::newRow("daily single time")
            << QByteArray(R"({"daily": {"hour": 7, "minute": 30}})") << "Daily at 7:30";
        QTest::newRow("weekly without weekdays")
            << QByteArray(R"({"weekly": {"hour": 9, "minute": 0}})") << " at 9:00";
        QTest::newRow("weekly with weekdays")
            << QByteArray(R"({"weekly": {"weekdays": [2, 6], "hour": 9, "minute": 0}})")
            << "Mon, Fri at 9:00";
        QTest::newRow("monthly without day")
            << QByteArray(R"({"monthly": {"hour": 8, "minute": 15}})")
            << "Monthly on day 1 at 8:15";
        QTest::newRow("monthly with day")
            << QByteArray(R"({"monthly": {"day": 20, "hour": 8, "minute": 15}})")
            << "Monthly on day 20 at 8:15";
        QTest::newRow("already has times")
            << QByteArray(
                   R"({"daily": {"times": [{"hour": 1, "minute": 2}], "hour": 7, "minute": 30}})")
            << "Daily at 1:02";
        QTest::newRow("hour without minute fails")
            << QByteArray(R"({"daily": {"hour": 7}})") << QString();
        QTest::newRow("interval untouched")
            << QByteArray(R"({"interval": {"minutes": 5}})") << "Every 5 min";
        QTest::newRow("last day untouched")
            << QByteArray(R"({"monthlyLastDay": {"hour": 7, "minute": 30}})") << QString();
    }
    void version1Migration()
    {
        QFETCH(QByteArray, schedule);
        QFETCH(QString, summary);
        const QByteArray file = "[" + oneTask(schedule.constData()) + "]";
        const auto decoded = TaskMigration::decodeTasks(file);
        if (summary.isEmpty()) {
            QVERIFY(!decoded);
            return;
        }
        QVERIFY2(decoded.ok(), qPrintable(decoded.ok() ? QString() : decoded.error()));
        QCOMPARE(decoded->first().schedule.summary(), summary);
        // The migration happens in memory only; version 2 files are not migrated again.
        const auto asVersion2 = TaskMigration::decodeTasks("{\"version\": 2, \"tasks\": [" +
                                                           oneTask(schedule.constData()) + "]}");
        if (!schedule.contains("times") && schedule.contains("hour") &&
            !schedule.contains("interval"))
            QVERIFY(!asVersion2);
    }

    void encodingIsSortedAndRoundTrips()
    {
        const auto decoded = TaskMigration::decodeTasks(
            "[" + oneTask(R"({"weekly": {"weekdays": [2], "hour": 7, "minute": 30}})") + "]");
        QVERIFY(decoded.ok());
        ScheduledTask task = decoded->first();
        task.workingDirectory = QStringLiteral("/srv/app");
        task.envFilePath = QStringLiteral("/srv/app/.env");
        const QByteArray text = TaskMigration::encodeTasks({task});
        QVERIFY(text.startsWith("{\n    \"tasks\": ["));
        QVERIFY(text.trimmed().endsWith("\"version\": 2\n}"));
        checkSortedKeys(text);
        const QStringList order = {"command",         "envFilePath",   "id",
                                   "isEnabled",       "logs",          "name",
                                   "schedule",        "useLoginShell", "wakeBeforeRun",
                                   "workingDirectory"};
        qsizetype last = -1;
        for (const QString& key : order) {
            const qsizetype at = text.indexOf("\"" + key.toUtf8() + "\":");
            QVERIFY2(at > last, qPrintable(key));
            last = at;
        }
        const auto again = TaskMigration::decodeTasks(text);
        QVERIFY(again.ok());
        QCOMPARE(again->first(), task);
    }

    // The file is written without a QJsonObject tree; it must be exactly what Qt's own
    // writer gives for the same values, whatever the strings hold.
    void writerMatchesQtJson_data()
    {
        QTest::addColumn<QList<ScheduledTask>>("tasks");
        const QList<TimeOfDay> times = {{17, 30}, {9, 0}};
        const QList<TaskSchedule> schedules = {
            TaskSchedule::of<TaskSchedule::RunAtLoad>(),
            TaskSchedule::of<TaskSchedule::Interval>({90}),
            TaskSchedule::of<TaskSchedule::Daily>({times}),
            TaskSchedule::of<TaskSchedule::Daily>({{}}),
            TaskSchedule::of<TaskSchedule::Weekly>({{6, 2}, times}),
            TaskSchedule::of<TaskSchedule::Weekly>({{}, {}}),
            TaskSchedule::of<TaskSchedule::Monthly>({31, times}),
            TaskSchedule::of<TaskSchedule::MonthlyLastDay>({times}),
            TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 3, times})};
        QList<ScheduledTask> all;
        for (const TaskSchedule& schedule : schedules)
            all << ScheduledTask::create("n", "c", schedule);
        QTest::newRow("no tasks") << QList<ScheduledTask>{};
        QTest::newRow("every schedule") << all;

        ScheduledTask hostile = ScheduledTask::create(
            QString::fromUtf8(
                "Caf\xC3\xA9 \\ \"quoted\" \xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB"),
            QString::fromUtf8("echo \"$(date)\" `id` 'x'\n\tnext\r\b\f") + QChar(0x01) +
                QChar(0x1f) + QChar(0x7f) + QChar(0x2028) + "/path/",
            TaskSchedule::of<TaskSchedule::Daily>({{{3, 0}}}));
        hostile.workingDirectory = QStringLiteral("/tmp/it's \\dir");
        hostile.envFilePath = QString();
        hostile.wakeBeforeRun = true;
        hostile.isEnabled = false;
        hostile.useLoginShell = true;
        hostile.logs = {TaskLog{QUuid::createUuid(),
                                TaskLog::timestampOf(
                                    QDateTime(QDate(2025, 3, 1), QTime(9, 0, 5, 250), Qt::UTC)),
                                -7, "line one\nline two"},
                        TaskLog{QUuid::createUuid(), 0, 0, QString()},
                        TaskLog{QUuid::createUuid(), 757382400.123456789, 0, QString()},
                        TaskLog{QUuid::createUuid(), -0.000000001, 255, "x"}};
        QTest::newRow("hostile strings and logs") << QList<ScheduledTask>{hostile, all.first()};
    }
    void writerMatchesQtJson()
    {
        QFETCH(QList<ScheduledTask>, tasks);
        QJsonArray array;
        for (const ScheduledTask& task : tasks)
            array.append(task.toJson());
        const QByteArray expected = QJsonDocument(QJsonObject{{"tasks", array}, {"version", 2}})
                                        .toJson(QJsonDocument::Indented);
        QCOMPARE(TaskMigration::encodeTasks(tasks), expected);
        const auto decoded = TaskMigration::decodeTasks(expected);
        QVERIFY(decoded.ok());
        QCOMPARE(decoded.value(), tasks);
    }

    void taskFileIsPrivateAndAtomic()
    {
        TestHome home;
        const QString path = home.path() + QStringLiteral("/tasks.json");
        TestSupport::writeFile(path, "old");
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadOther);
        const ScheduledTask task =
            ScheduledTask::create(QStringLiteral("A"), QStringLiteral("a"),
                                  TaskSchedule::of<TaskSchedule::Interval>({5}));
        VERIFY_OK(TaskFile::write(path, {task}));
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
        QCOMPARE(QFileInfo(path).permissions() & others, QFileDevice::Permissions());
        QVERIFY(QFileInfo(path).permissions().testFlags(QFileDevice::ReadOwner |
                                                        QFileDevice::WriteOwner));
        const TaskFile::ReadResult read = TaskFile::read(path);
        QCOMPARE(read.status, TaskFile::ReadStatus::loaded);
        QCOMPARE(read.tasks, QList<ScheduledTask>{task});
        // No temporary files are left beside it.
        QCOMPARE(QDir(home.path()).entryList({QStringLiteral("tasks.json*")}, QDir::Files),
                 QStringList{QStringLiteral("tasks.json")});

        // A folder that cannot take the file leaves an error, not a half-written file.
        QVERIFY(!TaskFile::write(home.path() + QStringLiteral("/missing/tasks.json"), {task}).ok());
    }

    void readStatuses()
    {
        TestHome home;
        const QString path = home.path() + QStringLiteral("/tasks.json");
        QCOMPARE(TaskFile::read(path).status, TaskFile::ReadStatus::missing);
        TestSupport::writeFile(path, "{broken");
        const TaskFile::ReadResult broken = TaskFile::read(path);
        QCOMPARE(broken.status, TaskFile::ReadStatus::unreadable);
        QVERIFY(broken.error.contains(QStringLiteral("JSON syntax error")));
    }

    void lockExcludesOtherProcesses()
    {
        TestHome home;
        const QString path = home.path() + QStringLiteral("/tasks.json");
        TaskFile::Lock held(path);
        QVERIFY(held.isLocked());
        // Another process cannot take it while it is held (flock-free QLockFile semantics
        // rely on the PID in the lock file, so a second process is the honest check).
        QProcess other;
        other.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("test -s '%1'").arg(TaskFile::lockPath(path))});
        QVERIFY(other.waitForFinished());
        QCOMPARE(other.exitCode(), 0);
        TaskFile::Lock second(path, 200);
        QVERIFY(!second.isLocked());
    }
};

QTEST_GUILESS_MAIN(TestTaskMigration)
#include "TestTaskMigration.moc"
