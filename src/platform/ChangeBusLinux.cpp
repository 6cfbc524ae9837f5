#include "ChangeNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {
// D-Bus member names cannot hold '-', so the notification name travels as the argument.
const QString objectPath = QStringLiteral("/com/brenmorops/Notifications");
const QString interfaceName = QStringLiteral("com.brenmorops.Notifications");
const QString memberName = QStringLiteral("Posted");
} // namespace

namespace ChangeNotification {

void sendOnSessionBus(const QString& name)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createSignal(objectPath, interfaceName, memberName);
    message << name;
    bus.send(message);
    // A short-lived process must hand the message to the bus before it exits.
    bus.call(QDBusMessage::createMethodCall(
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
             QDBus::Block, 2000);
}

} // namespace ChangeNotification

ChangeObserver::ChangeObserver(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    m_listening = bus.connect(QString(), objectPath, interfaceName, memberName, this,
                              SLOT(onSignal(QString)));
}

ChangeObserver::~ChangeObserver()
{
    if (m_listening)
        QDBusConnection::sessionBus().disconnect(QString(), objectPath, interfaceName, memberName,
                                                 this, SLOT(onSignal(QString)));
}

void ChangeObserver::onSignal(const QString& name)
{
    if (name == ChangeNotification::tasksDidChangeName())
        Q_EMIT received();
}
