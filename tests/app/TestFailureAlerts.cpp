// Failure notifications while the application runs: run-history lines appended by the agents
// become desktop notifications on a notification server on the test's own bus, and choosing
// one shows the task.
#include "AppFakes.h"
#include "ContentView.h"
#include "FailureAlert.h"
#include "FailureAlerts.h"
#include "LogsWatcher.h"
#include "MainWindow.h"
#include "NotificationServer.h"
#include "TestSupport.h"
#include "UpdaterController.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString serverConnection = QStringLiteral("notification-server");

// A history line ending at `ended` with `status`, as the wrappers write it.
QByteArray historyLine(const QDateTime& ended, int status)
{
    const QString start = ended.addSecs(-2).toString(Qt::ISODate);
    return QStringLiteral("%1\t%2\t%3\n")
        .arg(start, ended.toString(Qt::ISODate))
        .arg(status)
        .toUtf8();
}

} // namespace

class TestFailureAlerts : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void actionSeen(uint, const QString&) { ++m_actionsSeen; }

private:
    std::unique_ptr<FakeStoreFixture> m_fixture;
    std::unique_ptr<UpdaterController> m_updater;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<NotificationServer> m_server;
    std::unique_ptr<FailureAlerts> m_alerts;
    FakeDialogs m_dialogs;
    int m_actionsSeen = 0;
    ScheduledTask m_task;
    QDateTime m_ended = QDateTime(QDate(2026, 1, 5), QTime(3, 0), Qt::UTC);

    QString logDir() const { return m_fixture->store->agentPaths().logDir; }
    QString historyOf(const ScheduledTask& task) const
    {
        return RunHistory::historyPath(logDir(), task.shortId());
    }
    void append(const QString& path, const QByteArray& bytes) const
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    QByteArray lines(const QList<int>& statuses)
    {
        QByteArray text;
        for (int status : statuses) {
            m_ended = m_ended.addSecs(60);
            text += historyLine(m_ended, status);
        }
        return text;
    }
    // Appends and returns once the application's watcher has read what was appended: every
    // notice that write brings has been sent by then.
    void appendAndAwait(const QString& path, const QByteArray& bytes) const
    {
        auto* watcher = m_alerts->findChild<LogsWatcher*>();
        QVERIFY(watcher);
        QSignalSpy changed(watcher, &LogsWatcher::changed);
        append(path, bytes);
        const QString name = QFileInfo(path).fileName();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::any_of(changed.cbegin(), changed.cend(),
                        [&](const QList<QVariant>& arguments) {
                            return QFileInfo(arguments.at(0).toString()).fileName() == name;
                        }),
            TestSupport::eventTimeoutMs);
    }
    // Nothing more comes: a failure of the task appended now, with notices on, is announced
    // after every notice sent before it, and is the only one after `count`.
    void expectNoMoreThan(qsizetype count)
    {
        FailureAlert::openPreferences()->setValue(FailureAlert::notifyOnFailureKey(), true);
        append(historyOf(m_task), lines({99}));
        const auto markerShown = [this] {
            return !m_server->notices.isEmpty() &&
                   m_server->notices.last().summary.contains(QStringLiteral("(exit 99)"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(markerShown(), TestSupport::eventTimeoutMs);
        QCOMPARE(m_server->notices.size(), count + 1);
        m_server->notices.removeLast();
    }
    void startApplication()
    {
        m_window = std::make_unique<MainWindow>(*m_fixture->store, *m_updater, m_dialogs,
                                                [] { return QList<LaunchdJob>(); });
        m_alerts = std::make_unique<FailureAlerts>(*m_fixture->store, *m_window,
                                                   QDBusConnection::sessionBus());
    }

private Q_SLOTS:
    void init()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        m_fixture = std::make_unique<FakeStoreFixture>();
        m_updater = std::make_unique<UpdaterController>();
        QVERIFY(QDir().mkpath(logDir()));
        m_task = ScheduledTask::create(QStringLiteral("Backup"), QStringLiteral("true"),
                                       TaskSchedule::of<TaskSchedule::Interval>({5}));
        m_fixture->store->addTask(m_task);
        // The server has a connection of its own, as the desktop's would: its signals reach
        // the application over the bus.
        m_server = std::make_unique<NotificationServer>();
        QVERIFY(m_server->serveOn(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, serverConnection)));
    }

    void cleanup()
    {
        m_alerts.reset();
        m_window.reset();
        m_server.reset();
        QDBusConnection::disconnectFromBus(serverConnection);
        FailureAlert::openPreferences()->remove(FailureAlert::notifyOnFailureKey());
        m_updater.reset();
        m_fixture.reset();
    }

    void oneNoticePerFailedRun_data()
    {
        QTest::addColumn<QByteArray>("atStart");        // the history when the application starts
        QTest::addColumn<QList<QByteArray>>("written"); // appended while it runs, in pieces
        QTest::addColumn<QVariant>("preference");       // invalid: never set
        QTest::addColumn<QList<int>>("announced");      // statuses, in order

        const QByteArray old = lines({0, 7, 0});
        QTest::newRow("failure appended")
            << old << QList<QByteArray>{lines({3})} << QVariant() << QList<int>{3};
        QTest::newRow("success appended")
            << old << QList<QByteArray>{lines({0})} << QVariant() << QList<int>{};
        QTest::newRow("failures among successes, one write")
            << old << QList<QByteArray>{lines({2, 0, -9})} << QVariant() << QList<int>{2, -9};
        QTest::newRow("history begun while running")
            << QByteArray() << QList<QByteArray>{lines({0, 1})} << QVariant() << QList<int>{1};
        const QByteArray torn = lines({4});
        QTest::newRow("line written in two pieces")
            << old << QList<QByteArray>{torn.left(20), torn.mid(20)} << QVariant() << QList<int>{4};
        QTest::newRow("preference off")
            << old << QList<QByteArray>{lines({3})} << QVariant(false) << QList<int>{};
        QTest::newRow("preference on")
            << old << QList<QByteArray>{lines({3})} << QVariant(true) << QList<int>{3};
        QTest::newRow("garbage line skipped")
            << old << QList<QByteArray>{QByteArray("not a record\n") + lines({5})} << QVariant()
            << QList<int>{5};
    }
    void oneNoticePerFailedRun()
    {
        QFETCH(QByteArray, atStart);
        QFETCH(QList<QByteArray>, written);
        QFETCH(QVariant, preference);
        QFETCH(QList<int>, announced);

        if (preference.isValid())
            FailureAlert::openPreferences()->setValue(FailureAlert::notifyOnFailureKey(),
                                                      preference);
        const QString history = historyOf(m_task);
        if (!atStart.isEmpty())
            append(history, atStart);
        startApplication();
        QByteArray all;
        for (const QByteArray& piece : written) {
            appendAndAwait(history, piece);
            all += piece;
        }
        const bool notifying = !preference.isValid() || preference.toBool();
        QList<QString> expected;
        for (const TaskRunRecord& record : RunHistory::parseHistory(all)) {
            if (notifying && record.exitCode != 0)
                expected << FailureAlert::message(QStringLiteral("Backup"), record.exitCode,
                                                  record.endedAt);
        }
        QCOMPARE(expected.size(), announced.size());
        expectNoMoreThan(announced.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const NotificationServer::Notice& notice = m_server->notices.at(i);
            QCOMPARE(notice.summary, expected.at(i));
            QVERIFY(notice.summary.contains(
                announced.at(i) < 0 ? QStringLiteral("(signal %1)").arg(-announced.at(i))
                                    : QStringLiteral("(exit %1)").arg(announced.at(i))));
            QCOMPARE(notice.appName, QStringLiteral("Brenmor Ops"));
            QVERIFY(notice.actions.contains(QStringLiteral("default")));
        }
    }

    // Runs of agents whose task the store does not hold are not the application's to report.
    void historyOfUnknownTaskIgnored()
    {
        startApplication();
        ScheduledTask stranger =
            ScheduledTask::create(QStringLiteral("Gone"), QStringLiteral("x"),
                                  TaskSchedule::of<TaskSchedule::Interval>({5}));
        append(historyOf(stranger), lines({3}));
        appendAndAwait(historyOf(m_task), lines({6}));
        expectNoMoreThan(1);
        QVERIFY(
            m_server->notices.at(0).summary.startsWith(QStringLiteral("Backup failed (exit 6)")));
    }

    // The menu item and the agent runner read and write the one preference.
    void menuItemSharesThePreference_data()
    {
        QTest::addColumn<QVariant>("stored"); // invalid: never set
        QTest::addColumn<bool>("checked");
        QTest::newRow("never set means on") << QVariant() << true;
        QTest::newRow("on") << QVariant(true) << true;
        QTest::newRow("off") << QVariant(false) << false;
    }
    void menuItemSharesThePreference()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, checked);
        if (stored.isValid())
            FailureAlert::openPreferences()->setValue(FailureAlert::notifyOnFailureKey(), stored);
        startApplication();
        auto* item = m_window->findChild<QAction*>(QStringLiteral("menu-notify-on-failure"));
        QVERIFY(item);
        QVERIFY(item->isCheckable());
        QCOMPARE(item->text(), QStringLiteral("Notify When a Task Fails"));
        QCOMPARE(item->isChecked(), checked);

        item->trigger();
        QCOMPARE(FailureAlert::notifyOnFailure(), !checked);
        appendAndAwait(historyOf(m_task), lines({3}));

        item->trigger();
        QCOMPARE(FailureAlert::notifyOnFailure(), checked);
        expectNoMoreThan(checked ? 0 : 1);
    }

    void choosingTheNoticeShowsTheTask_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("ours"); // the notification is the one posted for the failure
        QTest::addColumn<bool>("shown");
        QTest::newRow("clicked") << "default" << true << true;
        QTest::newRow("another action key") << "dismiss" << true << false;
        QTest::newRow("another program's notification") << "default" << false << false;
    }
    void choosingTheNoticeShowsTheTask()
    {
        QFETCH(QString, action);
        QFETCH(bool, ours);
        QFETCH(bool, shown);

        ScheduledTask other = ScheduledTask::create(QStringLiteral("Other"), QStringLiteral("x"),
                                                    TaskSchedule::of<TaskSchedule::Interval>({5}));
        m_fixture->store->addTask(other);
        startApplication();
        m_window->contentView()->setSelection(SidebarSection::task(other.id));
        append(historyOf(m_task), lines({3}));
        QTRY_COMPARE(m_server->notices.size(), 1);
        // The reply carrying the notification's id reaches the application first: its watcher
        // goes once the reply is handled.
        QTRY_VERIFY_WITH_TIMEOUT(m_alerts->findChildren<QDBusPendingCallWatcher*>().isEmpty(),
                                 TestSupport::eventTimeoutMs);
        // Hooked after the application, on its connection: this slot runs after the
        // application's has handled the same signal.
        QVERIFY(QDBusConnection::sessionBus().connect(
            QString(), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"), this,
            SLOT(actionSeen(uint, QString))));
        m_actionsSeen = 0;
        const uint id = m_server->notices.at(0).id + (ours ? 0 : 1);
        m_server->invoke(id, action);
        QTRY_COMPARE_WITH_TIMEOUT(m_actionsSeen, 1, TestSupport::eventTimeoutMs);
        QVERIFY(QDBusConnection::sessionBus().disconnect(
            QString(), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"), this,
            SLOT(actionSeen(uint, QString))));
        const auto expected = SidebarSection::task(shown ? m_task.id : other.id);
        QVERIFY(m_window->contentView()->selection() == expected);
        QCOMPARE(m_window->isVisible(), shown);
    }
};

QTEST_MAIN(TestFailureAlerts)
#include "TestFailureAlerts.moc"
