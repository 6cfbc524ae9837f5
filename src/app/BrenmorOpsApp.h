#pragma once

#include <QStringList>

#include <memory>

class Dialogs;
class FailureAlerts;
class MainWindow;
class TaskStore;
class UpdaterController;

// The application: the one task store of the process, the update controller, the main window
// and the failure notifications, created in that order and kept until the process ends.
class BrenmorOpsApp final {
public:
    // `arguments` are the process's launch arguments ("--reset-tasks" is honoured).
    explicit BrenmorOpsApp(const QStringList& arguments);
    ~BrenmorOpsApp();
    BrenmorOpsApp(const BrenmorOpsApp&) = delete;
    BrenmorOpsApp& operator=(const BrenmorOpsApp&) = delete;

    TaskStore& taskStore() const { return *m_taskStore; }
    UpdaterController& updaterController() const { return *m_updaterController; }
    MainWindow& mainWindow() const { return *m_window; }

private:
    std::unique_ptr<TaskStore> m_taskStore;
    std::unique_ptr<UpdaterController> m_updaterController;
    std::unique_ptr<Dialogs> m_dialogs;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<FailureAlerts> m_failureAlerts;
};
