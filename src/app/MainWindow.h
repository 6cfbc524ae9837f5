#pragma once

#include <QMainWindow>

#include <functional>

class CliInstallCommand;
class ContentView;
class Dialogs;
class ExportImportCommands;
class QSettings;
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

    // Size, position and the sidebar's width as the user left them ("window/geometry",
    // "window/splitter"). rememberLayout restores them from the preferences and writes them
    // back there when the window closes.
    void restoreLayout(const QSettings& settings);
    void saveLayout(QSettings& settings) const;
    void rememberLayout();

    // The maker's support page, opened by the Help menu.
    static QUrl supportUrl();
    // The About box's text: version, licence and the icons' credits.
    static QString aboutText();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void makeMenus();

    TaskStore& m_store;
    UpdaterController& m_updater;
    Dialogs& m_dialogs;
    ContentView* m_content = nullptr;
    ExportImportCommands* m_exportImport = nullptr;
    CliInstallCommand* m_cliInstall = nullptr;
    bool m_remembersLayout = false;
};
