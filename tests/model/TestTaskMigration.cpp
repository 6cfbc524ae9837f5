#include "Result.h"
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
        const QList<TaskSchedule> schedules = {TaskSchedule::runAtLoad(),
                                               TaskSchedule::interval(90),
                                               TaskSchedule::daily(times),
                                               TaskSchedule::daily({}),
                                               TaskSchedule::weekly({6, 2}, times),
                                               TaskSchedule::weekly({}, {}),
                                               TaskSchedule::monthly(31, times),
                                               TaskSchedule::monthlyLastDay(times),
                                               TaskSchedule::monthlyNthWeekday(2, 3, times)};
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
            TaskSchedule::daily({{3, 0}}));
        hostile.workingDirectory = QStringLiteral("/tmp/it's \\dir");
        hostile.envFilePath = QString();
        hostile.wakeBeforeRun = true;
        hostile.isEnabled = false;
        hostile.useLoginShell = true;
        hostile.logs = {
            TaskLog{QUuid::createUuid(), QDateTime(QDate(2025, 3, 1), QTime(9, 0, 5, 250), Qt::UTC),
                    -7, "line one\nline two"},
            TaskLog{QUuid::createUuid(), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC), 0,
                    QString()},
            TaskLog{QUuid::createUuid(),
                    QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 1), Qt::UTC), 255, "x"}};
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
        const ScheduledTask task = ScheduledTask::create(QStringLiteral("A"), QStringLiteral("a"),
                                                         TaskSchedule::interval(5));
        QVERIFY(!TaskFile::write(path, {task}));
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
        QVERIFY(TaskFile::write(home.path() + QStringLiteral("/missing/tasks.json"), {task}));
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
