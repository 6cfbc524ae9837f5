#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// Stands in for the desktop's notification server on the test's private session bus: records
// every notification asked for and lets the test play the user choosing one.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice {
        uint id = 0;
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    ~NotificationServer() override;

    // Serves org.freedesktop.Notifications on `bus` until destroyed.
    bool serveOn(QDBusConnection bus);
    // The user clicks notification `id` (the server announces `actionKey`).
    void invoke(uint id, const QString& actionKey);

    QList<Notice> notices;

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout);

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    std::optional<QDBusConnection> m_bus;
};
