// Which engine runs the agents: a systemd user manager when one answers, else the runner. A
// manager that is only slow to answer must not move the agents from the engine that holds them.
#include "AgentEngine.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

using Kind = AgentEngine::Kind;
Q_DECLARE_METATYPE(std::optional<Kind>)
Q_DECLARE_METATYPE(std::optional<bool>)

class TestAgentEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void chosenFollowsTheManagersAnswer_data()
    {
        QTest::addColumn<bool>("socket");          // the manager's private socket exists
        QTest::addColumn<QByteArray>("systemctl"); // the stand-in's body
        QTest::addColumn<std::optional<Kind>>("recorded");
        QTest::addColumn<std::optional<bool>>("answers");
        QTest::addColumn<Kind>("chosen");
        const QByteArray answers = "exit 0";
        const QByteArray refuses = "exit 1";
        // Longer than the probe's limit; the stand-in ends with its session when killed.
        const QByteArray late = "sleep 60";
        const std::optional<Kind> none;
        QTest::newRow("answers") << true << answers << none << std::optional(true) << Kind::systemd;
        QTest::newRow("answers, runner recorded") << true << answers << std::optional(Kind::runner)
                                                  << std::optional(true) << Kind::systemd;
        QTest::newRow("refuses") << true << refuses << std::optional(Kind::systemd)
                                 << std::optional(false) << Kind::runner;
        QTest::newRow("no socket: nothing asked") << false << late << std::optional(Kind::systemd)
                                                  << std::optional(false) << Kind::runner;
        QTest::newRow("late, systemd recorded") << true << late << std::optional(Kind::systemd)
                                                << std::optional<bool>() << Kind::systemd;
        QTest::newRow("late, runner recorded")
            << true << late << std::optional(Kind::runner) << std::optional<bool>() << Kind::runner;
        QTest::newRow("late, nothing recorded")
            << true << late << none << std::optional<bool>() << Kind::runner;
    }

    void chosenFollowsTheManagersAnswer()
    {
        QFETCH(bool, socket);
        QFETCH(QByteArray, systemctl);
        QFETCH(std::optional<Kind>, recorded);
        QFETCH(std::optional<bool>, answers);
        QFETCH(Kind, chosen);
        TestHome home;
        const QString bin = home.path() + QStringLiteral("/bin");
        QVERIFY(QDir().mkpath(bin));
        TestSupport::writeScript(bin + QStringLiteral("/systemctl"),
                                 "#!/bin/sh\n" + systemctl + '\n');
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ':' + path);
        qputenv("BRENMOR_OPS_SYSTEMD_PROBE_MS", "500");
        qunsetenv("BRENMOR_OPS_ENGINE");
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        QVERIFY(QDir().mkpath(runtime + QStringLiteral("/systemd")));
        if (socket)
            TestSupport::writeFile(runtime + QStringLiteral("/systemd/private"), {});
        if (recorded)
            QVERIFY(AgentEngine::record(*recorded).ok());

        QCOMPARE(AgentEngine::systemdManagerAnswers(), answers);
        const Result<Kind> picked = AgentEngine::chosen();
        qputenv("PATH", path);
        qunsetenv("BRENMOR_OPS_SYSTEMD_PROBE_MS");
        QVERIFY(picked.ok());
        QCOMPARE(*picked, chosen);
        // Choosing records nothing: the engine is recorded by whoever moves the agents.
        QCOMPARE(AgentEngine::recorded(), recorded);
    }
};

QTEST_GUILESS_MAIN(TestAgentEngine)
#include "TestAgentEngine.moc"
