#pragma once

#include <QObject>
#include <QString>

// The broadcast that tells other processes the task file changed. macOS: the distributed
// notification centre; Linux: a D-Bus signal on the session bus carrying the name.
//
// brenmor_platform posts; ChangeObserver lives in brenmor_change_bus, the only part that links
// the D-Bus libraries on Linux. There the post runs the "post-notification" helper of the
// stand-ins' folder, so programs that only post (the command-line tool) never load them.
namespace ChangeNotification {

// "com.brenmor-ops.tasksDidChange"
QString tasksDidChangeName();

// Posts the notification and returns once it is handed over. Without a session bus this does
// nothing.
void postTasksDidChange();

#ifndef Q_OS_MACOS
// Sends `name` as the notification's signal on the session bus (the helper's whole work; in
// brenmor_change_bus). Without a session bus this does nothing.
void sendOnSessionBus(const QString& name);
#endif

} // namespace ChangeNotification

// Observes the notification. `received` is emitted on the thread the observer lives on,
// from the event loop, never inside another caller's stack.
class ChangeObserver final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChangeObserver)

public:
    explicit ChangeObserver(QObject* parent = nullptr);
    ~ChangeObserver() override;

    // False when no session bus could be reached (nothing will be received).
    bool isListening() const { return m_listening; }

Q_SIGNALS:
    void received();

private Q_SLOTS:
    void onSignal(const QString& name);

private:
    bool m_listening = false;
};
