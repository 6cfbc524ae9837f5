#include "FastTaskParser.h"
#include "Result.h"
#include "TaskFields.h"
#include "TaskMigration.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <limits>

// Every described field must reach every reader and the writer: a task with each field set
// away from its default goes through all of them unchanged, and each key left out of a file
// is refused or defaulted alike by both readers.
namespace {

using TaskFields::Field;

// Sets every described member to a value its default is not, the schedule to the case given.
struct Filler {
    size_t scheduleCase = 0;

    void operator()(const Field&, QUuid& id) const { id = QUuid::createUuid(); }
    void operator()(const Field& field, QString& text) const
    {
        text = QString::fromLatin1(field.name.data(), qsizetype(field.name.size())) +
               QStringLiteral(" \"é\"\n\\ \U0001F600");
    }
    void operator()(const Field& field, std::optional<QString>& text) const
    {
        (*this)(field, text.emplace());
    }
    void operator()(const Field&, bool& flag) const { flag = !flag; }
    void operator()(const Field&, double& number) const { number = 786123456.789; }
    void operator()(const Field& field, int& number) const
    {
        number = field.range ? field.range->high : -7;
    }
    void operator()(const Field& field, QList<int>& list) const
    {
        list = {field.range->high, field.range->low};
    }
    template <typename E> void operator()(const Field& field, QList<E>& list) const
    {
        (*this)(field, list.emplace_back());
        (*this)(field, list.emplace_back());
    }
    void operator()(const Field&, TaskSchedule& schedule) const
    {
        TaskFields::withCase(scheduleCase, [&]<typename Case>() {
            Case payload;
            TaskFields::visitFields(payload, *this);
            schedule = std::move(payload);
        });
    }
    template <TaskFields::Described T> void operator()(const Field&, T& value) const
    {
        TaskFields::visitFields(value, *this);
    }
};

int fieldCount(const ScheduledTask& task)
{
    int count = 0;
    TaskFields::visitFields(task, [&](const Field&, const auto&) { ++count; });
    return count;
}

// The task with the field at position set back to the default-constructed task's.
ScheduledTask withDefaultAt(ScheduledTask task, int position)
{
    const ScheduledTask defaults;
    int at = 0;
    TaskFields::visitFields(task, [&](const Field&, auto& member) {
        if (at++ != position)
            return;
        int from = 0;
        TaskFields::visitFields(defaults, [&](const Field&, const auto& fresh) {
            if constexpr (std::is_same_v<std::remove_cvref_t<decltype(member)>,
                                         std::remove_cvref_t<decltype(fresh)>>)
                if (from == position)
                    member = fresh;
            ++from;
        });
    });
    return task;
}

// What Qt's own writer makes of the same tasks.
QByteArray qtText(const QList<ScheduledTask>& tasks)
{
    QJsonArray array;
    for (const ScheduledTask& task : tasks)
        array.append(task.toJson());
    return QJsonDocument(QJsonObject{{QStringLiteral("tasks"), array},
                                     {QStringLiteral("version"), TaskMigration::currentVersion}})
        .toJson(QJsonDocument::Indented);
}

void checkRoundTrip(const ScheduledTask& task)
{
    const QByteArray text = TaskMigration::encodeTasks({task});
    QCOMPARE(text, qtText({task}));
    const auto fast = FastTaskParser::parse(text);
    QVERIFY(fast);
    QCOMPARE(fast->size(), 1);
    QVERIFY(fast->first() == task);
    const auto slow = TaskMigration::decodeTasksSlow(text);
    QVERIFY2(slow.ok(), qPrintable(slow.ok() ? QString() : slow.error()));
    QVERIFY(slow->first() == task);
    const auto single = ScheduledTask::fromJson(task.toJson());
    QVERIFY(single.ok());
    QVERIFY(*single == task);
}

// A key taken out of the object at path in the first task of the written file.
QByteArray withoutKey(const ScheduledTask& task, const QStringList& path, const QString& key)
{
    const QJsonObject root = QJsonDocument::fromJson(TaskMigration::encodeTasks({task})).object();
    const std::function<QJsonValue(QJsonValue, qsizetype)> strip = [&](QJsonValue value,
                                                                       qsizetype depth) {
        if (depth == path.size()) {
            QJsonObject object = value.toObject();
            object.remove(key);
            return QJsonValue(object);
        }
        bool isIndex = false;
        const int i = path[depth].toInt(&isIndex);
        if (isIndex) {
            QJsonArray array = value.toArray();
            array[i] = strip(array.at(i), depth + 1);
            return QJsonValue(array);
        }
        QJsonObject object = value.toObject();
        object[path[depth]] = strip(object.value(path[depth]), depth + 1);
        return QJsonValue(object);
    };
    return QJsonDocument(strip(root, 0).toObject()).toJson(QJsonDocument::Indented);
}

// Rows for each field of the object at path: its key and whether a file may leave it out.
template <typename T> void addKeyRows(const T& value, const QStringList& path, size_t scheduleCase)
{
    TaskFields::visitFields(value, [&](const Field& field, const auto& member) {
        const QString key = QString::fromLatin1(field.name.data(), qsizetype(field.name.size()));
        const bool mayBeAbsent =
            field.optional ||
            std::is_same_v<std::remove_cvref_t<decltype(member)>, std::optional<QString>>;
        const QString where = path.join(QLatin1Char('.'));
        QTest::addRow("%s %s", qPrintable(where), qPrintable(key))
            << path << key << mayBeAbsent << int(scheduleCase);
    });
}

} // namespace

class TestTaskFields : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyFieldRoundTrips_data()
    {
        QTest::addColumn<int>("scheduleCase");
        for (size_t i = 0; i < TaskFields::caseNames.size(); ++i)
            QTest::newRow(TaskFields::caseNames[i].data()) << int(i);
    }
    // Each field set on its own too, so a reader that takes one field for another is caught.
    void everyFieldRoundTrips()
    {
        QFETCH(int, scheduleCase);
        ScheduledTask task;
        Filler{size_t(scheduleCase)}(Field{}, task);
        QCOMPARE(task.schedule.value().index(), size_t(scheduleCase));
        checkRoundTrip(task);
        for (int position = 0; position < fieldCount(task); ++position) {
            const ScheduledTask partial = withDefaultAt(task, position);
            // Run at load is the default schedule; every other case sets the schedule apart.
            QVERIFY2(!(partial == task) || scheduleCase == 0,
                     "the filler left a field at its default");
            checkRoundTrip(partial);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("field %1 at its default").arg(position)));
        }
    }

    void missingKeys_data()
    {
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("mayBeAbsent");
        QTest::addColumn<int>("scheduleCase");
        for (size_t c = 0; c < TaskFields::caseNames.size(); ++c) {
            ScheduledTask task;
            Filler{c}(Field{}, task);
            const QString name = QString::fromLatin1(TaskFields::caseNames[c].data());
            const QStringList casePath{QStringLiteral("tasks"), QStringLiteral("0"),
                                       QStringLiteral("schedule"), name};
            if (c == 0) {
                addKeyRows(task, {QStringLiteral("tasks"), QStringLiteral("0")}, c);
                addKeyRows(task.logs.first(), {"tasks", "0", "logs", "0"}, c);
            }
            std::visit(
                [&](const auto& payload) {
                    addKeyRows(payload, casePath, c);
                    if constexpr (requires { payload.times; })
                        addKeyRows(payload.times.first(), casePath + QStringList{"times", "0"}, c);
                },
                task.schedule.value());
        }
    }
    // A required key left out is refused with the same message by the public reader, which
    // the fast one must leave to the full one; an optional one reads as its default.
    void missingKeys()
    {
        QFETCH(QStringList, path);
        QFETCH(QString, key);
        QFETCH(bool, mayBeAbsent);
        QFETCH(int, scheduleCase);
        ScheduledTask task;
        Filler{size_t(scheduleCase)}(Field{}, task);
        const QByteArray text = withoutKey(task, path, key);
        const auto fast = FastTaskParser::parse(text);
        const auto slow = TaskMigration::decodeTasksSlow(text);
        const auto both = TaskMigration::decodeTasks(text);
        if (mayBeAbsent) {
            QVERIFY(fast && slow.ok() && both.ok());
            QVERIFY(*fast == *slow);
            QVERIFY(*both == *slow);
            QVERIFY(!(slow->first() == task));
            return;
        }
        QVERIFY(!fast);
        QVERIFY(!slow.ok());
        QString where;
        for (const QString& segment : path) {
            bool isIndex = false;
            segment.toInt(&isIndex);
            where += isIndex           ? QStringLiteral("[%1]").arg(segment)
                     : where.isEmpty() ? segment
                                       : QLatin1Char('.') + segment;
        }
        QCOMPARE(slow.error(), QStringLiteral("%1: missing key \"%2\"").arg(where, key));
        QCOMPARE(both.error(), slow.error());
    }

    // With several faults in one payload the times are named first, as they always were.
    void firstFaultNamed_data()
    {
        QTest::addColumn<QByteArray>("schedule");
        QTest::addColumn<QString>("message");
        QTest::newRow("weekly")
            << QByteArray(R"({"weekly": {"weekdays": [9], "times": [{"hour": 24, "minute": 0}]}})")
            << "tasks[0].schedule.weekly.times[0].hour: expected a number from 0 to 23 but found "
               "24";
        QTest::newRow("weekly empty")
            << QByteArray(R"({"weekly": {}})") << "tasks[0].schedule.weekly: missing key \"times\"";
        QTest::newRow("monthly") << QByteArray(R"({"monthly": {"day": 0, "times": 3}})")
                                 << "tasks[0].schedule.monthly.times: expected an array but "
                                    "found a number";
        QTest::newRow("nth weekday empty")
            << QByteArray(R"({"monthlyNthWeekday": {}})")
            << "tasks[0].schedule.monthlyNthWeekday: missing key \"times\"";
        QTest::newRow("nth weekday without weekday")
            << QByteArray(R"({"monthlyNthWeekday": {"times": []}})")
            << "tasks[0].schedule.monthlyNthWeekday: missing key \"weekday\"";
    }
    void firstFaultNamed()
    {
        QFETCH(QByteArray, schedule);
        QFETCH(QString, message);
        QJsonObject task =
            ScheduledTask::create("a", "b", TaskSchedule::of<TaskSchedule::RunAtLoad>()).toJson();
        task.insert(QStringLiteral("schedule"), QJsonDocument::fromJson(schedule).object());
        const QByteArray text =
            QJsonDocument(QJsonObject{{"version", 2}, {"tasks", QJsonArray{task}}}).toJson();
        const auto result = TaskMigration::decodeTasks(text);
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), message);
    }
};

QTEST_GUILESS_MAIN(TestTaskFields)
#include "TestTaskFields.moc"
