// launchctl, the command-line tool and the agents on a real systemd user manager. The test
// re-runs itself through `unshare -m` as root: in a private mount namespace /run/systemd can be
// a fresh tmpfs holding the "system" marker the manager looks for, without touching the machine.
// Where that cannot be made, every test is skipped with the reason.
#include "RunnerTestSupport.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const insideVariable = "BRENMOR_SYSTEMD_NAMESPACE";
const char* const skipVariable = "BRENMOR_SYSTEMD_SKIP";
const QString managerProgram = QStringLiteral("/lib/systemd/systemd");
// A timer's first interval run comes a minute after the load; a slow machine gets more.
constexpr int intervalRunTimeoutMs = 150000;

// Re-runs this program inside a private mount namespace; returns only when it cannot, with
// the reason.
QString enterNamespace(char* argv[])
{
    if (::geteuid() != 0)
        return QStringLiteral("not root: a private mount namespace needs root");
    if (!QFileInfo(managerProgram).isExecutable())
        return QStringLiteral("%1 is missing (Debian package systemd)").arg(managerProgram);
    if (std::system("unshare -m true >/dev/null 2>&1") != 0)
        return QStringLiteral("unshare -m failed: no private mount namespace here");
    // Resolved now: after the exec, /proc/self/exe would be unshare itself.
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return QStringLiteral("cannot find this program: %1")
            .arg(QString::fromLocal8Bit(strerror(errno)));
    ::setenv(insideVariable, "1", 1);
    std::vector<char*> arguments{const_cast<char*>("unshare"), const_cast<char*>("-m"),
                                 const_cast<char*>("--propagation"), const_cast<char*>("private"),
                                 self};
    for (char** argument = argv + 1; *argument; ++argument)
        arguments.push_back(*argument);
    arguments.push_back(nullptr);
    ::execvp("unshare", arguments.data());
    return QStringLiteral("cannot run unshare: %1").arg(QString::fromLocal8Bit(strerror(errno)));
}

QString label(const QString& id) { return QStringLiteral("com.brenmor-ops.task.") + id; }

} // namespace

class TestSystemdEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void tasksRunAtLoadAndOnStart();
    void failedRunShowsItsStatus();
    void argumentsArriveAsGiven_data();
    void argumentsArriveAsGiven();
    void refusedAgentLeavesNoUnit();
    void oneReloadPerCall();
    void intervalTimerFires();
    void loginStartsRunAtLoadAgain();
    void unloadLeavesNoUnit();
    void switchingEnginesKeepsEveryTask();
    void untranslatableAgentKeepsTheRunner();

private:
    struct Task {
        QString id;
        QString shortId;
    };
    Task addTask(const QStringList& options, const QProcessEnvironment& extra = {});
    QString historyOf(const Task& task) const;
    QString unitFolder() const { return m_home->path() + QStringLiteral("/.config/systemd/user"); }
    QStringList ourUnitFiles() const;
    ProcessResult systemctl(const QStringList& arguments) const;
    QStringList reloads() const;
    QString recordedEngine() const;

    std::unique_ptr<TestHome> m_home;
    QProcess m_manager;
    QString m_callLog;
    Task m_interval;
};

void TestSystemdEngine::initTestCase()
{
    if (qEnvironmentVariableIsSet(skipVariable))
        QSKIP(qPrintable(qEnvironmentVariable(skipVariable)));
    m_home = std::make_unique<TestHome>();
    ::mkdir("/run/systemd", 0755);
    if (::mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=0755") != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs on /run/systemd: %1")
                             .arg(QString::fromLocal8Bit(strerror(errno)))));
    QVERIFY(QDir().mkpath(QStringLiteral("/run/systemd/system")));

    // Every systemctl call of launchctl goes through this, so the calls can be counted.
    const QString real = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    QVERIFY2(!real.isEmpty(), "systemctl is missing");
    m_callLog = m_home->path() + QStringLiteral("/systemctl-calls.log");
    const QString bin = m_home->path() + QStringLiteral("/bin");
    TestSupport::writeScript(bin + QStringLiteral("/systemctl"),
                             QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\nexec '%2' \"$@\"\n")
                                 .arg(m_callLog, real)
                                 .toUtf8());
    qputenv("PATH", (bin + u':' + qEnvironmentVariable("PATH")).toUtf8());

    m_manager.setProgram(managerProgram);
    m_manager.setArguments({QStringLiteral("--user")});
    m_manager.setStandardInputFile(QProcess::nullDevice());
    m_manager.setStandardOutputFile(m_home->path() + QStringLiteral("/manager.log"));
    m_manager.setStandardErrorFile(m_home->path() + QStringLiteral("/manager.log"));
    m_manager.start();
    QVERIFY(m_manager.waitForStarted());
    const QString socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/systemd/private";
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), RunnerTest::timeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(systemctl({"show", "--property=Version"}).exitCode, 0,
                              RunnerTest::timeoutMs);
}

void TestSystemdEngine::cleanupTestCase()
{
    if (!m_home)
        return;
    RunnerTest::stopRunner();
    m_manager.terminate();
    if (!m_manager.waitForFinished(RunnerTest::timeoutMs))
        m_manager.kill();
    m_manager.waitForFinished();
    ::umount("/run/systemd");
}

TestSystemdEngine::Task TestSystemdEngine::addTask(const QStringList& options,
                                                   const QProcessEnvironment& extra)
{
    const QString name = options.value(options.indexOf(QStringLiteral("--name")) + 1);
    const ProcessResult added =
        TestSupport::runTool(*m_home, QStringList{QStringLiteral("add")} + options, extra);
    if (added.exitCode != 0)
        qWarning("add failed: %s", added.err.constData());
    const ProcessResult listed = TestSupport::runTool(*m_home, {"list", "--json"});
    const QJsonArray tasks = QJsonDocument::fromJson(listed.out).object().value("tasks").toArray();
    for (const QJsonValue& value : tasks) {
        const QJsonObject task = value.toObject();
        if (task.value("name").toString() == name)
            return {task.value("id").toString(), task.value("shortId").toString()};
    }
    return {};
}

QString TestSystemdEngine::historyOf(const Task& task) const
{
    return QString::fromUtf8(
        TestSupport::readFile(m_home->dataFolder() + "/Logs/" + task.shortId + ".runs"));
}

QStringList TestSystemdEngine::ourUnitFiles() const
{
    QStringList files;
    QDir folder(unitFolder());
    for (const QString& sub : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString& name : QDir(folder.filePath(sub)).entryList({"brenmor-ops-*"}))
            files.append(sub + u'/' + name);
    files += folder.entryList({"brenmor-ops-*"}, QDir::Files | QDir::System);
    return files;
}

ProcessResult TestSystemdEngine::systemctl(const QStringList& arguments) const
{
    return TestSupport::run(QStringLiteral("systemctl"), QStringList{"--user"} + arguments,
                            QProcessEnvironment::systemEnvironment(), RunnerTest::timeoutMs);
}

QStringList TestSystemdEngine::reloads() const
{
    return QString::fromUtf8(TestSupport::readFile(m_callLog))
        .split(u'\n', Qt::SkipEmptyParts)
        .filter(QStringLiteral("daemon-reload"));
}

QString TestSystemdEngine::recordedEngine() const
{
    return QJsonDocument::fromJson(
               TestSupport::readFile(m_home->path() + "/.local/state/brenmor-ops/engine.json"))
        .object()
        .value("engine")
        .toString();
}

// A task that runs at load runs as soon as it is added; an interval task runs on
// `launchctl start`; both record their runs and show in launchctl list and systemd's timers.
void TestSystemdEngine::tasksRunAtLoadAndOnStart()
{
    const Task atLoad = addTask({"--name", "at load", "--command", "echo loaded", "--run-at-load"});
    QVERIFY(!atLoad.id.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!historyOf(atLoad).isEmpty(), RunnerTest::timeoutMs);
    QCOMPARE(recordedEngine(), QStringLiteral("systemd"));
    QCOMPARE(
        TestSupport::readFile(m_home->dataFolder() + "/Logs/" + atLoad.shortId + ".stdout.log"),
        QByteArray("loaded\n"));

    m_interval = addTask({"--name", "every minute", "--command", "echo tick", "--interval", "1"});
    QVERIFY(!m_interval.id.isEmpty());
    QVERIFY(historyOf(m_interval).isEmpty());
    const ProcessResult started = RunnerTest::launchctl({"start", label(m_interval.id)});
    QCOMPARE(started.exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!historyOf(m_interval).isEmpty(), RunnerTest::timeoutMs);

    const ProcessResult timers = systemctl({"list-timers", "brenmor-ops-*"});
    QVERIFY2(timers.outText().contains("brenmor-ops-" + label(m_interval.id) + ".timer"),
             timers.out.constData());
    QTRY_COMPARE_WITH_TIMEOUT(RunnerTest::listEntry(label(atLoad.id)),
                              (QStringList{"-", "0", label(atLoad.id)}), RunnerTest::timeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(RunnerTest::listEntry(label(m_interval.id)),
                              (QStringList{"-", "0", label(m_interval.id)}), RunnerTest::timeoutMs);
    // Unknown labels are launchd's "not found".
    const ProcessResult unknown = RunnerTest::launchctl({"start", "com.example.none"});
    QCOMPARE(unknown.exitCode, 3);
    QCOMPARE(unknown.errText(), QStringLiteral("Could not find specified service\n"));
}

// launchctl list shows the last exit status while nothing runs, and the PID while it does.
void TestSystemdEngine::failedRunShowsItsStatus()
{
    const Task failing = addTask({"--name", "fails", "--command", "exit 3", "--run-at-load"});
    QTRY_COMPARE_WITH_TIMEOUT(RunnerTest::listEntry(label(failing.id)),
                              (QStringList{"-", "3", label(failing.id)}), RunnerTest::timeoutMs);
    const Task slow = addTask({"--name", "slow", "--command", "sleep 30", "--run-at-load"});
    QTRY_VERIFY_WITH_TIMEOUT(RunnerTest::listEntry(label(slow.id)).value(0).toLongLong() > 0,
                             RunnerTest::timeoutMs);
    QCOMPARE(TestSupport::runTool(*m_home, {"remove", "slow"}).exitCode, 0);
    QCOMPARE(TestSupport::runTool(*m_home, {"remove", "fails"}).exitCode, 0);
}

// ExecStart= is quoted so the program gets exactly the plist's arguments.
void TestSystemdEngine::argumentsArriveAsGiven_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("spaces") << "two  words";
    QTest::newRow("quotes") << "it's \"quoted\"";
    QTest::newRow("backslashes") << "back\\slash \\n";
    QTest::newRow("variable") << "$HOME ${PATH}";
    QTest::newRow("specifier") << "%h %% %";
    QTest::newRow("separator") << ";";
    QTest::newRow("tab") << "a\tb";
    QTest::newRow("non-ASCII") << QString::fromUtf8("über €");
    QTest::newRow("empty") << "";
}

void TestSystemdEngine::argumentsArriveAsGiven()
{
    QFETCH(QString, argument);
    const QString out = m_home->path() + QStringLiteral("/arguments.out");
    QFile::remove(out);
    const QString plist = RunnerTest::writePlist(
        m_home->path(), "com.example.arguments",
        {"/bin/sh", "-c", "for a; do printf '[%s]' \"$a\"; done; echo", "sh", argument, "end"},
        QStringLiteral("<key>RunAtLoad</key><true/><key>StandardOutPath</key><string>%1</string>")
            .arg(out));
    QCOMPARE(RunnerTest::launchctl({"load", plist}).exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(out).endsWith('\n'), RunnerTest::timeoutMs);
    QCOMPARE(QString::fromUtf8(TestSupport::readFile(out)),
             QStringLiteral("[%1][end]\n").arg(argument));
    QCOMPARE(RunnerTest::launchctl({"unload", plist}).exitCode, 0);
}

// An agent with a key systemd cannot keep is refused by name and leaves no unit; the other
// agents of the same call load.
void TestSystemdEngine::refusedAgentLeavesNoUnit()
{
    const QString good = RunnerTest::writePlist(m_home->path(), "com.example.good", {"/bin/true"},
                                                "<key>StartInterval</key><integer>600</integer>");
    const QString bad = RunnerTest::writePlist(m_home->path(), "com.example.bad", {"/bin/true"},
                                               "<key>KeepAlive</key><true/>");
    const ProcessResult loaded = RunnerTest::launchctl({"load", good, bad});
    QCOMPARE(loaded.exitCode, 5);
    QVERIFY2(loaded.errText().contains(
                 bad + ": unsupported key KeepAlive: the systemd user manager cannot run it"),
             loaded.err.constData());
    QVERIFY(loaded.errText().contains(bad + ": Load failed: 5: Input/output error"));
    QVERIFY(!loaded.errText().contains(good));
    QVERIFY(QFileInfo::exists(unitFolder() + "/brenmor-ops-com.example.good.timer"));
    QVERIFY(!ourUnitFiles().join(u' ').contains("com.example.bad"));
    QVERIFY(RunnerTest::listEntry("com.example.bad").isEmpty());
    QCOMPARE(RunnerTest::launchctl({"unload", good}).exitCode, 0);
}

// However many agents one call (un)loads, the manager reloads once.
void TestSystemdEngine::oneReloadPerCall()
{
    QStringList plists;
    for (int i = 0; i < 3; ++i)
        plists.append(RunnerTest::writePlist(
            m_home->path(), QStringLiteral("com.example.r%1").arg(i), {"/bin/true"},
            "<key>StartInterval</key><integer>600</integer>"));
    QFile::remove(m_callLog);
    QCOMPARE(RunnerTest::launchctl(QStringList{"load"} + plists).exitCode, 0);
    QCOMPARE(reloads().size(), 1);
    QFile::remove(m_callLog);
    QCOMPARE(RunnerTest::launchctl(QStringList{"unload"} + plists).exitCode, 0);
    QCOMPARE(reloads().size(), 1);
    QVERIFY(!ourUnitFiles().join(u' ').contains("com.example.r"));
}

// The interval task's timer starts it on its own a minute after its last run.
void TestSystemdEngine::intervalTimerFires()
{
    QVERIFY(!m_interval.id.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(historyOf(m_interval).count(u'\n') >= 2, intervalRunTimeoutMs);
}

// A run-at-load task runs again when the user manager starts at the next login; the timers come
// back enabled.
void TestSystemdEngine::loginStartsRunAtLoadAgain()
{
    const Task atLoad = addTask({"--name", "at login", "--command", "true", "--run-at-load"});
    QTRY_COMPARE_WITH_TIMEOUT(historyOf(atLoad).count(u'\n'), 1, RunnerTest::timeoutMs);
    m_manager.terminate();
    QVERIFY(m_manager.waitForFinished(RunnerTest::timeoutMs));
    m_manager.start();
    QVERIFY(m_manager.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(historyOf(atLoad).count(u'\n'), 2, RunnerTest::timeoutMs);
    const ProcessResult timers = systemctl({"list-timers", "--no-legend", "brenmor-ops-*"});
    QVERIFY2(timers.outText().contains(label(m_interval.id)), timers.out.constData());
    QCOMPARE(TestSupport::runTool(*m_home, {"remove", "at login"}).exitCode, 0);
}

// Removing the tasks leaves no unit file, no enablement link and nothing loaded.
void TestSystemdEngine::unloadLeavesNoUnit()
{
    QVERIFY(!ourUnitFiles().isEmpty());
    QCOMPARE(TestSupport::runTool(*m_home, {"remove", "at load"}).exitCode, 0);
    QCOMPARE(TestSupport::runTool(*m_home, {"remove", "every minute"}).exitCode, 0);
    QCOMPARE(ourUnitFiles(), QStringList());
    const ProcessResult units = systemctl({"list-units", "--all", "--no-legend", "brenmor-ops-*"});
    QCOMPARE(units.outText(), QString());
    QCOMPARE(RunnerTest::launchctl({"list"}).outText(), QStringLiteral("PID\tStatus\tLabel\n"));
}

// Agents loaded on the runner move to systemd when it is found, and back when the runner is
// forced: none is lost either way.
void TestSystemdEngine::switchingEnginesKeepsEveryTask()
{
    QProcessEnvironment runner;
    runner.insert("BRENMOR_OPS_ENGINE", "runner");
    const Task daily =
        addTask({"--name", "daily", "--command", "true", "--daily", "03:00"}, runner);
    const Task often =
        addTask({"--name", "often", "--command", "true", "--interval", "30"}, runner);
    QCOMPARE(recordedEngine(), QStringLiteral("runner"));
    QCOMPARE(ourUnitFiles(), QStringList());
    const QStringList labels{label(daily.id), label(often.id)};
    for (const QString& each : labels)
        QVERIFY(RunnerTest::launchctl({"list"}, runner).outText().contains(each));

    // The next call finds the manager: the agents move.
    const ProcessResult found = RunnerTest::launchctl({"list"});
    QCOMPARE(found.exitCode, 0);
    QCOMPARE(recordedEngine(), QStringLiteral("systemd"));
    for (const QString& each : labels) {
        QVERIFY2(found.outText().contains(each), found.out.constData());
        QVERIFY(QFileInfo::exists(unitFolder() + "/brenmor-ops-" + each + ".timer"));
    }
    const QJsonObject state =
        QJsonDocument::fromJson(
            TestSupport::readFile(m_home->path() + "/.local/state/brenmor-ops/agents.json"))
            .object();
    QCOMPARE(state.value("jobs").toArray().size(), 0);
    QCOMPARE(TestSupport::runTool(*m_home, {"status"}).outText().split(u'\n').value(3),
             QStringLiteral("Engine:   systemd user manager"));

    // Forced back to the runner.
    const ProcessResult back = RunnerTest::launchctl({"list"}, runner);
    QCOMPARE(recordedEngine(), QStringLiteral("runner"));
    for (const QString& each : labels)
        QVERIFY2(back.outText().contains(each), back.out.constData());
    QCOMPARE(ourUnitFiles(), QStringList());

    QCOMPARE(TestSupport::runTool(*m_home, {"remove", "daily"}, runner).exitCode, 0);
    QCOMPARE(TestSupport::runTool(*m_home, {"remove", "often"}, runner).exitCode, 0);
}

// An agent systemd cannot run keeps every agent on the runner, and says why.
void TestSystemdEngine::untranslatableAgentKeepsTheRunner()
{
    QProcessEnvironment runner;
    runner.insert("BRENMOR_OPS_ENGINE", "runner");
    const QString plist = RunnerTest::writePlist(m_home->path(), "com.example.keepalive",
                                                 {"/bin/true"}, "<key>KeepAlive</key><false/>");
    QCOMPARE(RunnerTest::launchctl({"load", plist}, runner).exitCode, 0);
    const ProcessResult listed = RunnerTest::launchctl({"list"});
    QCOMPARE(listed.exitCode, 0);
    QVERIFY2(listed.errText().contains("the agents stay on the Brenmor Ops agent runner") &&
                 listed.errText().contains("KeepAlive"),
             listed.err.constData());
    QVERIFY(listed.outText().contains("com.example.keepalive"));
    QCOMPARE(recordedEngine(), QStringLiteral("runner"));
    QCOMPARE(ourUnitFiles(), QStringList());
    QCOMPARE(RunnerTest::launchctl({"unload", plist}, runner).exitCode, 0);
}

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet(insideVariable))
        qputenv(skipVariable, enterNamespace(argv).toUtf8());
    QCoreApplication app(argc, argv);
    TestSystemdEngine test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestSystemdEngine.moc"
