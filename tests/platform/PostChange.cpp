// Adds a task the way the command-line tool does, which posts the change notification.
#include "CLITaskStore.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return 2;
    CLITaskStore store(args.at(1));
    const TaskFileTransaction::Outcome outcome = store.change(
        [](QList<ScheduledTask>& tasks) {
            tasks.append(ScheduledTask::create(QStringLiteral("posted"), QStringLiteral("true"),
                                               TaskSchedule::runAtLoad()));
            return true;
        },
        {});
    return outcome.status == TaskFileTransaction::Status::written ? 0 : 1;
}
