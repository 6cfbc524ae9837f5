#pragma once

#include <QObject>

// In-process notifications between the menu bar and the window content ("addNewTask"), so the
// menu does not need to know which window shows what.
class AppNotifications final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppNotifications)

public:
    static AppNotifications& instance();

    void postAddNewTask() { Q_EMIT addNewTask(); }

Q_SIGNALS:
    void addNewTask();

private:
    AppNotifications() = default;
};
