#include "ChangeNotification.h"
#include "Locations.h"
#include "TestSupport.h"
#include "ToolPaths.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

class TestChangeNotification : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void heard(const QString& name) { m_heard.append(name); }

private:
    QStringList m_heard;

private Q_SLOTS:
    void saveInAnotherProcessReachesObserver()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus: run under dbus-run-session");
        TestHome home;
        ChangeObserver observer;
        QVERIFY(observer.isListening());
        QSignalSpy spy(&observer, &ChangeObserver::received);
        const QString file = home.path() + "/tasks.json";
        const ProcessResult result =
            TestSupport::run(TestSupport::binPath("../tests/brenmor_post_change"), {file},
                             QProcessEnvironment::systemEnvironment());
        QCOMPARE(result.exitCode, 0);
        QVERIFY(QFileInfo::exists(file));
        QVERIFY(spy.wait(5000) || spy.count() > 0);
        QCOMPARE(spy.count(), 1);
    }

    void unrelatedSignalIsIgnored()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus: run under dbus-run-session");
        ChangeObserver observer;
        QSignalSpy spy(&observer, &ChangeObserver::received);
        // Hooked after the observer on the same connection: a signal heard here has been
        // handled by the observer already.
        m_heard.clear();
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.connect(QString(), "/com/brenmorops/Notifications",
                            "com.brenmorops.Notifications", "Posted", this, SLOT(heard(QString))));
        QDBusMessage other = QDBusMessage::createSignal("/com/brenmorops/Notifications",
                                                        "com.brenmorops.Notifications", "Posted");
        other << QString("com.brenmor-ops.somethingElse");
        bus.send(other);
        ChangeNotification::postTasksDidChange();
        QTRY_VERIFY_WITH_TIMEOUT(m_heard.contains("com.brenmor-ops.somethingElse") &&
                                     m_heard.contains(ChangeNotification::tasksDidChangeName()),
                                 TestSupport::eventTimeoutMs);
        bus.disconnect(QString(), "/com/brenmorops/Notifications", "com.brenmorops.Notifications",
                       "Posted", this, SLOT(heard(QString)));
        QCOMPARE(spy.count(), 1);
    }

    void postingWithoutBusIsSilent()
    {
        TestHome home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.path() + "/no-bus");
        const ProcessResult result =
            TestSupport::run(TestSupport::binPath("../tests/brenmor_post_change"),
                             {home.path() + "/tasks.json"}, environment);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.err.isEmpty(), result.err.constData());
    }

    void locationsFollowTheEnvironment()
    {
        TestHome home;
        QCOMPARE(Locations::dataFolder(), home.dataFolder());
        QCOMPARE(Locations::taskFilePath(), home.taskFile());
        QCOMPARE(Locations::userLaunchAgentsDir(), home.launchAgents());
        QVERIFY(Locations::ensureDataFolder().ok());
        QCOMPARE(QFileInfo(home.dataFolder()).permissions() &
                     (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());
    }

    void toolPathsCanBeOverridden()
    {
        qputenv("BRENMOR_OPS_LAUNCHCTL", "/opt/fake/launchctl");
        QCOMPARE(ToolPaths::launchctl(), QString("/opt/fake/launchctl"));
        qunsetenv("BRENMOR_OPS_LAUNCHCTL");
        qputenv("BRENMOR_OPS_COMPAT_DIR", "/opt/compat");
        QCOMPARE(ToolPaths::launchctl(), QString("/opt/compat/launchctl"));
        QCOMPARE(ToolPaths::pmset(), QString("/opt/compat/pmset"));
        QCOMPARE(ToolPaths::osascript(), QString("/opt/compat/osascript"));
        QCOMPARE(ToolPaths::postNotification(), QString("/opt/compat/post-notification"));
        qunsetenv("BRENMOR_OPS_COMPAT_DIR");
        // Without overrides the stand-ins sit in libexec/brenmor-ops beside bin/.
        QVERIFY(ToolPaths::pmset().endsWith("/libexec/brenmor-ops/pmset"));
    }
};

QTEST_GUILESS_MAIN(TestChangeNotification)
#include "TestChangeNotification.moc"
