// Changes interrupted at random moments (kill -9, Ctrl-C, SIGTERM to the tool's process group)
// with the real tool, launchctl and agent runner: afterwards one tool command, or one start of
// the application's store, leaves the task file, the plists, the scripts and the loaded agents
// in agreement, and no temporary of an interrupted write behind.
#include "AtomicFile.h"
#include "LaunchdService.h"
#include "RunnerTestSupport.h"
#include "TaskFile.h"
#include "TaskStore.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QThread>

#include <csignal>
#include <memory>
#include <unistd.h>

using namespace RunnerTest;
using namespace Qt::Literals::StringLiterals;

namespace {

QList<ScheduledTask> fileTasks(const TestHome& home)
{
    return TaskFile::read(home.taskFile()).tasks;
}

QSet<QString> loadedLabels()
{
    QSet<QString> labels;
    const ProcessResult listed = launchctl({u"list"_s});
    for (const QString& line : listed.outText().split(u'\n')) {
        const QString label = line.section(u'\t', -1);
        if (label.startsWith(LaunchdService::labelPrefix()))
            labels.insert(label);
    }
    return labels;
}

QStringList temporariesIn(const QStringList& folders)
{
    QStringList found;
    for (const QString& folder : folders) {
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
            const qsizetype stem = name.size() - 7;
            if (stem > 0 && AtomicFile::isTemporaryOf(name, name.left(stem)))
                found << folder + u'/' + name;
        }
    }
    return found;
}

// Everything that disagrees with the task file, one line each; empty when all agree.
QStringList disagreements(const TestHome& home, const LaunchdService& service)
{
    QStringList found;
    const QList<ScheduledTask> tasks = fileTasks(home);
    const QSet<QString> loaded = loadedLabels();
    QSet<QString> wantedPlists;
    QSet<QString> wantedScripts;
    QSet<QString> wantedLabels;
    for (const ScheduledTask& task : tasks) {
        if (!task.isEnabled)
            continue;
        const QString plist = service.paths().plistPath(task);
        const QString script = service.paths().scriptPath(task);
        wantedPlists << QFileInfo(plist).fileName();
        wantedScripts << QFileInfo(script).fileName();
        wantedLabels << LaunchdService::label(task);
        if (TestSupport::readFile(script) != service.scriptContent(task).toUtf8())
            found << u"stale or missing script of "_s + task.name;
        if (TestSupport::readFile(plist) != service.plistContent(task, script).toUtf8())
            found << u"stale or missing plist of "_s + task.name;
    }
    const auto compare = [&found](const QString& what, const QSet<QString>& present,
                                  const QSet<QString>& wanted) {
        for (const QString& name : present - wanted)
            found << what + u" not in the file or disabled: "_s + name;
        for (const QString& name : wanted - present)
            found << what + u" missing: "_s + name;
    };
    const QStringList plists = QDir(home.launchAgents()).entryList({u"*.plist"_s}, QDir::Files);
    const QStringList scripts =
        QDir(service.paths().scriptsDir).entryList({u"*.sh"_s}, QDir::Files);
    compare(u"plist"_s, QSet<QString>(plists.begin(), plists.end()), wantedPlists);
    compare(u"script"_s, QSet<QString>(scripts.begin(), scripts.end()), wantedScripts);
    compare(u"loaded agent"_s, loaded, wantedLabels);
    return found;
}

} // namespace

class TestInterruptedChanges : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_home = std::make_unique<TestHome>(); }
    void cleanup()
    {
        stopRunner();
        m_home.reset();
    }
    void killedChangesAreRepaired_data();
    void killedChangesAreRepaired();

private:
    // Starts the tool in a process group of its own (like a terminal's foreground job) and
    // sends `signal` to the whole group after `delayUs`; returns once it has ended.
    void interrupt(const QStringList& args, qint64 delayUs, int signal);

    std::unique_ptr<TestHome> m_home;
};

void TestInterruptedChanges::interrupt(const QStringList& args, qint64 delayUs, int signal)
{
    QProcess tool;
    tool.setProcessEnvironment(m_home->environment());
    tool.setStandardInputFile(QProcess::nullDevice());
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.setChildProcessModifier([] { ::setpgid(0, 0); });
    tool.start(TestSupport::binPath(u"brenmor-ops"_s), args);
    QVERIFY(tool.waitForStarted(timeoutMs));
    // The random moment of the interruption, not a wait for anything.
    QThread::usleep(quint64(delayUs));
    ::kill(-pid_t(tool.processId()), signal);
    // Ctrl-C and SIGTERM wait until the change is done and announced: the lock and the change
    // notification helper may each take their whole allowance on a loaded machine.
    const int endMs = TaskFile::toolLockWaitMs + TestSupport::eventTimeoutMs;
    if (!tool.waitForFinished(endMs)) {
        ::kill(-pid_t(tool.processId()), SIGKILL);
        tool.waitForFinished(-1);
        QFAIL("the tool did not end after the signal");
    }
}

void TestInterruptedChanges::killedChangesAreRepaired_data()
{
    QTest::addColumn<bool>("byApplication"); // else by one tool command
    QTest::newRow("one tool command") << false;
    QTest::newRow("one start of the application") << true;
}

void TestInterruptedChanges::killedChangesAreRepaired()
{
    QFETCH(bool, byApplication);
    const int kills = qEnvironmentVariableIntValue("BRENMOR_KILL_LOOP_KILLS");
    QVERIFY2(kills >= 40, "BRENMOR_KILL_LOOP_KILLS is set by the build");
    const TestHome& home = *m_home;
    const LaunchdService service(
        AgentPaths(std::nullopt, std::nullopt, home.dataFolder() + u"/Logs"_s));

    // A task never touched by the loop (its add starts the runner), and how long an
    // uninterrupted change takes: the kills fall anywhere within that span.
    const ProcessResult added =
        TestSupport::runTool(home, {u"add"_s, u"--name"_s, u"keep"_s, u"--command"_s, u"true"_s,
                                    u"--interval"_s, u"60"_s});
    QVERIFY2(added.exitCode == 0, added.err.constData());
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(TestSupport::runTool(home, {u"enable"_s, u"keep"_s}).exitCode, 0);
    const qint64 spanUs = qMax<qint64>(timer.nsecsElapsed() / 1000, 20000);

    QRandomGenerator random(20261209u + (byApplication ? 1 : 0));
    QSet<QString> commands;
    for (int round = 0; round < kills; ++round) {
        const QList<ScheduledTask> tasks = fileTasks(home);
        QStringList others;
        for (const ScheduledTask& task : tasks) {
            if (task.name != u"keep"_s)
                others << task.name;
        }
        QStringList args;
        switch (others.isEmpty() ? 0 : round % 4) {
        case 0:
            args = {u"add"_s,        u"--name"_s, u"t%1"_s.arg(round), u"--command"_s, u"true"_s,
                    u"--interval"_s, u"60"_s};
            break;
        case 1:
            args = {u"enable"_s, others.at(random.bounded(int(others.size())))};
            break;
        case 2:
            args = {u"disable"_s, others.at(random.bounded(int(others.size())))};
            break;
        default:
            args = {u"remove"_s, others.at(random.bounded(int(others.size())))};
            break;
        }
        commands.insert(args.first());
        // Mostly kill -9, which nothing can defer; Ctrl-C and SIGTERM now and then.
        const int signal = round % 5 == 3 ? SIGINT : round % 5 == 4 ? SIGTERM : SIGKILL;
        interrupt(args, qint64(random.bounded(double(spanUs))), signal);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(commands.size(), 4);

    // What a kill between the file write and launchctl leaves, for certain: an enabled task
    // whose agent is not loaded, a disabled task that still has its plist and script, and
    // temporaries of writes that never finished (one old, so abandoned; one fresh, perhaps a
    // write still on its way, which stays).
    const ProcessResult probe =
        TestSupport::runTool(home, {u"add"_s, u"--name"_s, u"probe"_s, u"--command"_s, u"true"_s,
                                    u"--interval"_s, u"60"_s});
    QVERIFY2(probe.exitCode == 0, probe.err.constData());
    const ProcessResult disabled =
        TestSupport::runTool(home, {u"add"_s, u"--name"_s, u"gone"_s, u"--command"_s, u"true"_s,
                                    u"--interval"_s, u"60"_s});
    QVERIFY2(disabled.exitCode == 0, disabled.err.constData());
    ScheduledTask probeTask;
    ScheduledTask goneTask;
    for (const ScheduledTask& task : fileTasks(home)) {
        if (task.name == u"probe"_s)
            probeTask = task;
        if (task.name == u"gone"_s)
            goneTask = task;
    }
    QCOMPARE(launchctl({u"unload"_s, service.paths().plistPath(probeTask)}).exitCode, 0);
    const QByteArray plistOfGone = TestSupport::readFile(service.paths().plistPath(goneTask));
    const QByteArray scriptOfGone = TestSupport::readFile(service.paths().scriptPath(goneTask));
    QVERIFY(TestSupport::runTool(home, {u"disable"_s, u"gone"_s}).exitCode == 0);
    TestSupport::writeFile(service.paths().plistPath(goneTask), plistOfGone);
    TestSupport::writeFile(service.paths().scriptPath(goneTask), scriptOfGone);
    const QStringList folders = {home.launchAgents(), service.paths().scriptsDir,
                                 home.dataFolder()};
    TestSupport::writeFile(home.dataFolder() + u"/tasks.json.Ab12Cd"_s, "[");
    TestSupport::writeFile(service.paths().scriptsDir + u"/BrenmorOps_00000000.sh.Zz9yX8"_s, "#!");
    const QString fresh = home.launchAgents() + u"/com.brenmor-ops.task.fresh.plist.Qq1Ww2"_s;
    // Every temporary there is now counts as left long ago, except the fresh one.
    const QDateTime longAgo =
        QDateTime::currentDateTimeUtc().addMSecs(-AtomicFile::abandonedAfterMs - 60000);
    for (const QString& path : temporariesIn(folders)) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }
    TestSupport::writeFile(fresh, "<");
    QVERIFY(!disagreements(home, service).isEmpty());

    if (byApplication) {
        TaskStore::Options options;
        options.logsDirectory = home.dataFolder() + u"/Logs"_s;
        TaskStore store(options);
        QVERIFY2(!store.lastError(), qPrintable(store.lastError().value_or(QString())));
        store.waitForScriptUpgrade();
    } else {
        const ProcessResult repaired = TestSupport::runTool(home, {u"enable"_s, u"keep"_s});
        QVERIFY2(repaired.exitCode == 0, repaired.err.constData());
    }
    const QStringList left = disagreements(home, service);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(u'\n')));
    QCOMPARE(temporariesIn(folders), QStringList{fresh});
}

QTEST_GUILESS_MAIN(TestInterruptedChanges)
#include "TestInterruptedChanges.moc"
