#pragma once

#include <QMainWindow>

#include <functional>

class CliInstallCommand;
class ContentView;
class Dialogs;
class ExportImportCommands;
class TaskStore;
class UpdaterController;
struct LaunchdJob;

// The one window: the content view under its toolbar, and the menu bar's commands.
class MainWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    MainWindow(TaskStore& store, UpdaterController& updater, Dialogs& dialogs,
               std::function<QList<LaunchdJob>()> scanJobs, QWidget* parent = nullptr);

    ContentView* contentView() const { return m_content; }
    ExportImportCommands* exportImportCommands() const { return m_exportImport; }
    CliInstallCommand* cliInstallCommand() const { return m_cliInstall; }

    // The maker's support page, opened by the Help menu.
    static QUrl supportUrl();
    // The About box's text: version, licence and the icons' credits.
    static QString aboutText();
    // The user's choice to be told when a task fails (QSettings, on unless turned off).
    static constexpr const char* notifyOnFailureKey = "notifyOnFailure";
    static bool notifyOnFailure();

private:
    void makeMenus();

    TaskStore& m_store;
    UpdaterController& m_updater;
    Dialogs& m_dialogs;
    ContentView* m_content = nullptr;
    ExportImportCommands* m_exportImport = nullptr;
    CliInstallCommand* m_cliInstall = nullptr;
};
