#include "BrenmorOpsApp.h"
#include "FailureAlerts.h"
#include "Locations.h"
#include "MainWindow.h"
#include "StatusColors.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BrenmorOps"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brenmor Ops"));
    QApplication::setDesktopFileName(QStringLiteral("brenmor-ops"));
    // Captions and secondary lines use the placeholder colour; some themes make it too faint.
    QApplication::setPalette(StatusColors::readablePalette(QApplication::palette()));
    // Without a place for the task file nothing the application does could be kept.
    if (Locations::dataFolder().isEmpty()) {
        const QString error = QStringLiteral("The system reports no folder for application data "
                                             "(check HOME and XDG_DATA_HOME).");
        std::fprintf(stderr, "BrenmorOps cannot start: %s\n", qPrintable(error));
        QMessageBox::critical(nullptr, QStringLiteral("Brenmor Ops"), error);
        return 1;
    }
    // A data folder another user owns could hand us tasks with their commands: say so and stop
    // before anything reads it. One that cannot be made is the store's to report.
    const Result<void> usable = QFileInfo::exists(Locations::dataFolder())
                                    ? Locations::ensureDataFolder()
                                    : Result<void>::success();
    if (!usable.ok()) {
        std::fprintf(stderr, "BrenmorOps: %s\n", qPrintable(usable.message()));
        QMessageBox::critical(nullptr, QStringLiteral("Brenmor Ops"), usable.message());
        return 1;
    }
    BrenmorOpsApp app(QApplication::arguments());
    // While we hold the name the agent runner leaves failure notices to us. Without it the
    // runner keeps announcing them, which is better than nobody doing so.
    if (!FailureAlerts::claimBusName(QDBusConnection::sessionBus()))
        std::fprintf(stderr, "BrenmorOps: failure notifications are left to the agents\n");
    app.mainWindow().rememberLayout();
    app.mainWindow().show();
    return QApplication::exec();
}
