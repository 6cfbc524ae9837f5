#include "BrenmorOpsApp.h"
#include "Locations.h"
#include "MainWindow.h"

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
    // A data folder another user owns could hand us tasks with their commands: say so and stop
    // before anything reads it. One that cannot be made is the store's to report.
    const auto error =
        QFileInfo::exists(Locations::dataFolder()) ? Locations::ensureDataFolder() : std::nullopt;
    if (error) {
        std::fprintf(stderr, "BrenmorOps: %s\n", qPrintable(*error));
        QMessageBox::critical(nullptr, QStringLiteral("Brenmor Ops"), *error);
        return 1;
    }
    BrenmorOpsApp app(QApplication::arguments());
    app.mainWindow().show();
    return QApplication::exec();
}
