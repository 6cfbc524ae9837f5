// Saves a task list the way the command-line tool does, which posts the change notification.
#include "CLITaskStore.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return 2;
    CLITaskStore store(args.at(1));
    const Result<void> saved = store.saveTaskList({ScheduledTask::create(
        QStringLiteral("posted"), QStringLiteral("true"), TaskSchedule::runAtLoad())});
    return saved.ok() ? 0 : 1;
}
