#include "AdminRequest.h"
#include "AgentEngine.h"
#include "ChangeNotification.h"
#include "Launchctl.h"
#include "LaunchctlCall.h"
#include "PmsetService.h"
#include "ShellQuoting.h"
#include "ShellScriptRunner.h"
#include "ShortcutsPickerView.h"
#include "SystemdEngine.h"
#include "SystemdUnits.h"
#include "TaskRunner.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <csignal>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Sets environment variables for one scope and puts the old values back.
class EnvironmentOverride {
public:
    EnvironmentOverride() = default;
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;
    ~EnvironmentOverride()
    {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
            if (it.value())
                qputenv(it.key().constData(), *it.value());
            else
                qunsetenv(it.key().constData());
        }
    }
    void set(const char* name, const QString& value)
    {
        if (!m_saved.contains(name))
            m_saved.insert(name, qEnvironmentVariableIsSet(name)
                                     ? std::optional<QByteArray>(qgetenv(name))
                                     : std::nullopt);
        qputenv(name, value.toUtf8());
    }

private:
    QHash<QByteArray, std::optional<QByteArray>> m_saved;
};

enum class Caller {
    launchctlProgram,
    pmset,
    postNotification,
    systemctlProbe,
    systemdEngine,
    shortcutsList,
    testRun,
    agentRunner,
    osascriptShell,
    adminRequest,
    pkexec,
};

} // namespace

Q_DECLARE_METATYPE(Caller)

// Every place that starts a program, pointed at a stand-in that notes its process and session:
// each child leads a session of its own, away from our terminal, except on the way to pkexec,
// whose own agent asks for the password on that terminal.
class TestChildSessions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void childLeadsItsOwnSession_data();
    void childLeadsItsOwnSession();

private:
    // An executable at `path` that writes "<pid> <session>" to `record`, then runs `tail`.
    static void writeStub(const QString& path, const QString& record,
                          const QByteArray& tail = "exit 0\n");
    static void startChild(Caller caller, const QString& stub, const QString& folder,
                           EnvironmentOverride& environment);
};

void TestChildSessions::writeStub(const QString& path, const QString& record,
                                  const QByteArray& tail)
{
    const QByteArray quoted = shellQuoted(record).toUtf8();
    TestSupport::writeScript(path, "#!/bin/sh\n"
                                   "read -r _ _ _ _ _ sid _ < /proc/$$/stat\n"
                                   "echo \"$$ $sid\" > " +
                                       shellQuoted(record + u".part"_s).toUtf8() + " && mv " +
                                       shellQuoted(record + u".part"_s).toUtf8() + " " + quoted +
                                       "\n" + tail);
}

void TestChildSessions::childLeadsItsOwnSession_data()
{
    QTest::addColumn<Caller>("caller");
    QTest::addColumn<QString>("stubName");
    QTest::addColumn<bool>("ownSession");
    QTest::addColumn<bool>("leader"); // of that session

    QTest::newRow("launchctl, a program of its own")
        << Caller::launchctlProgram << u"launchctl"_s << true << true;
    QTest::newRow("pmset -g sched") << Caller::pmset << u"pmset"_s << true << true;
    QTest::newRow("post-notification")
        << Caller::postNotification << u"post-notification"_s << true << true;
    QTest::newRow("systemctl, asking whether the manager answers")
        << Caller::systemctlProbe << u"systemctl"_s << true << true;
    QTest::newRow("systemctl of the systemd engine")
        << Caller::systemdEngine << u"systemctl"_s << true << true;
    QTest::newRow("the Shortcuts list") << Caller::shortcutsList << u"shortcuts"_s << true << true;
    QTest::newRow("a test run") << Caller::testRun << u"command"_s << true << true;
    // Qt starts a detached child from a session leader of its own that exits at once: the
    // runner is away from our terminal, and makes itself a leader as it starts.
    QTest::newRow("the agent runner, started detached")
        << Caller::agentRunner << u"brenmor-agent-runner"_s << true << false;
    QTest::newRow("osascript's shell") << Caller::osascriptShell << u"command"_s << true << true;
    // The two links from an administrator request to pkexec keep the terminal.
    QTest::newRow("osascript of an administrator request")
        << Caller::adminRequest << u"osascript"_s << false << false;
    QTest::newRow("pkexec") << Caller::pkexec << u"pkexec"_s << false << false;
}

void TestChildSessions::startChild(Caller caller, const QString& stub, const QString& folder,
                                   EnvironmentOverride& environment)
{
    switch (caller) {
    case Caller::launchctlProgram:
        environment.set("BRENMOR_OPS_LAUNCHCTL", stub);
        QVERIFY(!LaunchctlCall::isOwn(stub));
        QVERIFY(LaunchctlCall::run({u"list"_s}, TestSupport::eventTimeoutMs).finished);
        break;
    case Caller::pmset:
        environment.set("BRENMOR_OPS_PMSET", stub);
        PmsetService().currentWakeSchedule();
        break;
    case Caller::postNotification:
        environment.set("BRENMOR_OPS_COMPAT_DIR", folder);
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            environment.set("DBUS_SESSION_BUS_ADDRESS", u"unix:path="_s + folder + u"/bus"_s);
        ChangeNotification::postTasksDidChange();
        break;
    case Caller::systemctlProbe:
    case Caller::systemdEngine: {
        environment.set("PATH", folder + u':' + qEnvironmentVariable("PATH"));
        if (caller == Caller::systemctlProbe) {
            const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
            QVERIFY(QDir().mkpath(runtime + u"/systemd"_s));
            TestSupport::writeFile(runtime + u"/systemd/private"_s, {});
            QCOMPARE(AgentEngine::systemdManagerAnswers(), std::optional<bool>(true));
            break;
        }
        const QString label = u"com.brenmor-ops.task.session"_s;
        QVERIFY(QDir().mkpath(SystemdEngine::unitFolder()));
        TestSupport::writeFile(SystemdEngine::unitFolder() + u'/' +
                                   SystemdUnits::unitBaseName(label) + u".service"_s,
                               "[Service]\n");
        QString errors;
        QTextStream err(&errors);
        QCOMPARE(SystemdEngine().start(label, err), 0);
        break;
    }
    case Caller::shortcutsList: {
        environment.set("BRENMOR_OPS_SHORTCUTS", stub);
        ShortcutsPickerView picker;
        QTRY_VERIFY_WITH_TIMEOUT(!picker.isLoading(), TestSupport::eventTimeoutMs);
        break;
    }
    case Caller::testRun: {
        TaskRunner runner;
        runner.run(u"exec "_s + shellQuoted(stub), std::nullopt, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(!runner.isRunning(), TestSupport::eventTimeoutMs);
        QCOMPARE(runner.exitCode(), std::optional<int>(0));
        break;
    }
    case Caller::agentRunner: {
        environment.set("BRENMOR_OPS_AGENT_RUNNER", stub);
        environment.set("BRENMOR_OPS_ENGINE", u"runner"_s);
        QString output;
        QTextStream out(&output);
        QTextStream err(&output);
        QCOMPARE(Launchctl::run({u"list"_s}, out, err,
                                QFileInfo(TestSupport::compatPath(u"launchctl"_s)).path()),
                 0);
        break;
    }
    case Caller::osascriptShell:
    case Caller::pkexec: {
        ShellScriptSettings settings;
        settings.runningAsRoot = false;
        settings.pkexec = stub;
        settings.basePath = qEnvironmentVariable("PATH");
        ShellScriptStatement statement;
        statement.withAdministratorPrivileges = caller == Caller::pkexec;
        statement.command =
            caller == Caller::pkexec ? u"/bin/true"_s : u"exec "_s + shellQuoted(stub);
        const OsascriptOutcome outcome = runShellScript(statement, 0, settings);
        // The stand-in pkexec refuses, as one whose dialog was dismissed.
        QCOMPARE(outcome.exitStatus, caller == Caller::pkexec ? 1 : 0);
        break;
    }
    case Caller::adminRequest:
        environment.set("BRENMOR_OPS_OSASCRIPT", stub);
        QVERIFY(AdminRequest::runShellCommand(u"true"_s).ok());
        break;
    }
}

void TestChildSessions::childLeadsItsOwnSession()
{
    QFETCH(Caller, caller);
    QFETCH(QString, stubName);
    QFETCH(bool, ownSession);
    QFETCH(bool, leader);

    TestHome home;
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString record = folder.filePath(u"session"_s);
    const QString stub = folder.filePath(stubName);
    QByteArray tail = "exit 0\n";
    if (caller == Caller::agentRunner)
        tail = "exec " + shellQuoted(TestSupport::compatPath(u"brenmor-agent-runner"_s)).toUtf8() +
               " \"$@\"\n";
    else if (caller == Caller::pkexec)
        tail = "exit 127\n";
    writeStub(stub, record, tail);

    {
        EnvironmentOverride environment;
        startChild(caller, stub, folder.path(), environment);
        if (QTest::currentTestFailed())
            return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), TestSupport::eventTimeoutMs);
    const QList<QByteArray> fields = TestSupport::readFile(record).trimmed().split(' ');
    QCOMPARE(fields.size(), 2);
    const qint64 pid = fields.at(0).toLongLong();
    const qint64 session = fields.at(1).toLongLong();
    if (caller == Caller::agentRunner) {
        // The stand-in became the runner: it is stopped here, with nothing left of it.
        ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::processRunning(pid), TestSupport::eventTimeoutMs);
    }
    QCOMPARE(session != qint64(::getsid(0)), ownSession);
    if (leader)
        QCOMPARE(session, pid);
}

QTEST_MAIN(TestChildSessions)
#include "TestChildSessions.moc"
