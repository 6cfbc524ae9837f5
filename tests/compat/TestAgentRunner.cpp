#include "RunnerTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace RunnerTest;

namespace {

QString key(const QString& name, const QString& valueXml)
{
    return QStringLiteral("    <key>%1</key>\n    %2\n").arg(name, valueXml);
}

QString stringKey(const QString& name, const QString& value)
{
    return key(name, QStringLiteral("<string>%1</string>").arg(value.toHtmlEscaped()));
}

QStringList shell(const QString& script)
{
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"), script};
}

int lineCount(const QString& path) { return int(TestSupport::readFile(path).count('\n')); }

} // namespace

class TestAgentRunner : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestHome> m_home;
    QString m_folder;

    QString path(const QString& name) const { return m_folder + QLatin1Char('/') + name; }
    QString logKeys(const QString& name) const
    {
        return stringKey(QStringLiteral("StandardOutPath"), path(name + QStringLiteral(".out"))) +
               stringKey(QStringLiteral("StandardErrorPath"), path(name + QStringLiteral(".err")));
    }

private Q_SLOTS:
    void initTestCase() { ::umask(022); }

    void init()
    {
        m_home = std::make_unique<TestHome>();
        m_folder = m_home->path() + QStringLiteral("/work");
        QDir().mkpath(m_folder);
    }

    void cleanup()
    {
        stopRunner();
        m_home.reset();
    }

    void runAtLoadWritesLogsAndStatus()
    {
        const QString plistPath =
            writePlist(m_folder, QStringLiteral("test.hello"),
                       shell(QStringLiteral("echo hi; echo oops >&2; exit 3")),
                       logKeys(QStringLiteral("hello")) +
                           key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")));
        const ProcessResult load = launchctl({QStringLiteral("load"), plistPath});
        QCOMPARE(load.exitCode, 0);
        QCOMPARE(load.errText(), QString());
        QVERIFY(waitFor(
            [] { return listEntry(QStringLiteral("test.hello")).value(1) == QLatin1String("3"); }));
        QCOMPARE(listEntry(QStringLiteral("test.hello")).value(0), QStringLiteral("-"));
        QCOMPARE(TestSupport::readFile(path(QStringLiteral("hello.out"))), QByteArray("hi\n"));
        QCOMPARE(TestSupport::readFile(path(QStringLiteral("hello.err"))), QByteArray("oops\n"));
        // Created 0666 less the umask.
        QCOMPARE(QFileInfo(path(QStringLiteral("hello.out"))).permissions(),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                     QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther);

        const ProcessResult unload = launchctl({QStringLiteral("unload"), plistPath});
        QCOMPARE(unload.exitCode, 0);
        QCOMPARE(unload.errText(), QString());
        QVERIFY(listEntry(QStringLiteral("test.hello")).isEmpty());
        const ProcessResult list = launchctl({QStringLiteral("list")});
        QCOMPARE(list.outText(), QStringLiteral("PID\tStatus\tLabel\n"));
    }

    void logsAreAppendedAcrossRuns()
    {
        TestSupport::writeFile(path(QStringLiteral("again.out")), "earlier\n");
        const QString plistPath =
            writePlist(m_folder, QStringLiteral("test.again"), shell(QStringLiteral("echo run")),
                       logKeys(QStringLiteral("again")) +
                           key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QVERIFY(waitFor([this] { return lineCount(path(QStringLiteral("again.out"))) == 2; }));
        // Loading again replaces the job and, with RunAtLoad, runs it again.
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QVERIFY(waitFor([this] { return lineCount(path(QStringLiteral("again.out"))) == 3; }));
        QCOMPARE(TestSupport::readFile(path(QStringLiteral("again.out"))),
                 QByteArray("earlier\nrun\nrun\n"));
        const QStringList lines =
            launchctl({QStringLiteral("list")}).outText().split(QLatin1Char('\n'));
        QCOMPARE(lines.filter(QStringLiteral("test.again")).size(), 1);
    }

    void intervalJobRunsAgain()
    {
        const QString runs = path(QStringLiteral("interval.runs"));
        const QString plistPath = writePlist(
            m_folder, QStringLiteral("test.interval"),
            shell(QStringLiteral("date +%s >> '") + runs + QLatin1Char('\'')),
            key(QStringLiteral("StartInterval"), QStringLiteral("<integer>2</integer>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QVERIFY(waitFor([&] { return lineCount(runs) >= 2; }));
        QCOMPARE(listEntry(QStringLiteral("test.interval")).value(1), QStringLiteral("0"));
        // Unloaded, it stops.
        QCOMPARE(launchctl({QStringLiteral("unload"), plistPath}).exitCode, 0);
        QVERIFY(waitFor([&] { return listEntry(QStringLiteral("test.interval")).isEmpty(); }));
    }

    void malformedPlistFails_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<missing>": no file at all
        QTest::newRow("missing file") << QByteArray("<missing>");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("not a plist") << QByteArray("{\"Label\": \"x\"}\n");
        QTest::newRow("no label") << QByteArray(
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Program</key>"
            "<string>/bin/true</string></dict></plist>");
        QTest::newRow("no program")
            << QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key>"
                          "<string>x</string></dict></plist>");
    }
    void malformedPlistFails()
    {
        QFETCH(QByteArray, content);
        const QString plistPath = path(QStringLiteral("bad.plist"));
        if (content != "<missing>")
            TestSupport::writeFile(plistPath, content);
        const ProcessResult load = launchctl({QStringLiteral("load"), plistPath});
        QCOMPARE(load.exitCode, 5);
        QCOMPARE(load.errText(), QStringLiteral("Load failed: 5: Input/output error\n"));
    }

    void unloadUnknownJob()
    {
        const QString plistPath = writePlist(m_folder, QStringLiteral("test.never"),
                                             shell(QStringLiteral("true")), QString());
        for (const QString& target : {plistPath, path(QStringLiteral("absent.plist"))}) {
            const ProcessResult unload = launchctl({QStringLiteral("unload"), target});
            QCOMPARE(unload.exitCode, 0);
            QCOMPARE(unload.errText(), QStringLiteral("Could not find specified service\n"));
        }
    }

    void unloadAfterThePlistIsGone()
    {
        const QString plistPath = writePlist(m_folder, QStringLiteral("test.gone"),
                                             shell(QStringLiteral("true")), QString());
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QFile::remove(plistPath);
        const ProcessResult unload = launchctl({QStringLiteral("unload"), plistPath});
        QCOMPARE(unload.exitCode, 0);
        QCOMPARE(unload.errText(), QString());
        QVERIFY(listEntry(QStringLiteral("test.gone")).isEmpty());
    }

    void jobEnvironmentAndFolder()
    {
        const QString plistPath = writePlist(
            m_folder, QStringLiteral("test.env"), shell(QStringLiteral("pwd; env | sort")),
            logKeys(QStringLiteral("env")) +
                key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")));
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("BRENMOR_TEST_PRIVATE"), QStringLiteral("leaked"));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}, extra).exitCode, 0);
        QVERIFY(waitFor(
            [] { return listEntry(QStringLiteral("test.env")).value(1) == QLatin1String("0"); }));
        const QStringList lines =
            QString::fromUtf8(TestSupport::readFile(path(QStringLiteral("env.out"))))
                .split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), m_home->path());
        QVERIFY(lines.contains(QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin")));
        QVERIFY(lines.contains(QStringLiteral("HOME=") + m_home->path()));
        QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^USER=.+"))).size() == 1);
        QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^LOGNAME=.+"))).size() == 1);
        QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^SHELL=/.+"))).size() == 1);
        QVERIFY(lines.filter(QStringLiteral("BRENMOR_TEST_PRIVATE")).isEmpty());
        QVERIFY(lines.filter(QStringLiteral("BRENMOR_COMPAT_DIR")).isEmpty());
    }

    void unopenableLogStillRuns()
    {
        const QString marker = path(QStringLiteral("ran"));
        const QString plistPath = writePlist(
            m_folder, QStringLiteral("test.nolog"),
            shell(QStringLiteral("echo lost; echo kept >&2; touch '") + marker + QLatin1Char('\'')),
            stringKey(QStringLiteral("StandardOutPath"),
                      path(QStringLiteral("missing/folder/out.log"))) +
                stringKey(QStringLiteral("StandardErrorPath"), path(QStringLiteral("nolog.err"))) +
                key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QVERIFY(waitFor([&] { return QFileInfo::exists(marker); }));
        QVERIFY(waitFor([this] {
            return !TestSupport::readFile(path(QStringLiteral("nolog.err"))).isEmpty();
        }));
        QCOMPARE(TestSupport::readFile(path(QStringLiteral("nolog.err"))), QByteArray("kept\n"));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));
    }

    void programThatCannotStart()
    {
        const QString plistPath = writePlist(
            m_folder, QStringLiteral("test.absent"), {path(QStringLiteral("no-such-program"))},
            logKeys(QStringLiteral("absent")) +
                key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QCOMPARE(listEntry(QStringLiteral("test.absent")).value(1), QStringLiteral("78"));
        QVERIFY(
            TestSupport::readFile(path(QStringLiteral("absent.err"))).contains("no-such-program"));
    }

    void crashingJobIsReaped()
    {
        const QString plistPath = writePlist(
            m_folder, QStringLiteral("test.crash"), shell(QStringLiteral("kill -SEGV $$")),
            key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QVERIFY(waitFor([] {
            return listEntry(QStringLiteral("test.crash")).value(1) == QLatin1String("-11");
        }));
        QCOMPARE(listEntry(QStringLiteral("test.crash")).value(0), QStringLiteral("-"));
    }

    void hangingJobIsNotStartedTwice()
    {
        const QString starts = path(QStringLiteral("hang.starts"));
        const QString plistPath = writePlist(
            m_folder, QStringLiteral("test.hang"),
            shell(QStringLiteral("echo start >> '") + starts + QStringLiteral("'; exec sleep 600")),
            key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")) +
                key(QStringLiteral("StartInterval"), QStringLiteral("<integer>1</integer>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QVERIFY(waitFor([&] { return lineCount(starts) == 1; }));
        const QString pid = listEntry(QStringLiteral("test.hang")).value(0);
        QVERIFY(pid.toLongLong() > 0);
        // Several intervals pass while it runs; each is skipped and the runner keeps answering.
        // A job loaded after it on the same one-second interval has started three times, so
        // the hanging job's first two intervals have come.
        const QString ticks = path(QStringLiteral("tick.starts"));
        const QString tickPlist = writePlist(
            m_folder, QStringLiteral("test.tick"),
            shell(QStringLiteral("echo tick >> '") + ticks + QStringLiteral("'")),
            key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")) +
                key(QStringLiteral("StartInterval"), QStringLiteral("<integer>1</integer>")));
        QCOMPARE(launchctl({QStringLiteral("load"), tickPlist}).exitCode, 0);
        QVERIFY(waitFor([&] { return lineCount(ticks) >= 3; }));
        QCOMPARE(launchctl({QStringLiteral("unload"), tickPlist}).exitCode, 0);
        QCOMPARE(lineCount(starts), 1);
        QCOMPARE(listEntry(QStringLiteral("test.hang")).value(0), pid);
        // Unloading kills nothing; the run goes on.
        QCOMPARE(launchctl({QStringLiteral("unload"), plistPath}).exitCode, 0);
        QVERIFY(processAlive(pid.toLongLong()));
        killGroup(pid.toLongLong());
    }

    void hugeOutputGoesStraightToTheLog()
    {
        const qint64 size = 100 * 1024 * 1024;
        const QString plistPath =
            writePlist(m_folder, QStringLiteral("test.huge"),
                       shell(QStringLiteral("head -c %1 /dev/zero").arg(size)),
                       logKeys(QStringLiteral("huge")) +
                           key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QVERIFY(waitFor(
            [] {
                return listEntry(QStringLiteral("test.huge")) ==
                       QStringList{QStringLiteral("-"), QStringLiteral("0"),
                                   QStringLiteral("test.huge")};
            },
            60000));
        QCOMPARE(QFileInfo(path(QStringLiteral("huge.out"))).size(), size);
        QFile::remove(path(QStringLiteral("huge.out")));
    }

    void killedRunnerComesBackWithItsJobs()
    {
        const QString runs = path(QStringLiteral("restart.runs"));
        const QString plistPath =
            writePlist(m_folder, QStringLiteral("test.restart"),
                       shell(QStringLiteral("echo run >> '") + runs + QLatin1Char('\'')),
                       key(QStringLiteral("RunAtLoad"), QStringLiteral("<true/>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QVERIFY(waitFor([&] { return lineCount(runs) == 1; }));
        const qint64 first = runnerPid();
        QVERIFY(first > 0);
        ::kill(pid_t(first), SIGKILL);
        QVERIFY(waitFor([first] { return !processAlive(first); }));
        // The next launchctl starts a new runner, which loads the job again (and, like a login,
        // runs it at load).
        QCOMPARE(listEntry(QStringLiteral("test.restart")).value(2),
                 QStringLiteral("test.restart"));
        QVERIFY(runnerPid() > 0 && runnerPid() != first);
        QVERIFY(waitFor([&] { return lineCount(runs) == 2; }));
    }

    // The state a new runner restores holds what was loaded, with its own plist bytes, and
    // nothing unloaded since.
    void restartedRunnerRestoresOnlyLoadedJobs()
    {
        const QString kept = writePlist(
            m_folder, QStringLiteral("test.kept"), {QStringLiteral("/bin/true")},
            key(QStringLiteral("StartInterval"), QStringLiteral("<integer>3600</integer>")));
        const QString dropped = writePlist(
            m_folder, QStringLiteral("test.dropped"), {QStringLiteral("/bin/true")},
            key(QStringLiteral("StartInterval"), QStringLiteral("<integer>3600</integer>")));
        QCOMPARE(launchctl({QStringLiteral("load"), kept, dropped}).exitCode, 0);
        QCOMPARE(launchctl({QStringLiteral("unload"), dropped}).exitCode, 0);
        // The files go: only the runner's own record can bring the job back.
        QVERIFY(QFile::remove(kept));
        QVERIFY(QFile::remove(dropped));
        const qint64 first = runnerPid();
        QVERIFY(first > 0);
        ::kill(pid_t(first), SIGKILL);
        QVERIFY(waitFor([first] { return !processAlive(first); }));
        QCOMPARE(listEntry(QStringLiteral("test.kept")).value(2), QStringLiteral("test.kept"));
        QVERIFY(runnerPid() > 0 && runnerPid() != first);
        QVERIFY(listEntry(QStringLiteral("test.dropped")).isEmpty());
    }

    void secondRunnerLeavesQuietly()
    {
        QCOMPARE(launchctl({QStringLiteral("list")}).exitCode, 0);
        const qint64 first = runnerPid();
        QVERIFY(first > 0);
        const ProcessResult second =
            TestSupport::run(TestSupport::compatPath(QStringLiteral("brenmor-agent-runner")), {},
                             QProcessEnvironment::systemEnvironment(), timeoutMs);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(runnerPid(), first);
        QCOMPARE(launchctl({QStringLiteral("list")}).exitCode, 0);
    }

    void runnerLeavesWhenItsFolderIsRemoved()
    {
        QCOMPARE(launchctl({QStringLiteral("list")}).exitCode, 0);
        const qint64 pid = runnerPid();
        QVERIFY(pid > 0);
        QDir(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/brenmor-ops"))
            .removeRecursively();
        QVERIFY(waitFor([pid] { return !processAlive(pid); }));
    }

    // Whoever owns the runtime folder or the socket would receive every plist: launchctl
    // connects only when both are the caller's alone and refuses otherwise.
    void refusesEndpointsOfOthers_data()
    {
        QTest::addColumn<uid_t>("folderOwner");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<uid_t>("socketOwner");
        QTest::addColumn<int>("socketMode");
        QTest::addColumn<bool>("blameFolder");
        QTest::addColumn<QString>("reason");
        const uid_t me = getuid();
        const uid_t other = me == 0 ? 65534 : 0;
        const QString foreign = QStringLiteral("belongs to another user (uid %1)").arg(other);
        QTest::newRow("folder of another user")
            << other << 0700 << other << 0700 << true << foreign;
        QTest::newRow("socket of another user in the caller's folder")
            << me << 0700 << other << 0700 << false << foreign;
        QTest::newRow("folder others may enter")
            << me << 0755 << me << 0700 << true
            << QStringLiteral("is open to other users (mode 0755)");
        QTest::newRow("socket others may use")
            << me << 0700 << me << 0777 << false
            << QStringLiteral("is open to other users (mode 0777)");
    }

    void refusesEndpointsOfOthers()
    {
        QFETCH(uid_t, folderOwner);
        QFETCH(int, folderMode);
        QFETCH(uid_t, socketOwner);
        QFETCH(int, socketMode);
        QFETCH(bool, blameFolder);
        QFETCH(QString, reason);
        if ((folderOwner != getuid() || socketOwner != getuid()) && geteuid() != 0)
            QSKIP("needs root to give the files to another user");

        // Someone else's listener, there before the caller's runner.
        const QString folder =
            qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/brenmor-ops");
        QVERIFY(QDir().mkpath(folder));
        QLocalServer server;
        QVERIFY(server.listen(folder + QStringLiteral("/agent-runner.sock")));
        const QString socket = server.fullServerName();
        QCOMPARE(::chown(QFile::encodeName(socket).constData(), socketOwner, socketOwner), 0);
        QCOMPARE(::chmod(QFile::encodeName(socket).constData(), mode_t(socketMode)), 0);
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), folderOwner, folderOwner), 0);
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)), 0);

        const QString plistPath = writePlist(m_folder, QStringLiteral("com.example.secret"),
                                             {QStringLiteral("/bin/true")}, QString());
        for (const QStringList& arguments : {QStringList{QStringLiteral("load"), plistPath},
                                             QStringList{QStringLiteral("list")}}) {
            const ProcessResult result = launchctl(arguments);
            QVERIFY(result.exitCode != 0);
            const QString expected =
                QStringLiteral("launchctl: %1 %2\n").arg(blameFolder ? folder : socket, reason);
            QVERIFY2(result.errText().endsWith(expected), result.err.constData());
        }
        QVERIFY(!server.waitForNewConnection(200));
        QVERIFY(!server.hasPendingConnections());
        QCOMPARE(runnerPid(), 0);
        // Give the folder back so the test home can be removed.
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), getuid(), getgid()), 0);
    }

    // launchctl start runs a loaded job once now, whatever its schedule; unknown labels and
    // a missing label are launchd's errors.
    void startRunsALoadedJobNow()
    {
        const QString runs = path(QStringLiteral("start.runs"));
        const QString plistPath = writePlist(
            m_folder, QStringLiteral("test.start"),
            shell(QStringLiteral("echo run >> '") + runs + QLatin1Char('\'')),
            key(QStringLiteral("StartInterval"), QStringLiteral("<integer>3600</integer>")));
        QCOMPARE(launchctl({QStringLiteral("load"), plistPath}).exitCode, 0);
        QCOMPARE(lineCount(runs), 0);
        QCOMPARE(launchctl({QStringLiteral("start"), QStringLiteral("test.start")}).exitCode, 0);
        QVERIFY(waitFor([&] { return lineCount(runs) == 1; }));

        const ProcessResult unknown = launchctl({QStringLiteral("start"), QStringLiteral("x.y")});
        QCOMPARE(unknown.exitCode, 3);
        QCOMPARE(unknown.errText(), QStringLiteral("Could not find specified service\n"));
        const ProcessResult bare = launchctl({QStringLiteral("start")});
        QCOMPARE(bare.exitCode, 1);
        QVERIFY(bare.errText().startsWith(QStringLiteral("Usage:")));
    }

    void unknownSubcommand()
    {
        const ProcessResult result = launchctl({QStringLiteral("bootstrap")});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.errText().startsWith(
            QStringLiteral("Unrecognized subcommand: bootstrap\nUsage:")));
    }
};

QTEST_GUILESS_MAIN(TestAgentRunner)
#include "TestAgentRunner.moc"
