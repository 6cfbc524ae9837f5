#include "BrenmorOpsApp.h"

#include "FailureAlerts.h"
#include "LaunchdBrowser.h"
#include "MainWindow.h"
#include "TaskStore.h"
#include "UpdaterController.h"
#include "WidgetDialogs.h"

BrenmorOpsApp::BrenmorOpsApp(const QStringList& arguments)
{
    TaskStore::Options options;
    options.startEmpty = arguments.contains(QStringLiteral("--reset-tasks"));
    // The window never waits for launchctl, the administrator dialog or the task file's lock.
    options.execution = TaskStore::Execution::onWorker;
    m_taskStore = std::make_unique<TaskStore>(std::move(options));
    m_updaterController = std::make_unique<UpdaterController>();
    m_dialogs = std::make_unique<WidgetDialogs>();
    m_window = std::make_unique<MainWindow>(*m_taskStore, *m_updaterController, *m_dialogs,
                                            [] { return LaunchdBrowser().scanJobs(); });
    m_failureAlerts =
        std::make_unique<FailureAlerts>(*m_taskStore, *m_window, QDBusConnection::sessionBus());
}

BrenmorOpsApp::~BrenmorOpsApp() = default;
