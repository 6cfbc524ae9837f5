#pragma once

#include "Result.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class Dialogs;
class QAction;
class QWidget;

// "Install CLI Command...": links the brenmor-ops shipped beside the application into
// /usr/local/bin through the administrator request, and tells the user how it went.
class CliInstallCommand final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CliInstallCommand)

public:
    // Creates the link. Blocks while the password dialog is open.
    using Installer =
        std::function<Result<void>(const QString& source, const QString& destination)>;

    // Without a link target, the brenmor-ops beside the running executable; without an
    // installer, the administrator request.
    CliInstallCommand(Dialogs& dialogs, QWidget* window, QString linkTarget = QString(),
                      Installer installer = {}, QObject* parent = nullptr);

    QAction* action() const { return m_action; }
    const QString& linkTarget() const { return m_linkTarget; }

    // The tool inside the application: Contents/MacOS/brenmor-ops in the bundle on macOS, the
    // program beside BrenmorOps elsewhere; both are the executable's own folder.
    static QString defaultLinkTarget();

public Q_SLOTS:
    void run();

private:
    Dialogs& m_dialogs;
    QWidget* m_window;
    QString m_linkTarget;
    Installer m_installer;
    QAction* m_action;
};
