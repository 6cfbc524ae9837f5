// The agent plist: exact text for every schedule, and that real plist readers (libplist, as
// our agent runner and scanner use it, and Python's plistlib) read back what was meant.
#include "LaunchdService.h"
#include "TaskBuilder.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <plist/plist.h>

#include <cstdlib>

Q_DECLARE_METATYPE(TaskSchedule)

namespace {

const QString plistTaskId = QStringLiteral("3f2a9c1d-5b6e-4c7d-8e9f-0a1b2c3d4e5f");

const QString scriptPath = QStringLiteral("/Users/ann/Scripts/BrenmorOps_3f2a9c1d.sh");

QString stringValue(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return QStringLiteral("<not a string>");
    char* value = nullptr;
    plist_get_string_val(node, &value);
    const QString text = QString::fromUtf8(value);
    std::free(value);
    return text;
}

// What both readers must agree on, as JSON so the two can be compared directly.
QJsonObject summaryFromLibplist(const QByteArray& xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return {{QStringLiteral("error"), QStringLiteral("libplist could not read the text")}};
    }
    QJsonObject summary;
    summary.insert(QStringLiteral("Label"), stringValue(plist_dict_get_item(root, "Label")));
    QJsonArray arguments;
    plist_t array = plist_dict_get_item(root, "ProgramArguments");
    for (uint32_t i = 0; array && i < plist_array_get_size(array); ++i)
        arguments.append(stringValue(plist_array_get_item(array, i)));
    summary.insert(QStringLiteral("ProgramArguments"), arguments);
    summary.insert(QStringLiteral("StandardOutPath"),
                   stringValue(plist_dict_get_item(root, "StandardOutPath")));
    summary.insert(QStringLiteral("StandardErrorPath"),
                   stringValue(plist_dict_get_item(root, "StandardErrorPath")));
    uint8_t runAtLoad = 0;
    plist_get_bool_val(plist_dict_get_item(root, "RunAtLoad"), &runAtLoad);
    summary.insert(QStringLiteral("RunAtLoad"), runAtLoad != 0);
    plist_free(root);
    return summary;
}

QJsonObject summaryFromPython(const QByteArray& xml)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("agent.plist"));
    TestSupport::writeFile(path, xml);
    const char* program = "import json, plistlib, sys\n"
                          "with open(sys.argv[1], 'rb') as f:\n"
                          "    p = plistlib.load(f)\n"
                          "keys = ['Label', 'ProgramArguments', 'StandardOutPath', "
                          "'StandardErrorPath', 'RunAtLoad']\n"
                          "print(json.dumps({k: p[k] for k in keys}))\n";
    const ProcessResult result = TestSupport::run(
        QStringLiteral("python3"), {QStringLiteral("-c"), QLatin1String(program), path},
        QProcessEnvironment::systemEnvironment());
    if (result.exitCode != 0)
        return {{QStringLiteral("error"), result.errText()}};
    return QJsonDocument::fromJson(result.out).object();
}

} // namespace

class TestAgentPlist : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void text_data()
    {
        QTest::addColumn<TaskSchedule>("schedule");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("logFolder");
        QTest::addColumn<QString>("file");

        const QString plain = scriptPath;
        const QString logs = QStringLiteral("Logs");
        QTest::newRow("run at load") << TaskSchedule::of<TaskSchedule::RunAtLoad>() << plain << logs
                                     << QStringLiteral("plist-run-at-load.plist");
        QTest::newRow("every 15 minutes") << TaskSchedule::of<TaskSchedule::Interval>({15}) << plain
                                          << logs << QStringLiteral("plist-interval-15.plist");
        QTest::newRow("daily, one time: a single dict")
            << TaskSchedule::of<TaskSchedule::Daily>({{{6, 45}}}) << plain << logs
            << QStringLiteral("plist-daily-one.plist");
        QTest::newRow("daily, no time: an empty array")
            << TaskSchedule::of<TaskSchedule::Daily>({{}}) << plain << logs
            << QStringLiteral("plist-daily-none.plist");
        QTest::newRow("daily, two times in stored order")
            << TaskSchedule::of<TaskSchedule::Daily>({{{17, 30}, {9, 0}}}) << plain << logs
            << QStringLiteral("plist-daily-two.plist");
        QTest::newRow("weekly Monday and Wednesday at two times")
            << TaskSchedule::of<TaskSchedule::Weekly>({{2, 4}, {{9, 0}, {17, 30}}}) << plain << logs
            << QStringLiteral("plist-weekly.plist");
        QTest::newRow("weekly Sunday and Saturday: launchd counts from 0")
            << TaskSchedule::of<TaskSchedule::Weekly>({{1, 7}, {{7, 5}}}) << plain << logs
            << QStringLiteral("plist-weekly-sunday-saturday.plist");
        QTest::newRow("monthly on the 15th")
            << TaskSchedule::of<TaskSchedule::Monthly>({15, {{8, 5}}}) << plain << logs
            << QStringLiteral("plist-monthly.plist");
        QTest::newRow("last day, one time: still an array of four")
            << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({{{23, 0}}}) << plain << logs
            << QStringLiteral("plist-last-day.plist");
        QTest::newRow("last day, two times")
            << TaskSchedule::of<TaskSchedule::MonthlyLastDay>({{{6, 0}, {18, 15}}}) << plain << logs
            << QStringLiteral("plist-last-day-two.plist");
        QTest::newRow("second Sunday")
            << TaskSchedule::of<TaskSchedule::MonthlyNthWeekday>({2, 1, {{10, 30}}}) << plain
            << logs << QStringLiteral("plist-nth-weekday.plist");
        // Script and log paths alike are escaped, or launchd could not read the plist.
        QTest::newRow("markup characters in every path")
            << TaskSchedule::of<TaskSchedule::Daily>({{{6, 45}}})
            << QStringLiteral("/Users/ann/R&D <1>/\"q\"/it's/BrenmorOps_3f2a9c1d.sh")
            << QStringLiteral("R&D <logs>") << QStringLiteral("plist-escaped.plist");
    }

    void text()
    {
        QFETCH(TaskSchedule, schedule);
        QFETCH(QString, script);
        QFETCH(QString, logFolder);
        QFETCH(QString, file);
        QTemporaryDir root;
        const QString logDir = root.filePath(logFolder);
        const LaunchdService service(AgentPaths(root.filePath(QStringLiteral("Agents")),
                                                root.filePath(QStringLiteral("Scripts")), logDir));
        const ScheduledTask task =
            TaskBuilder(QStringLiteral("Plist")).id(plistTaskId).schedule(schedule).build();
        const QString text = service.plistContent(task, script);

        QString expected = QString::fromUtf8(
            TestSupport::readFile(TestSupport::dataPath(QStringLiteral("launchd/") + file)));
        QVERIFY2(!expected.isEmpty(), qPrintable(file));
        expected.replace(QStringLiteral("@ROOT@"), root.path());
        QCOMPARE(text, expected);
        // The log folder must exist before launchd opens the logs.
        QVERIFY(QFileInfo(logDir).isDir());

        // Both readers get back the unescaped values.
        const QJsonObject wanted{
            {QStringLiteral("Label"), QStringLiteral("com.brenmor-ops.task.") + task.idString()},
            {QStringLiteral("ProgramArguments"), QJsonArray{script}},
            {QStringLiteral("StandardOutPath"), service.paths().stdoutLogPath(task)},
            {QStringLiteral("StandardErrorPath"), service.paths().stderrLogPath(task)},
            {QStringLiteral("RunAtLoad"), schedule.as<TaskSchedule::RunAtLoad>() != nullptr}};
        QCOMPARE(summaryFromLibplist(text.toUtf8()), wanted);
        if (!QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
            QCOMPARE(summaryFromPython(text.toUtf8()), wanted);
    }

    // The calendar entries as a reader sees them: launchd's numbering and stored order.
    void calendarAsRead()
    {
        QTemporaryDir root;
        const LaunchdService service(AgentPaths(root.path(), root.path(), root.path()));
        const QByteArray xml = service
                                   .plistContent(TaskBuilder(QStringLiteral("Plist"))
                                                     .id(plistTaskId)
                                                     .weekly({2, 4}, {{9, 0}, {17, 30}})
                                                     .build(),
                                                 scriptPath)
                                   .toUtf8();
        plist_t plist = nullptr;
        plist_from_xml(xml.constData(), uint32_t(xml.size()), &plist);
        QVERIFY(plist);
        plist_t entries = plist_dict_get_item(plist, "StartCalendarInterval");
        QVERIFY(entries && plist_get_node_type(entries) == PLIST_ARRAY);
        QList<QList<int>> read;
        for (uint32_t i = 0; i < plist_array_get_size(entries); ++i) {
            plist_t entry = plist_array_get_item(entries, i);
            QList<int> values;
            for (const char* key : {"Weekday", "Hour", "Minute"}) {
                uint64_t value = 99;
                plist_get_uint_val(plist_dict_get_item(entry, key), &value);
                values << int(value);
            }
            read << values;
        }
        plist_free(plist);
        QCOMPARE(read, (QList<QList<int>>{{1, 9, 0}, {1, 17, 30}, {3, 9, 0}, {3, 17, 30}}));
    }
};

QTEST_GUILESS_MAIN(TestAgentPlist)
#include "TestAgentPlist.moc"
