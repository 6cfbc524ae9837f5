#include "CliInstallCommand.h"

#include "CliInstall.h"
#include "Dialogs.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>

CliInstallCommand::CliInstallCommand(Dialogs& dialogs, QWidget* window, QString linkTarget,
                                     Installer installer, QObject* parent)
    : QObject(parent), m_dialogs(dialogs), m_window(window),
      m_linkTarget(linkTarget.isEmpty() ? defaultLinkTarget() : std::move(linkTarget)),
      m_installer(installer ? std::move(installer) : Installer(&CliInstall::install))
{
    m_action = new QAction(QStringLiteral("Install CLI Command..."), this);
    m_action->setObjectName(QStringLiteral("action-install-cli"));
    connect(m_action, &QAction::triggered, this, &CliInstallCommand::run);
}

QString CliInstallCommand::defaultLinkTarget()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/brenmor-ops");
}

void CliInstallCommand::run()
{
    if (!QFileInfo::exists(m_linkTarget)) {
        m_dialogs.alert(m_window, Dialogs::AlertStyle::warning,
                        QStringLiteral("CLI Binary Not Found"),
                        QStringLiteral("The CLI tool was not found in the app bundle."));
        return;
    }
    const Result<void> installed = m_installer(m_linkTarget, CliInstall::linkLocation());
    if (!installed.ok()) {
        m_dialogs.alert(
            m_window, Dialogs::AlertStyle::warning, QStringLiteral("Installation Failed"),
            installed.message().isEmpty() ? QStringLiteral("Unknown error") : installed.message());
        return;
    }
    m_dialogs.alert(m_window, Dialogs::AlertStyle::informational, QStringLiteral("CLI Installed"),
                    QStringLiteral("You can now use 'brenmor-ops' in your terminal.\n\n"
                                   "Try: brenmor-ops --help"));
}
