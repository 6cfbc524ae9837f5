#pragma once

#include "RegularFile.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QUuid>

class LogsWatcher;
class MainWindow;
class TaskStore;
struct ScheduledTask;
struct TaskRunRecord;

// While the window is open the application, not the agent runner, tells the user that a run
// failed: every failed run a task's history gains from now on becomes one desktop notification,
// and choosing the notification shows that task. Runs already recorded when the application
// started were the runner's to announce.
class FailureAlerts final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FailureAlerts)

public:
    FailureAlerts(TaskStore& store, MainWindow& window, QDBusConnection bus,
                  QObject* parent = nullptr);

    // Takes the application's bus name, which tells the runner to stay quiet. False when the bus
    // is missing or another instance holds the name; the application runs on regardless.
    static bool claimBusName(QDBusConnection bus);

private Q_SLOTS:
    void actionInvoked(uint notificationId, const QString& actionKey);
    void notificationClosed(uint notificationId, uint reason);

private:
    struct Seen {
        RegularFile::Stamp stamp;
        qint64 offset = 0; // bytes already read: up to the end of the last whole line
    };

    void readNewRecords(const QString& path);
    void announce(const ScheduledTask& task, const TaskRunRecord& record);
    void show(const QUuid& taskId);

    TaskStore& m_store;
    MainWindow& m_window;
    QDBusConnection m_bus;
    LogsWatcher* m_watcher = nullptr;
    QHash<QString, Seen> m_seen;
    // Notifications on the desktop now, and the task each one is about.
    QHash<uint, QUuid> m_shown;
};
