#include "MainWindow.h"

#include "AccessibleWidgets.h"
#include "AgentEngine.h"
#include "AppNotifications.h"
#include "CliInstallCommand.h"
#include "ContentView.h"
#include "Dialogs.h"
#include "ExportImportCommands.h"
#include "FailureAlert.h"
#include "LaunchdJob.h"
#include "TaskStore.h"
#include "UpdaterController.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <QToolBar>
#include <QUrl>

MainWindow::MainWindow(TaskStore& store, UpdaterController& updater, Dialogs& dialogs,
                       std::function<QList<LaunchdJob>()> scanJobs, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_updater(updater), m_dialogs(dialogs)
{
    AccessibleWidgets::install();
    setObjectName(QStringLiteral("main-window"));
    setWindowTitle(QStringLiteral("Brenmor Ops"));
    setUnifiedTitleAndToolBarOnMac(true);
    // The toolbar is fixed: no menu to hide it, and the View menu carries no toolbar items.
    setContextMenuPolicy(Qt::NoContextMenu);
    m_content = new ContentView(store, dialogs, std::move(scanJobs), this);
    setCentralWidget(m_content);
    addToolBar(Qt::TopToolBarArea, m_content->toolBar());
    resize(700, 500);
    makeMenus();
}

namespace {
const QString geometryKey = QStringLiteral("window/geometry");
const QString splitterKey = QStringLiteral("window/splitter");
} // namespace

void MainWindow::restoreLayout(const QSettings& settings)
{
    const QByteArray geometry = settings.value(geometryKey).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const QByteArray splitter = settings.value(splitterKey).toByteArray();
    if (!splitter.isEmpty())
        m_content->splitter()->restoreState(splitter);
}

void MainWindow::saveLayout(QSettings& settings) const
{
    settings.setValue(geometryKey, saveGeometry());
    settings.setValue(splitterKey, m_content->splitter()->saveState());
}

void MainWindow::rememberLayout()
{
    restoreLayout(*FailureAlert::openPreferences());
    m_remembersLayout = true;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_remembersLayout)
        saveLayout(*FailureAlert::openPreferences());
    QMainWindow::closeEvent(event);
}

QUrl MainWindow::supportUrl() { return QUrl(QStringLiteral("https://brenmor.com/ops/support")); }

QString MainWindow::aboutText()
{
    const QString version = QStringLiteral(BRENMOR_VERSION);
    return QStringLiteral("Version %1\n\n"
                          "Keeps a computer doing scheduled work while its user is away.\n"
                          "Tasks run on: %3.\n"
                          "Copyright \u00a9 Brenmor. All rights reserved.\n\n"
                          "Icons: Breeze icon theme by the KDE Visual Design Group "
                          "(\u00a9 2014 Uri Herrera and the KDE Visual Design Group), "
                          "licensed under the GNU LGPL 3.0 or later.\n"
                          "Qt %2, licensed under the GNU LGPL 3.0.")
        .arg(version.isEmpty() ? QStringLiteral("dev") : version, QString::fromLatin1(qVersion()),
             AgentEngine::displayName(AgentEngine::inUse()));
}

void MainWindow::makeMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menu-bar"));

    // Qt moves the items with application roles into the application menu on macOS; elsewhere
    // they live in a menu of their own named after the application.
    QMenu* appMenu = bar->addMenu(QStringLiteral("Brenmor Ops"));
    appMenu->setObjectName(QStringLiteral("menu-app"));
    QAction* about = appMenu->addAction(QStringLiteral("About Brenmor Ops"));
    about->setObjectName(QStringLiteral("action-about"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] {
        m_dialogs.alert(this, Dialogs::AlertStyle::informational,
                        QStringLiteral("About Brenmor Ops"), aboutText());
    });
    // Without an update feed a check can never run, so the item is left out.
    if (m_updater.isAvailable()) {
        QAction* checkForUpdates = appMenu->addAction(QStringLiteral("Check for Updates\u2026"));
        checkForUpdates->setObjectName(QStringLiteral("action-check-for-updates"));
        checkForUpdates->setMenuRole(QAction::ApplicationSpecificRole);
        connect(checkForUpdates, &QAction::triggered, this,
                [this] { m_updater.checkForUpdates(); });
        const auto updateCheckState = [this, checkForUpdates] {
            checkForUpdates->setEnabled(m_updater.canCheckForUpdates());
        };
        connect(appMenu, &QMenu::aboutToShow, this, updateCheckState);
        updateCheckState();
    }
    appMenu->addSeparator();
    m_cliInstall = new CliInstallCommand(m_dialogs, this, QString(), {}, this);
    m_cliInstall->action()->setMenuRole(QAction::ApplicationSpecificRole);
    appMenu->addAction(m_cliInstall->action());
    appMenu->addSeparator();
    QAction* notify = appMenu->addAction(QStringLiteral("Notify When a Task Fails"));
    notify->setObjectName(QStringLiteral("menu-notify-on-failure"));
    notify->setMenuRole(QAction::ApplicationSpecificRole);
    notify->setCheckable(true);
    // The agent runner reads the same preference while the application is closed.
    notify->setChecked(FailureAlert::notifyOnFailure());
    connect(notify, &QAction::toggled, this, [](bool on) {
        FailureAlert::openPreferences()->setValue(FailureAlert::notifyOnFailureKey(), on);
    });
    appMenu->addSeparator();
    QAction* quit = appMenu->addAction(QStringLiteral("Quit"));
    quit->setObjectName(QStringLiteral("action-quit"));
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    QMenu* fileMenu = bar->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("menu-file"));
    QAction* newTask = fileMenu->addAction(QStringLiteral("New Task"));
    newTask->setObjectName(QStringLiteral("action-new-task"));
    newTask->setShortcut(QKeySequence::New);
    newTask->setShortcutContext(Qt::ApplicationShortcut);
    connect(newTask, &QAction::triggered, this,
            [] { AppNotifications::instance().postAddNewTask(); });
    fileMenu->addSeparator();
    m_exportImport = new ExportImportCommands(m_store, m_dialogs, this, this);
    fileMenu->addAction(m_exportImport->exportAction());
    fileMenu->addAction(m_exportImport->importAction());

    QMenu* helpMenu = bar->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("menu-help"));
    QAction* support = helpMenu->addAction(QStringLiteral("Brenmor Ops Support"));
    support->setObjectName(QStringLiteral("action-support"));
    connect(support, &QAction::triggered, this, [] { QDesktopServices::openUrl(supportUrl()); });
}
