// Desktop notices for failed runs: the message text, when the runner posts one, and the real
// runner posting exactly one per failed run to a notification server on the test's bus.
#include "FailureAlert.h"
#include "FailureNotifier.h"
#include "NotificationServer.h"
#include "ResultChecks.h"
#include "RunnerTestSupport.h"
#include "TaskFile.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace RunnerTest;

namespace {
const QString taskId = QStringLiteral("3F2A9C1D-0000-4000-8000-000000000001");
const QString taskLabel = QStringLiteral("com.brenmor-ops.task.") + taskId;
} // namespace

class TestFailureNotifier : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<NotificationServer> m_server;

    void seedTask() const
    {
        ScheduledTask task = ScheduledTask::create(QStringLiteral("Backup"), QStringLiteral("x"),
                                                   TaskSchedule::of<TaskSchedule::Interval>({5}));
        task.id = QUuid::fromString(taskId);
        QDir().mkpath(QFileInfo(m_home->taskFile()).absolutePath());
        VERIFY_OK(TaskFile::write(m_home->taskFile(), {task}));
    }

private Q_SLOTS:
    void init()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        m_home = std::make_unique<TestHome>();
        m_server = std::make_unique<NotificationServer>();
        QVERIFY(m_server->serveOn(QDBusConnection::sessionBus()));
        seedTask();
    }

    void cleanup()
    {
        stopRunner();
        m_server.reset();
        m_home.reset();
    }

    void message_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("exit status") << 3 << "Backup failed (exit 3) at 04:00";
        QTest::newRow("signal") << -9 << "Backup failed (signal 9) at 04:00";
        QTest::newRow("large status") << 255 << "Backup failed (exit 255) at 04:00";
    }
    void message()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        // The test runs with TZ=Europe/Berlin: 03:00 UTC is 04:00 in Berlin in winter: the time
        // shown is the user's wall clock.
        const QString shown = FailureAlert::message(
            QStringLiteral("Backup"), status, QDateTime(QDate(2026, 1, 5), QTime(3, 0), Qt::UTC));
        QCOMPARE(shown, text);
    }

    void whenToNotify_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("status");
        QTest::addColumn<QVariant>("preference"); // invalid: never set
        QTest::addColumn<bool>("appRunning");
        QTest::addColumn<QString>("summary"); // empty: no notice
        QTest::addColumn<QString>("body");

        const QString backupFailed =
            QStringLiteral("^Backup failed \\(exit 3\\) at \\d\\d:\\d\\d$");
        const QString logsHint = QStringLiteral("brenmor-ops logs 3f2a9c1d --stderr");
        QTest::newRow("failure") << taskLabel << 3 << QVariant() << false << backupFailed
                                 << logsHint;
        QTest::newRow("label in lower case finds the task")
            << QStringLiteral("com.brenmor-ops.task.") + taskId.toLower() << 3 << QVariant()
            << false << backupFailed << logsHint;
        QTest::newRow("success") << taskLabel << 0 << QVariant() << false << QString() << QString();
        QTest::newRow("signal") << taskLabel << -15 << QVariant() << false
                                << "^Backup failed \\(signal 15\\) at \\d\\d:\\d\\d$" << logsHint;
        QTest::newRow("preference on")
            << taskLabel << 3 << QVariant(true) << false << backupFailed << logsHint;
        QTest::newRow("preference off")
            << taskLabel << 3 << QVariant(false) << false << QString() << QString();
        QTest::newRow("application running tells the user itself")
            << taskLabel << 3 << QVariant() << true << QString() << QString();
        QTest::newRow("removed task shows the label")
            << QStringLiteral("com.brenmor-ops.task.AAAAAAAA-0000-4000-8000-000000000009") << 1
            << QVariant() << false
            << "^com\\.brenmor-ops\\.task\\.AAAAAAAA-0000-4000-8000-000000000009 failed \\(exit "
               "1\\) at \\d\\d:\\d\\d$"
            << QString();
        QTest::newRow("not one of ours") << QStringLiteral("org.example.sync") << 1 << QVariant()
                                         << false << QString() << QString();
    }
    void whenToNotify()
    {
        QFETCH(QString, label);
        QFETCH(int, status);
        QFETCH(QVariant, preference);
        QFETCH(bool, appRunning);
        QFETCH(QString, summary);
        QFETCH(QString, body);

        if (preference.isValid())
            FailureAlert::openPreferences()->setValue(FailureAlert::notifyOnFailureKey(),
                                                      preference);
        QDBusConnection app = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                            QStringLiteral("application"));
        if (appRunning)
            QVERIFY(app.registerService(FailureAlert::applicationBusName()));

        FailureNotifier notifier(m_home->taskFile(), QDBusConnection::sessionBus());
        QSignalSpy handled(&notifier, &FailureNotifier::runHandled);
        notifier.runEnded(label, status);
        // The application leaves only once the notifier has asked whether it runs.
        QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 1, timeoutMs);
        QCOMPARE(handled.constFirst().at(1).toBool(), !summary.isEmpty());
        if (!summary.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(m_server->notices.size(), 1, timeoutMs);
            QVERIFY2(QRegularExpression(summary).match(m_server->notices[0].summary).hasMatch(),
                     qPrintable(m_server->notices[0].summary));
            QCOMPARE(m_server->notices[0].body, body);
            QCOMPARE(m_server->notices[0].appName, QStringLiteral("Brenmor Ops"));
        }
        // Nothing (more) was sent: a failure reported next, with notices on and no application,
        // is the notice that follows.
        app.unregisterService(FailureAlert::applicationBusName());
        FailureAlert::openPreferences()->setValue(FailureAlert::notifyOnFailureKey(), true);
        notifier.runEnded(taskLabel, 99);
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->notices.isEmpty() &&
                                     m_server->notices.last().summary.contains(
                                         QStringLiteral("Backup failed (exit 99)")),
                                 timeoutMs);
        QCOMPARE(m_server->notices.size(), summary.isEmpty() ? 1 : 2);
        QDBusConnection::disconnectFromBus(QStringLiteral("application"));
        FailureAlert::openPreferences()->remove(FailureAlert::notifyOnFailureKey());
    }

    // The real runner: one notice for the failed run, none for the successful one.
    void runnerNotifiesOncePerFailedRun()
    {
        const QString folder = m_home->path() + QStringLiteral("/work");
        QDir().mkpath(folder);
        const QString runAtLoad = QStringLiteral("<key>RunAtLoad</key><true/>");
        const QString failing = writePlist(
            folder, taskLabel,
            {QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("exit 3")}, runAtLoad);
        const QString fine = writePlist(
            folder, QStringLiteral("com.brenmor-ops.task.BBBBBBBB-0000-4000-8000-000000000002"),
            {QStringLiteral("/bin/true")}, runAtLoad);
        QCOMPARE(launchctl({QStringLiteral("load"), fine}).exitCode, 0);
        QCOMPARE(launchctl({QStringLiteral("load"), failing}).exitCode, 0);
        QVERIFY(waitFor([] { return listEntry(taskLabel).value(1) == QLatin1String("3"); }));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->notices.size(), 1, timeoutMs);
        // None for the successful run: a failure that starts after it ended is the next notice.
        const QString fineLabel =
            QStringLiteral("com.brenmor-ops.task.BBBBBBBB-0000-4000-8000-000000000002");
        QVERIFY(waitFor([&] { return listEntry(fineLabel).value(1) == QLatin1String("0"); }));
        const QString later = writePlist(
            folder, QStringLiteral("com.brenmor-ops.task.CCCCCCCC-0000-4000-8000-000000000003"),
            {QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("exit 4")}, runAtLoad);
        QCOMPARE(launchctl({QStringLiteral("load"), later}).exitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_server->notices.isEmpty() &&
                m_server->notices.last().summary.contains(QStringLiteral("(exit 4)")),
            timeoutMs);
        QCOMPARE(m_server->notices.size(), 2);
        QVERIFY2(
            m_server->notices[0].summary.startsWith(QStringLiteral("Backup failed (exit 3) at ")),
            qPrintable(m_server->notices[0].summary));
    }
};

QTEST_GUILESS_MAIN(TestFailureNotifier)
#include "TestFailureNotifier.moc"
