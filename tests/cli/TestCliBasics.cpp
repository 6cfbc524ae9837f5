#include "AddOptions.h"
#include "ResultChecks.h"
#include "TaskBuilder.h"
#include "TaskFile.h"
#include "TestSupport.h"
#include "TextTable.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTextBoundaryFinder>

namespace {
QString usage()
{
    return QString::fromUtf8(TestSupport::readFile(TestSupport::dataPath("usage.txt")));
}

} // namespace

class TestCliBasics : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dispatch_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString u = usage();
        QTest::newRow("no words") << QStringList{} << 0 << u << QString();
        QTest::newRow("help") << QStringList{"help"} << 0 << u << QString();
        QTest::newRow("--help") << QStringList{"--help"} << 0 << u << QString();
        QTest::newRow("-h") << QStringList{"-h"} << 0 << u << QString();
        QTest::newRow("unknown") << QStringList{"foo"} << 1 << u << "Error: Unknown command: foo\n";
        QTest::newRow("case-sensitive")
            << QStringList{"LIST"} << 1 << u << "Error: Unknown command: LIST\n";
        const QString version =
            "brenmor-ops " + qEnvironmentVariable("BRENMOR_EXPECTED_VERSION") + "\n";
        QVERIFY(version != "brenmor-ops \n");
        QTest::newRow("version") << QStringList{"version"} << 0 << version << QString();
        QTest::newRow("--version extra words ignored")
            << QStringList{"--version", "x", "y"} << 0 << version << QString();
        QTest::newRow("remove alone") << QStringList{"remove"} << 1 << QString()
                                      << "Error: Usage: brenmor-ops remove <name-or-id>\n";
        QTest::newRow("rm alone") << QStringList{"rm"} << 1 << QString()
                                  << "Error: Usage: brenmor-ops remove <name-or-id>\n";
        QTest::newRow("enable alone") << QStringList{"enable"} << 1 << QString()
                                      << "Error: Usage: brenmor-ops enable <name-or-id>\n";
        QTest::newRow("disable alone") << QStringList{"disable"} << 1 << QString()
                                       << "Error: Usage: brenmor-ops disable <name-or-id>\n";
        QTest::newRow("list empty") << QStringList{"list"} << 0 << "No tasks configured.\n"
                                    << QString();
        QTest::newRow("ls empty") << QStringList{"ls"} << 0 << "No tasks configured.\n"
                                  << QString();
        QTest::newRow("status empty")
            << QStringList{"status"} << 0
            << QString::fromUtf8(
                   "Brenmor Ops Status\n──────────────────\nTasks:    0 total, 0 enabled\n"
                   "Engine:   Brenmor Ops agent runner\n")
            << QString();
    }
    void dispatch()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        TestHome home;
        const ProcessResult result = TestSupport::runTool(home, args);
        QCOMPARE(result.outText(), out);
        QCOMPARE(result.errText(), err);
        QCOMPARE(result.exitCode, exitCode);
        // Every invocation creates the data folder, private to the user, and no task file.
        QVERIFY(QFileInfo(home.dataFolder()).isDir());
        QCOMPARE(QFileInfo(home.dataFolder()).permissions() &
                     (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::ExeOther),
                 QFileDevice::Permissions());
        QVERIFY(!QFileInfo::exists(home.taskFile()));
    }

    // The tool starts on QtCore alone: the D-Bus and Secret Service libraries belong to the
    // notification helper and the application. (GLib comes with this system's QtCore itself.)
    void startsWithoutDesktopLibraries_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("version") << QStringList{"version"};
        QTest::newRow("list") << QStringList{"list"};
        QTest::newRow("status") << QStringList{"status"};
        // A write posts the change notification, through the helper.
        QTest::newRow("add") << QStringList{"add",  "--name",     "N", "--command",
                                            "true", "--interval", "5"};
    }
    void startsWithoutDesktopLibraries()
    {
#ifndef Q_OS_LINUX
        QSKIP("reads the log of glibc's dynamic loader");
#endif
        QFETCH(QStringList, args);
        TestHome home;
        QProcessEnvironment extra;
        extra.insert("BRENMOR_OPS_LAUNCHCTL", "/bin/true");
        extra.insert("BRENMOR_OPS_PMSET", "/bin/true");
        extra.insert("LD_DEBUG", "libs");
        // One file per process: the helper's loads are its own business.
        const QString logPrefix = home.path() + "/ld";
        extra.insert("LD_DEBUG_OUTPUT", logPrefix);
        const ProcessResult result = TestSupport::runTool(home, args, extra);
        QCOMPARE(result.exitCode, 0);
        const QString tool = TestSupport::binPath("brenmor-ops");
        QByteArray toolLog;
        for (const QFileInfo& log : QDir(home.path()).entryInfoList({"ld.*"}, QDir::Files)) {
            const QByteArray text = TestSupport::readFile(log.filePath());
            if (text.contains("initialize program: " + QFile::encodeName(tool)))
                toolLog = text;
        }
        QVERIFY2(toolLog.contains("libQt6Core"), "no loader log of brenmor-ops itself");
        for (const char* library : {"libQt6DBus", "libdbus-1", "libsecret", "libsystemd"})
            QVERIFY2(!toolLog.contains(library), library);
    }

    void usageTextMatchesTheKeptCopy()
    {
        const QString text = usage();
        QVERIFY(text.contains(QChar(0x2014)));
        QVERIFY(text.contains(QChar(0x2026)));
        QVERIFY(text.endsWith(QStringLiteral("brenmor-ops list\n")));
        QVERIFY(!text.endsWith(QStringLiteral("\n\n")));
    }

    void listTable()
    {
        TestHome home;
        QDir().mkpath(home.dataFolder());
        const ScheduledTask backup =
            TaskBuilder("Backup").command(QStringLiteral("echo hi")).daily({{3, 0}}).wake().build();
        VERIFY_OK(TaskFile::write(home.taskFile(), {backup}));
        const ProcessResult result = TestSupport::runTool(home, {"list"});
        QCOMPARE(result.exitCode, 0);
        const QStringList lines = result.outText().split('\n');
        QCOMPARE(lines.size(), 4); // three lines and the final line feed
        QCOMPARE(lines[0], QString("   Name    Schedule       Wake  ID      "));
        QCOMPARE(lines[1], QString(40, QChar(0x2500)));
        QCOMPARE(graphemeCount(lines[1]), graphemeCount(lines[0]));
        const QRegularExpression row(
            QString::fromUtf8(R"(^●  Backup  Daily at 3:00  wake  ([0-9a-f]{8})$)"));
        const auto match = row.match(lines[2]);
        QVERIFY2(match.hasMatch(), qPrintable(lines[2]));
        QCOMPARE(match.captured(1), backup.shortId());
        QVERIFY(lines[3].isEmpty());
    }

    void listColumnsCountGraphemes()
    {
        TestHome home;
        QDir().mkpath(home.dataFolder());
        const QString combining = QString("Cafe") + QChar(0x0301); // é as e + U+0301
        const QString emoji = QString::fromUtf8("Deploy 👩‍💻");
        VERIFY_OK(TaskFile::write(
            home.taskFile(),
            {TaskBuilder(combining).command(QStringLiteral("echo hi")).every(5).disabled().build(),
             TaskBuilder(emoji).command(QStringLiteral("echo hi")).atLoad().build(),
             TaskBuilder("Plain")
                 .command(QStringLiteral("echo hi"))
                 .weekly({2, 6}, {{9, 30}})
                 .wake()
                 .build()}));
        const ProcessResult result = TestSupport::runTool(home, {"ls"});
        QStringList lines = result.outText().split('\n');
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines.size(), 5);
        const int width = graphemeCount(lines[0]);
        for (const QString& line : lines)
            QCOMPARE(graphemeCount(line), width);
        QVERIFY(lines[2].startsWith(QString::fromUtf8("○  ") + combining + "  "));
        // The schedule column starts at the same grapheme offset on every row.
        const int scheduleColumn = graphemeCount(lines[0].left(lines[0].indexOf("Schedule")));
        for (int i = 2; i < lines.size(); ++i) {
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, lines[i]);
            for (int k = 0; k < scheduleColumn; ++k)
                finder.toNextBoundary();
            const QString rest = lines[i].mid(finder.position());
            QVERIFY2(rest.startsWith("Every") || rest.startsWith("Run at") ||
                         rest.startsWith("Mon"),
                     qPrintable(rest));
        }
    }

    // Names with control characters are listed escaped, and the columns still line up.
    void listEscapesControlCharacters()
    {
        TestHome home;
        QDir().mkpath(home.dataFolder());
        VERIFY_OK(TaskFile::write(
            home.taskFile(),
            {TaskBuilder(QStringLiteral("Red \x1b[31m\x1b]0;title\x07"))
                 .command(QStringLiteral("echo hi"))
                 .every(5)
                 .build(),
             TaskBuilder(QString("C1") + QChar(0x9b) + "2J\r\nx\x7f")
                 .command(QStringLiteral("echo hi"))
                 .atLoad()
                 .build(),
             TaskBuilder("Plain").command(QStringLiteral("echo hi")).atLoad().build()}));
        const ProcessResult result = TestSupport::runTool(home, {"list"});
        QCOMPARE(result.exitCode, 0);
        for (const char c : result.out)
            QVERIFY2(static_cast<unsigned char>(c) >= 0x20 || c == '\n', result.out.constData());
        QVERIFY(!result.outText().contains(QChar(0x9b)));
        QStringList lines = result.outText().split('\n');
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[2].startsWith(QStringLiteral("●  Red \\x1b[31m\\x1b]0;title\\x07  Every")));
        QVERIFY(lines[3].startsWith(QStringLiteral("●  C1\\u009b2J\\x0d\\x0ax\\x7f")));
        const qsizetype scheduleColumn = lines[0].indexOf("Schedule");
        for (int i = 2; i < lines.size(); ++i) {
            QCOMPARE(graphemeCount(lines[i]), graphemeCount(lines[0]));
            QVERIFY2(lines[i].mid(scheduleColumn).startsWith("Every") ||
                         lines[i].mid(scheduleColumn).startsWith("Run at load"),
                     qPrintable(lines[i]));
        }
    }

    void decodesArgumentsByteForByte_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ASCII") << QByteArray("echo hi") << true;
        QTest::newRow("two-byte") << QByteArray("caf\xc3\xa9") << true;
        QTest::newRow("three-byte") << QByteArray("\xe2\x82\xac 5") << true;
        QTest::newRow("four-byte") << QByteArray("\xf0\x9f\x98\x80") << true;
        QTest::newRow("highest code point") << QByteArray("\xf4\x8f\xbf\xbf") << true;
        QTest::newRow("stray byte") << QByteArray("a\xff"
                                                  "b")
                                    << false;
        QTest::newRow("bad continuation") << QByteArray("\xc3\x28") << false;
        QTest::newRow("overlong") << QByteArray("\xc0\xaf") << false;
        QTest::newRow("overlong three-byte") << QByteArray("\xe0\x80\xaf") << false;
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("cut short") << QByteArray("x\xe2\x82") << false;
    }
    void decodesArgumentsByteForByte()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        const QString text = AddOptions::decodeArgument(bytes);
        QCOMPARE(AddOptions::isValidText(text), valid);
        if (valid)
            QCOMPARE(text, QString::fromUtf8(bytes));
        else
            QVERIFY(!text.contains(QChar::ReplacementCharacter));
        // Every byte is accounted for: the valid parts and one stand-in per other byte.
        qsizetype standIns = 0;
        for (QChar c : text)
            standIns += c.isLowSurrogate() && !valid ? 1 : 0;
        QVERIFY(valid || standIns > 0);
    }

    void statusCountsEnabled()
    {
        TestHome home;
        QDir().mkpath(home.dataFolder());
        VERIFY_OK(TaskFile::write(
            home.taskFile(),
            {TaskBuilder("a").command(QStringLiteral("echo hi")).every(5).build(),
             TaskBuilder("b").command(QStringLiteral("echo hi")).every(5).disabled().build(),
             TaskBuilder("c").command(QStringLiteral("echo hi")).every(5).build()}));
        const ProcessResult result = TestSupport::runTool(home, {"status"});
        QCOMPARE(result.outText().split('\n').value(2), QString("Tasks:    3 total, 2 enabled"));
    }

    // The engine recorded by launchctl holds the agents; before any record, the one launchctl
    // will choose (forced, else a manager that answers, which a test home never has).
    void statusNamesTheEngine_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("forced");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("json");
        QTest::newRow("nothing recorded, no manager")
            << QByteArray() << QString() << "Engine:   Brenmor Ops agent runner"
            << "runner";
        QTest::newRow("nothing recorded, forced systemd") << QByteArray() << "systemd"
                                                          << "Engine:   systemd user manager"
                                                          << "systemd";
        QTest::newRow("recorded systemd") << QByteArray(R"({"engine": "systemd"})") << QString()
                                          << "Engine:   systemd user manager"
                                          << "systemd";
        QTest::newRow("recorded runner wins over the next choice")
            << QByteArray(R"({"engine": "runner"})") << "systemd"
            << "Engine:   Brenmor Ops agent runner"
            << "runner";
        QTest::newRow("unreadable record: the next choice")
            << QByteArray("{") << QString() << "Engine:   Brenmor Ops agent runner"
            << "runner";
    }
    void statusNamesTheEngine()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, forced);
        QFETCH(QString, line);
        QFETCH(QString, json);
        TestHome home;
        if (!record.isEmpty())
            TestSupport::writeFile(home.path() + "/.local/state/brenmor-ops/engine.json", record);
        QProcessEnvironment extra;
        if (!forced.isEmpty())
            extra.insert("BRENMOR_OPS_ENGINE", forced);
        const ProcessResult text = TestSupport::runTool(home, {"status"}, extra);
        QCOMPARE(text.outText().split('\n').value(3), line);
        const ProcessResult object = TestSupport::runTool(home, {"status", "--json"}, extra);
        QCOMPARE(QJsonDocument::fromJson(object.out).object().value("engine").toString(), json);
    }

    void damagedFileReadsAsEmptyAndIsKept_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("out");
        QTest::newRow("list") << "list"
                              << "No tasks configured.\n";
        QTest::newRow("status") << "status"
                                << QString::fromUtf8("Brenmor Ops Status\n──────────────────\n"
                                                     "Tasks:    0 total, 0 enabled\n"
                                                     "Engine:   Brenmor Ops agent runner\n");
    }
    void damagedFileReadsAsEmptyAndIsKept()
    {
        QFETCH(QString, command);
        QFETCH(QString, out);
        TestHome home;
        const QByteArray damaged = R"({"version": 2, "tasks": [{"id": "x"}]})";
        TestSupport::writeFile(home.taskFile(), damaged);
        const ProcessResult result = TestSupport::runTool(home, {command});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.outText(), out);
        QVERIFY(result.err.isEmpty());
        QCOMPARE(TestSupport::readFile(home.taskFile()), damaged);
    }

    void version1FileIsListed()
    {
        TestHome home;
        TestSupport::writeFile(home.taskFile(), R"([{"id": "ABCDEF12-0000-4000-8000-000000000001",
            "name": "Old", "command": "x", "useLoginShell": true, "isEnabled": true, "logs": [],
            "schedule": {"daily": {"hour": 7, "minute": 30}}}])");
        const ProcessResult result = TestSupport::runTool(home, {"list"});
        QVERIFY2(
            result.outText().contains(QString::fromUtf8("●  Old   Daily at 7:30        abcdef12")),
            qPrintable(result.outText()));
    }
};

QTEST_GUILESS_MAIN(TestCliBasics)
#include "TestCliBasics.moc"
