#include "NotificationServer.h"

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
// Ids a real server might hand out, far from 1 so a client that assumes them is caught.
constexpr uint firstId = 4100;
} // namespace

NotificationServer::~NotificationServer()
{
    if (m_bus) {
        m_bus->unregisterObject(path);
        m_bus->unregisterService(service);
    }
}

bool NotificationServer::serveOn(QDBusConnection bus)
{
    if (!bus.registerService(service))
        return false;
    m_bus = bus;
    return bus.registerObject(path, this,
                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
}

void NotificationServer::invoke(uint id, const QString& actionKey)
{
    Q_EMIT ActionInvoked(id, actionKey);
    // Servers close a notification once its action is chosen.
    Q_EMIT NotificationClosed(id, 2);
}

uint NotificationServer::Notify(const QString& appName, uint, const QString&,
                                const QString& summary, const QString& body,
                                const QStringList& actions, const QVariantMap& hints, int)
{
    const uint id = firstId + uint(notices.size());
    notices << Notice{id, appName, summary, body, actions, hints};
    return id;
}
