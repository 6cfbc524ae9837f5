#include "RunnerTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

using namespace RunnerTest;

// The whole path on Linux: brenmor-ops installs an agent, launchctl hands it to the runner, the
// runner starts the wrapper script, which records the run.
class TestRunnerWithCli : public QObject {
    Q_OBJECT

private:
    // The short identifier of the only installed agent, from its plist name.
    static QString installedId8(const TestHome& home)
    {
        const QStringList plists =
            QDir(home.launchAgents()).entryList({QStringLiteral("com.brenmor-ops.task.*.plist")});
        if (plists.size() != 1)
            return {};
        return plists.first().mid(QStringLiteral("com.brenmor-ops.task.").size(), 8).toLower();
    }

    static QStringList historyLines(const QString& path)
    {
        return QString::fromUtf8(TestSupport::readFile(path))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    std::unique_ptr<TestHome> m_home;

private Q_SLOTS:
    void init() { m_home = std::make_unique<TestHome>(); }
    void cleanup()
    {
        stopRunner();
        m_home.reset();
    }

    void addedTaskRunsAndDisableUnloadsIt()
    {
        const TestHome& home = *m_home;
        // The command's own `exit` ends only the command: the wrapper still records status 3.
        const ProcessResult add = TestSupport::runTool(
            home, {QStringLiteral("add"), QStringLiteral("--name"), QStringLiteral("hello"),
                   QStringLiteral("--command"), QStringLiteral("echo hi; echo oops >&2; exit 3"),
                   QStringLiteral("--run-at-load")});
        QVERIFY2(add.exitCode == 0, qPrintable(add.errText()));
        const QString id8 = installedId8(home);
        QCOMPARE(id8.size(), 8);
        const QString logs = home.dataFolder() + QStringLiteral("/Logs/") + id8;
        const QString history = logs + QStringLiteral(".runs");

        QVERIFY(waitFor([&] { return historyLines(history).size() == 1; }));
        const QRegularExpression line(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\t\\d{4}-\\d\\d-"
                           "\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\t3$"));
        QVERIFY2(line.match(historyLines(history).first()).hasMatch(),
                 qPrintable(historyLines(history).first()));
        QCOMPARE(TestSupport::readFile(logs + QStringLiteral(".stdout.log")), QByteArray("hi\n"));
        QCOMPARE(TestSupport::readFile(logs + QStringLiteral(".stderr.log")), QByteArray("oops\n"));

        const QStringList plists = QDir(home.launchAgents()).entryList(QDir::Files);
        const QString label = plists.value(0).chopped(int(qstrlen(".plist")));
        QVERIFY(waitFor([&] { return listEntry(label).value(1) == QLatin1String("3"); }));

        const ProcessResult disable =
            TestSupport::runTool(home, {QStringLiteral("disable"), QStringLiteral("hello")});
        QVERIFY2(disable.exitCode == 0, qPrintable(disable.errText()));
        QVERIFY(listEntry(label).isEmpty());

        // Enabled again, the agent is loaded again and runs at load once more.
        const ProcessResult enable =
            TestSupport::runTool(home, {QStringLiteral("enable"), QStringLiteral("hello")});
        QVERIFY2(enable.exitCode == 0, qPrintable(enable.errText()));
        QVERIFY(waitFor([&] { return historyLines(history).size() == 2; }));
        QCOMPARE(listEntry(label).value(2), label);

        const ProcessResult remove =
            TestSupport::runTool(home, {QStringLiteral("remove"), QStringLiteral("hello")});
        QVERIFY2(remove.exitCode == 0, qPrintable(remove.errText()));
        QVERIFY(listEntry(label).isEmpty());
        // The history outlives the task.
        QCOMPARE(historyLines(history).size(), 2);
    }

    // Without XDG_RUNTIME_DIR the runner's folder is /tmp/brenmor-ops-<uid>; when another user
    // made it first, nothing is loaded and the user reads why and what to do.
    void takenRuntimeFolderIsExplained()
    {
        if (geteuid() != 0 || !QFile::exists(QStringLiteral("/usr/bin/setpriv")))
            QSKIP("needs root to act as two users");
        const uid_t user = 65534;
        const QString taken = QStringLiteral("/tmp/brenmor-ops-%1").arg(user);
        if (QFileInfo::exists(taken))
            QSKIP("the folder is there already");
        QVERIFY(QDir().mkdir(taken)); // root's, the squatter
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QCOMPARE(::chown(QFile::encodeName(home.path()).constData(), user, user), 0);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        for (const char* name :
             {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("HOME"), home.path());
        const ProcessResult added = TestSupport::run(
            QStringLiteral("/usr/bin/setpriv"),
            {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
             QStringLiteral("--clear-groups"), TestSupport::binPath(QStringLiteral("brenmor-ops")),
             QStringLiteral("add"), QStringLiteral("--name"), QStringLiteral("x"),
             QStringLiteral("--command"), QStringLiteral("true"), QStringLiteral("--interval"),
             QStringLiteral("5")},
            environment, timeoutMs, home.path());
        QDir(taken).removeRecursively();
        QCOMPARE(added.exitCode, 1);
        QVERIFY2(added.errText().contains(
                     QStringLiteral("Error: launchctl load failed (exit code 5): %1 belongs to "
                                    "another user (uid 0); another user made it first, so no "
                                    "agent can be started safely. Set XDG_RUNTIME_DIR to a "
                                    "private folder of yours (a login session normally does), "
                                    "or ask an administrator to remove %1\n")
                         .arg(taken)),
                 added.err.constData());
    }

    // Stopping the runner ends the runs with the session, as launchd does at logout: a run
    // still going is recorded as ended by SIGTERM, not as a success.
    void runStoppedWithTheRunnerIsRecorded143()
    {
        const TestHome& home = *m_home;
        const QString started = home.path() + QStringLiteral("/started");
        const ProcessResult add = TestSupport::runTool(
            home, {QStringLiteral("add"), QStringLiteral("--name"), QStringLiteral("long"),
                   QStringLiteral("--command"),
                   QStringLiteral("touch '%1'\nsleep 60\necho never").arg(started),
                   QStringLiteral("--run-at-load")});
        QVERIFY2(add.exitCode == 0, qPrintable(add.errText()));
        const QString id8 = installedId8(home);
        QCOMPARE(id8.size(), 8);
        const QString logs = home.dataFolder() + QStringLiteral("/Logs/") + id8;
        const QString history = logs + QStringLiteral(".runs");
        QVERIFY(waitFor([&] { return QFileInfo::exists(started); }));

        stopRunner();
        QVERIFY(waitFor([&] { return historyLines(history).size() == 1; }));
        QVERIFY2(historyLines(history).first().endsWith(QLatin1String("\t143")),
                 qPrintable(historyLines(history).first()));
        QCOMPARE(TestSupport::readFile(logs + QStringLiteral(".stdout.log")), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestRunnerWithCli)
#include "TestRunnerWithCli.moc"
