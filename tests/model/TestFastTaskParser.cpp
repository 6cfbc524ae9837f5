#include "FastTaskParser.h"
#include "Result.h"
#include "TaskMigration.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

using Members = QList<QPair<QByteArray, QByteArray>>;

QByteArray object(const Members& members, const QByteArray& sep = ", ")
{
    QByteArray out = "{";
    for (qsizetype i = 0; i < members.size(); ++i)
        out += (i ? sep : QByteArray()) + '"' + members[i].first + "\": " + members[i].second;
    return out + "}";
}

const QByteArray dailyTimes = R"({"daily": {"times": [{"hour": 7, "minute": 30}]}})";
const QByteArray someLog = R"({"id": "22222222-0000-4000-8000-000000000002",
    "timestamp": 786123456.789, "exitCode": -1, "output": "done\n"})";

Members baseTask()
{
    return {{"id", "\"11111111-0000-4000-8000-000000000001\""},
            {"name", "\"Backup\""},
            {"command", "\"echo hi\""},
            {"useLoginShell", "false"},
            {"isEnabled", "true"},
            {"logs", "[]"},
            {"schedule", dailyTimes}};
}

Members with(Members members, const QByteArray& key, const QByteArray& value)
{
    for (auto& member : members) {
        if (member.first == key) {
            member.second = value;
            return members;
        }
    }
    members.append({key, value});
    return members;
}

Members without(Members members, const QByteArray& key)
{
    members.removeIf([&](const auto& member) { return member.first == key; });
    return members;
}

QByteArray file(const QByteArray& tasks, const QByteArray& version = "2")
{
    return "{\"version\": " + version + ", \"tasks\": [" + tasks + "]}";
}
QByteArray file(const Members& task) { return file(object(task)); }
QByteArray withSchedule(const QByteArray& schedule)
{
    return file(with(baseTask(), "schedule", schedule));
}
QByteArray withName(const QByteArray& name) { return file(with(baseTask(), "name", name)); }

// The fast path may decline, but what it returns must be exactly what the full decoder
// returns; and the public entry must behave as the full decoder, message for message.
void checkEquivalent(const QByteArray& text, bool mustBeFast)
{
    const auto fast = FastTaskParser::parse(text);
    const auto slow = TaskMigration::decodeTasksSlow(text);
    const auto both = TaskMigration::decodeTasks(text);
    if (fast) {
        QVERIFY2(slow.ok(), qPrintable(slow.ok() ? QString() : slow.error()));
        QVERIFY(*fast == *slow);
    }
    QVERIFY2(!mustBeFast || fast, text.left(300).constData());
    QCOMPARE(both.ok(), slow.ok());
    if (slow.ok())
        QVERIFY(*both == *slow);
    else
        QCOMPARE(both.error(), slow.error());
}

QString randomText(QRandomGenerator& random)
{
    static const QStringList pieces = {QStringLiteral("a"),
                                       QStringLiteral("Z"),
                                       QStringLiteral(" "),
                                       QStringLiteral("\""),
                                       QStringLiteral("\\"),
                                       QStringLiteral("/"),
                                       QStringLiteral("\n"),
                                       QStringLiteral("\t"),
                                       QString(QChar(0)),
                                       QString(QChar(0x1F)),
                                       QStringLiteral("é"),
                                       QStringLiteral("€"),
                                       QString::fromUtf8("\xF0\x9F\x98\x80"),
                                       QStringLiteral("$HOME"),
                                       QStringLiteral("'")};
    QString text;
    const int length = random.bounded(12);
    for (int i = 0; i < length; ++i)
        text += pieces[random.bounded(pieces.size())];
    return text;
}

TaskSchedule randomSchedule(QRandomGenerator& random)
{
    QList<TimeOfDay> times;
    for (int i = random.bounded(4); i > 0; --i)
        times.append({random.bounded(24), random.bounded(60)});
    switch (random.bounded(7)) {
    case 0:
        return TaskSchedule::of<TaskSchedule::RunAtLoad>();
    case 1:
        return TaskSchedule::of<TaskSchedule::Interval>({random.bounded(1, 100000)});
    case 2:
        return TaskSchedule::of<TaskSchedule::Daily>({times});
    case 3:
        return TaskSchedule::of<TaskSchedule::Weekly>({{1, random.bounded(1, 8)}, times});
    case 4:
        return TaskSchedule::of<TaskSchedule::Monthly>({random.bounded(1, 32), times});
    case 5:
        return TaskSchedule::of<TaskSchedule::MonthlyLastDay>({times});
    default:
        return TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>(
            {random.bounded(1, 5), random.bounded(1, 8), times});
    }
}

QList<ScheduledTask> randomTasks(int count)
{
    QRandomGenerator random(20261208);
    QList<ScheduledTask> tasks;
    for (int i = 0; i < count; ++i) {
        ScheduledTask task =
            ScheduledTask::create(randomText(random), randomText(random), randomSchedule(random));
        if (random.bounded(2))
            task.workingDirectory = randomText(random);
        if (random.bounded(3) == 0)
            task.envFilePath = randomText(random);
        task.useLoginShell = random.bounded(2);
        task.wakeBeforeRun = random.bounded(2);
        task.isEnabled = random.bounded(2);
        for (int n = random.bounded(3); n > 0; --n) {
            // Any double: stored timestamps are kept to the last digit, not to milliseconds.
            const double seconds = random.bounded(2000000000.0) - 100000000.0;
            task.logs.append(
                TaskLog{QUuid::createUuid(), seconds, random.bounded(-5, 300), randomText(random)});
        }
        tasks.append(task);
    }
    return tasks;
}

} // namespace

class TestFastTaskParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void leadingFeffKept_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("written"); // the string as it stands in the file
        QTest::addColumn<QString>("text");       // what both readers must give
        const QString feff(QChar(0xFEFF));
        for (const char* key : {"name", "command", "workingDirectory", "envFilePath"}) {
            const QByteArray k(key);
            QTest::addRow("%s, raw", key)
                << k << QByteArray("\"\xEF\xBB\xBFx\"") << feff + QStringLiteral("x");
            QTest::addRow("%s, escaped", key)
                << k << QByteArray("\"\\ufeffx\"") << feff + QStringLiteral("x");
            QTest::addRow("%s, raw with an escape after", key) << k
                                                               << QByteArray("\"\xEF\xBB\xBF"
                                                                             "a\\nb\"")
                                                               << feff + QStringLiteral("a\nb");
            QTest::addRow("%s, only the mark", key) << k << QByteArray("\"\xEF\xBB\xBF\"") << feff;
            QTest::addRow("%s, two marks", key)
                << k << QByteArray("\"\xEF\xBB\xBF\xEF\xBB\xBF\"") << feff + feff;
        }
    }

    // A string is kept exactly as stored, a leading U+FEFF too, by both readers and across a
    // write and a second read.
    void leadingFeffKept()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, written);
        QFETCH(QString, text);
        const QByteArray data = file(with(baseTask(), key, written));
        const auto fast = FastTaskParser::parse(data);
        const auto slow = TaskMigration::decodeTasksSlow(data);
        QVERIFY(fast);
        QVERIFY2(slow.ok(), qPrintable(slow.ok() ? QString() : slow.error()));
        const auto field = [&key](const ScheduledTask& task) {
            return key == "name"               ? task.name
                   : key == "command"          ? task.command
                   : key == "workingDirectory" ? task.workingDirectory.value_or(QString())
                                               : task.envFilePath.value_or(QString());
        };
        QCOMPARE(field(fast->first()), text);
        QCOMPARE(field(slow->first()), text);
        const QByteArray again = TaskMigration::encodeTasks(*slow);
        const auto reread = TaskMigration::decodeTasks(again);
        QVERIFY(reread.ok());
        QCOMPARE(field(reread->first()), text);
        QVERIFY(*FastTaskParser::parse(again) == *TaskMigration::decodeTasksSlow(again));
    }

    void equivalence_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("mustBeFast"); // ordinary files must not fall back
        const Members task = baseTask();
        auto fast = [](const char* name, const QByteArray& text) {
            QTest::newRow(name) << text << true;
        };
        auto either = [](const char* name, const QByteArray& text) {
            QTest::newRow(name) << text << false;
        };

        // Every schedule kind, and payload keys of other kinds ignored.
        fast("run at load", withSchedule(R"({"runAtLoad": {}})"));
        fast("interval", withSchedule(R"({"interval": {"minutes": 15}})"));
        fast("daily two times",
             withSchedule(
                 R"({"daily": {"times": [{"hour": 7, "minute": 30}, {"hour": 0, "minute": 0}]}})"));
        fast("daily no times", withSchedule(R"({"daily": {"times": []}})"));
        fast("weekly",
             withSchedule(
                 R"({"weekly": {"weekdays": [1, 7], "times": [{"hour": 9, "minute": 5}]}})"));
        fast("monthly",
             withSchedule(R"({"monthly": {"day": 31, "times": [{"hour": 9, "minute": 5}]}})"));
        fast("last day",
             withSchedule(R"({"monthlyLastDay": {"times": [{"hour": 23, "minute": 59}]}})"));
        fast(
            "nth weekday",
            withSchedule(
                R"({"monthlyNthWeekday": {"nth": 2, "weekday": 3, "times": [{"hour": 1, "minute": 2}]}})"));
        fast("other kind's keys ignored",
             withSchedule(R"({"daily": {"minutes": "x", "day": null, "times": []}})"));
        fast("unknown key beside the case", withSchedule(R"({"hourly": {}, "runAtLoad": {}})"));
        either("extreme integers", withSchedule(R"({"interval": {"minutes": -2147483648}})"));
        fast("max integer", withSchedule(R"({"interval": {"minutes": 2147483647}})"));
        // Range limits: the edges are read fast, one past them is left to the full decoder.
        fast(
            "range edges",
            withSchedule(
                R"({"monthlyNthWeekday": {"nth": 5, "weekday": 7, "times": [{"hour": 23, "minute": 59}]}})"));
        fast("day 31 and weekday 1",
             withSchedule(R"({"monthly": {"day": 31, "times": [{"hour": 0, "minute": 0}]}})"));
        either("hour 24", withSchedule(R"({"daily": {"times": [{"hour": 24, "minute": 0}]}})"));
        either("hour of 32 bits",
               withSchedule(R"({"daily": {"times": [{"hour": 2147483647, "minute": 0}]}})"));
        either("minute -1", withSchedule(R"({"daily": {"times": [{"hour": 1, "minute": -1}]}})"));
        either("interval 0", withSchedule(R"({"interval": {"minutes": 0}})"));
        either("day 32", withSchedule(R"({"monthly": {"day": 32, "times": []}})"));
        either("weekday 8", withSchedule(R"({"weekly": {"weekdays": [1, 8], "times": []}})"));
        either("nth 6",
               withSchedule(R"({"monthlyNthWeekday": {"nth": 6, "weekday": 1, "times": []}})"));
        either("nth weekday 0",
               withSchedule(R"({"monthlyNthWeekday": {"nth": 1, "weekday": 0, "times": []}})"));
        either("plain number", "5");
        either("null", "null");
        either("plain string", "\"x\"");
        either("two cases", withSchedule(R"({"runAtLoad": {}, "interval": {"minutes": 1}})"));
        either("no case", withSchedule(R"({"hourly": {}})"));
        either("case not an object", withSchedule(R"({"runAtLoad": []})"));
        either("missing minutes", withSchedule(R"({"interval": {}})"));
        either("missing nth",
               withSchedule(R"({"monthlyNthWeekday": {"weekday": 3, "times": []}})"));
        either("time without minute", withSchedule(R"({"daily": {"times": [{"hour": 7}]}})"));
        either("weekday text", withSchedule(R"({"weekly": {"weekdays": ["1"], "times": []}})"));

        // Numbers.
        either("integral double", withSchedule(R"({"interval": {"minutes": 7.0}})"));
        either("exponent", withSchedule(R"({"interval": {"minutes": 1e1}})"));
        either("fraction", withSchedule(R"({"interval": {"minutes": 7.5}})"));
        either("past 32 bits", withSchedule(R"({"interval": {"minutes": 2147483648}})"));
        either("huge", withSchedule(R"({"interval": {"minutes": 123456789012345678901234}})"));
        either("leading zero", withSchedule(R"({"interval": {"minutes": 07}})"));
        either("plus sign", withSchedule(R"({"interval": {"minutes": +7}})"));
        either("overflowing unknown", file(with(task, "extra", "1e400")));
        either("underflowing timestamp",
               file(with(task, "logs", R"([{"id": "22222222-0000-4000-8000-000000000002",
                   "timestamp": 1e-400, "exitCode": 0, "output": ""}])")));

        // Logs and optional members.
        fast("log", file(with(task, "logs", "[" + someLog + "]")));
        fast("integer timestamp",
             file(with(task, "logs",
                       "[" + QByteArray(someLog).replace("786123456.789", "-5") + "]")));
        fast("exponent timestamp",
             file(with(task, "logs",
                       "[" + QByteArray(someLog).replace("786123456.789", "7.5E+8") + "]")));
        either(
            "log without output",
            file(with(
                task, "logs",
                R"([{"id": "22222222-0000-4000-8000-000000000002", "timestamp": 1, "exitCode": 0}])")));
        either("log timestamp text",
               file(with(task, "logs",
                         "[" + QByteArray(someLog).replace("786123456.789", "\"1\"") + "]")));
        fast("optionals present", file(with(with(with(task, "workingDirectory", "\"/tmp\""),
                                                 "envFilePath", "\"~/.env\""),
                                            "wakeBeforeRun", "true")));
        fast("optionals null",
             file(with(with(with(task, "workingDirectory", "null"), "envFilePath", "null"),
                       "wakeBeforeRun", "null")));
        fast("wake false", file(with(task, "wakeBeforeRun", "false")));
        either("optional wrong type", file(with(task, "workingDirectory", "5")));
        either("wake text", file(with(task, "wakeBeforeRun", "\"yes\"")));
        for (const char* key :
             {"id", "name", "command", "useLoginShell", "isEnabled", "logs", "schedule"})
            QTest::addRow("missing %s", key) << file(without(task, key)) << false;
        either("name number", withName("5"));
        either("name null", withName("null"));
        either("enabled text", file(with(task, "isEnabled", "\"true\"")));
        either("logs null", file(with(task, "logs", "null")));
        either("schedule array", file(with(task, "schedule", "[]")));

        // Identifiers.
        fast("lower-case id", file(with(task, "id", "\"3f2a9c1d-0000-4000-8000-00000000abcd\"")));
        fast("nil id", file(with(task, "id", "\"00000000-0000-0000-0000-000000000000\"")));
        either("braced id", file(with(task, "id", "\"{11111111-0000-4000-8000-000000000001}\"")));
        either("short id", file(with(task, "id", "\"11111111-0000-4000-8000-00000000001\"")));
        either("not hex id", file(with(task, "id", "\"1111111x-0000-4000-8000-000000000001\"")));

        // Unknown members everywhere, in any order, with any whitespace.
        fast(
            "unknown members",
            "{\"note\": {\"a\": [1, -2.5e3, true, false, null, \"x\\u00e9\", {}]}, \"version\": 2, "
            "\"tasks\": [" +
                object(
                    with(with(task, "extra", "[[]]"), "schedule",
                         R"({"daily": {"x": 1, "times": [{"hour": 1, "minute": 2, "s": 0}]}})")) +
                "], \"z\": null}");
        fast("unknown member in log",
             file(with(task, "logs",
                       "[" + QByteArray(someLog).replace("{", "{\"x\": {\"y\": []}, ") + "]")));
        Members reversed = task;
        std::reverse(reversed.begin(), reversed.end());
        fast("reversed keys", "{\"tasks\": [" + object(reversed) + "], \"version\": 2}");
        fast("compact", QByteArray(file(task)).replace(": ", ":").replace(", ", ","));
        fast("all whitespace kinds",
             QByteArray(" \t\r\n" + file(object(task, " ,\r\n\t")) + "\n\t ")
                 .replace(": ", "\r\n:\t"));
        fast("version 3", file(object(task), "3"));
        fast("no tasks", file(QByteArray()));
        fast("two tasks",
             file(object(task) + ",\n" +
                  object(with(task, "id", "\"11111111-0000-4000-8000-000000000002\""))));

        // Strings.
        fast("escapes", withName("\"q\\\" b\\\\ s\\/ \\b\\f\\n\\r\\t\""));
        fast("unicode escapes", withName(R"("\u00e9\u20AC \ud83d\ude00 nul\u0000 ctl\u001f")"));
        fast("raw emoji and accents", withName("\"\xF0\x9F\x98\x80 caf\xC3\xA9 \xE2\x82\xAC\""));
        fast("empty", withName("\"\""));
        either("escaped id",
               file(with(task, "id", R"("11111111-0000-4000-8000-00000000000\u0031")")));
        fast("escape at the edges",
             withName(R"("\u0041 \u007f\u0080\u07FF\u0800\uFFFD\uD800\uDC00\uDBFF\uDFFD")"));
        either("escaped noncharacter", withName(R"("\uFFFF")"));
        either("lone high surrogate", withName(R"("\ud83d x")"));
        either("lone low surrogate", withName(R"("\ude00")"));
        either("reversed pair", withName(R"("\ude00\ud83d")"));
        either("bad escape", withName(R"("\x41")"));
        either("short unicode escape", withName(R"("\u12")"));
        either("raw control character", withName("\"a\tb\""));
        either("raw nul", withName(QByteArray("\"a\0b\"", 5)));
        either("invalid UTF-8", withName("\"\xC3\x28\""));
        either("overlong UTF-8", withName("\"\xC0\xAF\""));
        either("encoded surrogate", withName("\"\xED\xA0\x80\""));
        either("noncharacter", withName("\"\xEF\xBF\xBF\""));
        either("cut UTF-8", withName("\"\xE2\x82\""));
        either("escaped key", "{\"version\": 2, \"tasks\": [" +
                                  object(with(without(task, "name"), "n\\u0061me", "\"A\"")) +
                                  "]}");

        // Duplicates, envelopes and syntax.
        either("duplicate name",
               "{\"version\": 2, \"tasks\": [" + object(task + Members{{"name", "\"B\""}}) + "]}");
        either("duplicate unknown", file(task + Members{{"x", "1"}, {"x", "2"}}));
        either("duplicate version", "{\"version\": 2, \"version\": 1, \"tasks\": []}");
        either("duplicate tasks",
               "{\"tasks\": [], \"version\": 2, \"tasks\": [" + object(task) + "]}");
        either("duplicate tasks, last empty",
               "{\"tasks\": [" + object(task) + "], \"version\": 2, \"tasks\": []}");
        either("duplicate wake",
               file(task + Members{{"wakeBeforeRun", "true"}, {"wakeBeforeRun", "null"}}));
        either("duplicate case", withSchedule(R"({"runAtLoad": {}, "runAtLoad": {}})"));
        either("version 1 array", "[" + object(task) + "]");
        either("version 1 object", file(object(task), "1"));
        either("version 0", file(object(task), "0"));
        either("version -1", file(object(task), "-1"));
        either("version 2.0", file(object(task), "2.0"));
        either("version text", file(object(task), "\"2\""));
        either("task not an object", file("1"));
        either("byte order mark", "\xEF\xBB\xBF" + file(task));
        either("trailing garbage", file(task) + "x");
        either("two documents", file(task) + "{}");
        either("trailing comma", file(object(task) + ","));
        either("deep unknown", file(with(task, "deep", QByteArray(40, '[') + QByteArray(40, ']'))));
        either("empty", QByteArray());
        either("root array of nothing", "[]");
    }
    void equivalence()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, mustBeFast);
        checkEquivalent(text, mustBeFast);
    }

    // A file cut short anywhere must not crash the fast path nor be read differently.
    void everyPrefix()
    {
        const QByteArray text = file(
            object(with(with(baseTask(), "logs", "[" + someLog + "]"), "name",
                        "\"a\\\"\\\\\\u00e9\\ud83d\\ude00 \xF0\x9F\x98\x80\"")) +
            ", " +
            object(with(baseTask(), "schedule", R"({"weekly": {"weekdays": [2], "times": []}})")));
        QVERIFY(FastTaskParser::parse(text));
        for (qsizetype length = 0; length < text.size(); ++length) {
            checkEquivalent(text.left(length), false);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("prefix of %1 bytes").arg(length)));
        }
    }

    // What the tool writes is what the fast path must read, unchanged, without falling back.
    void writtenFilesTakeTheFastPath()
    {
        const QList<ScheduledTask> tasks = randomTasks(1000);
        const QByteArray text = TaskMigration::encodeTasks(tasks);
        const auto fast = FastTaskParser::parse(text);
        QVERIFY(fast);
        QCOMPARE(fast->size(), tasks.size());
        for (qsizetype i = 0; i < tasks.size(); ++i)
            QVERIFY2(fast->at(i) == tasks.at(i), qPrintable(tasks.at(i).name));
        const auto slow = TaskMigration::decodeTasksSlow(text);
        QVERIFY(slow.ok());
        QVERIFY(*fast == *slow);
    }
};

QTEST_GUILESS_MAIN(TestFastTaskParser)
#include "TestFastTaskParser.moc"
