// post-notification NAME: posts NAME as a change notification on the session bus, and returns
// once the bus has it. Without a session bus it does nothing.
#include "ChangeNotification.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: post-notification NAME\n", stderr);
        return 64;
    }
    ChangeNotification::sendOnSessionBus(QString::fromUtf8(argv[1]));
    return 0;
}
