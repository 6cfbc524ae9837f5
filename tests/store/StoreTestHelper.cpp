// A second process for the store's tests: holds the task-file lock for a while, or posts the
// change notification, the way the command-line tool does.
//
//   store_test_helper hold-lock <task file> <milliseconds> <marker file>
//       takes the lock, prints "locked", waits, writes the marker file, then releases the lock
//   store_test_helper post
//       posts "com.brenmor-ops.tasksDidChange"

#include "ChangeNotification.h"
#include "TaskFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QStringLiteral("post")) {
        ChangeNotification::postTasksDidChange();
        return 0;
    }
    if (args.value(0) == QStringLiteral("hold-lock") && args.size() == 4) {
        const TaskFile::Lock lock(args.at(1), 5000);
        if (!lock.isLocked())
            return 2;
        std::puts("locked");
        std::fflush(stdout);
        QThread::msleep(args.at(2).toULong());
        // Written while the lock is still held: a save that finished without waiting for the
        // lock finds no marker yet.
        QFile marker(args.at(3));
        if (!marker.open(QIODevice::WriteOnly))
            return 3;
        marker.write("released");
        marker.close();
        return 0;
    }
    std::fputs("usage: store_test_helper hold-lock FILE MS MARKER | post\n", stderr);
    return 64;
}
