#include "FailureAlerts.h"

#include "ContentView.h"
#include "FailureAlert.h"
#include "LogsWatcher.h"
#include "MainWindow.h"
#include "RunHistory.h"
#include "TaskStore.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QVariantMap>

namespace {
const QString notificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString defaultAction = QStringLiteral("default");
} // namespace

FailureAlerts::FailureAlerts(TaskStore& store, MainWindow& window, QDBusConnection bus,
                             QObject* parent)
    : QObject(parent), m_store(store), m_window(window), m_bus(std::move(bus))
{
    const QString logDir = m_store.agentPaths().logDir;
    // Only sizes are taken here: nothing is parsed before the window shows.
    const QStringList histories =
        QDir(logDir).entryList({RunHistory::historyNameFilter()}, QDir::Files);
    for (const QString& name : histories) {
        const QString path = QDir(logDir).filePath(name);
        QFile file;
        Seen seen;
        if (RegularFile::open(file, path, &seen.stamp)) {
            seen.offset = seen.stamp.size;
            m_seen.insert(path, seen);
        }
    }
    m_watcher = new LogsWatcher(logDir, this);
    connect(m_watcher, &LogsWatcher::changed, this, &FailureAlerts::readNewRecords);
    // Any sender: the server's unique name changes when the desktop restarts it.
    m_bus.connect(QString(), notificationsPath, notificationsService,
                  QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    m_bus.connect(QString(), notificationsPath, notificationsService,
                  QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint, uint)));
}

bool FailureAlerts::claimBusName(QDBusConnection bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(FailureAlert::applicationBusName(),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

void FailureAlerts::readNewRecords(const QString& path)
{
    if (!RunHistory::isHistoryPath(path))
        return;
    QFile file;
    Seen now;
    if (!RegularFile::open(file, path, &now.stamp)) {
        // Removed with its task: a history written under this name later is a new one.
        m_seen.remove(path);
        return;
    }
    const auto known = m_seen.constFind(path);
    if (known != m_seen.constEnd()) {
        // A history cut short or put in place by someone else holds nothing that ran now.
        if (!known->stamp.sameFile(now.stamp) || now.stamp.size < known->offset) {
            now.offset = now.stamp.size;
            m_seen.insert(path, now);
            return;
        }
        now.offset = known->offset;
    }
    if (!file.seek(now.offset))
        return;
    const QByteArray appended = file.read(now.stamp.size - now.offset);
    // A line still being written is read once it ends.
    const qsizetype end = appended.lastIndexOf('\n') + 1;
    now.offset += end;
    m_seen.insert(path, now);
    if (end == 0)
        return;

    const QString shortId = QFileInfo(path).completeBaseName();
    const QList<ScheduledTask>& tasks = m_store.tasks();
    const auto task = std::find_if(tasks.cbegin(), tasks.cend(), [&](const ScheduledTask& t) {
        return t.shortId().compare(shortId, Qt::CaseInsensitive) == 0;
    });
    if (task == tasks.cend())
        return;
    for (const TaskRunRecord& record : RunHistory::parseHistory(appended.left(end))) {
        if (record.exitCode != 0)
            announce(*task, record);
    }
}

void FailureAlerts::announce(const ScheduledTask& task, const TaskRunRecord& record)
{
    if (!FailureAlert::notifyOnFailure())
        return;
    const QString summary = FailureAlert::message(task.name, record.exitCode, record.endedAt);
#if defined(Q_OS_MACOS)
    // The Mac posts through UNUserNotificationCenter, whose response handler calls show(); that
    // poster is not built yet, so the agent runner's notice is all a Mac user gets.
    Q_UNUSED(summary);
#else
    QDBusMessage call = QDBusMessage::createMethodCall(
        notificationsService, notificationsPath, notificationsService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("brenmor-ops"));
    call << QStringLiteral("Brenmor Ops") << 0u << QString() << summary << QString()
         << QStringList{defaultAction, QStringLiteral("Show Task")} << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, taskId = task.id] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (!reply.isError())
            m_shown.insert(reply.value(), taskId);
    });
#endif
}

void FailureAlerts::actionInvoked(uint notificationId, const QString& actionKey)
{
    // Other programs' notifications raise this signal too.
    const auto shown = m_shown.constFind(notificationId);
    if (shown == m_shown.constEnd() || actionKey != defaultAction)
        return;
    show(*shown);
}

void FailureAlerts::notificationClosed(uint notificationId, uint)
{
    m_shown.remove(notificationId);
}

void FailureAlerts::show(const QUuid& taskId)
{
    if (m_window.isMinimized())
        m_window.showNormal();
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
    // A task deleted since the failure has no detail left to show.
    if (m_store.task(taskId))
        m_window.contentView()->setSelection(SidebarSection::task(taskId));
}
