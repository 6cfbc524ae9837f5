#include "LaunchdBrowser.h"
#include "PlistVariant.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Source = LaunchdJob::Source;
using OptionalCalendar = std::optional<QMap<QString, qint64>>;

namespace {

QByteArray plist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           body + "\n</dict>\n</plist>\n";
}

QByteArray labelled(const QByteArray& label, const QByteArray& rest = {})
{
    return plist("<key>Label</key><string>" + label + "</string>" + rest);
}

QStringList labels(const QList<LaunchdJob>& jobs)
{
    QStringList result;
    for (const LaunchdJob& job : jobs)
        result << job.label;
    return result;
}

} // namespace

class TestLaunchdBrowser : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_folderCount = 0;

    QString newFolder()
    {
        const QString path = m_dir.filePath(QStringLiteral("folder%1").arg(++m_folderCount));
        QDir().mkpath(path);
        return path;
    }
    static void put(const QString& folder, const QString& name, const QByteArray& bytes)
    {
        TestSupport::writeFile(folder + QLatin1Char('/') + name, bytes);
    }
    // One folder holding a single job built from `body`.
    LaunchdJob single(const QByteArray& body)
    {
        const QString folder = newFolder();
        put(folder, QStringLiteral("job.plist"), plist(body));
        const auto jobs = LaunchdBrowser({{folder, Source::userAgents}}).scanJobs();
        if (jobs.size() != 1) {
            qWarning() << "expected one job from" << body;
            return {};
        }
        return jobs.first();
    }

    // Every plist of `folder` as read by Python's plistlib, by file name (one run for all).
    QJsonObject pythonReading(const QString& folder)
    {
        if (m_python.isEmpty()) {
            const ProcessResult python = TestSupport::run(
                QStringLiteral("python3"),
                {QStringLiteral("-c"),
                 QStringLiteral("import glob, json, os, plistlib, sys\n"
                                "print(json.dumps({os.path.basename(p): "
                                "plistlib.load(open(p, 'rb')) for p in "
                                "glob.glob(os.path.join(sys.argv[1], '*.plist'))}))"),
                 folder},
                QProcessEnvironment::systemEnvironment());
            if (python.exitCode != 0)
                qWarning() << python.errText();
            m_python = QJsonDocument::fromJson(python.out).object();
        }
        return m_python;
    }
    QJsonObject m_python;

private Q_SLOTS:
    void xmlAndBinaryGiveTheSameJob()
    {
        const QString folder = newFolder();
        QFile::copy(TestSupport::dataPath(QStringLiteral("systemjobs/backup-xml.plist")),
                    folder + QStringLiteral("/backup-xml.plist"));
        QFile::copy(TestSupport::dataPath(QStringLiteral("systemjobs/backup-binary.plist")),
                    folder + QStringLiteral("/backup-binary.plist"));
        const auto jobs = LaunchdBrowser({{folder, Source::globalDaemons}}).scanJobs();
        QCOMPARE(jobs.size(), 2);
        for (const LaunchdJob& job : jobs) {
            QCOMPARE(job.label, QStringLiteral("org.example.backup"));
            QCOMPARE(job.source, Source::globalDaemons);
            QVERIFY(job.id.startsWith(folder + QStringLiteral("/backup-")));
            QCOMPARE(job.url, job.id);
            QCOMPARE(
                job.programArguments,
                QStringList({QStringLiteral("/usr/local/bin/backup"), QStringLiteral("--quiet"),
                             QStringLiteral("--to=/Volumes/Backup Disk")}));
            QCOMPARE(job.program, std::nullopt);
            QCOMPARE(job.startInterval, std::nullopt);
            const QMap<QString, qint64> calendar{{QStringLiteral("Hour"), 3},
                                                 {QStringLiteral("Minute"), 5},
                                                 {QStringLiteral("Weekday"), 0}};
            QCOMPARE(job.startCalendarInterval, calendar);
            QCOMPARE(job.standardOutPath, QStringLiteral("/tmp/backup.out"));
            QCOMPARE(job.standardErrorPath, QStringLiteral("/tmp/backup.err"));
            QCOMPARE(job.disabled, true);
            QCOMPARE(job.runAtLoad, false);
            QCOMPARE(job.keepAlive, true);
            QCOMPARE(job.scheduleDescription(), QStringLiteral("Weekday 0, 3:05"));
            QCOMPARE(job.commandLine(),
                     QStringLiteral("/usr/local/bin/backup --quiet --to=/Volumes/Backup Disk"));
        }
        QCOMPARE(jobs[0].raw, jobs[1].raw);
        QVERIFY(jobs[0].id != jobs[1].id);
    }

    // The tool's list reads only the label and the schedule, from XML and binary alike.
    void scheduleScanKeepsLabelAndSchedule()
    {
        const QString folder = newFolder();
        for (const char* name : {"backup-xml.plist", "backup-binary.plist"})
            QFile::copy(TestSupport::dataPath(QStringLiteral("systemjobs/") + QLatin1String(name)),
                        folder + QLatin1Char('/') + QLatin1String(name));
        put(folder, QStringLiteral("interval.plist"),
            labelled("org.example.interval",
                     "<key>StartInterval</key><integer>300</integer><key>RunAtLoad</key><true/>"
                     "<key>Program</key><string>/bin/true</string>"));
        const LaunchdBrowser browser({{folder, Source::userAgents}});
        const auto whole = browser.scanJobs();
        const auto schedule = browser.scanJobs(LaunchdBrowser::Content::schedule);
        QCOMPARE(labels(schedule), labels(whole));
        QCOMPARE(schedule.size(), 3);
        for (qsizetype i = 0; i < schedule.size(); ++i) {
            const LaunchdJob& job = schedule.at(i);
            QCOMPARE(job.id, whole.at(i).id);
            QCOMPARE(job.startInterval, whole.at(i).startInterval);
            QCOMPARE(job.startCalendarInterval, whole.at(i).startCalendarInterval);
            QCOMPARE(job.disabled, whole.at(i).disabled);
            QCOMPARE(job.runAtLoad, whole.at(i).runAtLoad);
            QCOMPARE(job.keepAlive, whole.at(i).keepAlive);
            QCOMPARE(job.scheduleDescription(), whole.at(i).scheduleDescription());
            QVERIFY(!whole.at(i).raw.isEmpty());
            QVERIFY(job.raw.isEmpty());
            QCOMPARE(job.program, std::nullopt);
            QCOMPARE(job.programArguments, std::nullopt);
        }
        QCOMPARE(schedule.at(2).scheduleDescription(), QStringLiteral("Every 5 min"));
    }

    void convertsEveryValueType()
    {
        const QByteArray bytes = TestSupport::readFile(
            TestSupport::dataPath(QStringLiteral("systemjobs/everytype-binary.plist")));
        const auto dict = PlistVariant::readDictionary(bytes);
        QVERIFY(dict);
        QCOMPARE(dict->value(QStringLiteral("String")), QVariant(QStringLiteral("text ü")));
        QCOMPARE(dict->value(QStringLiteral("Integer")), QVariant(qint64(42)));
        QCOMPARE(dict->value(QStringLiteral("Negative")), QVariant(qint64(-7)));
        QCOMPARE(dict->value(QStringLiteral("Real")), QVariant(2.5));
        QCOMPARE(dict->value(QStringLiteral("True")), QVariant(true));
        QCOMPARE(dict->value(QStringLiteral("False")), QVariant(false));
        QCOMPARE(dict->value(QStringLiteral("Date")).toDateTime(),
                 QDateTime(QDate(2025, 3, 1), QTime(9, 0, 5), Qt::UTC));
        QCOMPARE(dict->value(QStringLiteral("Data")), QVariant(QByteArray("\x00\x01"
                                                                          "binary\xff",
                                                                          9)));
        QCOMPARE(dict->value(QStringLiteral("Uid")), QVariant(qint64(3)));
        const QVariantList array = dict->value(QStringLiteral("Array")).toList();
        QCOMPARE(array.size(), 3);
        QCOMPARE(array[1], QVariant(qint64(1)));
        QCOMPARE(array[2].toMap().value(QStringLiteral("Nested")), QVariant(true));
        QCOMPARE(dict->value(QStringLiteral("Dict")).toMap().value(QStringLiteral("Key")),
                 QVariant(QStringLiteral("value")));

        // Written back as XML and read again, every value survives (a uid becomes an integer).
        const auto xml = PlistVariant::toXml(*dict);
        QVERIFY(xml);
        QVERIFY(xml->startsWith("<?xml"));
        QCOMPARE(PlistVariant::readDictionary(*xml), dict);
    }

    void rejectsWhatIsNoDictionary_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("not a plist at all");
        QTest::newRow("truncated xml") << plist("<key>Label</key><string>x").left(120);
        QTest::newRow("array at top") << QByteArray(
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array>"
            "</plist>");
        QTest::newRow("truncated binary") << QByteArray("bplist00\xd1\x01\x02", 11);
    }

    void rejectsWhatIsNoDictionary()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(PlistVariant::readDictionary(bytes), std::nullopt);
    }

    void readsKeysWithTheirDefaults_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<bool>("runAtLoad");
        QTest::addColumn<bool>("keepAlive");

        const QByteArray label = "<key>Label</key><string>job</string>";
        QTest::newRow("nothing but a label") << label << "Manual"
                                             << "(unknown)" << false << false << false;
        QTest::newRow("program only") << label + "<key>Program</key><string>/bin/tool</string>"
                                      << "Manual"
                                      << "/bin/tool" << false << false << false;
        QTest::newRow("arguments win over program")
            << label + "<key>Program</key><string>/bin/tool</string>"
                       "<key>ProgramArguments</key><array><string>/bin/other</string>"
                       "<string>-v</string></array>"
            << "Manual"
            << "/bin/other -v" << false << false << false;
        QTest::newRow("arguments that are not all text")
            << label + "<key>ProgramArguments</key><array><string>/bin/a</string>"
                       "<integer>1</integer></array>"
            << "Manual"
            << "(unknown)" << false << false << false;
        QTest::newRow("program of another type") << label + "<key>Program</key><integer>5</integer>"
                                                 << "Manual"
                                                 << "(unknown)" << false << false << false;
        QTest::newRow("interval as text") << label + "<key>StartInterval</key><string>30</string>"
                                          << "Manual"
                                          << "(unknown)" << false << false << false;
        QTest::newRow("interval as real") << label + "<key>StartInterval</key><real>30</real>"
                                          << "Manual"
                                          << "(unknown)" << false << false << false;
        QTest::newRow("flags as text and integer")
            << label + "<key>Disabled</key><string>true</string>"
                       "<key>RunAtLoad</key><integer>1</integer>"
                       "<key>KeepAlive</key><string>YES</string>"
            << "Manual"
            << "(unknown)" << false << false << false;
        QTest::newRow("keep-alive conditions")
            << label + "<key>KeepAlive</key><dict><key>SuccessfulExit</key><false/></dict>"
            << "Manual"
            << "(unknown)" << false << false << false;
        QTest::newRow("keep alive") << label + "<key>KeepAlive</key><true/>"
                                    << "Keep alive"
                                    << "(unknown)" << false << false << true;
        QTest::newRow("run at load before keep alive")
            << label + "<key>KeepAlive</key><true/><key>RunAtLoad</key><true/>"
            << "Run at load"
            << "(unknown)" << false << true << true;
        QTest::newRow("calendar array falls through")
            << label + "<key>StartCalendarInterval</key><array><dict><key>Hour</key>"
                       "<integer>1</integer></dict></array><key>RunAtLoad</key><true/>"
            << "Run at load"
            << "(unknown)" << false << true << false;
        QTest::newRow("disabled") << label + "<key>Disabled</key><true/>"
                                  << "Manual"
                                  << "(unknown)" << true << false << false;
    }

    void readsKeysWithTheirDefaults()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, description);
        QFETCH(QString, command);
        QFETCH(bool, disabled);
        QFETCH(bool, runAtLoad);
        QFETCH(bool, keepAlive);
        const LaunchdJob job = single(body);
        QCOMPARE(job.label, QStringLiteral("job"));
        QCOMPARE(job.scheduleDescription(), description);
        QCOMPARE(job.commandLine(), command);
        QCOMPARE(job.disabled, disabled);
        QCOMPARE(job.runAtLoad, runAtLoad);
        QCOMPARE(job.keepAlive, keepAlive);
    }

    void calendarKeepsOnlyIntegers()
    {
        const LaunchdJob job =
            single("<key>Label</key><string>job</string><key>StartCalendarInterval</key><dict>"
                   "<key>Hour</key><integer>4</integer><key>Minute</key><string>30</string>"
                   "<key>Day</key><real>2</real><key>Weekday</key><true/><key>Month</key>"
                   "<integer>-1</integer></dict><key>StartInterval</key><string>9</string>");
        const QMap<QString, qint64> expected{{QStringLiteral("Hour"), 4},
                                             {QStringLiteral("Month"), -1}};
        QCOMPARE(job.startCalendarInterval, expected);
        QCOMPARE(job.scheduleDescription(), QStringLiteral("4:00"));
        QCOMPARE(job.raw.value(QStringLiteral("StartInterval")), QVariant(QStringLiteral("9")));
    }

    void describesSchedules_data()
    {
        QTest::addColumn<std::optional<qint64>>("interval");
        QTest::addColumn<OptionalCalendar>("calendar");
        QTest::addColumn<QString>("expected");
        using Calendar = QMap<QString, qint64>;
        const auto noCalendar = std::optional<Calendar>();
        const auto none = std::optional<qint64>();
        QTest::newRow("30 s") << std::optional<qint64>(30) << noCalendar << "Every 30 sec";
        QTest::newRow("59 s") << std::optional<qint64>(59) << noCalendar << "Every 59 sec";
        QTest::newRow("60 s") << std::optional<qint64>(60) << noCalendar << "Every 1 min";
        QTest::newRow("90 s") << std::optional<qint64>(90) << noCalendar << "Every 1 min";
        QTest::newRow("3600 s") << std::optional<qint64>(3600) << noCalendar << "Every 60 min";
        QTest::newRow("interval before calendar")
            << std::optional<qint64>(300)
            << std::optional<Calendar>{Calendar{{QStringLiteral("Hour"), 1}}} << "Every 5 min";
        QTest::newRow("hour and minute")
            << none
            << std::optional<Calendar>{Calendar{{QStringLiteral("Hour"), 3},
                                                {QStringLiteral("Minute"), 5}}}
            << "3:05";
        QTest::newRow("weekday and hour")
            << none
            << std::optional<Calendar>{Calendar{{QStringLiteral("Weekday"), 1},
                                                {QStringLiteral("Hour"), 9}}}
            << "Weekday 1, 9:00";
        QTest::newRow("day, hour, minute")
            << none
            << std::optional<Calendar>{Calendar{{QStringLiteral("Day"), 1},
                                                {QStringLiteral("Hour"), 2},
                                                {QStringLiteral("Minute"), 30}}}
            << "Day 1, 2:30";
        QTest::newRow("weekday 7")
            << none << std::optional<Calendar>{Calendar{{QStringLiteral("Weekday"), 7}}}
            << "Weekday 7";
        QTest::newRow("minute alone")
            << none << std::optional<Calendar>{Calendar{{QStringLiteral("Minute"), 15}}}
            << "Calendar interval";
        QTest::newRow("month only")
            << none << std::optional<Calendar>{Calendar{{QStringLiteral("Month"), 6}}}
            << "Calendar interval";
        QTest::newRow("empty calendar")
            << none << std::optional<Calendar>{Calendar{}} << "Calendar interval";
    }

    void describesSchedules()
    {
        QFETCH(std::optional<qint64>, interval);
        QFETCH(OptionalCalendar, calendar);
        QFETCH(QString, expected);
        LaunchdJob job;
        job.startInterval = interval;
        job.startCalendarInterval = calendar;
        job.runAtLoad = true; // must never win over an interval or a calendar
        QCOMPARE(job.scheduleDescription(), expected);
    }

    void onlyExactPlistExtensionIsRead()
    {
        const QString folder = newFolder();
        put(folder, QStringLiteral("a.plist"), labelled("listed"));
        put(folder, QStringLiteral(".hidden.plist"), labelled("hidden"));
        put(folder, QStringLiteral("b.PLIST"), labelled("capitals"));
        put(folder, QStringLiteral("c.plist.bak"), labelled("backup"));
        put(folder, QStringLiteral("d.Plist"), labelled("mixed case"));
        put(folder, QStringLiteral("plist"), labelled("no extension"));
        put(folder, QStringLiteral("e.xml"), labelled("xml"));
        const auto jobs = LaunchdBrowser({{folder, Source::userAgents}}).scanJobs();
        QCOMPARE(labels(jobs), QStringList({QStringLiteral("hidden"), QStringLiteral("listed")}));
    }

    // Tests run as root, where a mode of 000 does not stop reading; a dangling link, a folder
    // with a plist name, a FIFO, a device and files that do not parse are the unreadable
    // entries instead.
    void skipsWhatCannotBeRead()
    {
        const QString folder = newFolder();
        put(folder, QStringLiteral("good.plist"), labelled("good"));
        QVERIFY(QFile::link(folder + QStringLiteral("/nowhere"),
                            folder + QStringLiteral("/dangling.plist")));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/folder.plist")));
        put(folder, QStringLiteral("folder.plist/inner.plist"), labelled("inner"));
        put(folder, QStringLiteral("empty.plist"), QByteArray());
        put(folder, QStringLiteral("garbage.plist"), "\x00\x01garbage");
        put(folder, QStringLiteral("nolabel.plist"),
            plist("<key>Program</key><string>/bin/true</string>"));
        put(folder, QStringLiteral("intlabel.plist"),
            plist("<key>Label</key><integer>3</integer>"));
        put(folder, QStringLiteral("array.plist"),
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
        QVERIFY(QFile::link(folder + QStringLiteral("/good.plist"),
                            folder + QStringLiteral("/linked.plist")));
        // Neither may block or run forever.
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), folder + QStringLiteral("/zero.plist")));
        QCOMPARE(
            ::mkfifo(QFile::encodeName(folder + QStringLiteral("/fifo.plist")).constData(), 0600),
            0);
        const auto jobs =
            LaunchdBrowser({{m_dir.filePath(QStringLiteral("missing")), Source::userAgents},
                            {folder, Source::globalAgents}})
                .scanJobs();
        QCOMPARE(labels(jobs), QStringList({QStringLiteral("good"), QStringLiteral("good")}));
        QCOMPARE(jobs[0].id, folder + QStringLiteral("/good.plist"));
        QCOMPARE(jobs[1].id, folder + QStringLiteral("/linked.plist"));
    }

    // Files the folder lists as regular are read without a stat: the size bound must hold
    // all the same.
    void readsRegularFilesUpToTheLimit_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("read");
        QTest::newRow("past the first buffer") << qint64(200 * 1024) << true;
        // A read that fills what it asked for is not taken for the end of the file: sizes
        // about the first buffer (64 KiB, one byte kept for the closing NUL).
        QTest::newRow("two bytes short of the first buffer") << qint64(64 * 1024 - 2) << true;
        QTest::newRow("one byte short of the first buffer") << qint64(64 * 1024 - 1) << true;
        QTest::newRow("the first buffer") << qint64(64 * 1024) << true;
        QTest::newRow("a byte past the first buffer") << qint64(64 * 1024 + 1) << true;
        QTest::newRow("at the limit") << LaunchdBrowser::maxPlistBytes << true;
        QTest::newRow("one byte past the limit") << LaunchdBrowser::maxPlistBytes + 1 << false;
    }

    void readsRegularFilesUpToTheLimit()
    {
        QFETCH(qint64, size);
        QFETCH(bool, read);
        const QString folder = newFolder();
        QByteArray bytes = labelled("big", "<key>Pad</key><string></string>");
        const qsizetype at = bytes.indexOf("</string>\n</dict>");
        QVERIFY(at > 0 && size > bytes.size());
        bytes.insert(at, QByteArray(qsizetype(size) - bytes.size(), 'x'));
        QCOMPARE(qint64(bytes.size()), size);
        put(folder, QStringLiteral("big.plist"), bytes);
        put(folder, QStringLiteral("small.plist"), labelled("small"));
        const auto jobs = LaunchdBrowser({{folder, Source::userAgents}}).scanJobs();
        QCOMPARE(labels(jobs), read ? QStringList({QStringLiteral("big"), QStringLiteral("small")})
                                    : QStringList({QStringLiteral("small")}));
        if (read)
            QCOMPARE(jobs[0].raw.value(QStringLiteral("Pad")).toString().size(),
                     size - labelled("big", "<key>Pad</key><string></string>").size());
    }

    void sortsByLabelIgnoringCaseAndKeepsFolderOrder()
    {
        const QString user = newFolder();
        const QString agents = newFolder();
        const QString daemons = newFolder();
        put(user, QStringLiteral("1.plist"), labelled("gamma"));
        put(agents, QStringLiteral("2.plist"), labelled("Beta"));
        put(daemons, QStringLiteral("3.plist"), labelled("alpha"));
        put(daemons, QStringLiteral("0.plist"), labelled("same"));
        put(user, QStringLiteral("9.plist"), labelled("same"));
        const auto jobs = LaunchdBrowser({{user, Source::userAgents},
                                          {agents, Source::globalAgents},
                                          {daemons, Source::globalDaemons}})
                              .scanJobs();
        QCOMPARE(labels(jobs), QStringList({QStringLiteral("alpha"), QStringLiteral("Beta"),
                                            QStringLiteral("gamma"), QStringLiteral("same"),
                                            QStringLiteral("same")}));
        QCOMPARE(jobs[0].source, Source::globalDaemons);
        QCOMPARE(jobs[1].source, Source::globalAgents);
        QCOMPARE(jobs[2].source, Source::userAgents);
        QCOMPARE(jobs[3].source, Source::userAgents); // the user's folder is read first
        QCOMPARE(jobs[4].source, Source::globalDaemons);
    }

    // The C locale compares; the others sort by keys made once per label. Both ignore case and
    // keep the scan's order among equal labels.
    void sortsByLabelInEveryLocale_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char* name : {"C", "en_US", "de_DE", "sv_SE"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void sortsByLabelInEveryLocale()
    {
        QFETCH(QString, locale);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
        QList<LaunchdJob> jobs;
        int n = 0;
        for (const char* label : {"same", "gamma", "Beta", "SAME", "alpha", "Same"}) {
            LaunchdJob job;
            job.label = QString::fromLatin1(label);
            job.id = QString::number(++n);
            jobs.append(job);
        }
        LaunchdBrowser::sortByLabel(jobs);
        QStringList ids;
        for (const LaunchdJob& job : jobs)
            ids << job.id;
        QCOMPARE(labels(jobs), QStringList({"alpha", "Beta", "gamma", "same", "SAME", "Same"}));
        QCOMPARE(ids, QStringList({"5", "3", "2", "1", "4", "6"}));
    }

    void leavesOutOwnAgents()
    {
        const QString user = newFolder();
        const QString daemons = newFolder();
        put(user, QStringLiteral("task.plist"),
            labelled("com.brenmor-ops.task.3F2A9C1D-0000-0000-0000-000000000000"));
        put(daemons, QStringLiteral("helper.plist"), labelled("com.brenmor-ops.helper"));
        put(daemons, QStringLiteral("other.plist"), labelled("com.brenmor-opsx.helper"));
        put(user, QStringLiteral("upper.plist"), labelled("COM.BRENMOR-OPS.task.x"));
        const auto jobs =
            LaunchdBrowser({{user, Source::userAgents}, {daemons, Source::globalDaemons}})
                .scanJobs();
        QCOMPARE(labels(jobs), QStringList({QStringLiteral("COM.BRENMOR-OPS.task.x"),
                                            QStringLiteral("com.brenmor-opsx.helper")}));
    }

    void readsRealWorldPlists_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("schedule");
        QTest::addColumn<bool>("runAtLoad");
        QTest::addColumn<bool>("keepAlive");
        QTest::addColumn<QString>("stdoutPath");
        QTest::addColumn<QString>("stderrPath");

        const QString brew = QStringLiteral("/opt/homebrew/");
        QTest::newRow("logrotate")
            << "homebrew.mxcl.logrotate"
            << brew + "opt/logrotate/sbin/logrotate " + brew + "etc/logrotate.conf"
            << "6:25" << false << false << QString() << QString();
        QTest::newRow("nginx") << "homebrew.mxcl.nginx"
                               << brew + "opt/nginx/bin/nginx -g daemon off;"
                               << "Run at load" << true << false << QString() << QString();
        QTest::newRow("ollama") << "homebrew.mxcl.ollama" << brew + "opt/ollama/bin/ollama serve"
                                << "Run at load" << true << true << brew + "var/log/ollama.log"
                                << brew + "var/log/ollama.log";
        QTest::newRow("postgresql")
            << "homebrew.mxcl.postgresql@16"
            << brew + "opt/postgresql@16/bin/postgres -D " + brew + "var/postgresql@16"
            << "Run at load" << true << true << brew + "var/log/postgresql@16.log"
            << brew + "var/log/postgresql@16.log";
        QTest::newRow("redis") << "homebrew.mxcl.redis"
                               << brew + "opt/redis/bin/redis-server " + brew + "etc/redis.conf"
                               << "Run at load" << true << true << brew + "var/log/redis.log"
                               << brew + "var/log/redis.log";
        QTest::newRow("syncthing")
            << "net.syncthing.syncthing"
            << "/Users/USERNAME/bin/syncthing"
            << "Keep alive" << false << true << "/Users/USERNAME/Library/Logs/Syncthing.log"
            << "/Users/USERNAME/Library/Logs/Syncthing-Errors.log";
        QTest::newRow("nix-daemon")
            << "org.nixos.nix-daemon"
            << "/bin/sh -c /bin/wait4path /nix/var/nix/profiles/default/bin/nix-daemon && exec "
               "/nix/var/nix/profiles/default/bin/nix-daemon"
            << "Run at load" << true << true << QString() << "/var/log/nix-daemon.log";
    }

    void readsRealWorldPlists()
    {
        QFETCH(QString, label);
        QFETCH(QString, command);
        QFETCH(QString, schedule);
        QFETCH(bool, runAtLoad);
        QFETCH(bool, keepAlive);
        QFETCH(QString, stdoutPath);
        QFETCH(QString, stderrPath);
        const QString folder = TestSupport::dataPath(QStringLiteral("systemjobs/realworld"));
        const auto jobs = LaunchdBrowser({{folder, Source::globalDaemons}}).scanJobs();
        QCOMPARE(jobs.size(), 7);
        const auto it = std::find_if(jobs.cbegin(), jobs.cend(),
                                     [&](const LaunchdJob& job) { return job.label == label; });
        QVERIFY(it != jobs.cend());
        QCOMPARE(it->commandLine(), command);
        QCOMPARE(it->scheduleDescription(), schedule);
        QCOMPARE(it->runAtLoad, runAtLoad);
        QCOMPARE(it->keepAlive, keepAlive);
        QCOMPARE(it->disabled, false);
        QCOMPARE(it->program, std::nullopt);
        QCOMPARE(it->standardOutPath.value_or(QString()), stdoutPath);
        QCOMPARE(it->standardErrorPath.value_or(QString()), stderrPath);

        // The whole dictionary agrees with what Python's plistlib reads from the same file.
        QCOMPARE(QJsonObject::fromVariantMap(it->raw),
                 pythonReading(folder).value(QFileInfo(it->url).fileName()).toObject());
        // And the XML written back reads as the same dictionary.
        QCOMPARE(PlistVariant::readDictionary(it->rawPlistXml().toUtf8()), it->raw);
    }

    void sourceNames()
    {
        QCOMPARE(LaunchdJob::allSources(),
                 QList<Source>({Source::userAgents, Source::globalAgents, Source::globalDaemons}));
        QCOMPARE(LaunchdJob::sourceName(Source::userAgents), QStringLiteral("User Agents"));
        QCOMPARE(LaunchdJob::sourceName(Source::globalAgents), QStringLiteral("Global Agents"));
        QCOMPARE(LaunchdJob::sourceName(Source::globalDaemons), QStringLiteral("Global Daemons"));
    }

    void defaultFoldersAreTheLaunchdFolders()
    {
        const auto& folders = LaunchdBrowser::defaultFolders();
        QCOMPARE(folders.size(), 3);
        QCOMPARE(folders[0].path, QDir::homePath() + QStringLiteral("/Library/LaunchAgents"));
        QCOMPARE(folders[0].source, Source::userAgents);
        QCOMPARE(folders[1].path, QStringLiteral("/Library/LaunchAgents"));
        QCOMPARE(folders[1].source, Source::globalAgents);
        QCOMPARE(folders[2].path, QStringLiteral("/Library/LaunchDaemons"));
        QCOMPARE(folders[2].source, Source::globalDaemons);
    }

    void writesRawPlistBack()
    {
        const QString folder = newFolder();
        QFile::copy(TestSupport::dataPath(QStringLiteral("systemjobs/backup-binary.plist")),
                    folder + QStringLiteral("/backup.plist"));
        const auto jobs = LaunchdBrowser({{folder, Source::userAgents}}).scanJobs();
        QCOMPARE(jobs.size(), 1);
        QCOMPARE(jobs.first().rawPlistXml().toUtf8(),
                 TestSupport::readFile(
                     TestSupport::dataPath(QStringLiteral("systemjobs/backup-raw.xml"))));
    }

    void rawPlistThatCannotBeWritten()
    {
        LaunchdJob job;
        job.raw.insert(QStringLiteral("Label"), QStringLiteral("x"));
        job.raw.insert(QStringLiteral("Odd"), QVariant::fromValue(QStringList()));
        QCOMPARE(job.rawPlistXml(), QStringLiteral("(unable to display)"));
        job.raw.insert(QStringLiteral("Odd"), QVariant());
        QCOMPARE(job.rawPlistXml(), QStringLiteral("(unable to display)"));
    }

    void equalityIsByPath()
    {
        LaunchdJob a;
        a.id = QStringLiteral("/p/a.plist");
        a.label = QStringLiteral("one");
        LaunchdJob b = a;
        b.label = QStringLiteral("two");
        QVERIFY(a == b);
        QCOMPARE(qHash(a), qHash(b));
        b.id = QStringLiteral("/p/b.plist");
        QVERIFY(!(a == b));
    }
};

QTEST_GUILESS_MAIN(TestLaunchdBrowser)
#include "TestLaunchdBrowser.moc"
