#pragma once

#include <QObject>
#include <QString>

// The broadcast that tells other processes the task file changed. macOS: the distributed
// notification centre; Linux: a D-Bus signal on the session bus carrying the name.
namespace ChangeNotification {

// "com.brenmor-ops.tasksDidChange"
QString tasksDidChangeName();

// Posts the notification. Without a session bus this does nothing.
void postTasksDidChange();

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
