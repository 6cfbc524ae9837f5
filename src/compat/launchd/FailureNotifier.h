#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

// Tells the user on the desktop that a run of one of our agents failed, while the application
// (which would tell them itself) is not running and the preference allows it. Asynchronous:
// the runner never waits for the bus.
class FailureNotifier final : public QObject {
    Q_OBJECT

public:
    // `taskFile` names the tasks (the agent plist carries only the identifier).
    FailureNotifier(QString taskFile, QDBusConnection bus, QObject* parent = nullptr);

    // A run of `label` ended with `exitStatus` (negative: the signal that ended it).
    void runEnded(const QString& label, int exitStatus);

Q_SIGNALS:
    // The run of `label` was told about (`notified`) or not; the decision may wait for the bus.
    void runHandled(const QString& label, bool notified);

private:
    void notify(const QString& summary, const QString& body);

    QString m_taskFile;
    QDBusConnection m_bus;
};
