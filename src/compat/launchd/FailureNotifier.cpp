#include "FailureNotifier.h"

#include "FailureAlert.h"
#include "TaskFile.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QVariantMap>

FailureNotifier::FailureNotifier(QString taskFile, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_taskFile(std::move(taskFile)), m_bus(std::move(bus))
{}

void FailureNotifier::runEnded(const QString& label, int exitStatus)
{
    // Only our own agents: launchd tells nobody about other jobs' failures either.
    if (exitStatus == 0 || !m_bus.isConnected() || !FailureAlert::isTaskLabel(label) ||
        !FailureAlert::notifyOnFailure()) {
        Q_EMIT runHandled(label, false);
        return;
    }
    const QList<ScheduledTask> tasks = TaskFile::read(m_taskFile).tasks;
    const ScheduledTask* task = FailureAlert::taskForLabel(tasks, label);
    const QString summary = FailureAlert::message(FailureAlert::nameForLabel(tasks, label),
                                                  exitStatus, QDateTime::currentDateTime());
    const QString body =
        task ? QStringLiteral("brenmor-ops logs %1 --stderr").arg(task->shortId()) : QString();
    const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("NameHasOwner"))
                             << FailureAlert::applicationBusName();
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, label, summary, body] {
                watcher->deleteLater();
                const QDBusPendingReply<bool> reply = *watcher;
                // A bus that cannot answer says nothing about the application; better one
                // notice too many than a failure nobody hears of.
                const bool applicationTells = !reply.isError() && reply.value();
                if (!applicationTells)
                    notify(summary, body);
                Q_EMIT runHandled(label, !applicationTells);
            });
}

void FailureNotifier::notify(const QString& summary, const QString& body)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Brenmor Ops") << 0u << QString() << summary << body << QStringList()
         << QVariantMap() << -1;
    m_bus.asyncCall(call);
}
