#include "BrenmorOpsApp.h"
#include "MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BrenmorOps"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brenmor Ops"));
    QApplication::setDesktopFileName(QStringLiteral("brenmor-ops"));
    BrenmorOpsApp app(QApplication::arguments());
    app.mainWindow().show();
    return QApplication::exec();
}
